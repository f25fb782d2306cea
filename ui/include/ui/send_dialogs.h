// The send command's dialogs: the confirmation ("ターノス  確認"), the time
// dialog ("送信時間の指定") and the waiting dialog ("時間指定送信"). Their
// rules live in the core (SendJob, TimedWait); these only show and ask.
#pragma once

#include <QDialog>

#include <ctime>
#include <functional>
#include <optional>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QVBoxLayout;

namespace tarn::driver {
class SendJob;
}

namespace tarn::ui {

using NowFn = std::function<std::time_t()>;

// "送信時間の指定": a date and a time of day, later than now.
class TimeDialog : public QDialog {
    Q_OBJECT
public:
    explicit TimeDialog(QWidget* parent, NowFn now = {});
    // The chosen time once accepted.
    std::time_t planned() const { return m_planned; }

    QDateEdit* dateEdit() const { return m_date; }
    QSpinBox* hourBox() const { return m_hour; }
    QSpinBox* minuteBox() const { return m_minute; }
    QSpinBox* secondBox() const { return m_second; }

    void accept() override;

private:
    NowFn m_now;
    QDateEdit* m_date;
    QSpinBox* m_hour;
    QSpinBox* m_minute;
    QSpinBox* m_second;
    std::time_t m_planned = 0;
};

// "時間指定送信": waits, showing the planned and the current time, until the
// planned minute has come; "今すぐ送信" starts at once, "キャンセル" asks.
class WaitDialog : public QDialog {
    Q_OBJECT
public:
    WaitDialog(QWidget* parent, std::time_t planned, NowFn now = {});
    ~WaitDialog() override;

    QPushButton* startNowButton() const { return m_startNow; }
    QPushButton* cancelButton() const { return m_cancel; }
    QString currentTimeText() const;

    void reject() override;  // Esc and "キャンセル": "中止しますか？"

private:
    void tick();

    NowFn m_now;
    struct Wait;
    std::unique_ptr<Wait> m_wait;
    QLabel* m_current;
    QPushButton* m_startNow;
    QPushButton* m_cancel;
    QTimer* m_timer;
};

// "ターノス  確認": what will be sent, to how many, from whom, with the first
// recipient's message; "参照" picks another send-contents file.
class SendConfirmDialog : public QDialog {
    Q_OBJECT
public:
    enum class Choice { kCancel, kSend, kTimed };

    SendConfirmDialog(driver::SendJob& job, QWidget* parent, NowFn now = {});

    Choice choice() const { return m_choice; }
    // For a timed send: the time the time dialog gave.
    std::time_t planned() const { return m_planned; }

    QPushButton* sendButton() const { return m_send; }
    QPushButton* timedButton() const { return m_timed; }
    QPushButton* browseButton() const { return m_browse; }
    QString previewText() const;
    QString contentsPathText() const;
    QString countText() const;
    // The pre-flight's findings, one line per kind (empty when clean), and the
    // button that lists them recipient by recipient.
    QString findingsText() const;
    QPushButton* detailsButton() const { return m_details; }
    // A switch of the window's own above the buttons; `apply` sets it on the
    // job's recipients, whose count and preview are then taken again.
    void addSwitch(const QString& text, bool checked, std::function<void(bool)> apply);
    QCheckBox* switchBox() const { return m_switch; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void browse();
    void chooseTime();
    // "スクリプトエラーです。" under "ターノス - 確認".
    void showScriptError();
    void showDetails();

    driver::SendJob& m_job;
    NowFn m_now;
    QLineEdit* m_path;
    QLabel* m_subject;
    QLabel* m_sender;
    QLabel* m_count;
    QLabel* m_previewHead;
    QPlainTextEdit* m_preview;
    QLabel* m_findings;
    QPushButton* m_details;
    QPushButton* m_browse;
    QPushButton* m_send;
    QPushButton* m_timed;
    QPushButton* m_cancel;
    QVBoxLayout* m_switchRow;
    QCheckBox* m_switch = nullptr;
    Choice m_choice = Choice::kCancel;
    std::time_t m_planned = 0;
    bool m_scriptErrorShown = false;
};

}  // namespace tarn::ui

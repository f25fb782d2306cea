// The question a window asks when the book or table it is about to send to
// has the journal of a run that did not finish: go on from where it stopped,
// start afresh, or not send; then whether the recipients whose message may or
// may not have arrived get it again (their addresses listed on request).
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "driver/send_journal.h"

class QPlainTextEdit;
class QPushButton;

namespace tarn::ui {

// "送信結果不明" recipients: the question with はい/いいえ (いいえ, the safe
// answer, is the default) and a button that shows their addresses.
class UncertainDialog : public QDialog {
    Q_OBJECT
public:
    UncertainDialog(QWidget* parent, const QString& title, const QString& text,
                    const std::vector<std::string>& addresses);
    QPushButton* listButton() const { return m_listButton; }
    QPlainTextEdit* list() const { return m_list; }

private:
    QPushButton* m_listButton;
    QPlainTextEdit* m_list;
};

class DialogResumeUi : public driver::ResumeUi {
public:
    explicit DialogResumeUi(QWidget* parent) : m_parent(parent) {}

    // "続きから送信" is true; "最初から送信" and "キャンセル" are false, the
    // first of them with restartChosen() true.
    bool askResume(std::string_view title, std::string_view text) override;
    bool askSendUncertain(std::string_view title, std::string_view text,
                          const std::vector<std::string>& addresses) override;

    // The person chose to send to everyone again and confirmed it.
    bool restartChosen() const { return m_restart; }
    // The person said not to send (no box is due for that).
    bool answeredNo() const { return m_declined; }

private:
    QWidget* m_parent;
    bool m_restart = false;
    bool m_declined = false;
};

}  // namespace tarn::ui

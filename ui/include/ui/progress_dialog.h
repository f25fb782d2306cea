// The modeless progress window of a send or a check. It shows what the job
// reports (title, status, time and address lines, the bar, the counts) and
// carries the stop button; when the run has finished, the stop button closes
// the window and the log button opens the log in the viewer.
//
// The job's reports reach it through progressUi(), on the GUI thread only
// (JobRunner dispatches them there).
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarn::driver {
class ProgressUi;
}

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarn::ui {

class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* parent = nullptr);
    ~ProgressDialog() override;

    // What the job's reports are handed to.
    driver::ProgressUi& progressUi();
    // Called when the person presses the stop button (or S, or Esc) while the
    // run is on: the job's requestStop.
    void setStopHandler(std::function<void()> stop) { m_stop = std::move(stop); }
    // Starts the log viewer detached (default: contents::startDetached); tests replace it.
    void setStarter(std::function<bool(const std::vector<std::string>&)> start) {
        m_start = std::move(start);
    }

    bool isFinished() const { return m_finished; }
    QPushButton* stopButton() const { return m_stopButton; }
    QPushButton* logButton() const { return m_logButton; }
    QString statusText() const;
    QString timeText() const;
    QString addressText() const;
    QString countsText() const;
    int barValue() const;
    int barMaximum() const;

signals:
    // The person closed the finished window (or the log button did).
    void closedAfterFinish();

protected:
    void reject() override;  // Esc: the stop button while running, else close
    void closeEvent(QCloseEvent* event) override;

private:
    class Reports;
    friend class Reports;

    void pressStop();
    void openLog();
    void showFinished(const std::string& logPath, const std::string& viewer);

    std::unique_ptr<Reports> m_reports;
    QLabel* m_status;
    QLabel* m_time;
    QLabel* m_address;
    QLabel* m_counts;
    QProgressBar* m_bar;
    QPushButton* m_stopButton;
    QPushButton* m_logButton;
    std::function<void()> m_stop;
    std::function<bool(const std::vector<std::string>&)> m_start;
    bool m_finished = false;
    std::string m_logPath;
    std::string m_viewer;
};

}  // namespace tarn::ui

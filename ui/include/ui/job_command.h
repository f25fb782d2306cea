// What the send and check commands of the windows share: a job run from the
// GUI thread with the progress window, and the two moments a main window
// cares about (the run has ended: statuses are in the document; the finished
// window was closed: the command can go).
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "common/result.h"
#include "driver/job.h"
#include "ui/progress_dialog.h"

class QWidget;

namespace tarn::ui {

class JobRunner;

class JobCommand : public QObject {
    Q_OBJECT
public:
    ~JobCommand() override;

    bool running() const { return m_running; }
    ProgressDialog* progressDialog() const { return m_progress; }
    // The stop button, for a window that offers it elsewhere too.
    void requestStop();

signals:
    // The run has ended (0 or the error code already shown); the job's
    // statuses have been committed to the document.
    void runEnded(int result);
    // runEnded has been emitted and the progress window has gone.
    void finished();

protected:
    explicit JobCommand(QWidget* window);
    QWidget* window() const { return m_window; }
    // Starts `job` through `start` (its start function, given the runner's
    // wake) with the progress window. False, with the reason shown, when the
    // job refused to start (another run holds the document).
    bool startRun(driver::Job& job, const std::function<Status(driver::Job::Wake)>& start);

private:
    void onEnded(int result);

    QWidget* m_window;
    QPointer<ProgressDialog> m_progress;
    std::unique_ptr<JobRunner> m_runner;
    driver::Job* m_job = nullptr;
    bool m_running = false;
    bool m_ended = false;
    bool m_windowClosed = false;
};

}  // namespace tarn::ui

#include "ui/job_command.h"

#include "ui/job_runner.h"
#include "ui/message_box.h"
#include "ui/progress_dialog.h"

namespace tarn::ui {

JobCommand::JobCommand(QWidget* window) : QObject(window), m_window(window) {}

JobCommand::~JobCommand() {
    // The derived command's destructor has ended its job (waiting for the
    // worker); only the window is left.
    delete m_progress.data();
}

void JobCommand::requestStop() {
    if (m_job != nullptr && m_running) {
        m_job->requestStop();
    }
}

bool JobCommand::startRun(driver::Job& job, const std::function<Status(driver::Job::Wake)>& start) {
    m_job = &job;
    m_progress = new ProgressDialog(m_window);
    m_progress->setStopHandler([this] { requestStop(); });
    m_runner = std::make_unique<JobRunner>(job, m_progress->progressUi());
    connect(m_runner.get(), &JobRunner::ended, this, &JobCommand::onEnded);
    connect(m_progress, &ProgressDialog::closedAfterFinish, this, [this] {
        m_windowClosed = true;
        if (m_ended) {
            emit finished();
        }
    });
    m_running = true;
    if (auto started = start(m_runner->wake()); !started) {
        m_running = false;
        tell(m_window, QStringLiteral("ターノス - エラー"),
             QString::fromStdString(started.error().message), QMessageBox::Warning);
        return false;
    }
    return true;
}

void JobCommand::onEnded(int result) {
    m_running = false;
    m_ended = true;
    emit runEnded(result);
    // A run that did not finish has removed its window already; a finished
    // one waits for the person, who may have been quicker than this report.
    if (m_progress == nullptr || !m_progress->isFinished() || m_windowClosed) {
        emit finished();
    }
}

}  // namespace tarn::ui

#include "ui/job_runner.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace tarn::ui {

JobRunner::JobRunner(driver::Job& job, driver::ProgressUi& ui, QObject* parent)
    : QObject(parent), m_job(job), m_ui(ui), m_handle(std::make_shared<JobRunner*>(this)) {}

JobRunner::~JobRunner() = default;

driver::Job::Wake JobRunner::wake() {
    std::weak_ptr<JobRunner*> handle = m_handle;
    return [handle] {
        // Posted to the application object, which outlives every runner; the
        // runner is looked up again on the GUI thread, where it lives and dies.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [handle] {
                if (auto runner = handle.lock()) {
                    (*runner)->dispatch();
                }
            },
            Qt::QueuedConnection);
    };
}

void JobRunner::dispatch() {
    if (m_ended) {
        return;
    }
    if (m_job.dispatch(m_ui)) {
        m_ended = true;
        emit ended(m_job.result());
    }
}

}  // namespace tarn::ui

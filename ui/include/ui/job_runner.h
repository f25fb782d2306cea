// Runs a send or check job from the GUI thread: the job wakes the runner from
// its worker thread, the runner dispatches the job's reports to a ProgressUi
// on the GUI thread, and says when the run has ended (its statuses are then
// in the document). The GUI thread never waits for the worker.
#pragma once

#include <QObject>

#include <memory>

#include "driver/job.h"

namespace tarn::driver {
class ProgressUi;
}

namespace tarn::ui {

class JobRunner : public QObject {
    Q_OBJECT
public:
    // The job and the ui must outlive the runner's dispatching: destroy the
    // job (which waits for its worker) before either goes.
    JobRunner(driver::Job& job, driver::ProgressUi& ui, QObject* parent = nullptr);
    ~JobRunner() override;

    // What to pass to the job's start(): called on the worker thread, it
    // queues a dispatch on the GUI thread; harmless once the runner is gone.
    driver::Job::Wake wake();
    bool hasEnded() const { return m_ended; }

signals:
    void ended(int result);

private:
    void dispatch();

    driver::Job& m_job;
    driver::ProgressUi& m_ui;
    bool m_ended = false;
    // The wake's weak handle on this runner.
    std::shared_ptr<JobRunner*> m_handle;
};

}  // namespace tarn::ui

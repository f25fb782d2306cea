// A send or check run on a worker thread, reported to the caller's thread.
//
// The driver of a job runs on the job's worker thread and talks only to a
// JobChannel: it reports texts and progress (queued), asks "中止しますか？"
// (the worker waits for the answer), and looks at the stop request. The caller
// owns the Job, starts it, and calls dispatch() on its own thread whenever the
// job wakes it: dispatch hands the queued reports to a ProgressUi in order,
// asks the questions, and, once the worker has ended, commits the run's
// results (statuses into the document) on that same thread.
//
//   caller's thread                      worker thread
//   ---------------                      -------------
//   job.start(wake)  ------------------> driver runs
//   wake() queued  <-------------------- channel.setStatusLine(...)
//   job.dispatch(ui) -> ui.setStatusLine
//   job.requestStop() ------------------> channel.stopRequested()
//   job.dispatch(ui) -> ui.askStop() <-- channel.askStop() waits
//            answer ------------------->  ... returns
//   job.dispatch(ui) -> commit(), true   driver returned
//
// `wake` is called on the worker thread each time a report arrives in an empty
// queue and once when the worker ends. It must not block and must not call into
// the job; it only arranges for dispatch() to be called soon on the caller's
// thread (the Qt applications post a queued call). A caller that may block,
// such as `tarn`, uses runToEnd() instead.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "driver/progress_ui.h"

namespace tarn::driver {

class Job;

// The worker's side of a job: what the drivers call.
class JobChannel {
public:
    // The progress window and its lines (queued for the caller's thread).
    void open(std::string_view title);
    void setTitle(std::string_view title);
    void setStatusLine(std::string_view text);
    void setTimeLine(std::string_view text);
    void setAddressLine(std::string_view text);
    void setRange(std::int64_t maximum);
    void setPosition(std::int64_t position);
    void progress(const RunProgress& progress);
    void recipientDone(const RecipientResult& result);
    void errorBox(std::string_view title, std::string_view text);
    void finish(std::string_view logPath, std::string_view viewer);
    void close();

    // The stop button: set by Job::requestStop from any thread.
    bool stopRequested() const;
    void clearStopRequest();
    // Sleeps up to `limit`, waking at once for a stop request. True when a stop
    // is requested.
    bool waitForStop(std::chrono::milliseconds limit);

    // "中止しますか？": asks on the caller's thread and waits for the answer
    // (Yes when the job is being abandoned).
    bool askStop();
    // The same question without waiting, for a worker that has something to
    // watch meanwhile: postStopQuestion(), then stopAnswer() until it has a
    // value, or awaitStopAnswer().
    void postStopQuestion();
    std::optional<bool> stopAnswer();
    bool awaitStopAnswer();

    // Runs `call` on the caller's thread (from dispatch) and waits for it. When
    // the job is abandoned first, `call` does not run and false is returned.
    bool callOnCallerThread(std::function<void()> call);

    // Made by Job::startWorker; `wake` as described at the top of this file.
    explicit JobChannel(std::function<void()> wake) : m_wake(std::move(wake)) {}

private:
    friend class Job;

    struct Line {
        enum Which { kTitle, kStatus, kTime, kAddress } which;
        std::string text;
    };
    struct Open {
        std::string title;
    };
    struct Range {
        std::int64_t maximum;
    };
    struct Position {
        std::int64_t position;
    };
    struct ErrorBox {
        std::string title, text;
    };
    struct Finish {
        std::string logPath, viewer;
    };
    struct Close {};
    struct AskStop {};
    struct Call {
        std::function<void()> call;
        std::uint64_t id;
    };
    using Event = std::variant<Open, Line, Range, Position, RunProgress, RecipientResult, ErrorBox,
                               Finish, Close, AskStop, Call>;

    // Queues an event; a progress value replaces one of the same kind at the
    // end of the queue, so that a busy worker cannot flood a slow window.
    void push(Event event);
    void pushLocked(std::unique_lock<std::mutex>& lock, Event event);
    void line(Line::Which which, std::string_view text);

    std::function<void()> m_wake;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Event> m_queue;
    bool m_stopRequested = false;
    bool m_abandoned = false;
    bool m_workerEnded = false;
    std::optional<bool> m_answer;
    std::uint64_t m_nextCall = 1;
    std::uint64_t m_callsDone = 0;  // ids up to this one have run (or were skipped)
    int m_workerResult = 0;
};

// A run on a worker thread. See the top of this file.
class Job {
public:
    using Wake = std::function<void()>;

    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    // Ends an unfinished run as a confirmed stop would (questions answer Yes,
    // calls on the caller's thread are skipped), waits for the worker and
    // commits what the run did. Reports not yet dispatched are dropped.
    virtual ~Job();

    // The stop button; any thread. The driver sees it within 100 ms.
    void requestStop();

    // Caller's thread. Hands the queued reports to `ui`, asks the questions,
    // runs the forwarded calls. Returns true once the run has ended and
    // everything was handed over and committed; result() is then valid.
    // A call made while another dispatch is running (from a modal loop inside
    // `ui`) returns at once; the outer call carries on.
    bool dispatch(ProgressUi& ui);

    // Caller's thread: dispatches until the run has ended, waiting for reports
    // in between and calling `idle` at least every 50 ms (a terminal turns
    // Ctrl-C into requestStop there). Returns result().
    int runToEnd(ProgressUi& ui, const std::function<void()>& idle = {});

    bool started() const { return m_thread.joinable() || m_ended; }
    bool ended() const { return m_ended; }
    // 0 or a send error code (send and check jobs alike).
    int result() const { return m_result; }

protected:
    Job() = default;
    // Derived jobs call this first in their destructor, so that commit() still
    // reaches them: ends an unfinished run as described at ~Job.
    void stopAndWait();
    // Starts `body` on the worker thread; its return value becomes result().
    void startWorker(std::function<int(JobChannel&)> body, Wake wake);
    // Caller's thread, once, after the worker has ended: apply what the run
    // did (statuses) and release what it held.
    virtual void commit() {}

private:
    void finishWorker();

    std::unique_ptr<JobChannel> m_channel;
    std::thread m_thread;
    int m_result = 0;
    bool m_ended = false;
    bool m_dispatching = false;
};

}  // namespace tarn::driver

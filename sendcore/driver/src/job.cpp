#include "driver/job.h"

#include <pthread.h>

#include <csignal>
#include <exception>
#include <thread>

#include "texts.h"

namespace tarn::driver {
namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace

// --- worker side

void JobChannel::push(Event event) {
    std::unique_lock lock(m_mutex);
    pushLocked(lock, std::move(event));
}

void JobChannel::pushLocked(std::unique_lock<std::mutex>& lock, Event event) {
    if (m_abandoned) {
        return;  // nobody will read it
    }
    if (!m_queue.empty() && m_queue.back().index() == event.index()) {
        Event& last = m_queue.back();
        bool replace = std::holds_alternative<Range>(event) ||
                       std::holds_alternative<Position>(event) ||
                       std::holds_alternative<RunProgress>(event);
        if (const auto* l = std::get_if<Line>(&event)) {
            replace = std::get<Line>(last).which == l->which;
        }
        if (replace) {
            last = std::move(event);
            return;  // the queue was not empty: a wake is already on its way
        }
    }
    const bool wasEmpty = m_queue.empty();
    m_queue.push_back(std::move(event));
    if (wasEmpty) {
        m_changed.notify_all();
        lock.unlock();
        if (m_wake) {
            m_wake();
        }
        lock.lock();
    }
}

void JobChannel::line(Line::Which which, std::string_view text) {
    push(Line{which, std::string(text)});
}

void JobChannel::open(std::string_view title) {
    push(Open{std::string(title)});
}
void JobChannel::setTitle(std::string_view title) {
    line(Line::kTitle, title);
}
void JobChannel::setStatusLine(std::string_view text) {
    line(Line::kStatus, text);
}
void JobChannel::setTimeLine(std::string_view text) {
    line(Line::kTime, text);
}
void JobChannel::setAddressLine(std::string_view text) {
    line(Line::kAddress, text);
}
void JobChannel::setRange(std::int64_t maximum) {
    push(Range{maximum});
}
void JobChannel::setPosition(std::int64_t position) {
    push(Position{position});
}
void JobChannel::progress(const RunProgress& progress) {
    push(progress);
}
void JobChannel::recipientDone(const RecipientResult& result) {
    push(result);
}
void JobChannel::errorBox(std::string_view title, std::string_view text) {
    push(ErrorBox{std::string(title), std::string(text)});
}
void JobChannel::finish(std::string_view logPath, std::string_view viewer) {
    push(Finish{std::string(logPath), std::string(viewer)});
}
void JobChannel::close() {
    push(Close{});
}

bool JobChannel::stopRequested() const {
    std::lock_guard lock(m_mutex);
    return m_stopRequested || m_abandoned;
}

void JobChannel::clearStopRequest() {
    std::lock_guard lock(m_mutex);
    m_stopRequested = false;
}

bool JobChannel::waitForStop(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] { return m_stopRequested || m_abandoned; });
}

bool JobChannel::askStop() {
    postStopQuestion();
    return awaitStopAnswer();
}

void JobChannel::postStopQuestion() {
    std::unique_lock lock(m_mutex);
    m_answer.reset();
    pushLocked(lock, AskStop{});
}

std::optional<bool> JobChannel::stopAnswer() {
    std::lock_guard lock(m_mutex);
    if (m_abandoned) {
        return true;
    }
    std::optional<bool> answer = m_answer;
    m_answer.reset();
    return answer;
}

bool JobChannel::awaitStopAnswer() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_answer.has_value() || m_abandoned; });
    if (m_abandoned) {
        return true;
    }
    const bool yes = *m_answer;
    m_answer.reset();
    return yes;
}

bool JobChannel::callOnCallerThread(std::function<void()> call) {
    std::unique_lock lock(m_mutex);
    if (m_abandoned) {
        return false;
    }
    const std::uint64_t id = m_nextCall++;
    pushLocked(lock, Call{std::move(call), id});
    m_changed.wait(lock, [&] { return m_callsDone >= id || m_abandoned; });
    return m_callsDone >= id;
}

// --- caller side

Job::~Job() {
    stopAndWait();
}

void Job::stopAndWait() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_channel->m_mutex);
            m_channel->m_abandoned = true;
            m_channel->m_queue.clear();
            m_channel->m_changed.notify_all();
        }
        finishWorker();
    }
}

void Job::requestStop() {
    if (!m_channel) {
        return;
    }
    std::lock_guard lock(m_channel->m_mutex);
    m_channel->m_stopRequested = true;
    m_channel->m_changed.notify_all();
}

void Job::startWorker(std::function<int(JobChannel&)> body, Wake wake) {
    m_channel = std::make_unique<JobChannel>(std::move(wake));
    // The worker (and the engine's thread, when it starts from there) never
    // takes the process's signals: Ctrl-C must reach the thread that asks
    // "中止しますか？" on a terminal.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    JobChannel& channel = *m_channel;
    m_thread = std::thread([&channel, body = std::move(body)] {
        int result = -1;
        try {
            result = body(channel);
        } catch (const std::exception& e) {
            // Out of memory or a fault of ours: say so rather than end silently.
            channel.errorBox(sjisText("ターノス - エラー"),
                             sjisText("内部エラーのため中断しました: ") + e.what());
            channel.close();
        } catch (...) {
            channel.errorBox(sjisText("ターノス - エラー"),
                             sjisText("内部エラーのため中断しました。"));
            channel.close();
        }
        std::function<void()> wakeCaller;
        {
            std::lock_guard lock(channel.m_mutex);
            channel.m_workerResult = result;
            channel.m_workerEnded = true;
            channel.m_changed.notify_all();
            wakeCaller = channel.m_wake;
        }
        if (wakeCaller) {
            wakeCaller();
        }
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void Job::finishWorker() {
    m_thread.join();
    {
        std::lock_guard lock(m_channel->m_mutex);
        m_result = m_channel->m_workerResult;
    }
    commit();
    m_ended = true;
}

bool Job::dispatch(ProgressUi& ui) {
    if (!m_channel || m_ended) {
        return m_ended;
    }
    if (m_dispatching) {
        return false;
    }
    m_dispatching = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_dispatching};

    JobChannel& ch = *m_channel;
    for (;;) {
        std::optional<JobChannel::Event> event;
        bool workerEnded = false;
        {
            std::lock_guard lock(ch.m_mutex);
            if (!ch.m_queue.empty()) {
                event = std::move(ch.m_queue.front());
                ch.m_queue.pop_front();
            }
            workerEnded = ch.m_workerEnded;
        }
        if (!event) {
            if (workerEnded) {
                finishWorker();
            }
            return m_ended;
        }
        std::visit(Overloaded{
                       [&](JobChannel::Open& e) { ui.open(e.title); },
                       [&](JobChannel::Line& e) {
                           switch (e.which) {
                               case JobChannel::Line::kTitle:
                                   ui.setTitle(e.text);
                                   break;
                               case JobChannel::Line::kStatus:
                                   ui.setStatusLine(e.text);
                                   break;
                               case JobChannel::Line::kTime:
                                   ui.setTimeLine(e.text);
                                   break;
                               case JobChannel::Line::kAddress:
                                   ui.setAddressLine(e.text);
                                   break;
                           }
                       },
                       [&](JobChannel::Range& e) { ui.setRange(e.maximum); },
                       [&](JobChannel::Position& e) { ui.setPosition(e.position); },
                       [&](RunProgress& e) { ui.progress(e); },
                       [&](RecipientResult& e) { ui.recipientDone(e); },
                       [&](JobChannel::ErrorBox& e) { ui.errorBox(e.title, e.text); },
                       [&](JobChannel::Finish& e) { ui.finish(e.logPath, e.viewer); },
                       [&](JobChannel::Close&) { ui.close(); },
                       [&](JobChannel::AskStop&) {
                           const bool yes = ui.askStop();
                           std::lock_guard lock(ch.m_mutex);
                           ch.m_answer = yes;
                           ch.m_changed.notify_all();
                       },
                       [&](JobChannel::Call& e) {
                           try {
                               e.call();
                           } catch (...) {
                               // The worker waits for this call: it must hear that it ended.
                           }
                           std::lock_guard lock(ch.m_mutex);
                           ch.m_callsDone = std::max(ch.m_callsDone, e.id);
                           ch.m_changed.notify_all();
                       },
                   },
                   *event);
    }
}

int Job::runToEnd(ProgressUi& ui, const std::function<void()>& idle) {
    if (!m_channel) {
        return m_result;
    }
    while (!dispatch(ui)) {
        // A display has nothing to gain from more than a hundred updates a
        // second, and a fast run would wake this thread for every message:
        // what comes meanwhile is taken in one go after the pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        {
            JobChannel& ch = *m_channel;
            std::unique_lock lock(ch.m_mutex);
            ch.m_changed.wait_for(lock, std::chrono::milliseconds(40),
                                  [&] { return !ch.m_queue.empty() || ch.m_workerEnded; });
        }
        if (idle) {
            idle();
        }
    }
    return m_result;
}

}  // namespace tarn::driver

#include "session_pool.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "command.h"
#include "driver/retry_queue.h"
#include "sendcore/settings.h"

namespace tarn::driver {

struct SessionPool::Session {
    explicit Session(int i) : index(i) {}
    const int index;
    zeph::MailEngine engine;
    std::thread thread;
    // The message on its way, for the commit hook on the engine's thread.
    std::atomic<std::size_t> current{0};
    std::atomic<bool> committed{false};
    bool connected = false;  // the session's own thread only
    int batch = 0;           // messages since the session opened
};

namespace {

// A message taken but never tried: cut short by a stop.
PooledOutcome untried(std::size_t seq, int session) {
    PooledOutcome o;
    o.seq = seq;
    o.session = session;
    o.interrupted = true;
    return o;
}

EngineErrorValues errorsOf(zeph::MailEngine& engine) {
    return {engine.lastError(), static_cast<int>(engine.sockError()), engine.replyCode(),
            static_cast<int>(engine.errorPos())};
}

}  // namespace

SessionPool::SessionPool(SessionPoolOptions options, Configure configure, Commit commit,
                         Begin begin)
    : m_options(std::move(options)),
      m_window(m_options.window > 0
                   ? m_options.window
                   : 4 * static_cast<std::size_t>(std::max(1, m_options.sessions))),
      m_configure(std::move(configure)),
      m_commit(std::move(commit)),
      m_begin(std::move(begin)) {}

SessionPool::~SessionPool() {
    stop();
    for (auto& s : m_sessions) {
        if (s->thread.joinable()) {
            s->thread.join();
        }
        s->engine.abort();
    }
}

bool SessionPool::connect(Session& s, PooledOutcome& failure) {
    m_configure(s.engine);
    s.engine.setCommitHook([this, &s] {
        if (m_stopped.load()) {
            return false;  // stopped before its ".": the server gets nothing
        }
        s.committed.store(true);
        return m_commit ? m_commit(s.current.load(), s.index) : true;
    });
    s.batch = 0;
    const bool ok = s.engine.connect(m_options.host.c_str(), 1) == 1 && s.engine.sendStart(1) == 1;
    if (!ok) {
        failure.session = s.index;
        failure.error = errorsOf(s.engine);
        failure.reply = s.engine.smtpResult();
        s.engine.abort();
    }
    s.connected = ok;
    return ok;
}

bool SessionPool::open(PooledOutcome& failure) {
    const int wanted = std::clamp(m_options.sessions, 1, kMaxSmtpSessions);
    for (int i = 0; i < wanted && !m_stopped.load(); ++i) {
        auto s = std::make_unique<Session>(i);
        {
            std::lock_guard lock(m_mutex);
            m_opening = s.get();
        }
        PooledOutcome refused;
        const bool ok = connect(*s, refused);
        if (ok && i == 0) {
            m_firstReply = s->engine.smtpResult();
        }
        std::lock_guard lock(m_mutex);
        m_opening = nullptr;
        if (!ok) {
            if (i == 0) {
                failure = std::move(refused);
                return false;
            }
            break;  // the server has reached its limit (421) or cannot take more
        }
        m_sessions.push_back(std::move(s));
    }
    std::lock_guard lock(m_mutex);
    if (m_sessions.empty() || m_stopped.load()) {
        failure.error.socketError = static_cast<int>(zeph::SocketError::Stopped);
        return false;
    }
    m_live = static_cast<int>(m_sessions.size());
    for (auto& s : m_sessions) {
        Session& session = *s;
        session.thread = std::thread([this, &session] { serve(session); });
    }
    return true;
}

int SessionPool::sessions() const {
    std::lock_guard lock(m_mutex);
    return m_live;
}

bool SessionPool::ready() const {
    std::lock_guard lock(m_mutex);
    return !m_stopped.load() && !m_closing && m_live > 0 && m_nextSeq - m_nextOut < m_window;
}

bool SessionPool::submit(zeph::Message message) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped.load() || m_closing || m_live == 0 || m_nextSeq - m_nextOut >= m_window) {
            return false;
        }
        m_waiting.emplace(m_nextSeq++, std::move(message));
    }
    m_work.notify_one();
    return true;
}

std::optional<PooledOutcome> SessionPool::next(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    auto known = [this] { return !m_outcomes.empty() && m_outcomes.begin()->first == m_nextOut; };
    if (!m_done.wait_for(lock, limit, known)) {
        return std::nullopt;
    }
    PooledOutcome outcome = std::move(m_outcomes.begin()->second);
    m_outcomes.erase(m_outcomes.begin());
    ++m_nextOut;
    return outcome;
}

std::size_t SessionPool::pending() const {
    std::lock_guard lock(m_mutex);
    return m_nextSeq - m_nextOut;
}

void SessionPool::stop() {
    std::map<std::size_t, zeph::Message> untouched;
    {
        // Under the lock: open() may otherwise let go of the session it was
        // connecting. A stop only raises a flag; it never blocks.
        std::lock_guard lock(m_mutex);
        m_stopped.store(true);
        untouched.swap(m_waiting);
        for (auto& s : m_sessions) {
            s->engine.stop();
        }
        if (m_opening != nullptr) {
            m_opening->engine.stop();
        }
    }
    m_work.notify_all();
    // Never sent: neither accepted nor refused.
    for (const auto& [seq, unused] : untouched) {
        deliver(untried(seq, 0));
    }
}

void SessionPool::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_work.notify_all();
    for (auto& s : m_sessions) {
        if (s->thread.joinable()) {
            s->thread.join();
        }
    }
}

void SessionPool::deliver(PooledOutcome outcome) {
    {
        std::lock_guard lock(m_mutex);
        m_outcomes.emplace(outcome.seq, std::move(outcome));
    }
    m_done.notify_all();
}

PooledOutcome SessionPool::settle(Session& s, std::size_t seq, bool ok) {
    PooledOutcome o;
    o.seq = seq;
    o.session = s.index;
    o.committed = s.committed.load();
    o.interrupted = m_stopped.load();
    o.error = errorsOf(s.engine);
    o.reply = s.engine.smtpResult();
    // A stop that cut the pause after an accepted message short: the server
    // has the message.
    o.accepted =
        ok ||
        (o.interrupted && o.error.socketError == static_cast<int>(zeph::SocketError::Stopped) &&
         o.error.errorPosition == static_cast<int>(zeph::ErrorPos::StoppedAfterMessage));
    if (o.accepted) {
        o.error = {};  // the engine keeps an earlier failure's values: not this message's
        return o;
    }
    if (o.interrupted || o.error.socketError == static_cast<int>(zeph::SocketError::Withheld) ||
        needsFreshSession(o.error, o.committed)) {
        // Closed, timed out, held back, stopped, or in doubt after the ".":
        // the next message gets a fresh connection rather than a dead one. A
        // refusal leaves the session as it is.
        s.engine.abort();
        s.connected = false;
    }
    return o;
}

void SessionPool::retire(Session& s, std::size_t seq, zeph::Message message,
                         const PooledOutcome& failure) {
    std::vector<std::size_t> orphaned;
    {
        std::lock_guard lock(m_mutex);
        --m_live;
        if (m_live > 0 && !m_stopped.load()) {
            m_waiting.emplace(seq, std::move(message));  // another session sends it
        } else {
            orphaned.push_back(seq);
            if (m_live == 0) {
                for (const auto& [waitingSeq, unused] : m_waiting) {
                    orphaned.push_back(waitingSeq);
                }
                m_waiting.clear();
            }
        }
    }
    m_work.notify_all();
    for (std::size_t lost : orphaned) {
        PooledOutcome o = failure;
        o.seq = lost;
        o.session = s.index;
        o.noSession = true;
        o.interrupted = m_stopped.load();
        deliver(std::move(o));
    }
}

bool SessionPool::pauseBatch() {
    std::unique_lock lock(m_mutex);
    return !m_work.wait_for(lock, m_options.batchPause, [this] { return m_stopped.load(); });
}

void SessionPool::quit(Session& s) {
    if (s.connected) {
        s.engine.setWaitMillSec(0, 0);  // nothing follows this QUIT
        s.engine.disconnect(1);
        s.connected = false;
    }
    s.engine.abort();
}

std::optional<SessionPool::Taken> SessionPool::take(bool block) {
    std::unique_lock lock(m_mutex);
    if (block) {
        m_work.wait(lock, [this] { return m_stopped.load() || m_closing || !m_waiting.empty(); });
    }
    if (m_stopped.load() || m_waiting.empty()) {
        return std::nullopt;
    }
    Taken t;
    t.seq = m_waiting.begin()->first;
    t.message = std::move(m_waiting.begin()->second);
    m_waiting.erase(m_waiting.begin());
    return t;
}

bool SessionPool::begin(Session& s, Taken& t) {
    if (t.begun || !m_begin || m_begin(t.seq, s.index)) {
        t.begun = true;
        return true;
    }
    PooledOutcome withheld;
    withheld.seq = t.seq;
    withheld.session = s.index;
    withheld.interrupted = m_stopped.load();
    withheld.error.socketError = static_cast<int>(zeph::SocketError::Withheld);
    deliver(std::move(withheld));
    return false;
}

void SessionPool::serve(Session& s) {
    std::optional<Taken> ahead;  // taken while the one before was sent
    for (;;) {
        std::optional<Taken> current = std::exchange(ahead, std::nullopt);
        if (!current && !(current = take(true))) {
            break;  // stopped, or closing and nothing left
        }
        if (m_stopped.load()) {
            deliver(untried(current->seq, s.index));
            break;
        }
        if (!s.connected) {
            PooledOutcome failure;
            current->queued = false;  // a new connection has nothing of it
            if (!connect(s, failure)) {
                // A limit the server announced with 421, or a failure of this
                // connection alone: either way the others go on without it.
                retire(s, current->seq, std::move(current->message), failure);
                return;
            }
        }
        if (!begin(s, *current)) {
            continue;
        }
        s.current.store(current->seq);
        s.committed.store(false);
        if (!current->queued) {
            s.engine.queue(std::move(current->message));
        }
        const bool lastOfBatch = m_options.waitCount > 0 && s.batch + 1 >= m_options.waitCount;
        if (m_options.queueAhead && !lastOfBatch && s.engine.pipelining()) {
            ahead = take(false);
            if (ahead && !begin(s, *ahead)) {
                ahead.reset();  // its outcome (held back) has been given
            }
            if (ahead) {
                // A copy goes to the engine: the message is sent again on a
                // new connection if this one is lost before its turn.
                s.engine.queue(ahead->message);
                ahead->queued = true;
            }
        }
        const bool ok = s.engine.sendQueued(1) == 1;
        deliver(settle(s, current->seq, ok));
        if (!s.connected) {
            s.engine.clearQueue();
            if (ahead) {
                ahead->queued = false;
            }
        }
        if (s.connected && m_options.waitCount > 0 && ++s.batch >= m_options.waitCount) {
            quit(s);
            if (!pauseBatch()) {
                break;
            }
        }
    }
    if (ahead) {
        deliver(untried(ahead->seq, s.index));
    }
    if (m_stopped.load()) {
        s.engine.abort();  // a stalled server must not hold the stop up with QUIT
        s.connected = false;
    } else {
        quit(s);
    }
}

}  // namespace tarn::driver

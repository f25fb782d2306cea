// Several SMTP sessions side by side for one send run. Each session is an
// engine of its own with a thread that takes the oldest message waiting,
// sends it and reports what became of it; the run takes the reports back in
// the order it handed the messages out, whichever session finished first, so
// that its log and statuses read exactly as a single session's would.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "sendcore/send_log.h"

namespace tarn::driver {

// What became of one message handed to the pool.
struct PooledOutcome {
    std::size_t seq = 0;     // its place in the hand-out order, from 0
    int session = 0;         // the session that sent it, from 0
    bool accepted = false;   // the server took it
    bool committed = false;  // its final "." went out
    // Cut short by stop(). Not accepted but committed: the server may have it
    // (the stop came between the "." and its reply), at most one per session.
    bool interrupted = false;
    bool noSession = false;   // no session was left to send it: the run cannot go on
    EngineErrorValues error;  // of a message not accepted (or of the session that failed); else 0
    std::string reply;        // the reply line, as the engine shows it
};

struct SessionPoolOptions {
    std::string host;
    int sessions = 1;  // asked for; fewer when the server turns some away
    // Each session closes after this many messages, waits batchPause (cut
    // short by stop()) and opens again; 0: never.
    int waitCount = 0;
    std::chrono::milliseconds batchPause{0};
    // How many outcomes may wait for the oldest one to be taken before no
    // more messages are handed out; 0: four per session.
    std::size_t window = 0;
    // A session takes the next message while it sends one, so that the next
    // one's commands go out with this one's content where the server takes
    // PIPELINING: one round trip per message. Off when the engine waits
    // after each message anyway.
    bool queueAhead = true;
};

class SessionPool {
public:
    // Applied to an engine before each of its connections: port, time-outs,
    // security, greeting name, authentication, the wait after a message.
    using Configure = std::function<void(zeph::MailEngine&)>;
    // Called on a session's thread just before the final "." of message `seq`;
    // false holds the message back (the session then closes without it).
    using Commit = std::function<bool(std::size_t seq, int session)>;
    // Called on a session's thread when message `seq` is about to begin its
    // transaction; false: it is not sent, and its outcome says Withheld.
    using Begin = std::function<bool(std::size_t seq, int session)>;

    SessionPool(SessionPoolOptions options, Configure configure, Commit commit,
                Begin begin = nullptr);
    ~SessionPool();
    SessionPool(const SessionPool&) = delete;
    SessionPool& operator=(const SessionPool&) = delete;

    // Opens the sessions one after another. The first must open: false, with
    // its failure in `failure`. A later one that the server turns away (a
    // 421 at the greeting says it has reached its limit for this client)
    // ends the opening: the run goes on with the sessions it has.
    bool open(PooledOutcome& failure);
    // Sessions still sending.
    int sessions() const;
    // The first session's reply once it had started (the log's record of
    // the server).
    const std::string& firstReply() const { return m_firstReply; }

    // Whether another message may be handed out now: false while `window`
    // outcomes wait to be taken, after stop(), and once no session is left.
    bool ready() const;
    // Hands out the next message; its seq is the number handed out before.
    // False (and nothing queued) when ready() is false.
    bool submit(zeph::Message message);
    // The outcome of the oldest message not yet taken, once it is known;
    // nothing after `limit`.
    std::optional<PooledOutcome> next(std::chrono::milliseconds limit);
    // Messages handed out whose outcome has not been taken.
    std::size_t pending() const;

    // Cuts every message in flight short and hands out nothing more; the
    // connections are closed without QUIT. Any thread, also while open()
    // runs on another (a stop that comes just as a connection begins may be
    // missed: call it again until open() returns).
    void stop();
    // Waits for the messages handed out, then ends every session with QUIT.
    void close();

private:
    struct Session;
    // A message a session has taken: its seq, the message, whether its
    // transaction has been recorded as begun, and whether it sits in the
    // session's engine queue (its commands may have gone out already).
    struct Taken {
        std::size_t seq = 0;
        zeph::Message message;
        bool begun = false;
        bool queued = false;
    };
    bool connect(Session& s, PooledOutcome& failure);
    // The oldest message waiting, waiting for one when `block`; nothing once
    // stopped, or (closing, or not blocking) when none is waiting.
    std::optional<Taken> take(bool block);
    // The begin hook for `t`; false: `t` is not sent and its outcome says so.
    bool begin(Session& s, Taken& t);
    void serve(Session& s);
    // The outcome of the message `s` just tried.
    PooledOutcome settle(Session& s, std::size_t seq, bool ok);
    void deliver(PooledOutcome outcome);
    // `s` could not open again: others take its messages; the last one
    // reports the messages left as not sent.
    void retire(Session& s, std::size_t seq, zeph::Message message, const PooledOutcome& failure);
    bool pauseBatch();
    void quit(Session& s);

    const SessionPoolOptions m_options;
    const std::size_t m_window;
    Configure m_configure;
    Commit m_commit;
    Begin m_begin;
    std::vector<std::unique_ptr<Session>> m_sessions;  // grows under m_mutex while open() runs
    Session* m_opening = nullptr;                      // the session open() is connecting
    std::string m_firstReply;

    mutable std::mutex m_mutex;
    std::condition_variable m_work;                   // a message to take, a stop, or the close
    std::condition_variable m_done;                   // an outcome arrived
    std::map<std::size_t, zeph::Message> m_waiting;   // handed out, not yet taken by a session
    std::map<std::size_t, PooledOutcome> m_outcomes;  // known, not yet taken by the run
    std::size_t m_nextSeq = 0;
    std::size_t m_nextOut = 0;
    int m_live = 0;
    bool m_closing = false;
    std::atomic<bool> m_stopped{false};
};

}  // namespace tarn::driver

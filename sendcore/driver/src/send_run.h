// The send run: one send of a message to its recipients on the job's worker
// thread, with one SMTP session through the engine's exports (send_driver.cpp)
// or with several side by side through a SessionPool (send_run_sessions.cpp).
// Internal to the driver: runSend() (send_driver.h) is how callers start one.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>

#include "common/address.h"
#include "driver/personalise.h"
#include "driver/retry_queue.h"
#include "driver/run_clock.h"
#include "driver/send_driver.h"
#include "driver/send_quota.h"
#include "sendcore/smtp_auth_file.h"
#include "session_pool.h"

namespace tarn::driver::run {

using Clock = std::chrono::steady_clock;

inline long long secondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
}

// The engine's values as its exports report them (command.h, engine.h): a
// job ended by ZEPH_Stop in its pause after an accepted message; a message
// held back by the commit hook; a message whose To, Cc, Bcc or From value
// the engine refused to put into the envelope (ZEPH_GetLastError); a failed
// TLS handshake, a refused server certificate, and STARTTLS not offered or
// refused (ZEPH_GetSockLastError).
inline constexpr int kEngineStopped = static_cast<int>(zeph::SocketError::Stopped);
inline constexpr int kEngineStoppedAfterMessage =
    static_cast<int>(zeph::ErrorPos::StoppedAfterMessage);
inline constexpr int kEngineWithheld = static_cast<int>(zeph::SocketError::Withheld);
inline constexpr int kEngineNotAnAddress = zeph::kLastNotAnAddress;
inline constexpr int kSockErrTlsHandshake = static_cast<int>(zeph::SocketError::TlsHandshake);
inline constexpr int kSockErrTlsCertificate = static_cast<int>(zeph::SocketError::TlsCertificate);
inline constexpr int kSockErrStartTls = static_cast<int>(zeph::SocketError::StartTls);

// How a wait for an engine job ended.
enum class Waited {
    kDone,           // the job ended by itself
    kStopConfirmed,  // the person stopped the run ("中止しますか？" Yes)
    kStopDeclined,   // the person asked for a stop and then said No
};

// Which connection a session is opened for.
enum class SessionStart {
    kFirst,       // the run's first connection: its failures come before any message
    kAfterStop,   // a stop the person declined closed the session
    kAfterPause,  // the pause after WaitCount messages (or a wait) closed the session
    kAfterLoss,   // the server closed the session, or it timed out
};

// What became of one message, as the engine (or a session of the pool) told.
struct Attempt {
    bool accepted = false;
    bool interrupted = false;  // cut off by the person
    bool committed = false;    // its final "." went out
    EngineErrorValues error;
    std::string reply;
};

// With several sessions: an entry of the walk handed out and not yet
// accounted for, in the order handed out. Entries that never reach a session
// (no message for them, or no address) wait their turn too, so that the log
// and the statuses keep the walk's order.
struct Outgoing {
    enum class Kind {
        kPooled,      // its message is with the pool
        kSkipped,     // the script made no message for it
        kBadAddress,  // its address field cannot give an envelope (field says why)
    };
    Kind kind = Kind::kPooled;
    Recipient recipient;
    int tries = 0;
    std::string subject;
    std::string body;
    address::FieldCheck field;
};

// pump(): the source has nothing more to hand out.
inline constexpr int kNoMore = -1;

// One send run on the job's worker thread. Everything it holds that must be
// released on every return path (the log, the progress window, a dialled
// connection) is released by its destructor. The phases are separate
// functions: prepare, openSession (the first session and every reconnection),
// sendTo (personalise, then sendOne), retryDeferred, finish; the waits between
// them (the pause after WaitCount messages, a quota, the jitter, the pause
// before a retry round) all go through waitUntil.
class SendRun {
public:
    SendRun(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, JobChannel& ui, const SendRunOptions& options)
        : m_settings(settings),
          m_account(settings.defaultAccount),
          m_contents(contents),
          m_recipientCount(n),
          m_recipients(recipients),
          m_ui(ui),
          m_options(options),
          m_log(options.logClock),
          m_smtpName(fieldText(settings.defaultAccount.SMTPName)),
          m_clock(options.clock != nullptr ? *options.clock : m_systemClock),
          m_retry(settings.NoRetry != 0 ? RetryPlan::none() : RetryPlan::standard()),
          m_quota(options.quotaStateFile.empty()
                      ? RegistryFile::defaultPath().parent_path() / "send-quota"
                      : options.quotaStateFile),
          m_quotaLimits{std::max(0, settings.QuotaPerHour), std::max(0, settings.QuotaPerDay)},
          m_quotaAccount(quotaAccountKey(m_smtpName, fieldText(settings.defaultAccount.FromEMail))),
          m_random(std::random_device{}()),
          m_parallel(smtpSessionCount(settings) > 1) {}

    ~SendRun();

    SendRun(const SendRun&) = delete;
    SendRun& operator=(const SendRun&) = delete;

    int execute();

private:
    // Steps before the network: custom headers, the log and its header, the
    // attachments, dial-up. 0 or the code to return.
    int prepare();
    // The engine's settings for the run's connections. 0, or the code that
    // ends the run.
    int setUpEngine();
    // Before a connection: POP before SMTP where the account asks for it (not
    // after a declined stop), and the engine's settings before the first. 0,
    // or the code that ends the run.
    int beforeConnecting(SessionStart how);
    // Connects and starts an SMTP session (with POP before SMTP where the
    // account asks for it). 0, or the code that ends the run.
    int openSession(SessionStart how, Clock::time_point since);
    int popBeforeSmtp();
    // Waits for the running engine job. `since` set: the time line counts the
    // seconds from it and the bar follows (the connect wait). A stop request
    // closes the connection and asks.
    Waited awaitEngineJob(std::optional<Clock::time_point> since);
    // The connect wait's time line and bar: the seconds since `since`, when
    // they are not `shown` already.
    void showConnectWait(Clock::time_point since, long long& shown);
    // Waits until `until` as waitUntil does; true when the person stopped the
    // run meanwhile.
    bool waitOrStop(RunClock::TimePoint until, const std::string& text);
    // The run cannot start: the reason (Shift_JIS) in a box before the 506
    // box; nothing opened or sent.
    int refuseRun(const std::string& reason);
    // SMTP AUTH from SMTPAuth.txt, read again before every session start. A
    // file that can no longer be used ends the run like a failed session start.
    int applySmtpAuth(bool logIt);
    // The connect or session-start job failed with `e` (the engine's reply
    // line `reply`): the 5309 log line (then an empty line, or the result line
    // once the session had started), the 5302 box, 506.
    int sessionFailed(const EngineErrorValues& e, const std::string& reply);
    // Closes the session. With pauseAfter the engine keeps its short pause
    // after the disconnect (before a reconnect); a stop request cuts it short.
    void disconnect(bool pauseAfter);
    // One step of the walk: the recipient's message made (personalise.h, the
    // preview's very function), then sent. 0 to go on, else the code that
    // ends the run.
    int sendTo(const Recipient& r);
    // The message's headers and body into the engine.
    void setHeaders(const Recipient& r, const std::string& subject, const std::string& body);
    // Sends `r` its message and accounts for it; `tries` counts the messages
    // `r` was sent before. 0 to go on, else the code that ends the run.
    int sendOne(const Recipient& r, int tries, const std::string& subject, const std::string& body);
    // Accounts for a message sent: accepted, refused, deferred, or (cut off by
    // the person) neither.
    void settle(const Recipient& r, int tries, const Attempt& attempt, const std::string& subject,
                const std::string& body);
    void logNote(const std::string& text) {
        if (logging()) {
            m_log.write(m_log.timestamp() + " " + text + "\n");
        }
    }
    void accountResult(const Recipient& r, bool accepted, const EngineErrorValues& e,
                       const std::string& reply);
    // A recipient whose address field cannot give an envelope its addresses:
    // failed without the engine seeing it, with the reason in the log.
    void refuseAddress(const Recipient& r, const address::FieldCheck& field);
    // After a confirmed or declined stop: 508, or a fresh session.
    int stopAnswered(bool yes);
    int pause();
    // The retry rounds of the deferred recipients, then the final failures of
    // those still deferred.
    int retryDeferred();
    // Before a message: the quota's pause when the account has used it up,
    // and the jitter.
    int beforeMessage();
    // Waits until `until`, showing `text` and what is left; the stop button
    // asks as everywhere. 0, or the code that ends the run.
    int waitUntil(RunClock::TimePoint until, const std::string& text);
    int finish();

    // Several sessions (send_run_sessions.cpp). The run hands messages to a
    // SessionPool and accounts for them in the order handed out.
    //
    // Opens the pool (the first time, with POP before SMTP and the log's
    // record of the server). 0, or the code that ends the run.
    int openPool(SessionStart how, Clock::time_point since);
    SessionPool::Configure poolConfiguration() const;
    // The message to `r` as a value of its own (what setHeaders puts into
    // the engine).
    zeph::Message messageFor(const Recipient& r, const std::string& subject,
                             const std::string& body) const;
    // Hands `produce`'s messages out while the pool has room and accounts for
    // each as its outcome comes. produce() returns 0 after handing one out (or
    // queueing a local outcome), kNoMore at the end, or the code that ended
    // the run. 0 once everything handed out is accounted for.
    int pump(const std::function<int()>& produce);
    // The walk's next recipient: personalised, then handed out.
    int queueFor(const Recipient& r);
    // Gives `o`'s message to the pool, after the waits before a message.
    int handOut(Outgoing o);
    // The parallel counterpart of beforeMessage's quota: in-flight messages
    // count as sent until their outcome says otherwise.
    int quotaBeforePooled();
    // Accounts for the oldest entry handed out once its outcome is known
    // (waits at most 100 ms for it).
    void settleFront();
    void settlePooled(const Outgoing& o, const PooledOutcome& outcome);
    // Everything handed out accounted for.
    void drainInFlight();
    // The stop button while messages are in flight: asked without holding
    // them up; a Yes cuts every session short.
    void watchStop();
    // The run must end with `code` once what is in flight is accounted for;
    // `cut`: stop the sessions now.
    void giveUp(int code, bool cut);
    // Ends the run after giveUp: drains, closes the sessions, logs, returns.
    int endGivenUp();
    // Drains and ends with `code` (cut: the sessions are stopped first).
    int endParallel(int code, bool cut) {
        giveUp(code, cut);
        return endGivenUp();
    }
    // Closes the sessions (everything handed out has been accounted for).
    void closePool();
    // The recipient of message `seq` of the pool (any thread), or null.
    std::shared_ptr<const Recipient> recipientOfSeq(std::size_t seq);

    // Ends the run with `code`; once the session had started, the log gets the
    // result line so that it always ends with the counts reached.
    int end(int code) {
        if (m_sessionStarted && logging()) {
            m_log.result(m_ok, m_ng);
        }
        return code;
    }
    int end(SendError e) { return end(errorNumber(e)); }
    bool logging() const { return m_settings.LogFileMode != 0 && m_log.isOpen(); }
    void reportProgress(const Recipient& r) {
        m_ui.progress(RunProgress{0, m_recipientCount, m_sent, m_ok, m_ng, r.position, r.address});
    }
    void showElapsed();
    static int commitHook(void* run);

    const SendSettings& m_settings;
    const AccountSettings& m_account;
    const contents::SendContents& m_contents;
    const int m_recipientCount;
    RecipientSource& m_recipients;
    JobChannel& m_ui;
    const SendRunOptions& m_options;
    SendLog m_log;
    const std::string m_smtpName;
    std::unique_ptr<DialUpConnection> m_dialUp;
    bool m_windowOpen = false;
    bool m_sessionStarted = false;
    bool m_sessionLost = false;  // the next message needs a fresh session
    // Set by the commit hook on the engine's thread: the message's "." went out.
    std::atomic<bool> m_committed{false};
    std::optional<contents::ScriptEngine> m_script;
    contents::ScriptHost m_silentHost;
    PersonalMessage m_message;
    std::string m_from;
    std::string m_fromEMail;
    int m_ok = 0;
    int m_ng = 0;
    int m_sent = 0;
    int m_messages = 0;  // messages handed to the engine (for the jitter)
    Clock::time_point m_runStart;
    long long m_shownSecond = -1;
    SystemRunClock m_systemClock;
    RunClock& m_clock;
    RetryQueue m_retry;
    QuotaState m_quota;
    const QuotaLimits m_quotaLimits;
    const std::string m_quotaAccount;
    std::mt19937 m_random;
    // The recipient whose message the engine has (single session), for the
    // commit hook.
    const Recipient* m_sending = nullptr;
    // SMTP AUTH as last read (applySmtpAuth), for the pool's sessions.
    std::optional<SmtpAuthFile> m_smtpAuth;

    // Several sessions.
    const bool m_parallel;
    zeph::Message m_template;  // what every message shares: custom headers, attachments, charset
    std::unique_ptr<SessionPool> m_pool;
    std::size_t m_poolSeq = 0;  // the next message's seq in m_pool
    std::deque<Outgoing> m_inFlight;
    std::mutex m_bySeqMutex;  // the sessions' hooks read m_bySeq
    std::unordered_map<std::size_t, std::shared_ptr<const Recipient>> m_bySeq;
    bool m_stopAsked = false;                       // the stop question is open
    int m_endCode = 0;                              // giveUp's code
    std::optional<PooledOutcome> m_sessionFailure;  // no session was left: why
};

}  // namespace tarn::driver::run

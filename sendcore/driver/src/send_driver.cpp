#include "driver/send_driver.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>

#include "addressbook/record.h"
#include "common/address.h"
#include "common/cp932.h"
#include "common/program.h"
#include "driver/personalise.h"
#include "driver/retry_queue.h"
#include "driver/run_clock.h"
#include "driver/send_quota.h"
#include "sendcore/registry.h"
#include "sendcore/smtp_auth_file.h"
#include "session_pool.h"
#include "texts.h"
#include "zeph.h"

namespace tarn::driver {
namespace {

using Clock = std::chrono::steady_clock;

long long secondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
}

// What the engine reports for a job ended by ZEPH_Stop in its pause after an
// accepted message (zeph.h).
constexpr int kEngineStopped = -1;
constexpr int kEngineStoppedAfterMessage = 7500;
// A message held back by the commit hook.
constexpr int kEngineWithheld = -13;
// ZEPH_GetLastError after a message whose To, Cc, Bcc or From value the
// engine refused to put into the envelope.
constexpr int kEngineNotAnAddress = -8;
// ZEPH_GetSockLastError after a failed TLS handshake, a refused server
// certificate, and STARTTLS not offered or refused (zeph.h).
constexpr int kSockErrTlsHandshake = -20;
constexpr int kSockErrTlsCertificate = -21;
constexpr int kSockErrStartTls = -22;

EngineErrorValues engineErrors() {
    EngineErrorValues e;
    e.lastError = ZEPH_GetLastError();
    e.socketError = ZEPH_GetSockLastError();
    e.smtpReplyCode = ZEPH_GetSmtpLastError();
    e.errorPosition = ZEPH_GetLastErrorPos();
    return e;
}

std::string replyLine() {
    const char* r = ZEPH_GetSMTPResult();
    return r != nullptr ? r : "";
}

// The attachment list as the engine takes it: each path followed by a TAB, a
// path with a space in double quotes.
std::string engineAttachmentList(std::string_view attachments) {
    while (!attachments.empty() && (attachments.back() == ' ' || attachments.back() == '\t')) {
        attachments.remove_suffix(1);
    }
    std::string list;
    for (const auto& path : contents::splitAttachments(attachments)) {
        if (path.find(' ') != std::string::npos) {
            list += '"' + path + '"';
        } else {
            list += path;
        }
        list += '\t';
    }
    return list;
}

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
constexpr int kNoMore = -1;

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

    ~SendRun() {
        m_pool.reset();  // its sessions call back into this run
        ZEPH_SetCommitHook(nullptr, nullptr);
        if (m_windowOpen) {
            m_ui.close();
        }
        if (m_dialUp && m_dialUp->connected() && m_dialUp->hangUpOnEnd()) {
            m_dialUp->hangUp();
        }
        m_log.close();
    }

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
    // Connects and starts an SMTP session (with POP before SMTP where the
    // account asks for it). 0, or the code that ends the run.
    int openSession(SessionStart how, Clock::time_point since);
    int popBeforeSmtp();
    // Waits for the running engine job. `since` set: the time line counts the
    // seconds from it and the bar follows (the connect wait). A stop request
    // closes the connection and asks.
    Waited awaitEngineJob(std::optional<Clock::time_point> since);
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

    // Several sessions (parallel_walk below). The run hands messages to a
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
    std::optional<Recipient> recipientOfSeq(std::size_t seq);

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
    std::unordered_map<std::size_t, Recipient> m_bySeq;
    bool m_stopAsked = false;                       // the stop question is open
    int m_endCode = 0;                              // giveUp's code
    std::optional<PooledOutcome> m_sessionFailure;  // no session was left: why
};

int SendRun::prepare() {
    // Custom headers.
    ZEPH_ClearCustomHeader();
    if (m_settings.CustomUse == 1) {
        ZEPH_LoadCustomHeader(m_options.customHeaderFile.c_str());
    }

    // The send log and its run header.
    const std::string logFileName = fieldText(m_settings.LogFileName);
    if (m_settings.LogFileMode != 0 && logFileName.empty()) {
        return errorNumber(SendError::NoLogFileName);
    }
    if (m_settings.LogFileMode > 0) {
        if (auto opened = m_log.open(cp932::pathFromSjis(logFileName), m_settings.LogCreateMode);
            !opened) {
            m_ui.errorBox(sjisText("ターノス - エラー"),
                          cp932::fromUtf8Named(opened.error().message));
            return errorNumber(SendError::LogOpen);
        }
        m_log.runHeader(m_options.recipientSourceName, m_options.contentsPath,
                        fieldText(m_account.FromName), fieldText(m_account.FromEMail),
                        m_contents.subject);
        m_log.versionLine();
        m_log.smtpServer(m_smtpName, m_account.PortNo);
        if (m_account.PBSUse == 1) {
            m_log.popBeforeSmtp(fieldText(m_account.Pop3Name), fieldText(m_account.PBSUserID));
        }
    }

    // Attachments, once per run.
    std::string attachList = engineAttachmentList(m_contents.attachments);
    if (attachList.empty()) {
        ZEPH_SetAttach("");
    } else if (ZEPH_SetAttach(attachList.c_str()) == 0) {
        return errorNumber(SendError::Attachment);
    }
    if (m_parallel) {
        // The sessions' engines share no message with the one above.
        if (m_settings.CustomUse == 1) {
            m_template.loadCustomHeader(m_options.customHeaderFile.c_str());
        }
        int attachError = 0;
        if (!attachList.empty() && m_template.setAttach(attachList.c_str(), &attachError) == 0) {
            return errorNumber(SendError::Attachment);
        }
        m_template.setCharsetMode(static_cast<int>(mailCharset(m_settings)));
        m_template.setEncodeType(0);
    }

    // Dial-up when the server is not on the LAN.
    auto dialled = dialIfNeeded(m_account, m_options.loadDialUp);
    if (!dialled) {
        return errorNumber(SendError::DialUp);
    }
    m_dialUp = std::move(*dialled);
    return 0;
}

int SendRun::popBeforeSmtp() {
    m_ui.setStatusLine(sjisText("Pop before SMTPを実行中..."));
    // Blocking, bounded by the engine's own POP time-outs.
    int r = ZEPH_PopBeforeSmtp(fieldText(m_account.Pop3Name).c_str(), m_options.popPort,
                               fieldText(m_account.PBSUserID).c_str(),
                               fieldText(m_account.PBSPassword).c_str(),
                               m_account.PBSAPOP == 1 ? 1 : 0);
    if (r == 0) {
        return 0;
    }
    ZEPH_Abort();
    switch (r) {
        case 1:
            return errorNumber(SendError::PopConnect);
        case 2:
            return errorNumber(SendError::PopReceive);
        case 3:
            return errorNumber(SendError::PopUser);
        case 4:
            return errorNumber(SendError::PopPassword);
        default:
            return errorNumber(SendError::Connect);
    }
}

void SendRun::disconnect(bool pauseAfter) {
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, pauseAfter ? 500 : 0);
    if (ZEPH_Disconnect(0) != 0) {
        while (ZEPH_IsExecute() != 0) {
            if (m_ui.stopRequested()) {
                ZEPH_Stop();  // only the pause is cut short; QUIT has been answered
            }
        }
    }
    ZEPH_Abort();
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, 500);
}

Waited SendRun::awaitEngineJob(std::optional<Clock::time_point> since) {
    if (since) {
        m_ui.setRange(90);
    }
    long long shown = -1;
    while (ZEPH_IsExecute() != 0) {  // yields, and wakes as soon as the job ends
        if (m_ui.stopRequested()) {
            m_ui.clearStopRequest();
            ZEPH_Abort();  // ends the connect or the session start at once
            return m_ui.askStop() ? Waited::kStopConfirmed : Waited::kStopDeclined;
        }
        if (since) {
            if (long long s = secondsSince(*since); s != shown) {
                shown = s;
                m_ui.setTimeLine(sjisFormat("接続応答待ち( {} 秒経過) ", static_cast<int>(s)));
                m_ui.setPosition(s);
            }
        }
    }
    if (since) {
        m_ui.setPosition(90);
        m_ui.setTimeLine("");
    }
    return Waited::kDone;
}

int SendRun::refuseRun(const std::string& reason) {
    m_ui.errorBox(sjisText("ターノス - エラー"), reason);
    return errorNumber(SendError::Connect);
}

int SendRun::applySmtpAuth(bool logIt) {
    auto auth = readSmtpAuthFile(m_options.smtpAuthFile);
    m_smtpAuth.reset();
    if (!auth || !auth->usable()) {
        // Nothing from an earlier run of this process may linger in the engine.
        ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
    }
    if (!auth) {
        const std::string reason = cp932::fromUtf8Named(auth.error().message);
        if (logging()) {
            m_log.note(reason);
            if (!m_sessionStarted) {
                m_log.emptyLine();
            }
        }
        ZEPH_Disconnect(1);
        ZEPH_Abort();
        m_ui.errorBox(sjisText("ターノス - エラー"), reason);
        return end(SendError::Connect);
    }
    if (!auth->usable()) {
        return 0;
    }
    if (logIt && logging()) {
        m_log.smtpAuth(auth->userId);
    }
    ZEPH_SetSmtpAuth(1, auth->userId.c_str(), auth->password.c_str(), auth->method);
    m_smtpAuth = *auth;
    return 0;
}

int SendRun::sessionFailed(const EngineErrorValues& e, const std::string& reply) {
    // The codes alone do not say what went wrong with TLS (an untrusted
    // certificate, a name that does not match, no STARTTLS, an unreadable CA
    // file); the engine's text does.
    const bool tls = e.socketError == kSockErrTlsHandshake ||
                     e.socketError == kSockErrTlsCertificate || e.socketError == kSockErrStartTls;
    const std::string reason = tls ? reply : std::string();
    if (logging()) {
        m_log.connectFailed(e);
        if (!reason.empty()) {
            m_log.note(reason);
        }
        if (!m_sessionStarted) {
            m_log.emptyLine();
        }
    }
    m_ui.errorBox(sjisText("ターノス - エラー"),
                  sjisFormat("SMTPサーバの接続に失敗しました。 ({})", e.lastError) +
                      (reason.empty() ? std::string() : "\n" + reason));
    ZEPH_Abort();
    return end(SendError::Connect);
}

int SendRun::setUpEngine() {
    m_ui.setStatusLine(sjisText("SMTPサーバーに接続中..."));
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, 500);
    ZEPH_SetRecvTimeOutSec(m_settings.RecvTimeOutSec > 0 ? m_settings.RecvTimeOutSec : 90);
    ZEPH_SetEncodeType(0);
    ZEPH_SetPort(m_account.PortNo);
    if (ZEPH_SetSecurity(m_settings.defaultSecurity) == 0) {
        ZEPH_Abort();
        return refuseRun(cp932::fromUtf8Named("接続の保護の値 " +
                                              std::to_string(m_settings.defaultSecurity) +
                                              " をメールエンジンが受け付けません。"));
    }
    const std::string caFile =
        m_options.caFile.empty() ? fieldText(m_settings.defaultCaFile) : m_options.caFile;
    ZEPH_SetCAFile(caFile.c_str());
    ZEPH_SetCharset(mailCharset(m_settings));
    ZEPH_SetHeloName(greetingName(m_settings).c_str());
    ZEPH_SetPipelining(m_settings.NoPipelining != 0 ? 0 : 1);
    ZEPH_SetCommitHook(&SendRun::commitHook, this);
    return 0;
}

int SendRun::openSession(SessionStart how, Clock::time_point since) {
    if (how != SessionStart::kAfterStop && m_account.PBSUse == 1) {
        if (int r = popBeforeSmtp(); r != 0) {
            return end(r);
        }
    }
    if (how == SessionStart::kFirst) {
        if (int r = setUpEngine(); r != 0) {
            return r;
        }
    }
    // A declined stop starts the connection again from here.
    for (bool again = false;; again = true) {
        if (ZEPH_Connect(m_smtpName.c_str(), 0) == 0) {
            ZEPH_Abort();
            return end(how == SessionStart::kFirst && !again ? SendError::NoSmtpServer
                                                             : SendError::Connect);
        }
        Waited w = awaitEngineJob(since);
        if (w == Waited::kStopConfirmed) {
            return end(SendError::Cancelled);
        }
        if (w == Waited::kStopDeclined) {
            continue;
        }
        if (ZEPH_GetResult() == 0) {
            return sessionFailed(engineErrors(), replyLine());
        }
        if (int r = applySmtpAuth(how == SessionStart::kFirst && !again); r != 0) {
            return r;
        }
        if (ZEPH_SendStart(0) == 0) {
            ZEPH_Abort();
            return end(SendError::Connect);
        }
        w = awaitEngineJob(std::nullopt);
        if (w == Waited::kStopConfirmed) {
            return end(SendError::Cancelled);
        }
        if (w == Waited::kStopDeclined) {
            continue;
        }
        if (ZEPH_GetResult() == 0) {
            return sessionFailed(engineErrors(), replyLine());
        }
        break;
    }
    m_ui.setTimeLine("");
    if (how == SessionStart::kFirst) {
        if (logging()) {
            m_log.connected(replyLine());
            m_log.sendStart();
        }
        m_sessionStarted = true;
    }
    return 0;
}

int SendRun::commitHook(void* run) {
    auto* self = static_cast<SendRun*>(run);
    self->m_committed.store(true);
    return self->m_sending == nullptr || self->m_recipients.messageCommitting(*self->m_sending) ? 1
                                                                                                : 0;
}

void SendRun::accountResult(const Recipient& r, bool accepted, const EngineErrorValues& e,
                            const std::string& reply) {
    RecipientResult result{r.position, r.address, RecipientOutcome::kSent, 0, 0};
    if (accepted) {
        ++m_ok;
        if (m_settings.LogFileMode >= 2) {
            m_log.messageSent(r.position, r.address);
        }
        m_recipients.markSent();
        m_recipients.messageAccepted(reply);
    } else {
        ++m_ng;
        if (m_settings.LogFileMode != 0) {
            m_log.messageFailed(r.position, r.address, e, e.smtpReplyCode != 0 ? reply : "");
            if (e.smtpReplyCode == 0 && e.lastError == kEngineNotAnAddress) {
                m_log.note(reply);  // which header value and why
            }
        }
        m_recipients.markSendFailed();
        m_recipients.messageRefused(e.smtpReplyCode, e.smtpReplyCode != 0 ? reply : "");
        result.outcome = RecipientOutcome::kRefused;
        result.status = addressbook::kStatusSendError;
        result.code = e.lastError;
    }
    m_ui.recipientDone(result);
    reportProgress(r);
}

void SendRun::refuseAddress(const Recipient& r, const address::FieldCheck& field) {
    ++m_ng;
    const std::string reason = address::describe(field);
    if (m_settings.LogFileMode != 0) {
        m_log.messageFailed(r.position, r.address, EngineErrorValues{}, "");
        m_log.note(reason);
    }
    m_recipients.markSendFailed();
    m_recipients.messageRefused(0, reason);
    m_ui.recipientDone(
        {r.position, r.address, RecipientOutcome::kRefused, addressbook::kStatusSendError, 0});
    reportProgress(r);
}

void SendRun::setHeaders(const Recipient& r, const std::string& subject, const std::string& body) {
    ZEPH_SetDefaultHeader();
    ZEPH_SetTo(r.address.c_str());
    ZEPH_SetCc(m_contents.cc.c_str());
    ZEPH_SetBcc(m_contents.bcc.c_str());
    ZEPH_SetFrom(m_from.c_str());
    if (m_options.databaseRows) {
        ZEPH_SetSubject(subject.c_str());
    }
    ZEPH_SetMessageID(m_account.UseFQDN == 1 ? m_fromEMail.c_str() : nullptr);
    if (!m_options.databaseRows) {
        ZEPH_SetSubject(subject.c_str());
    }
    ZEPH_SetBody(body.c_str());
}

int SendRun::sendTo(const Recipient& r) {
    const Personalised p =
        personalise(m_contents, m_script ? &*m_script : nullptr, r.values, m_message);
    if (p == Personalised::kScriptFailed) {
        disconnect(false);
        return end(SendError::Script);
    }
    if (p == Personalised::kSkipped) {
        // No message for this recipient; counted towards N, not as failed.
        m_ui.recipientDone({r.position, r.address, RecipientOutcome::kSkipped, 0, 0});
        return 0;
    }
    // A field with a control character or with text that is no address
    // never reaches the envelope: the recipient fails, and the log says why.
    if (const address::FieldCheck envelope = address::checkField(r.address); !envelope.ok()) {
        refuseAddress(r, envelope);
        return 0;
    }
    return sendOne(r, 0, m_message.subject(), m_message.body());
}

void SendRun::settle(const Recipient& r, int tries, const Attempt& attempt,
                     const std::string& subject, const std::string& body) {
    const EngineErrorValues& e = attempt.error;
    const std::string& reply = attempt.reply;
    if (attempt.committed && m_quotaLimits.any()) {
        // The server may count it, so the quota does: the "." went out.
        if (auto recorded = m_quota.record(m_quotaAccount, m_clock.now()); !recorded) {
            logNote(recorded.error().message);
        }
    }
    if (attempt.accepted) {
        accountResult(r, true, e, reply);
        return;
    }
    if (attempt.interrupted) {
        return;  // cut off by the person: not sent, not refused
    }
    const FailureKind kind = classifyFailure(e, attempt.committed);
    if (!m_parallel && (sessionLost(e) || kind == FailureKind::kUnknown)) {
        // The next message gets a fresh session instead of failing at once on
        // a closed connection (or waiting out the time-out on a dead one).
        ZEPH_Abort();
        m_sessionLost = true;
    }
    if (kind == FailureKind::kTemporary && m_retry.enabled()) {
        m_recipients.messageDeferred(e.smtpReplyCode, e.smtpReplyCode != 0 ? reply : "");
        logNote(sjisFormat("({}) {} : 一時的なエラーのため後で再送信します。 {}", r.position,
                           r.address, e.smtpReplyCode != 0 ? reply : sjisText("(応答なし)")));
        m_retry.defer({r, e, reply, tries + 1, subject, body});
        return;
    }
    accountResult(r, false, e, reply);
}

int SendRun::sendOne(const Recipient& r, int tries, const std::string& subject,
                     const std::string& body) {
    if (int rc = beforeMessage(); rc != 0) {
        return rc;
    }
    setHeaders(r, subject, body);
    if (m_sessionLost) {
        m_sessionLost = false;
        if (int rc = openSession(SessionStart::kAfterLoss, Clock::now()); rc != 0) {
            return rc;
        }
    }
    const int size = ZEPH_GetSendSize();
    m_ui.setRange(size);
    m_ui.setAddressLine(sjisFormat("送信アドレス : {}", logText(r.address)));

    // A stop during the message is asked at once; the message goes on meanwhile.
    bool asked = false;
    std::optional<bool> answer;
    bool interrupted = false;
    if (!m_recipients.messageStarting(r)) {
        disconnect(false);
        return end(SendError::Journal);
    }
    m_committed.store(false);
    m_sending = &r;
    ++m_messages;
    if (ZEPH_Send(0) != 0) {
        while (ZEPH_IsExecute() != 0) {
            m_ui.setPosition(ZEPH_GetNowSendSize());
            if (!asked && m_ui.stopRequested()) {
                m_ui.clearStopRequest();
                m_ui.postStopQuestion();
                asked = true;
            }
            if (asked && !answer) {
                answer = m_ui.stopAnswer();
                if (answer && *answer) {
                    ZEPH_Stop();
                    interrupted = true;
                }
            }
        }
    }
    m_ui.setPosition(size);
    m_sending = nullptr;

    if (ZEPH_GetResult() == 0 && ZEPH_GetSockLastError() == kEngineWithheld) {
        // The journal could not record the commit: the message was held back.
        ZEPH_Abort();
        return end(SendError::Journal);
    }
    Attempt attempt{ZEPH_GetResult() != 0, interrupted, m_committed.load(), engineErrors(),
                    replyLine()};
    if (interrupted && !attempt.accepted) {
        // Stopped in the pause after the message: the server had accepted it.
        attempt.accepted = attempt.error.socketError == kEngineStopped &&
                           attempt.error.errorPosition == kEngineStoppedAfterMessage;
    }
    settle(r, tries, attempt, subject, body);

    if (asked) {
        const bool yes = answer ? *answer : m_ui.awaitStopAnswer();
        if (yes || interrupted) {
            // The person wants out, or the transaction was cut off: a QUIT to a
            // server that may have stalled would hold the stop for the whole
            // receive time-out, so the connection is simply closed.
            ZEPH_Abort();
        } else if (!m_sessionLost) {
            disconnect(false);
        }
        m_sessionLost = false;
        return stopAnswered(yes);
    }
    if (m_ui.stopRequested()) {
        m_ui.clearStopRequest();
        if (!m_sessionLost) {
            disconnect(false);
        }
        m_sessionLost = false;
        return stopAnswered(m_ui.askStop());
    }
    return 0;
}

bool SendRun::waitOrStop(RunClock::TimePoint until, const std::string& text) {
    m_ui.setStatusLine(text);
    for (;;) {
        const bool stopped = m_clock.waitUntil(
            until, [this](std::chrono::milliseconds limit) { return m_ui.waitForStop(limit); },
            [this, until](RunClock::TimePoint now) {
                const auto left = std::chrono::ceil<std::chrono::seconds>(until - now).count();
                m_ui.setTimeLine(sjisFormat("待機中( 残り {} ) ", elapsedText(left)));
            });
        if (!stopped) {
            return false;
        }
        m_ui.clearStopRequest();
        if (m_ui.askStop()) {
            return true;
        }
        m_ui.setStatusLine(text);
    }
}

int SendRun::waitUntil(RunClock::TimePoint until, const std::string& text) {
    if (!waitOrStop(until, text)) {
        return 0;
    }
    if (m_parallel) {
        return endParallel(errorNumber(SendError::Cancelled), true);
    }
    if (!m_sessionLost) {
        disconnect(false);
    }
    return end(SendError::Cancelled);
}

int SendRun::beforeMessage() {
    if (m_settings.JitterMSec > 0 && m_messages > 0) {
        std::uniform_int_distribution<int> jitter(0, m_settings.JitterMSec);
        const auto until = m_clock.now() + std::chrono::milliseconds(jitter(m_random));
        if (int rc = waitUntil(until, sjisText("送信間隔を調整中...")); rc != 0) {
            return rc;
        }
    }
    if (!m_quotaLimits.any()) {
        return 0;
    }
    if (m_parallel) {
        if (int rc = quotaBeforePooled(); rc != 0) {
            return rc;
        }
    }
    auto next = m_quota.nextAllowed(m_quotaAccount, m_quotaLimits, m_clock.now());
    if (!next) {
        logNote(next.error().message);
        if (m_parallel) {
            return endParallel(errorNumber(SendError::QuotaState), false);
        }
        if (!m_sessionLost) {
            disconnect(false);
        }
        return end(SendError::QuotaState);
    }
    if (*next <= m_clock.now()) {
        return 0;
    }
    // The session would time out meanwhile: closed now, opened again after.
    if (m_parallel) {
        closePool();  // quotaBeforePooled has accounted for what was in flight
    } else if (m_sessionStarted && !m_sessionLost) {
        disconnect(false);
        m_sessionLost = true;
    }
    const std::time_t at = RunClock::Clock::to_time_t(*next);
    std::tm local{};
    localtime_r(&at, &local);
    const std::string text =
        sjisFormat("送信数の上限に達しました。{}/{} {:02d}:{:02d} に送信を再開します。",
                   local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    logNote(text);
    return waitUntil(*next, text);
}

int SendRun::retryDeferred() {
    while (m_retry.roundDue()) {
        const auto pause = m_retry.nextPause();
        if (pause.count() > 0) {
            // Minutes of silence would end the session anyway.
            if (m_parallel) {
                closePool();
            } else if (!m_sessionLost) {
                disconnect(false);
                m_sessionLost = true;
            }
            const std::string text = sjisFormat(
                "一時的なエラーの {} 件を再送信します ({}/{} 回目)。",
                static_cast<int>(m_retry.waiting()), m_retry.nextRound(), m_retry.rounds());
            if (int rc = waitUntil(m_clock.now() + pause, text); rc != 0) {
                return rc;
            }
        }
        if (m_parallel) {
            std::vector<DeferredRecipient> round = m_retry.takeRound();
            std::size_t i = 0;
            const int rc = pump([&]() -> int {
                if (i == round.size()) {
                    return kNoMore;
                }
                DeferredRecipient& d = round[i++];
                m_ui.setStatusLine(sjisFormat("{} に再送信中です。", d.recipient.address));
                return handOut({Outgoing::Kind::kPooled,
                                std::move(d.recipient),
                                d.tries,
                                std::move(d.subject),
                                std::move(d.body),
                                {}});
            });
            if (rc != 0) {
                return rc;
            }
            continue;
        }
        for (DeferredRecipient& d : m_retry.takeRound()) {
            m_ui.setStatusLine(sjisFormat("{} に再送信中です。", d.recipient.address));
            m_recipients.revisit(d.recipient);
            if (int rc = sendOne(d.recipient, d.tries, d.subject, d.body); rc != 0) {
                return rc;
            }
        }
    }
    // Still deferred after the last try: a send error, with the last reply.
    for (const DeferredRecipient& d : m_retry.takeGivenUp()) {
        m_recipients.revisit(d.recipient);
        accountResult(d.recipient, false, d.error, d.reply);
    }
    return 0;
}

int SendRun::stopAnswered(bool yes) {
    if (yes) {
        return end(SendError::Cancelled);
    }
    return openSession(SessionStart::kAfterStop, Clock::now());
}

int SendRun::pause() {
    const auto pauseStart = Clock::now();
    m_ui.setStatusLine(
        sjisFormat("{} 秒ウエイト中({} 件ごと)", m_settings.WaitSec, m_settings.WaitCount));
    disconnect(true);
    const auto until =
        pauseStart +
        std::chrono::milliseconds(static_cast<long long>(std::max(0, m_settings.WaitSec)) * 1000);
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        if (m_ui.waitForStop(std::chrono::duration_cast<std::chrono::milliseconds>(until - now) +
                             std::chrono::milliseconds(1))) {
            m_ui.clearStopRequest();
            if (m_ui.askStop()) {
                return end(SendError::Cancelled);
            }
        }
    }
    m_sessionLost = false;
    return openSession(SessionStart::kAfterPause, pauseStart);
}

void SendRun::showElapsed() {
    if (long long s = secondsSince(m_runStart); s != m_shownSecond) {
        m_shownSecond = s;
        m_ui.setTimeLine(sjisFormat("送信中( {} 経過) ", elapsedText(s)));
    }
}

int SendRun::finish() {
    if (m_dialUp && m_dialUp->connected() && m_account.dialUp.AutoCut == 1) {
        m_dialUp->hangUp();
    }
    m_ui.setTimeLine(sjisFormat("送信完了( {} ) ", elapsedText(secondsSince(m_runStart))));
    // The pause after a disconnect keeps reconnects polite; nothing follows
    // this one, so the run does not wait for it.
    if (m_parallel) {
        closePool();
    } else {
        disconnect(false);
    }
    if (logging()) {
        m_log.sendEnd();
        m_log.result(m_ok, m_ng);
    }
    m_log.close();
    m_ui.setTitle(sjisText("送信完了"));
    m_ui.setAddressLine(sjisFormat("結果 [OK:{}件 NG:{}件]", m_ok, m_ng));
    m_ui.setStatusLine(sjisFormat("{} 件の送信が完了しました。",
                                  m_options.databaseRows ? m_ok + m_ng : m_recipientCount));
    m_ui.finish(m_settings.LogFileMode != 0 ? fieldText(m_settings.LogFileName) : std::string(),
                fieldText(m_settings.LogOpenExeName));
    m_windowOpen = false;  // the person closes the finished window
    return 0;
}

// ---- Several sessions ----

std::optional<Recipient> SendRun::recipientOfSeq(std::size_t seq) {
    std::lock_guard lock(m_bySeqMutex);
    const auto at = m_bySeq.find(seq);
    if (at == m_bySeq.end()) {
        return std::nullopt;
    }
    return at->second;
}

SessionPool::Configure SendRun::poolConfiguration() const {
    const std::string caFile =
        m_options.caFile.empty() ? fieldText(m_settings.defaultCaFile) : m_options.caFile;
    return [port = m_account.PortNo,
            timeout = m_settings.RecvTimeOutSec > 0 ? m_settings.RecvTimeOutSec : 90,
            wait = m_settings.WaitMSec, security = m_settings.defaultSecurity, caFile,
            greeting = greetingName(m_settings), pipelining = m_settings.NoPipelining == 0,
            auth = m_smtpAuth](zeph::MailEngine& engine) {
        engine.setPort(port);
        engine.setRecvTimeOutSec(timeout);
        engine.setWaitMillSec(wait, 500);
        engine.setSecurity(security);  // setUpEngine has refused a value it cannot take
        engine.setCaFile(caFile.c_str());
        engine.setHeloName(greeting.c_str());
        engine.setPipelining(pipelining);
        if (auth) {
            engine.setSmtpAuth(1, auth->userId.c_str(), auth->password.c_str(), auth->method);
        } else {
            engine.setSmtpAuth(0, nullptr, nullptr, 0);
        }
    };
}

int SendRun::openPool(SessionStart how, Clock::time_point since) {
    if (how != SessionStart::kAfterStop && m_account.PBSUse == 1) {
        if (int r = popBeforeSmtp(); r != 0) {
            return end(r);
        }
    }
    if (how == SessionStart::kFirst) {
        if (int r = setUpEngine(); r != 0) {
            return r;
        }
    }
    SessionPoolOptions options;
    options.host = m_smtpName;
    options.sessions = smtpSessionCount(m_settings);
    options.waitCount = std::max(0, m_settings.WaitCount);
    options.batchPause = std::chrono::seconds(std::max(0, m_settings.WaitSec));
    // A declined stop starts the connections again from here.
    for (bool again = false;; again = true) {
        if (int r = applySmtpAuth(how == SessionStart::kFirst && !again); r != 0) {
            return r;
        }
        auto pool = std::make_unique<SessionPool>(
            options, poolConfiguration(),
            [this](std::size_t seq, int) {
                const auto r = recipientOfSeq(seq);
                return r && m_recipients.messageCommitting(*r);
            },
            [this](std::size_t seq, int) {
                const auto r = recipientOfSeq(seq);
                return r && m_recipients.messageStarting(*r);
            });
        PooledOutcome failure;
        SessionPool& opening = *pool;
        auto opened = std::async(std::launch::async, [&] { return opening.open(failure); });
        m_ui.setRange(90);
        bool stopped = false;
        long long shown = -1;
        while (opened.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
            if (!stopped && m_ui.stopRequested()) {
                m_ui.clearStopRequest();
                stopped = true;
            }
            if (stopped) {
                opening.stop();  // again until it takes: a connection may just be starting
            }
            if (long long s = secondsSince(since); s != shown) {
                shown = s;
                m_ui.setTimeLine(sjisFormat("接続応答待ち( {} 秒経過) ", static_cast<int>(s)));
                m_ui.setPosition(s);
            }
        }
        const bool ok = opened.get();
        m_ui.setPosition(90);
        m_ui.setTimeLine("");
        if (stopped) {
            pool.reset();
            if (m_ui.askStop()) {
                return end(SendError::Cancelled);
            }
            continue;
        }
        if (!ok) {
            return sessionFailed(failure.error, failure.reply);
        }
        m_pool = std::move(pool);
        m_poolSeq = 0;
        break;
    }
    if (how == SessionStart::kFirst) {
        if (logging()) {
            m_log.connected(m_pool->firstReply());
            m_log.sendStart();
        }
        m_sessionStarted = true;
    }
    if (const int open = m_pool->sessions(); open < options.sessions) {
        logNote(sjisFormat(
            "SMTPサーバーが {} 本目の同時接続を受け付けないため、{} 本の接続で送信します。",
            open + 1, open));
    }
    m_ui.setRange(m_recipientCount);
    return 0;
}

zeph::Message SendRun::messageFor(const Recipient& r, const std::string& subject,
                                  const std::string& body) const {
    // The same steps, in the same order, as setHeaders through the exports.
    zeph::Message m = m_template;
    m.setDefaultHeader();
    m.setHeader("To", r.address);
    m.setHeader("Cc", m_contents.cc);
    m.setHeader("Bcc", m_contents.bcc);
    m.setHeader("From", m_from);
    if (m_options.databaseRows) {
        m.setHeader("Subject", subject);
    }
    m.setMessageId(m_account.UseFQDN == 1 ? m_fromEMail.c_str() : nullptr);
    if (!m_options.databaseRows) {
        m.setHeader("Subject", subject);
    }
    m.setBody(body.c_str());
    return m;
}

int SendRun::queueFor(const Recipient& r) {
    const Personalised p =
        personalise(m_contents, m_script ? &*m_script : nullptr, r.values, m_message);
    if (p == Personalised::kScriptFailed) {
        return endParallel(errorNumber(SendError::Script), false);
    }
    if (p == Personalised::kSkipped) {
        m_inFlight.push_back({Outgoing::Kind::kSkipped, r, 0, {}, {}, {}});
        return 0;
    }
    if (address::FieldCheck envelope = address::checkField(r.address); !envelope.ok()) {
        m_inFlight.push_back({Outgoing::Kind::kBadAddress, r, 0, {}, {}, std::move(envelope)});
        return 0;
    }
    return handOut({Outgoing::Kind::kPooled, r, 0, m_message.subject(), m_message.body(), {}});
}

int SendRun::handOut(Outgoing o) {
    if (int rc = beforeMessage(); rc != 0) {
        return rc;
    }
    if (!m_pool) {
        drainInFlight();  // only entries that never needed a session are left
        if (int rc = openPool(SessionStart::kAfterPause, Clock::now()); rc != 0) {
            return rc;
        }
    }
    const std::size_t seq = m_poolSeq;
    {
        std::lock_guard lock(m_bySeqMutex);
        m_bySeq[seq] = o.recipient;
    }
    if (!m_pool->submit(messageFor(o.recipient, o.subject, o.body))) {
        // The last session has just gone; the outcomes in flight say why.
        std::lock_guard lock(m_bySeqMutex);
        m_bySeq.erase(seq);
        if (m_endCode == 0) {
            m_endCode = errorNumber(SendError::Connect);
        }
        return 0;
    }
    ++m_poolSeq;
    ++m_messages;
    o.kind = Outgoing::Kind::kPooled;
    m_inFlight.push_back(std::move(o));
    return 0;
}

int SendRun::quotaBeforePooled() {
    // The messages in flight count as sent: the limits left for this one are
    // theirs less what is in flight. When those say wait, the run first
    // learns what became of the messages in flight.
    const int inFlight = static_cast<int>(m_pool ? m_pool->pending() : 0);
    if (inFlight == 0) {
        return 0;
    }
    auto left = [inFlight](int limit) { return limit > 0 ? limit - inFlight : 0; };
    const QuotaLimits tighter{left(m_quotaLimits.perHour), left(m_quotaLimits.perDay)};
    bool wait = (m_quotaLimits.perHour > 0 && tighter.perHour <= 0) ||
                (m_quotaLimits.perDay > 0 && tighter.perDay <= 0);
    if (!wait) {
        auto next = m_quota.nextAllowed(m_quotaAccount, tighter, m_clock.now());
        wait = !next || *next > m_clock.now();
    }
    if (!wait) {
        return 0;
    }
    drainInFlight();
    return m_endCode != 0 ? endGivenUp() : 0;
}

void SendRun::settleFront() {
    Outgoing& o = m_inFlight.front();
    if (o.kind == Outgoing::Kind::kPooled) {
        auto outcome = m_pool->next(std::chrono::milliseconds(100));
        if (!outcome) {
            return;
        }
        {
            std::lock_guard lock(m_bySeqMutex);
            m_bySeq.erase(outcome->seq);
        }
        m_recipients.revisit(o.recipient);
        settlePooled(o, *outcome);
        m_ui.setPosition(m_ok + m_ng);
    } else {
        m_recipients.revisit(o.recipient);
        if (o.kind == Outgoing::Kind::kSkipped) {
            m_ui.recipientDone(
                {o.recipient.position, o.recipient.address, RecipientOutcome::kSkipped, 0, 0});
        } else {
            refuseAddress(o.recipient, o.field);
        }
    }
    m_inFlight.pop_front();
}

void SendRun::settlePooled(const Outgoing& o, const PooledOutcome& outcome) {
    if (outcome.noSession) {
        // Not sent: no session could be opened again to send it.
        if (!outcome.interrupted && !m_sessionFailure) {
            m_sessionFailure = outcome;
            giveUp(errorNumber(SendError::Connect), true);
        }
        return;
    }
    if (!outcome.accepted && !outcome.interrupted && outcome.error.socketError == kEngineWithheld) {
        // The journal could not record the message: held back, and the run ends.
        giveUp(errorNumber(SendError::Journal), true);
        return;
    }
    settle(o.recipient, o.tries,
           {outcome.accepted, outcome.interrupted, outcome.committed, outcome.error, outcome.reply},
           o.subject, o.body);
}

void SendRun::drainInFlight() {
    while (!m_inFlight.empty()) {
        settleFront();
    }
}

void SendRun::watchStop() {
    if (m_endCode != 0) {
        return;
    }
    if (!m_stopAsked && m_ui.stopRequested()) {
        m_ui.clearStopRequest();
        m_ui.postStopQuestion();
        m_stopAsked = true;
    }
    if (m_stopAsked) {
        if (const std::optional<bool> answer = m_ui.stopAnswer()) {
            m_stopAsked = false;
            if (*answer) {
                giveUp(errorNumber(SendError::Cancelled), true);
            }
        }
    }
}

void SendRun::giveUp(int code, bool cut) {
    if (m_endCode == 0) {
        m_endCode = code;
    }
    if (cut && m_pool) {
        m_pool->stop();
    }
}

int SendRun::endGivenUp() {
    drainInFlight();
    closePool();
    if (m_sessionFailure && m_endCode == errorNumber(SendError::Connect)) {
        return sessionFailed(m_sessionFailure->error, m_sessionFailure->reply);
    }
    return end(m_endCode);
}

void SendRun::closePool() {
    if (m_pool) {
        m_pool->close();
        m_pool.reset();
    }
}

int SendRun::pump(const std::function<int()>& produce) {
    bool more = true;
    for (;;) {
        watchStop();
        const bool handingOut = more && m_endCode == 0 && !m_stopAsked;
        if (handingOut && (!m_pool || m_pool->ready())) {
            if (const int rc = produce(); rc == kNoMore) {
                more = false;
            } else if (rc != 0) {
                return rc;
            }
            continue;
        }
        if (!m_inFlight.empty()) {
            settleFront();
            continue;
        }
        if (m_endCode != 0) {
            return endGivenUp();
        }
        if (m_stopAsked) {
            // Nothing in flight: the run waits for the answer.
            m_stopAsked = false;
            if (m_ui.awaitStopAnswer()) {
                return endParallel(errorNumber(SendError::Cancelled), true);
            }
            continue;
        }
        if (!more) {
            return 0;
        }
        // Nothing in flight, yet the pool takes nothing: no session is left.
        giveUp(errorNumber(SendError::Connect), true);
    }
}

int SendRun::execute() {
    // Settings that cannot be used stop the run before anything is opened or
    // sent: never a plain connection in place of a protected one, never a send
    // without the authentication the person set up.
    if (auto security = checkDefaultSecurity(m_settings); !security) {
        return refuseRun(cp932::fromUtf8Named(security.error().message));
    }
    if (auto auth = readSmtpAuthFile(m_options.smtpAuthFile); !auth) {
        return refuseRun(cp932::fromUtf8Named(auth.error().message));
    }
    // Cc and Bcc go into every message's envelope: junk there would fail (or
    // mail) every recipient.
    for (const auto& [name, value] :
         {std::pair{"Cc: ", &m_contents.cc}, std::pair{"Bcc: ", &m_contents.bcc}}) {
        const address::FieldCheck field = address::checkField(*value);
        if (!field.ok() && field.problem != address::FieldCheck::Problem::NoAddress) {
            return refuseRun(name + address::describe(field));
        }
    }
    if (int r = prepare(); r != 0) {
        return r;
    }
    m_ui.open(sjisText("接続中..."));
    m_windowOpen = true;
    if (int r = m_parallel ? openPool(SessionStart::kFirst, Clock::now())
                           : openSession(SessionStart::kFirst, Clock::now());
        r != 0) {
        return r;
    }

    m_ui.setTitle(sjisText("送信中..."));
    if (m_settings.ScriptUse == 1) {
        m_script.emplace(m_options.scriptHost != nullptr ? *m_options.scriptHost : m_silentHost);
        // A script that does not compile would send its first lines alone to
        // every recipient; the run stops before the first message instead.
        if (m_script->LoadScript(m_contents.body) == 0) {
            if (m_parallel) {
                return endParallel(errorNumber(SendError::Script), false);
            }
            disconnect(false);
            return end(SendError::Script);
        }
    }

    m_runStart = Clock::now();
    m_from = fieldText(m_account.FromName) + " <" + fieldText(m_account.FromEMail) + ">";
    m_fromEMail = fieldText(m_account.FromEMail);
    if (m_parallel) {
        const int rc = pump([this]() -> int {
            Recipient next;
            do {
                if (m_sent >= m_recipientCount || !m_recipients.next(next)) {
                    return kNoMore;
                }
            } while (!next.eligible);
            ++m_sent;
            m_ui.setStatusLine(
                sjisFormat("{}人中 {}人目のメッセージを送信中です。", m_recipientCount, m_sent));
            m_ui.setAddressLine(logText(next.address));
            reportProgress(next);
            return queueFor(next);
        });
        if (rc != 0) {
            return rc;
        }
        if (int retried = retryDeferred(); retried != 0) {
            return retried;
        }
        m_recipients.finishWalk();
        return finish();
    }
    int batch = 0;
    Recipient r;
    while (m_sent < m_recipientCount && m_recipients.next(r)) {
        if (!r.eligible) {
            continue;
        }
        ++m_sent;
        m_ui.setStatusLine(
            sjisFormat("{}人中 {}人目のメッセージを送信中です。", m_recipientCount, m_sent));
        m_ui.setAddressLine(logText(r.address));
        reportProgress(r);
        if (int rc = sendTo(r); rc != 0) {
            return rc;
        }
        showElapsed();

        ++batch;
        if (m_settings.WaitCount >= 1 && batch == m_settings.WaitCount &&
            m_sent < m_recipientCount) {
            batch = 0;
            if (int rc = pause(); rc != 0) {
                return rc;
            }
        }
    }
    if (int rc = retryDeferred(); rc != 0) {
        return rc;
    }
    m_recipients.finishWalk();
    return finish();
}

}  // namespace

std::string sendErrorTitle(int code) {
    return sjisFormat("ターノス - エラー  (№{})", code);
}

std::string sendErrorText(int code) {
    switch (code) {
        case 500:
            return sjisText("送信内容の読み込みに失敗しました。");
        case 501:
            return sjisText("送信内容ファイルを作成してください。");
        case 502:
            return sjisText("ログファイル名が未入力です。");
        case 503:
            return sjisText("ログファイルオープンエラー。");
        case 504:
            return sjisText("SMTPサーバー名が未入力です。");
        case 505:
            return sjisText("DNSアドレスエラー。");
        case 506:
            return sjisText("コネクトできません。");
        case 507:
            return sjisText("ダイヤルアップ接続に失敗しました。");
        case 508:
            return sjisText("キャンセルボタンが選択されました。");
        case 509:
            return sjisText("添付ファイルが見つかりません。");
        case 510:
            return sjisText("送信レコードがありません。");
        case 511:
            return sjisText("POP3へのコネクトに失敗しました。");
        case 512:
            return sjisText("POP3の受信に失敗しました。");
        case 513:
            return sjisText("POP3のユーザーIDが違います。");
        case 514:
            return sjisText("POP3のパスワードが違います。");
        case 803:
            return sjisText("スクリプトエラーです。");
        case 520:
            return sjisText("送信記録ファイルに書き込めません。送信を中止しました。");
        case 521:
            return sjisText("送信数の記録ファイルを読み書きできません。送信を中止しました。");
        default:
            return {};
    }
}

int runSend(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, JobChannel& channel, const SendRunOptions& options) {
    SendRun run(settings, contents, n, recipients, channel, options);
    return run.execute();
}

}  // namespace tarn::driver

// MailEngine: the job runner behind the ZEPH_* exports. It holds one SMTP
// connection and one message, runs the jobs (connect, start session, send,
// disconnect) on its worker thread, and keeps the settings and the error
// model. The dialogue itself is dialogue.h; the command layer command.h.
//
// Threads: the caller's thread hands over jobs and polls; the worker runs
// them. Everything both sides touch is atomic or guarded by a mutex: the
// message (m_messageMutex, held by the send job for its whole run so that a
// setter called meanwhile waits instead of changing the message under the
// writer), the queued messages (m_queueMutex), the settings
// (m_settingsMutex). The socket belongs to whoever holds the busy flag.
//
// One process may hold several engines, each with its own connection and
// worker: the exports work on instance(); other instances are made directly.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "command.h"
#include "dialogue.h"
#include "message.h"
#include "socket.h"

namespace zeph {

// The job the worker runs; ZEPH_ThreadControl reports the number.
enum class JobKind : int {
    Idle = 0,
    Connect = 1,
    Start = 2,
    Send = 3,
    Disconnect = 4,
    Quit = 5,
    SendQueued = 6,  // the send job's own path (C++ only)
};

enum LastError : int { kLastNotAnAddress = -8, kLastBusy = -7, kLastAttach = -6 };

class MailEngine {
public:
    MailEngine();
    ~MailEngine();
    MailEngine(const MailEngine&) = delete;
    MailEngine& operator=(const MailEngine&) = delete;

    // The process-wide engine behind the exports, made on first use.
    static MailEngine& instance();

    // Settings (any thread, any time; a session takes them when it starts).
    int setPort(int port);
    int setRecvTimeOutSec(int seconds);
    void setWaitMillSec(int afterMessageMs, int afterDisconnectMs);
    int setSmtpAuth(int mode, const char* user, const char* password, int method);
    // 0 plain, 1 STARTTLS, 2 implicit TLS; 0 and unchanged for other values.
    int setSecurity(int mode);
    // An extra CA file for private servers; null or empty for none.
    void setCaFile(const char* path);
    // The name the session greets with; null or empty for the machine's own
    // (its fully qualified name, else its host name). 0 and unchanged for a
    // name that is neither a domain name nor an address literal.
    int setHeloName(const char* name);
    // Whether sessions use PIPELINING when the server offers it (default on).
    void setPipelining(bool on) { m_pipelining.store(on); }
    // The hook each send job calls just before a message's final "."
    // (SmtpDialogue::setBeforeEndOfData); empty for none. Taken when a send
    // job starts.
    void setCommitHook(std::function<bool()> hook);

    // The message; setters hold the lock while they run.
    template <class F>
    auto withMessage(F&& f) {
        std::lock_guard lock(m_messageMutex);
        return f(m_message);
    }

    // Jobs. wait == 0 returns 1 once handed over; otherwise blocks and returns
    // the job's result. 0 with last error -7 while another job runs.
    int connect(const char* host, int wait);
    int sendStart(int wait) { return handOver(JobKind::Start, wait); }
    int send(int wait) { return handOver(JobKind::Send, wait); }
    int disconnect(int wait) { return handOver(JobKind::Disconnect, wait); }
    int getSendSize();

    // The send job's path. Messages queued here are sent in order, one per
    // sendQueued() job; a queued message cannot change any more. While the
    // session pipelines and no wait follows a message, the job also sends
    // the commands of the message queued behind it, so that each message
    // costs one round trip; that message then stays first in the queue
    // (after a disconnect too) until a send job takes it or the queue is
    // cleared. Job result and error values are as for send().
    void queue(Message message);
    int sendQueued(int wait) { return handOver(JobKind::SendQueued, wait); }
    std::size_t queued() const;
    void clearQueue();

    int isExecute();
    int result() const { return m_result.load(); }
    void stop() { m_stop.raise(); }
    int abort();
    int threadControl(int start);

    int nowSendSize() const;
    int lastError() const { return m_lastError.load(); }
    void setLastError(int value) { m_lastError.store(value); }
    SocketError sockError() const { return m_io.sockError(); }
    int replyCode() const { return m_io.replyCode(); }
    ErrorPos errorPos() const { return m_io.errorPos(); }
    // First line of the last reply (or of the text that replaced it), copied
    // out; valid until the next call.
    const char* smtpResult() { return m_io.resultLine(); }
    // The last reply as the server sent it, every line, never rewritten: the
    // evidence behind the defined text of smtpResult().
    std::string serverReply() const { return m_io.serverReply(); }
    // Whether the open session pipelines (after a start job).
    bool pipelining() const { return m_sessionPipelines.load(); }

private:
    int handOver(JobKind kind, int wait);
    bool tryAcquire();
    void startJob(JobKind kind);
    void waitIdle();
    void workerLoop();
    void startWorker();
    void stopWorker();
    // Before a job: the command layer's time-out and mode.
    void prepareJob();

    bool runConnect();
    bool runStart();
    bool runSend();
    bool runSendQueued();
    // Date, envelope, dialogue, wait after the message.
    bool sendOne(Message& message, const Envelope* following);
    bool runDisconnect();
    SessionSettings sessionSettings() const;
    // The greeting name, or empty when the machine has no usable name.
    std::string greetingName() const;
    // Pauses up to ms, cut short by a stop. False when stopped.
    bool pause(int ms);
    bool measuring() const { return m_measureOnly.load() || m_measureJob.load(); }

    // Job hand-over: busy first, kind last; the worker stores the result,
    // then sets the kind back and clears busy.
    std::atomic<int> m_busy{0};
    std::atomic<JobKind> m_kind{JobKind::Quit};
    std::atomic<int> m_result{0};
    std::atomic<bool> m_quit{false};
    std::mutex m_jobMutex;
    std::condition_variable m_jobCv;
    std::thread m_worker;

    StopSignal m_stop;
    SmtpConnection m_io{m_stop};
    SmtpDialogue m_dialogue{m_io};
    std::atomic<int> m_port{25};
    std::atomic<int> m_recvTimeoutSec{45};
    std::atomic<int> m_waitAfterMessageMs{0};
    std::atomic<int> m_waitAfterDisconnectMs{0};
    std::atomic<bool> m_measureOnly{false};
    std::atomic<bool> m_measureJob{false};  // ZEPH_GetSendSize's send, on the caller's thread
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_pipelining{true};
    std::atomic<bool> m_sessionPipelines{false};
    std::atomic<int> m_lastError{0};

    std::string m_host;  // written only by the holder of the busy flag

    std::mutex m_messageMutex;
    Message m_message;

    mutable std::mutex m_queueMutex;
    std::deque<std::unique_ptr<Message>> m_queue;

    mutable std::mutex m_settingsMutex;
    int m_authMode = 0;
    int m_authMethod = 0;
    std::string m_authUser;
    std::string m_authPassword;
    std::atomic<TlsMode> m_security{TlsMode::None};
    std::string m_caFile;
    std::string m_heloName;
    std::function<bool()> m_commitHook;
};

// The envelope of a message from its From, To, Cc and Bcc values; nullopt
// when it has no To or no From entry, or when a value holds a control
// character or a token that cannot be an address (`refusal`, when given, then
// names the value and says why, in Shift_JIS).
std::optional<Envelope> envelopeOf(const Message& message, std::string* refusal = nullptr);

}  // namespace zeph

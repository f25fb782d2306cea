// MailEngine: the one SMTP connection and message of the process, its worker
// thread, the job hand-over and the error model behind the ZEPH_* exports.
//
// Threads: the caller's thread hands over jobs and polls; the worker runs
// them. Everything both sides touch is atomic or guarded by a mutex: the
// reply text (m_replyMutex), the message (m_messageMutex, held by the send
// job for its whole run so that a setter called meanwhile waits instead of
// changing the message under the writer), the authentication settings
// (m_settingsMutex). The socket belongs to whoever holds the busy flag.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "message.h"
#include "reply.h"
#include "socket.h"

namespace zeph {

enum JobKind : int { kIdle = 0, kConnect = 1, kStart = 2, kSend = 3, kDisconnect = 4, kQuit = 5 };

// Socket error values besides errno numbers.
enum SockError : int {
    kErrStopped = -1,
    kErrServerRefused = -2,
    kErrResolve = Socket::kResolveFailed,  // -3
    kErrNoHost = -5,
    kErrNotWritable = -10,
    kErrNoReply = -11,
    kErrClosedByPeer = -12,
};

// Error positions: the step that failed.
enum ErrorPos : int {
    kPosOpen = 1030,
    kPosConnect = 1031,
    kPosClose = 1032,
    kPosStoppedAfterDisconnect = 1033,
    kPosAbortClose = 1132,
    kPosAbortStopped = 1133,
    kPosNotWritable = 2010,
    kPosSend = 2011,
    kPosStoppedAfterSend = 2012,
    kPosNoReply = 3000,
    kPosRecv = 3001,
    kPosStoppedInReply = 3900,
    kPosStoppedAfterMessage = 7500,
    kPosServerRefused = 9000,
    kPosReplyTooLong = 9903,
};

enum LastError : int { kLastBusy = -7, kLastAttach = -6 };

class MailEngine {
public:
    MailEngine();
    ~MailEngine();
    MailEngine(const MailEngine&) = delete;
    MailEngine& operator=(const MailEngine&) = delete;

    // The process-wide engine behind the exports, made on first use.
    static MailEngine& instance();

    // Settings (any thread, any time).
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

    // The message; setters hold the lock while they run.
    template <class F>
    auto withMessage(F&& f) {
        std::lock_guard lock(m_messageMutex);
        return f(m_message);
    }

    // Jobs. wait == 0 returns 1 once handed over; otherwise blocks and returns
    // the job's result. 0 with last error -7 while another job runs.
    int connect(const char* host, int wait);
    int sendStart(int wait) { return handOver(kStart, wait); }
    int send(int wait) { return handOver(kSend, wait); }
    int disconnect(int wait) { return handOver(kDisconnect, wait); }
    int getSendSize();

    int isExecute();
    int result() const { return m_result.load(); }
    void stop() { m_stop.raise(); }
    int abort();
    int threadControl(int start);

    int nowSendSize() const;
    int lastError() const { return m_lastError.load(); }
    void setLastError(int value) { m_lastError.store(value); }
    int sockError() const { return m_sockError.load(); }
    int replyCode() const { return m_replyCode.load(); }
    int errorPos() const { return m_errorPos.load(); }
    // First line of the last reply, copied out; valid until the next call.
    const char* smtpResult();

    // Command layer (worker thread, or a caller's thread in tests).
    bool sendCommand(bool wantReply, std::string_view text, bool appendCrLf);
    bool readReply();
    bool expectReply(std::string_view text, int code);

private:
    friend class EngineSink;

    int handOver(JobKind kind, int wait);
    bool tryAcquire();
    void startJob(JobKind kind);
    void waitIdle();
    void workerLoop();
    void startWorker();
    void stopWorker();

    bool runConnect();
    bool runStart();
    bool runSend();
    bool runDisconnect();
    bool authenticate(const std::string& ehloReply);
    std::string greetingCommand(int authMode, const std::string& name) const;
    // The greeting name, or empty when the machine has no usable name.
    std::string greetingName() const;
    bool secureSocket();
    bool runStartTls(const std::string& greeting);
    bool sendBytes(std::string_view bytes);
    // Pauses up to ms, cut short by a stop. False when stopped.
    bool pause(int ms);
    std::chrono::milliseconds timeout() const;
    bool measuring() const { return m_measureOnly.load() || m_measureJob.load(); }
    void fail(int sockError, int pos) {
        m_sockError.store(sockError);
        m_errorPos.store(pos);
    }

    // Job hand-over: busy first, kind last; the worker stores the result,
    // then sets the kind back and clears busy.
    std::atomic<int> m_busy{0};
    std::atomic<int> m_kind{kQuit};
    std::atomic<int> m_result{0};
    std::atomic<bool> m_quit{false};
    std::mutex m_jobMutex;
    std::condition_variable m_jobCv;
    std::thread m_worker;

    StopSignal m_stop;
    std::atomic<int> m_port{25};
    std::atomic<int> m_recvTimeoutSec{45};
    std::atomic<int> m_waitAfterMessageMs{0};
    std::atomic<int> m_waitAfterDisconnectMs{0};
    std::atomic<bool> m_measureOnly{false};
    std::atomic<bool> m_measureJob{false};  // ZEPH_GetSendSize's send, on the caller's thread
    std::atomic<bool> m_connected{false};
    std::atomic<long long> m_sent{0};

    std::atomic<int> m_lastError{0};
    std::atomic<int> m_sockError{0};
    std::atomic<int> m_errorPos{0};
    std::atomic<int> m_replyCode{0};

    std::string m_host;  // written only by the holder of the busy flag
    Socket m_socket;

    std::mutex m_replyMutex;
    ReplyReader m_reply;
    std::array<char, ReplyReader::kBufferSize> m_resultLine{};

    std::mutex m_messageMutex;
    Message m_message;

    mutable std::mutex m_settingsMutex;
    int m_authMode = 0;
    int m_authMethod = 0;
    std::string m_authUser;
    std::string m_authPassword;
    std::atomic<int> m_security{0};
    std::string m_caFile;
    std::string m_heloName;
};

}  // namespace zeph

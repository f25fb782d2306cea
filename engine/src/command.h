// The command layer of the SMTP client: one connection's socket, the commands
// written to it, the replies read from it, and the error model the exports
// report (socket error, reply code, error position, reply text).
//
// Lock-step: sendCommand() writes a command and reads its reply. Pipelined:
// write() sends several commands at once and readReply() then takes their
// replies one by one, in order.
//
// Threads: the job runner's worker (or the caller's thread while it holds the
// busy flag) does the I/O; the error values are atomics and the reply text is
// guarded, so that the caller may read them at any time.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "reply.h"
#include "socket.h"

namespace zeph {

// The socket error the exports report: an errno number, or one of the
// engine's own negative values. The numbers are part of the exported
// interface (ZEPH_GetSockLastError) and never change.
enum class SocketError : int {
    None = 0,
    Stopped = -1,
    ServerRefused = -2,
    Resolve = Socket::kResolveFailed,
    NoHost = -5,
    NotWritable = -10,
    NoReply = -11,
    ClosedByPeer = -12,
    Withheld = -13,  // the commit hook held the message back before its "."
    TlsHandshake = -20,
    TlsCertificate = -21,
    StartTls = -22,
};
static_assert(static_cast<int>(SocketError::Resolve) == -3);

// The socket error for an errno number (0: none).
constexpr SocketError errnoError(int number) {
    return static_cast<SocketError>(number);
}

// Error positions: the step that failed, as ZEPH_GetLastErrorPos reports it.
enum class ErrorPos : int {
    None = 0,
    Open = 1030,
    Connect = 1031,
    Close = 1032,
    StoppedAfterDisconnect = 1033,
    TlsHandshake = 1040,
    TlsCertificate = 1041,
    StartTls = 1042,
    AbortClose = 1132,
    AbortStopped = 1133,
    NotWritable = 2010,
    Send = 2011,
    StoppedAfterSend = 2012,
    Withheld = 2013,
    NoReply = 3000,
    Recv = 3001,
    StoppedInReply = 3900,
    StoppedAfterMessage = 7500,
    ServerRefused = 9000,
    ReplyTooLong = 9903,
};

class SmtpConnection {
public:
    explicit SmtpConnection(StopSignal& stop) : m_stop(stop) {}

    // Set by the job runner before each job.
    void setTimeout(std::chrono::milliseconds limit) { m_timeout = limit; }
    // Measure-only: every byte is counted, nothing is sent, no reply is read.
    void setMeasuring(bool on) { m_measuring = on; }
    bool measuring() const { return m_measuring; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    Socket& socket() { return m_socket; }
    StopSignal& stop() { return m_stop; }
    // Resolves and connects; 1030 or 1031 on failure.
    bool open(const std::string& host, int port);
    // Closes the socket and forgets unread bytes; false if there was none or
    // close() failed (lastError() of the socket tells).
    bool close();

    // Lock-step: clears socket error and reply code, writes the command line
    // (which ends in CR LF), then reads its reply unless `reply` says the
    // caller reads it. Bytes the server sent beyond its last reply are
    // dropped first.
    enum class Reply { Read, CallerReads };
    bool sendCommand(std::string_view line, Reply reply = Reply::Read);
    // sendCommand with a reply whose code must equal code.
    bool expectReply(std::string_view text, int code);

    // Writes bytes whose replies (if any) are read later. Clears socket error
    // and reply code as a command does. countedLater bytes at the end are left
    // out of the sent-bytes counter: they belong to the next job's message.
    bool write(std::string_view bytes, std::size_t countedLater = 0);

    // How a reply of 400 or more (501 excepted) is taken.
    enum class Refusal {
        Fails,     // socket error -2, position 9000, false
        Returned,  // a reply like any other: the caller judges its code
    };
    // Reads the next reply: socket error and reply code cleared first, then
    // the code and text as they arrive.
    bool readReply(Refusal refusal = Refusal::Fails);

    // The error model as a whole, for exchanges lock-step would never have
    // made (the replies of a failed pipelined transaction): they run between
    // save() and restore() and leave no trace in what the job reports.
    struct Values {
        SocketError sockError = SocketError::None;
        int replyCode = 0;
        ErrorPos errorPos = ErrorPos::None;
        std::string replyText;
        std::string serverReply;
    };
    Values save() const;
    void restore(Values values);

    // The error model.
    SocketError sockError() const { return m_sockError.load(); }
    int replyCode() const { return m_replyCode.load(); }
    ErrorPos errorPos() const { return m_errorPos.load(); }
    void fail(SocketError error, ErrorPos pos) {
        m_sockError.store(error);
        m_errorPos.store(pos);
    }
    void setSockError(SocketError error) { m_sockError.store(error); }
    void clearCommandValues() {
        m_sockError.store(SocketError::None);
        m_replyCode.store(0);
    }
    // The reply text the exports show: the last reply, or the text that
    // replaced it (the "ABNORMAL CMD" rule, a TLS failure, a refused address).
    std::string replyText() const;
    void setReplyText(std::string text);
    // The last reply as the server sent it, all lines, never rewritten.
    std::string serverReply() const;
    // The reply text's first line, copied; valid until the next call.
    const char* resultLine();

    // Bytes handed to the socket (or counted) since the job began.
    long long sent() const { return m_sent.load(); }
    void resetSent(long long carried = 0) { m_sent.store(carried); }

    // Drops received bytes that no reply has taken.
    void discardUnread() { m_reader.discardUnread(); }

private:
    bool sendBytes(std::string_view bytes, std::size_t countedLater);
    bool waitWritable();
    enum class Outcome { Complete, Refused, Failed };
    Outcome receive();

    StopSignal& m_stop;
    Socket m_socket;
    std::chrono::milliseconds m_timeout{45000};
    bool m_measuring = false;
    ReplyReader m_reader;

    std::atomic<SocketError> m_sockError{SocketError::None};
    std::atomic<ErrorPos> m_errorPos{ErrorPos::None};
    std::atomic<int> m_replyCode{0};
    std::atomic<long long> m_sent{0};

    mutable std::mutex m_textMutex;
    std::string m_replyText;
    std::string m_serverReply;
    std::array<char, ReplyReader::kBufferSize> m_resultLine{};
};

}  // namespace zeph

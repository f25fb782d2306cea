// The SMTP dialogue of one connection as a state machine: one state per reply
// the client waits for, one function per state that judges that reply and
// decides what is sent next. The job runner (engine.h) starts each job here;
// the command layer (command.h) does the I/O and keeps the error model.
//
//   Closed -> Greeting -> Greeted                      connect job
//   Greeted -> Ehlo [-> Helo] [-> StartTls -> Ehlo] [-> Auth] -> Ready
//                                                      start-session job
//   Ready -> Rset -> Mail -> Rcpt... -> Data -> EndOfData -> Ready
//                                                      send job
//   any -> Quit -> Closed                              disconnect job
//
// EHLO opens every session; a server that does not know it (500, 502) is
// greeted again with HELO. When the EHLO reply offers PIPELINING (RFC 2920)
// and the setting allows it, a message's RSET, MAIL, RCPTs and DATA go out in
// one write and its content in the next; the replies are still taken one by
// one by the same state functions, so every error value, position and reply
// text is the one the lock-step dialogue would have left. Given the next
// message, the content write also carries that message's commands, and the
// session rests in Ahead until its send job reads their replies: a message
// then costs one round trip.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "command.h"
#include "message.h"
#include "tls.h"

namespace zeph {

// The envelope of one message, taken from its headers.
struct Envelope {
    std::string sender;  // "Unknown" when the From value holds no address
    std::vector<std::string> recipients;
};

// What a session is opened with (a copy taken when its job starts).
struct SessionSettings {
    std::string greetingName;  // empty: the machine has no usable name
    int authMode = 0;
    int authMethod = 0;
    std::string authUser;
    std::string authPassword;
    TlsMode security = TlsMode::None;
    std::string caFile;
    bool pipelining = true;  // use PIPELINING when the server offers it
};

class SmtpDialogue {
public:
    enum class State {
        Closed,     // no connection
        Greeting,   // connected; the server's greeting is awaited
        Greeted,    // greeted with 220; the session is not started
        Ehlo,       // EHLO sent
        Helo,       // HELO sent, after EHLO was not known
        StartTls,   // STARTTLS sent
        Auth,       // the authentication exchange
        Ready,      // the session is open, no transaction
        Rset,       // a transaction's commands sent; RSET's reply awaited
        Mail,       // MAIL FROM's reply awaited
        Rcpt,       // a RCPT TO's reply awaited
        Data,       // DATA's reply awaited
        Content,    // DATA accepted: the message goes out
        EndOfData,  // the terminator's reply awaited
        Ahead,      // the next message's commands are out, their replies unread
        Quit,       // QUIT sent
        Failed,     // the job failed; the error model says where
    };

    explicit SmtpDialogue(SmtpConnection& connection) : m_io(connection) {}

    // Connect job: resolves, connects (TLS first for implicit TLS) and reads
    // the greeting; true for 220.
    bool connect(const std::string& host, int port, const SessionSettings& settings);
    // Start-session job: EHLO (or HELO), STARTTLS, authentication.
    bool startSession(const SessionSettings& settings);
    // Send job for `message`. With `following` (and its envelope) the next
    // message's commands go out with this one's content when the session
    // pipelines; that message must then be the next one sent.
    bool sendMessage(Message& message, const Envelope& envelope, const Envelope* following);
    // The bytes a send job of `message` transmits, counted without a network.
    bool measureMessage(Message& message, const Envelope& envelope);
    // Disconnect job's exchange: QUIT and its reply. A transaction opened
    // ahead whose DATA was accepted is abandoned by closing instead: QUIT
    // would become part of its message.
    bool quit();
    // The connection was closed (abort, or after QUIT).
    void closed();

    // Called on the job's thread just before each message's final "." goes
    // out (its content is already written): the moment from which the server
    // may have taken the message. False holds the message back: the
    // connection is closed without the ".", so nothing is delivered, and the
    // job fails with SocketError::Withheld. Empty: no hook.
    void setBeforeEndOfData(std::function<bool()> hook) { m_beforeEndOfData = std::move(hook); }

    State state() const { return m_state; }
    bool pipelining() const { return m_pipelining; }
    // Bytes of the message opened ahead that the previous job already sent.
    long long bytesSentAhead() const { return m_aheadBytes; }

private:
    enum class Command { Rset, Mail, Rcpt, Data, EndOfData, Dot };

    // One transaction (one message).
    struct Transaction {
        Message* message = nullptr;
        Envelope envelope;
        bool pipelined = false;    // its commands went out in one write
        std::size_t rcptDone = 0;  // RCPT exchanges made
        int accepted = 0;          // recipients accepted
        bool delivered = false;    // the terminator's reply accepted it
        const Envelope* following = nullptr;
    };

    void setState(State next) { m_state = next; }
    // Runs state functions until a state in which the dialogue rests.
    void run();
    State step();

    // The state functions: each makes its state's exchange (or, pipelined,
    // takes the reply of a command already sent) and returns the next state.
    State onGreeting();
    State onEhlo();
    State onHelo();
    State onStartTls();
    State onAuth();
    State onRset();
    State onMail();
    State onRcpt();
    State onData();
    State onContent();
    State onEndOfData();
    State onQuit();

    // A command of the transaction: lock-step writes it and reads its reply;
    // pipelined, it went out with the others and only its reply is read.
    bool exchange(Command command, std::string_view line);
    // Writes bytes carrying commands whose replies are read later, in order.
    bool send(std::string_view bytes, const std::vector<Command>& commands,
              std::size_t countedLater = 0);
    // The greeting-reply rule for EHLO and HELO (250 passes; otherwise the
    // text becomes "ABNORMAL CMD" and only 501 passes).
    bool acceptGreetingReply();
    // STARTTLS, authentication, Ready.
    State afterGreeting();
    State transactionFailed();
    bool secureSocket();
    bool authenticate(const std::string& ehloReply);
    // Reads the replies still owed, leaving the error model as it was. A DATA
    // accepted for no recipient gets the lone "." RFC 2920 asks for; one
    // accepted while recipients may have been accepted is abandoned by
    // closing the connection, so that no empty message is delivered. False
    // when a reply could not be read or the connection was closed.
    bool settleOwed(int acceptedSoFar);

    std::string greetingCommand(const char* verb) const;

    SmtpConnection& m_io;
    State m_state = State::Closed;
    std::deque<Command> m_owed;  // commands written whose replies are unread, in order
    SessionSettings m_settings;
    std::string m_host;
    int m_port = 0;
    bool m_pipelining = false;  // the session pipelines (offered and allowed)
    bool m_secured = false;     // STARTTLS done: the second EHLO is the last
    bool m_quitOk = false;
    Transaction m_tx;
    Envelope m_aheadEnvelope;  // the transaction opened ahead (state Ahead)
    long long m_aheadBytes = 0;
    std::function<bool()> m_beforeEndOfData;
};

// The lines of a transaction: RSET, MAIL FROM, one RCPT TO per recipient and,
// when there is one, DATA.
std::string transactionCommands(const Envelope& envelope);

}  // namespace zeph

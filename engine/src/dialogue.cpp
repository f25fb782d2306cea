#include "dialogue.h"

#include <algorithm>
#include <cctype>

#include "common/cp932.h"

namespace zeph {
namespace {

using State = SmtpDialogue::State;

bool rests(State state) {
    switch (state) {
        case State::Closed:
        case State::Greeted:
        case State::Ready:
        case State::Ahead:
        case State::Failed:
            return true;
        default:
            return false;
    }
}

std::string mailLine(const Envelope& envelope) {
    return "MAIL FROM:<" + envelope.sender + ">\r\n";
}

std::string rcptLine(const std::string& recipient) {
    return "RCPT TO:<" + recipient + ">\r\n";
}

// Whether an accepted EHLO reply lists `keyword` among its extensions: the
// first word of any line but the first, in any case (RFC 5321 4.1.1.1).
bool offersExtension(std::string_view reply, std::string_view keyword) {
    std::size_t lineStart = reply.find('\n');
    while (lineStart != std::string_view::npos && lineStart + 1 < reply.size()) {
        ++lineStart;
        const std::size_t lineEnd = std::min(reply.find('\n', lineStart), reply.size());
        std::string_view line = reply.substr(lineStart, lineEnd - lineStart);
        if (line.size() > 4) {
            std::string_view word = line.substr(4);
            word = word.substr(0, std::min(word.find_first_of(" \r"), word.size()));
            if (std::equal(word.begin(), word.end(), keyword.begin(), keyword.end(),
                           [](char a, char b) {
                               return std::toupper(static_cast<unsigned char>(a)) ==
                                      std::toupper(static_cast<unsigned char>(b));
                           })) {
                return true;
            }
        }
        lineStart = lineEnd;
    }
    return false;
}

// The message after DATA, through the command layer: no reply is read, and
// in measure-only mode the bytes are only counted. The writer hands over a
// header line or body piece at a time; sent one by one (with TCP_NODELAY)
// each would be a packet and a system call of its own. The sink gathers them
// and writes full buffers; the rest goes out with the terminator.
class ContentSink : public ByteSink {
public:
    static constexpr std::size_t kFlushSize = std::size_t{16} * 1024;

    explicit ContentSink(SmtpConnection& io) : m_io(io) {}

    bool send(std::string_view bytes) override {
        m_pending.append(bytes);
        if (m_pending.size() < kFlushSize) {
            return true;
        }
        m_failed = !m_io.write(m_pending);
        m_pending.clear();
        return !m_failed;
    }

    std::string& pending() { return m_pending; }
    // The socket refused bytes (rather than the message failing to compose).
    bool failed() const { return m_failed; }

private:
    SmtpConnection& m_io;
    std::string m_pending;
    bool m_failed = false;
};

}  // namespace

std::string transactionCommands(const Envelope& envelope) {
    std::string lines = "RSET\r\n" + mailLine(envelope);
    for (const auto& recipient : envelope.recipients) {
        lines += rcptLine(recipient);
    }
    if (!envelope.recipients.empty()) {
        lines += "DATA\r\n";
    }
    return lines;
}

std::string SmtpDialogue::greetingCommand(const char* verb) const {
    const std::string& name = m_settings.greetingName;
    return std::string(verb) + " " + (name.empty() ? "ZEPHM" : name) + "\r\n";
}

void SmtpDialogue::run() {
    while (!rests(m_state)) {
        setState(step());
    }
}

State SmtpDialogue::step() {
    switch (m_state) {
        case State::Greeting:
            return onGreeting();
        case State::Ehlo:
            return onEhlo();
        case State::Helo:
            return onHelo();
        case State::StartTls:
            return onStartTls();
        case State::Auth:
            return onAuth();
        case State::Rset:
            return onRset();
        case State::Mail:
            return onMail();
        case State::Rcpt:
            return onRcpt();
        case State::Data:
            return onData();
        case State::Content:
            return onContent();
        case State::EndOfData:
            return onEndOfData();
        case State::Quit:
            return onQuit();
        case State::Closed:
        case State::Greeted:
        case State::Ready:
        case State::Ahead:
        case State::Failed:
            break;
    }
    return m_state;
}

// ---- Jobs ----

bool SmtpDialogue::connect(const std::string& host, int port, const SessionSettings& settings) {
    closed();
    m_settings = settings;
    m_host = host;
    m_port = port;
    if (!m_io.open(host, port)) {
        setState(State::Failed);
        return false;
    }
    // Implicit TLS: the greeting already comes encrypted.
    if (m_settings.security == TlsMode::Implicit && !secureSocket()) {
        setState(State::Failed);
        return false;
    }
    setState(State::Greeting);
    run();
    return m_state == State::Greeted;
}

bool SmtpDialogue::startSession(const SessionSettings& settings) {
    m_settings = settings;
    m_pipelining = false;
    m_secured = false;
    setState(State::Ehlo);
    run();
    // The password is needed no longer; overwritten so that it does not
    // linger in freed memory.
    std::fill(m_settings.authPassword.begin(), m_settings.authPassword.end(), '\0');
    m_settings.authPassword.clear();
    return m_state == State::Ready;
}

bool SmtpDialogue::sendMessage(Message& message, const Envelope& envelope,
                               const Envelope* following) {
    m_tx = Transaction{};
    m_tx.message = &message;
    m_tx.envelope = envelope;
    m_tx.following = m_pipelining ? following : nullptr;
    if (m_state == State::Ahead) {
        m_aheadBytes = 0;
        if (m_aheadEnvelope.sender == envelope.sender &&
            m_aheadEnvelope.recipients == envelope.recipients) {
            // Its commands went out with the previous message's content.
            m_tx.pipelined = true;
            setState(State::Rset);
            run();
            return m_tx.delivered;
        }
        // Not the message opened ahead: that transaction must never get
        // this content, so it is closed, and this message fails on it.
        settleOwed(1);
    } else if (!m_owed.empty() && !settleOwed(1)) {
        setState(State::Failed);
        return false;
    }
    if (m_pipelining) {
        std::vector<Command> commands{Command::Rset, Command::Mail};
        commands.insert(commands.end(), envelope.recipients.size(), Command::Rcpt);
        if (!envelope.recipients.empty()) {
            commands.push_back(Command::Data);
        }
        // RFC 2920: the whole envelope and DATA in one write.
        if (!send(transactionCommands(envelope), commands)) {
            setState(State::Failed);
            return false;
        }
        m_tx.pipelined = true;
    }
    setState(State::Rset);
    run();
    return m_tx.delivered;
}

bool SmtpDialogue::measureMessage(Message& message, const Envelope& envelope) {
    // The very bytes a send job writes, through the same writers.
    if (envelope.recipients.empty()) {
        m_io.write("RSET\r\n" + mailLine(envelope));
        return false;  // no recipient can pass
    }
    m_io.write(transactionCommands(envelope));
    ContentSink sink(m_io);
    if (!message.write(sink)) {
        return false;
    }
    sink.pending() += "\r\n.\r\n";
    return m_io.write(sink.pending());
}

bool SmtpDialogue::quit() {
    if (!m_owed.empty() && !settleOwed(1)) {
        // Abandoned (or the replies are lost): closing is all that is left.
        return m_state == State::Closed;
    }
    setState(State::Quit);
    run();
    return m_quitOk;
}

void SmtpDialogue::closed() {
    setState(State::Closed);
    m_owed.clear();
    m_pipelining = false;
    m_secured = false;
    m_aheadEnvelope = {};
    m_aheadBytes = 0;
}

// ---- The session start ----

State SmtpDialogue::onGreeting() {
    if (!m_io.readReply() || m_io.replyCode() != 220) {
        return State::Failed;
    }
    return State::Greeted;
}

bool SmtpDialogue::acceptGreetingReply() {
    const int code = m_io.replyCode();
    if (code == 250) {
        return true;
    }
    std::string text = m_io.replyText().substr(0, 4);
    text.resize(4, ' ');
    text += "ABNORMAL CMD::[HELO ";
    text += m_settings.greetingName.empty() ? "NONAME" : m_settings.greetingName;
    text += "]\r\n";
    m_io.setReplyText(std::move(text));
    return code == 501;
}

State SmtpDialogue::onEhlo() {
    if (!m_io.sendCommand(greetingCommand("EHLO"), SmtpConnection::Reply::CallerReads) ||
        !m_io.readReply(SmtpConnection::Refusal::Returned)) {
        return State::Failed;
    }
    const int code = m_io.replyCode();
    if (!m_secured && (code == 500 || code == 502)) {
        // RFC 5321 4.1.4: a server that does not know EHLO is greeted with HELO.
        return State::Helo;
    }
    if (code >= 400 && code != 501) {
        m_io.fail(SocketError::ServerRefused, ErrorPos::ServerRefused);
        return State::Failed;
    }
    if (m_secured) {
        // RFC 3207: the greeting after the handshake must be accepted outright.
        if (code != 250) {
            return State::Failed;
        }
    } else if (!acceptGreetingReply()) {
        return State::Failed;
    }
    m_pipelining =
        code == 250 && m_settings.pipelining && offersExtension(m_io.serverReply(), "PIPELINING");
    return afterGreeting();
}

State SmtpDialogue::onHelo() {
    if (!m_io.sendCommand(greetingCommand("HELO")) || !acceptGreetingReply()) {
        return State::Failed;
    }
    return afterGreeting();
}

State SmtpDialogue::afterGreeting() {
    if (m_settings.security == TlsMode::StartTls && !m_secured && !m_io.measuring()) {
        if (m_io.replyText().find("STARTTLS") == std::string::npos) {
            // Never fall back to plain text: the password would go out readable.
            m_io.setReplyText(tarn::cp932::fromUtf8Named(
                "サーバ " + m_host + ":" + std::to_string(m_port) +
                " は STARTTLS を提供していません (EHLO の応答にありません)。"
                "暗号化しない接続にはしません\r\n"));
            m_io.fail(SocketError::StartTls, ErrorPos::StartTls);
            return State::Failed;
        }
        return State::StartTls;
    }
    return m_settings.authMode != 0 ? State::Auth : State::Ready;
}

State SmtpDialogue::onStartTls() {
    if (!m_io.expectReply("STARTTLS\r\n", 220)) {
        if (m_io.sockError() != SocketError::ServerRefused) {
            m_io.fail(SocketError::StartTls, ErrorPos::StartTls);
        }
        return State::Failed;
    }
    // Whatever came in the clear after the 220 must not pass as protected.
    m_io.discardUnread();
    if (!secureSocket()) {
        return State::Failed;
    }
    // RFC 3207: the client forgets what it learnt before the handshake and
    // greets again.
    m_secured = true;
    m_pipelining = false;
    return State::Ehlo;
}

State SmtpDialogue::onAuth() {
    return authenticate(m_io.replyText()) ? State::Ready : State::Failed;
}

bool SmtpDialogue::secureSocket() {
    std::optional<TlsFailure> failure =
        startTls(m_io.socket(), m_host, m_settings.caFile, m_io.timeout(), &m_io.stop());
    if (!failure) {
        return true;
    }
    switch (failure->kind) {
        case TlsFailure::Kind::Certificate:
            m_io.fail(SocketError::TlsCertificate, ErrorPos::TlsCertificate);
            break;
        case TlsFailure::Kind::Stopped:
            m_io.fail(SocketError::Stopped, ErrorPos::TlsHandshake);
            break;
        case TlsFailure::Kind::TimedOut:
            m_io.fail(SocketError::NoReply, ErrorPos::TlsHandshake);
            break;
        case TlsFailure::Kind::Handshake:
            m_io.fail(SocketError::TlsHandshake, ErrorPos::TlsHandshake);
            break;
    }
    m_io.setReplyText(failure->message + "\r\n");
    return false;
}

// ---- The transaction ----

bool SmtpDialogue::send(std::string_view bytes, const std::vector<Command>& commands,
                        std::size_t countedLater) {
    if (!m_io.write(bytes, countedLater)) {
        return false;
    }
    m_owed.insert(m_owed.end(), commands.begin(), commands.end());
    return true;
}

bool SmtpDialogue::exchange(Command command, std::string_view line) {
    if (!m_tx.pipelined) {
        return m_io.sendCommand(line);
    }
    if (!m_owed.empty() && m_owed.front() == command) {
        m_owed.pop_front();
    }
    if (m_io.stop().isSet()) {
        // Where lock-step would have been stopped before writing this command.
        m_io.clearCommandValues();
        m_io.fail(SocketError::Stopped, ErrorPos::NotWritable);
        return false;
    }
    return m_io.readReply();
}

State SmtpDialogue::onRset() {
    return exchange(Command::Rset, "RSET\r\n") ? State::Mail : transactionFailed();
}

State SmtpDialogue::onMail() {
    if (!exchange(Command::Mail, mailLine(m_tx.envelope))) {
        return transactionFailed();
    }
    // With no recipient none can pass: the message fails with MAIL's values.
    return m_tx.envelope.recipients.empty() ? transactionFailed() : State::Rcpt;
}

State SmtpDialogue::onRcpt() {
    const std::string& recipient = m_tx.envelope.recipients[m_tx.rcptDone++];
    if (exchange(Command::Rcpt, rcptLine(recipient))) {
        ++m_tx.accepted;
    } else if (m_tx.pipelined && m_io.sockError() != SocketError::ServerRefused) {
        // A lost or stopped reply: the replies after it cannot be matched.
        return transactionFailed();
    }
    // A refused recipient is data, not the end of the message.
    if (m_tx.rcptDone < m_tx.envelope.recipients.size()) {
        return State::Rcpt;
    }
    return m_tx.accepted == 0 ? transactionFailed() : State::Data;
}

State SmtpDialogue::onData() {
    return exchange(Command::Data, "DATA\r\n") ? State::Content : transactionFailed();
}

State SmtpDialogue::onContent() {
    ContentSink sink(m_io);
    if (!m_tx.message->write(sink)) {
        if (!sink.failed()) {
            // The message could not be composed to its end. The server takes
            // everything up to a "." as the message; the only way to end DATA
            // without delivering half a message is to close the connection.
            m_io.close();
            closed();
        }
        return State::Failed;
    }
    if (m_beforeEndOfData && !m_beforeEndOfData()) {
        // Without the "." the server discards what it has of the message;
        // closing is the only way to end DATA short of delivering it.
        m_io.close();
        closed();
        m_io.fail(SocketError::Withheld, ErrorPos::Withheld);
        return State::Closed;
    }
    std::string& tail = sink.pending();
    tail += "\r\n.\r\n";
    std::vector<Command> commands{Command::EndOfData};
    std::size_t ahead = 0;
    if (m_tx.following != nullptr) {
        // RFC 2920 3.1: the next transaction's commands may follow the
        // content in the same write.
        const std::string next = transactionCommands(*m_tx.following);
        ahead = next.size();
        tail += next;
        commands.push_back(Command::Rset);
        commands.push_back(Command::Mail);
        commands.insert(commands.end(), m_tx.following->recipients.size(), Command::Rcpt);
        if (!m_tx.following->recipients.empty()) {
            commands.push_back(Command::Data);
        }
    }
    if (!send(tail, commands, ahead)) {
        return State::Failed;
    }
    if (m_tx.following != nullptr) {
        m_aheadEnvelope = *m_tx.following;
        m_aheadBytes = static_cast<long long>(ahead);
    }
    return State::EndOfData;
}

State SmtpDialogue::onEndOfData() {
    if (!m_owed.empty() && m_owed.front() == Command::EndOfData) {
        m_owed.pop_front();
    }
    m_tx.delivered = m_io.readReply();
    if (m_tx.following == nullptr) {
        return m_tx.delivered ? State::Ready : State::Failed;
    }
    if (!m_tx.delivered && m_io.sockError() != SocketError::ServerRefused) {
        // The replies to the commands sent ahead are lost with this one.
        m_aheadEnvelope = {};
        m_aheadBytes = 0;
        return State::Failed;
    }
    return State::Ahead;
}

State SmtpDialogue::transactionFailed() {
    if (!m_owed.empty()) {
        settleOwed(m_tx.accepted);
    }
    return m_state == State::Closed ? State::Closed : State::Failed;
}

bool SmtpDialogue::settleOwed(int acceptedSoFar) {
    SmtpConnection::Values saved = m_io.save();
    bool settled = true;
    while (!m_owed.empty()) {
        const Command command = m_owed.front();
        if (!m_io.readReply(SmtpConnection::Refusal::Returned)) {
            settled = false;  // left owed: the next job meets the same silence
            break;
        }
        m_owed.pop_front();
        const int code = m_io.replyCode();
        const bool passed = code < 400 || code == 501;
        if (command == Command::Rcpt && passed) {
            ++acceptedSoFar;
        }
        if (command == Command::Data && code / 100 == 3) {
            if (acceptedSoFar > 0) {
                m_io.close();
                closed();
                settled = false;
                break;
            }
            // RFC 2920 3.1: DATA accepted with no valid recipient is ended
            // with a single dot; the server delivers nothing.
            if (!send(".\r\n", {Command::Dot})) {
                settled = false;
                break;
            }
        }
    }
    m_io.restore(std::move(saved));
    if (m_state == State::Ahead) {
        setState(State::Failed);
    }
    m_aheadEnvelope = {};
    return settled;
}

State SmtpDialogue::onQuit() {
    m_quitOk = m_io.sendCommand("QUIT\r\n");
    return State::Closed;
}

}  // namespace zeph

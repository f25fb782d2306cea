#include "engine.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <optional>

#include "address.h"
#include "common/cp932.h"
#include "common/host_name.h"
#include "tls.h"

namespace zeph {
namespace {

constexpr auto kSendProgressWait = std::chrono::seconds(2);

// The last resort of the greeting name, for a machine without a fully
// qualified name when none was set: the host name if it is made only of
// letters, digits and "-"; anything else is not sent.
bool usableHostName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
    });
}

}  // namespace

// Sends composed message bytes through the command layer: no reply is read,
// and in measure-only mode the bytes are only counted.
//
// The writer hands over a header line or body piece at a time; sent one by one
// (with TCP_NODELAY) each would be a packet and a system call of its own. The
// sink gathers them and sends full buffers; the rest goes out together with
// the terminator.
class EngineSink : public ByteSink {
public:
    static constexpr std::size_t kFlushSize = std::size_t{16} * 1024;

    explicit EngineSink(MailEngine& engine) : m_engine(engine) {}

    bool send(std::string_view bytes) override {
        m_pending.append(bytes);
        if (m_pending.size() < kFlushSize) {
            return true;
        }
        bool ok = m_engine.sendCommand(false, m_pending, false);
        m_pending.clear();
        return ok;
    }

    // Sends what is left followed by the end-of-data line, and reads the reply.
    bool finish() {
        m_pending += "\r\n.\r\n";
        return m_engine.sendCommand(true, m_pending, false);
    }

private:
    MailEngine& m_engine;
    std::string m_pending;
};

MailEngine::MailEngine() {
    startWorker();
}

MailEngine::~MailEngine() {
    stopWorker();
}

MailEngine& MailEngine::instance() {
    static MailEngine engine;
    return engine;
}

int MailEngine::setPort(int port) {
    m_port.store(port);
    return port;
}

int MailEngine::setRecvTimeOutSec(int seconds) {
    m_recvTimeoutSec.store(seconds);
    return seconds;
}

void MailEngine::setWaitMillSec(int afterMessageMs, int afterDisconnectMs) {
    m_waitAfterMessageMs.store(afterMessageMs);
    m_waitAfterDisconnectMs.store(afterDisconnectMs);
}

int MailEngine::setSmtpAuth(int mode, const char* user, const char* password, int method) {
    std::lock_guard lock(m_settingsMutex);
    // Overwrite before dropping, so the old password does not linger in freed memory.
    std::fill(m_authPassword.begin(), m_authPassword.end(), '\0');
    m_authPassword.clear();
    m_authUser.clear();
    m_authMode = 0;
    if (mode == 0) {
        return 1;
    }
    if (user == nullptr || password == nullptr) {
        return 0;
    }
    m_authMode = mode;
    m_authUser = user;
    m_authPassword = password;
    m_authMethod = method;
    return 1;
}

int MailEngine::setSecurity(int mode) {
    if (mode < 0 || mode > 2) {
        return 0;
    }
    m_security.store(mode);
    return 1;
}

void MailEngine::setCaFile(const char* path) {
    std::string file = path != nullptr ? path : "";
    // Paths arrive as Shift_JIS; file names on this system are UTF-8. A path
    // that is not valid Shift_JIS, or names no file as UTF-8, is kept as it is.
    if (auto utf8 = tarn::cp932::toUtf8(file);
        utf8 && *utf8 != file && ::access(utf8->c_str(), F_OK) == 0) {
        file = std::move(*utf8);
    }
    std::lock_guard lock(m_settingsMutex);
    m_caFile = std::move(file);
}

std::chrono::milliseconds MailEngine::timeout() const {
    return std::chrono::milliseconds(std::max(0, m_recvTimeoutSec.load()) * 1000LL);
}

int MailEngine::nowSendSize() const {
    return static_cast<int>(std::min<long long>(m_sent.load(), INT_MAX));
}

const char* MailEngine::smtpResult() {
    std::lock_guard lock(m_replyMutex);
    const std::string& text = m_reply.text();
    std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    end = std::min(end, m_resultLine.size() - 1);
    std::copy_n(text.begin(), end, m_resultLine.begin());
    m_resultLine[end] = '\0';
    return m_resultLine.data();
}

// ---- Worker and hand-over ----

void MailEngine::startWorker() {
    m_quit.store(false);
    m_kind.store(kIdle);
    m_worker = std::thread([this] { workerLoop(); });
}

void MailEngine::stopWorker() {
    if (!m_worker.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_jobMutex);
        m_quit.store(true);
    }
    m_stop.raise();  // a running job ends within milliseconds
    m_jobCv.notify_all();
    m_worker.join();
    m_kind.store(kQuit);
}

int MailEngine::threadControl(int start) {
    if (start == 0) {
        stopWorker();
        return 1;
    }
    if (m_kind.load() == kQuit && !m_worker.joinable()) {
        startWorker();
        return 1;
    }
    return m_kind.load();
}

void MailEngine::workerLoop() {
    std::unique_lock lock(m_jobMutex);
    for (;;) {
        m_jobCv.wait(lock, [this] {
            int k = m_kind.load();
            return m_quit.load() || (k >= kConnect && k <= kDisconnect);
        });
        if (m_quit.load()) {
            return;
        }
        int kind = m_kind.load();
        lock.unlock();
        bool ok = false;
        switch (kind) {
            case kConnect:
                ok = runConnect();
                break;
            case kStart:
                ok = runStart();
                break;
            case kSend: {
                std::lock_guard messageLock(m_messageMutex);
                ok = runSend();
                break;
            }
            case kDisconnect:
                ok = runDisconnect();
                break;
            default:
                break;
        }
        lock.lock();
        // The kind goes back to idle before busy is cleared: the other order
        // would let a job handed over in between be wiped out.
        m_result.store(ok ? 1 : 0);
        m_kind.store(kIdle);
        m_busy.store(0);
        m_jobCv.notify_all();
    }
}

bool MailEngine::tryAcquire() {
    m_lastError.store(0);
    int expected = 0;
    if (!m_worker.joinable() || !m_busy.compare_exchange_strong(expected, 1)) {
        m_lastError.store(kLastBusy);
        return false;
    }
    m_stop.clear();
    m_sent.store(0);
    return true;
}

void MailEngine::startJob(JobKind kind) {
    {
        std::lock_guard lock(m_jobMutex);
        m_kind.store(kind);
    }
    m_jobCv.notify_all();
}

void MailEngine::waitIdle() {
    std::unique_lock lock(m_jobMutex);
    m_jobCv.wait(lock, [this] { return m_busy.load() == 0; });
}

int MailEngine::handOver(JobKind kind, int wait) {
    if (!tryAcquire()) {
        return 0;
    }
    startJob(kind);
    if (wait == 0) {
        return 1;
    }
    waitIdle();
    return m_result.load();
}

int MailEngine::connect(const char* host, int wait) {
    if (!tryAcquire()) {
        return 0;
    }
    std::string_view name = host != nullptr ? host : "";
    // A name that would not fit the 128-byte field leaves the host empty.
    m_host = name.size() >= 128 ? std::string() : std::string(name);
    m_measureOnly.store(m_port.load() == 0);
    startJob(kConnect);
    if (wait == 0) {
        return 1;
    }
    waitIdle();
    return m_result.load();
}

int MailEngine::getSendSize() {
    // Measuring touches no socket, so it runs right here on the caller's
    // thread, through the very code of the send job, while this call holds
    // the busy flag: no hand-over to the worker and back for every message.
    if (!tryAcquire()) {
        return 0;
    }
    m_measureJob.store(true);
    bool ok = false;
    {
        std::lock_guard messageLock(m_messageMutex);
        ok = runSend();
    }
    m_measureJob.store(false);
    {
        std::lock_guard lock(m_jobMutex);
        m_result.store(ok ? 1 : 0);
        m_busy.store(0);
    }
    m_jobCv.notify_all();
    return nowSendSize();
}

int MailEngine::isExecute() {
    // Polling loops rely on this call to yield; it gives up to 1 ms, less
    // when the job ends meanwhile.
    std::unique_lock lock(m_jobMutex);
    m_jobCv.wait_for(lock, std::chrono::milliseconds(1), [this] { return m_busy.load() == 0; });
    return m_busy.load();
}

int MailEngine::abort() {
    // The socket belongs to the busy flag's holder: stop a running job and
    // take the flag, so that the descriptor is never closed under the worker.
    int expected = 0;
    while (!m_busy.compare_exchange_strong(expected, 1)) {
        m_stop.raise();
        waitIdle();
        expected = 0;
    }
    m_stop.clear();
    m_connected.store(false);
    bool hadSocket = m_socket.isOpen();
    bool closed = m_socket.close();
    int rc = 1;
    if (!closed) {
        fail(hadSocket ? m_socket.lastError() : 0, kPosAbortClose);
        rc = 0;
    } else if (m_stop.isSet()) {
        fail(kErrStopped, kPosAbortStopped);
        rc = 0;
    }
    {
        std::lock_guard lock(m_jobMutex);
        m_busy.store(0);
    }
    m_jobCv.notify_all();
    return rc;
}

bool MailEngine::pause(int ms) {
    if (ms > 0) {
        if (m_stop.fd() >= 0) {
            pollfd p{m_stop.fd(), POLLIN, 0};
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (!m_stop.isSet()) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) > 0) {
                    break;
                }
            }
        } else {
            for (int i = 0; i < ms && !m_stop.isSet(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    return !m_stop.isSet();
}

// ---- Command layer ----

bool MailEngine::sendBytes(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = m_socket.send(bytes.data() + done, bytes.size() - done);
        if (n < 0 && (m_socket.lastError() == EAGAIN || m_socket.lastError() == EWOULDBLOCK ||
                      m_socket.lastError() == EINTR)) {
            Socket::Wait w = m_socket.waitWritable(kSendProgressWait, &m_stop);
            if (w == Socket::Wait::Ready) {
                continue;
            }
            if (w == Socket::Wait::Stopped) {
                fail(kErrStopped, kPosStoppedAfterSend);
            } else if (w == Socket::Wait::TimedOut) {
                // The peer takes nothing for two seconds: report it as a
                // socket that did not become writable.
                fail(kErrNotWritable, kPosNotWritable);
            } else {
                fail(m_socket.lastError(), kPosSend);
            }
            return false;
        }
        if (n < 0) {
            fail(m_socket.lastError(), kPosSend);
            return false;
        }
        done += static_cast<std::size_t>(n);
        m_sent.fetch_add(n);
    }
    if (m_stop.isSet()) {
        fail(kErrStopped, kPosStoppedAfterSend);
        return false;
    }
    return true;
}

bool MailEngine::sendCommand(bool wantReply, std::string_view text, bool appendCrLf) {
    m_sockError.store(0);
    m_replyCode.store(0);
    if (measuring()) {
        m_sent.fetch_add(static_cast<long long>(text.size()) + (appendCrLf ? 2 : 0));
        return true;
    }
    Socket::Wait w = m_socket.waitWritable(timeout(), &m_stop);
    if (w != Socket::Wait::Ready) {
        int err = w == Socket::Wait::Stopped    ? kErrStopped
                  : w == Socket::Wait::TimedOut ? kErrNotWritable
                                                : m_socket.lastError();
        fail(err, kPosNotWritable);
        return false;
    }
    if (!sendBytes(text) || (appendCrLf && !sendBytes("\r\n"))) {
        return false;
    }
    return !wantReply || readReply();
}

bool MailEngine::readReply() {
    m_sockError.store(0);
    m_replyCode.store(0);
    if (measuring()) {
        return true;
    }
    {
        std::lock_guard lock(m_replyMutex);
        m_reply.begin();
    }
    // A refusal whose remaining lines never come is still a refusal.
    auto refusedSoFar = [this] {
        std::lock_guard lock(m_replyMutex);
        return !m_reply.text().empty() && m_reply.isErrorCode();
    };
    bool started = false;
    std::array<char, ReplyReader::kChunkSize> chunk{};
    for (;;) {
        Socket::Wait w = m_socket.waitReadable(timeout(), &m_stop);
        if (w != Socket::Wait::Ready) {
            if (started && w != Socket::Wait::Stopped && refusedSoFar()) {
                fail(kErrServerRefused, kPosServerRefused);
                return false;
            }
            int err = w == Socket::Wait::Stopped    ? kErrStopped
                      : w == Socket::Wait::TimedOut ? kErrNoReply
                                                    : m_socket.lastError();
            fail(err, kPosNoReply);
            return false;
        }
        ssize_t n = m_socket.recv(chunk.data(), chunk.size());
        if (n < 0 && (m_socket.lastError() == EAGAIN || m_socket.lastError() == EWOULDBLOCK ||
                      m_socket.lastError() == EINTR)) {
            continue;
        }
        if (n <= 0) {
            if (started && refusedSoFar()) {
                fail(kErrServerRefused, kPosServerRefused);
                return false;
            }
            // End of stream is a failure, not an empty reply that passes.
            fail(n == 0 ? kErrClosedByPeer : m_socket.lastError(), kPosRecv);
            return false;
        }
        started = true;
        ReplyReader::Step step;
        {
            std::lock_guard lock(m_replyMutex);
            step = m_reply.feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
            m_replyCode.store(m_reply.code());
        }
        switch (step) {
            case ReplyReader::Step::More:
                continue;
            case ReplyReader::Step::Overflow:
                fail(0, kPosReplyTooLong);
                return false;
            case ReplyReader::Step::ErrorReply:
                fail(kErrServerRefused, kPosServerRefused);
                return false;
            case ReplyReader::Step::Complete:
                if (m_stop.isSet()) {
                    // The reply counts; the stop is recorded for the caller.
                    fail(kErrStopped, kPosStoppedInReply);
                }
                return true;
        }
    }
}

bool MailEngine::expectReply(std::string_view text, int code) {
    return sendCommand(true, text, false) && m_replyCode.load() == code;
}

// ---- Jobs ----

bool MailEngine::runConnect() {
    m_sockError.store(0);
    m_replyCode.store(0);
    if (m_host.empty()) {
        m_sockError.store(kErrNoHost);
        return false;
    }
    if (measuring()) {
        return true;
    }
    if (m_connected.load()) {
        return false;
    }
    if (!m_socket.resolve(m_host, m_port.load())) {
        fail(m_socket.lastError(), kPosOpen);
        return false;
    }
    if (!m_socket.connect(timeout(), &m_stop)) {
        fail(m_socket.stopped() ? kErrStopped : m_socket.lastError(), kPosConnect);
        return false;
    }
    // Implicit TLS: the greeting already comes encrypted.
    if (m_security.load() == static_cast<int>(TlsMode::Implicit) && !secureSocket()) {
        return false;
    }
    if (!readReply()) {
        return false;
    }
    if (m_replyCode.load() != 220) {
        return false;
    }
    m_connected.store(true);
    return true;
}

std::string MailEngine::greetingCommand(int authMode, const std::string& name) const {
    // STARTTLS is an ESMTP extension, so it needs EHLO as much as AUTH does.
    bool extended = authMode != 0 || m_security.load() == static_cast<int>(TlsMode::StartTls);
    return std::string(extended ? "EHLO " : "HELO ") + (name.empty() ? "ZEPHM" : name) + "\r\n";
}

int MailEngine::setHeloName(const char* name) {
    std::string_view text = name != nullptr ? name : "";
    if (!text.empty() && !tarn::isGreetingName(text)) {
        return 0;  // it goes onto the command line: nothing else may
    }
    std::lock_guard lock(m_settingsMutex);
    m_heloName = text;
    return 1;
}

std::string MailEngine::greetingName() const {
    {
        std::lock_guard lock(m_settingsMutex);
        if (!m_heloName.empty()) {
            return m_heloName;
        }
    }
    if (std::string fqdn = tarn::fullyQualifiedHostName(); !fqdn.empty()) {
        return fqdn;
    }
    char buffer[128] = {};
    std::string hostName;
    if (::gethostname(buffer, sizeof buffer - 1) == 0) {
        hostName = buffer;
    }
    return usableHostName(hostName) ? hostName : std::string();
}

bool MailEngine::secureSocket() {
    std::string caFile;
    {
        std::lock_guard lock(m_settingsMutex);
        caFile = m_caFile;
    }
    std::optional<TlsFailure> failure = startTls(m_socket, m_host, caFile, timeout(), &m_stop);
    if (!failure) {
        return true;
    }
    switch (failure->kind) {
        case TlsFailure::Kind::Certificate:
            fail(kSockErrTlsCertificate, kPosTlsCertificate);
            break;
        case TlsFailure::Kind::Stopped:
            fail(kErrStopped, kPosTlsHandshake);
            break;
        case TlsFailure::Kind::TimedOut:
            fail(kErrNoReply, kPosTlsHandshake);
            break;
        case TlsFailure::Kind::Handshake:
            fail(kSockErrTlsHandshake, kPosTlsHandshake);
            break;
    }
    std::lock_guard lock(m_replyMutex);
    m_reply.setText(failure->message + "\r\n");
    return false;
}

bool MailEngine::runStartTls(const std::string& greeting) {
    bool offered = false;
    {
        std::lock_guard lock(m_replyMutex);
        offered = m_reply.text().find("STARTTLS") != std::string::npos;
        if (!offered) {
            // Never fall back to plain text: the password would go out readable.
            m_reply.setText("STARTTLS is not offered by the server\r\n");
        }
    }
    if (!offered) {
        fail(kSockErrStartTls, kPosStartTls);
        return false;
    }
    if (!expectReply("STARTTLS\r\n", 220)) {
        if (m_errorPos.load() != kPosServerRefused) {
            fail(kSockErrStartTls, kPosStartTls);
        }
        return false;
    }
    // RFC 3207: the client forgets what it learnt before the handshake and
    // greets again.
    return secureSocket() && sendCommand(true, greeting, false) && m_replyCode.load() == 250;
}

bool MailEngine::runStart() {
    const std::string name = greetingName();
    int authMode = 0;
    {
        std::lock_guard lock(m_settingsMutex);
        authMode = m_authMode;
    }
    std::string command = greetingCommand(authMode, name);
    if (!sendCommand(true, command, false)) {
        return false;
    }
    int code = m_replyCode.load();
    if (code != 250) {
        std::lock_guard lock(m_replyMutex);
        std::string text = m_reply.text().substr(0, 4);
        text.resize(4, ' ');
        text += "ABNORMAL CMD::[HELO ";
        text += name.empty() ? "NONAME" : name;
        text += "]\r\n";
        m_reply.setText(std::move(text));
        if (code != 501) {
            return false;
        }
    }
    if (m_security.load() == static_cast<int>(TlsMode::StartTls) && !measuring() &&
        !runStartTls(command)) {
        return false;
    }
    if (authMode == 0) {
        return true;
    }
    std::string ehloReply;
    {
        std::lock_guard lock(m_replyMutex);
        ehloReply = m_reply.text();
    }
    return authenticate(ehloReply);
}

bool MailEngine::runSend() {
    const std::string* to = m_message.findHeader("To");
    const std::string* from = m_message.findHeader("From");
    if (to == nullptr || from == nullptr) {
        return false;
    }
    if (m_message.findHeader("Date") == nullptr) {
        m_message.setDateNow();
    }
    // Collected before anything is sent: setDateNow may have grown the table.
    std::vector<std::string> senders = extractAddresses(*m_message.findHeader("From"));
    std::vector<std::string> recipients = extractAddresses(*m_message.findHeader("To"));
    for (const char* name : {"Cc", "Bcc"}) {
        if (const std::string* value = m_message.findHeader(name)) {
            for (auto& a : extractAddresses(*value)) {
                recipients.push_back(std::move(a));
            }
        }
    }

    if (!sendCommand(true, "RSET\r\n", false)) {
        return false;
    }
    std::string mailFrom =
        "MAIL FROM:<" + (senders.empty() ? "Unknown" : senders.front()) + ">\r\n";
    if (!sendCommand(true, mailFrom, false)) {
        return false;
    }
    int accepted = 0;
    for (const auto& rcpt : recipients) {
        // A refused recipient is data, not the end of the message.
        if (sendCommand(true, "RCPT TO:<" + rcpt + ">\r\n", false)) {
            ++accepted;
        }
    }
    if (accepted == 0) {
        return false;
    }
    if (!sendCommand(true, "DATA\r\n", false)) {
        return false;
    }
    EngineSink sink(*this);
    if (!m_message.write(sink) || !sink.finish()) {
        return false;
    }
    if (!pause(m_waitAfterMessageMs.load())) {
        fail(kErrStopped, kPosStoppedAfterMessage);
        return false;
    }
    return true;
}

bool MailEngine::runDisconnect() {
    if (!m_connected.load()) {
        return false;
    }
    m_connected.store(false);
    bool quitOk = sendCommand(true, "QUIT\r\n", false);
    if (!m_socket.close()) {
        fail(m_socket.lastError(), kPosClose);
        return false;
    }
    if (!pause(m_waitAfterDisconnectMs.load())) {
        fail(kErrStopped, kPosStoppedAfterDisconnect);
        return false;
    }
    return quitOk;
}

}  // namespace zeph

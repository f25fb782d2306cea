#include "engine.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <optional>

#include "common/address.h"
#include "common/cp932.h"
#include "common/host_name.h"

namespace zeph {
namespace {

// The last resort of the greeting name, for a machine without a fully
// qualified name when none was set: the host name if it is made only of
// letters, digits and "-"; anything else is not sent.
bool usableHostName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
    });
}

}  // namespace

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
    m_security.store(static_cast<TlsMode>(mode));
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

int MailEngine::nowSendSize() const {
    return static_cast<int>(std::min<long long>(m_io.sent(), INT_MAX));
}

// ---- Worker and hand-over ----

void MailEngine::startWorker() {
    m_quit.store(false);
    m_kind.store(JobKind::Idle);
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
    m_kind.store(JobKind::Quit);
}

int MailEngine::threadControl(int start) {
    if (start == 0) {
        stopWorker();
        return 1;
    }
    if (m_kind.load() == JobKind::Quit && !m_worker.joinable()) {
        startWorker();
        return 1;
    }
    return static_cast<int>(m_kind.load());
}

void MailEngine::workerLoop() {
    std::unique_lock lock(m_jobMutex);
    for (;;) {
        m_jobCv.wait(lock, [this] {
            const JobKind k = m_kind.load();
            return m_quit.load() || (k != JobKind::Idle && k != JobKind::Quit);
        });
        if (m_quit.load()) {
            return;
        }
        const JobKind kind = m_kind.load();
        lock.unlock();
        prepareJob();
        bool ok = false;
        switch (kind) {
            case JobKind::Connect:
                ok = runConnect();
                break;
            case JobKind::Start:
                ok = runStart();
                break;
            case JobKind::Send: {
                std::lock_guard messageLock(m_messageMutex);
                ok = runSend();
                break;
            }
            case JobKind::SendQueued:
                ok = runSendQueued();
                break;
            case JobKind::Disconnect:
                ok = runDisconnect();
                break;
            default:
                break;
        }
        lock.lock();
        // The kind goes back to idle before busy is cleared: the other order
        // would let a job handed over in between be wiped out.
        m_result.store(ok ? 1 : 0);
        m_kind.store(JobKind::Idle);
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
    m_io.resetSent();
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
    startJob(JobKind::Connect);
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
    prepareJob();
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
    m_sessionPipelines.store(false);
    m_dialogue.closed();
    bool hadSocket = m_io.socket().isOpen();
    bool closed = m_io.close();
    int rc = 1;
    if (!closed) {
        m_io.fail(hadSocket ? errnoError(m_io.socket().lastError()) : SocketError::None,
                  ErrorPos::AbortClose);
        rc = 0;
    } else if (m_stop.isSet()) {
        m_io.fail(SocketError::Stopped, ErrorPos::AbortStopped);
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

// ---- Jobs ----

void MailEngine::prepareJob() {
    m_io.setTimeout(std::chrono::milliseconds(std::max(0, m_recvTimeoutSec.load()) * 1000LL));
    m_io.setMeasuring(measuring());
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

void MailEngine::setCommitHook(std::function<bool()> hook) {
    std::lock_guard lock(m_settingsMutex);
    m_commitHook = std::move(hook);
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

SessionSettings MailEngine::sessionSettings() const {
    SessionSettings s;
    s.greetingName = greetingName();
    s.security = m_security.load();
    s.pipelining = m_pipelining.load();
    std::lock_guard lock(m_settingsMutex);
    s.authMode = m_authMode;
    s.authMethod = m_authMethod;
    s.authUser = m_authUser;
    s.authPassword = m_authPassword;
    s.caFile = m_caFile;
    return s;
}

bool MailEngine::runConnect() {
    m_io.clearCommandValues();
    if (m_host.empty()) {
        m_io.setSockError(SocketError::NoHost);
        return false;
    }
    if (measuring()) {
        return true;
    }
    if (m_connected.load()) {
        return false;
    }
    SessionSettings settings = sessionSettings();
    settings.authPassword.clear();  // not needed before the session starts
    if (!m_dialogue.connect(m_host, m_port.load(), settings)) {
        return false;
    }
    m_connected.store(true);
    return true;
}

bool MailEngine::runStart() {
    SessionSettings settings = sessionSettings();
    bool ok = m_dialogue.startSession(settings);
    // Overwrite before dropping, so that the password does not linger in freed memory.
    std::fill(settings.authPassword.begin(), settings.authPassword.end(), '\0');
    m_sessionPipelines.store(ok && m_dialogue.pipelining());
    return ok;
}

std::optional<Envelope> envelopeOf(const Message& message, std::string* refusal) {
    if (message.findHeader("To") == nullptr || message.findHeader("From") == nullptr) {
        return std::nullopt;
    }
    // The envelope takes addresses only. A value with a control character or
    // with a token that cannot be an address refuses the whole message, so
    // that no text of a header value becomes a command or a recipient.
    Envelope envelope;
    std::vector<std::string> senders;
    for (const char* name : {"From", "To", "Cc", "Bcc"}) {
        const std::string* value = message.findHeader(name);
        if (value == nullptr) {
            continue;
        }
        tarn::address::FieldCheck field = tarn::address::checkField(*value);
        if (field.problem == tarn::address::FieldCheck::Problem::ControlCharacter ||
            field.problem == tarn::address::FieldCheck::Problem::NotAnAddress) {
            if (refusal != nullptr) {
                *refusal = std::string(name) + ": " + tarn::address::describe(field);
            }
            return std::nullopt;
        }
        auto& into = name[0] == 'F' ? senders : envelope.recipients;
        into.insert(into.end(), std::make_move_iterator(field.addresses.begin()),
                    std::make_move_iterator(field.addresses.end()));
    }
    envelope.sender = senders.empty() ? "Unknown" : senders.front();
    return envelope;
}

bool MailEngine::sendOne(Message& message, const Envelope* following) {
    std::string refusal;
    std::optional<Envelope> envelope = envelopeOf(message, &refusal);
    if (!envelope) {
        if (!refusal.empty()) {
            m_lastError.store(kLastNotAnAddress);
            m_io.setReplyText(refusal + "\r\n");
        }
        return false;  // no To or no From: no error value is set
    }
    if (message.findHeader("Date") == nullptr) {
        message.setDateNow();
    }
    {
        std::lock_guard lock(m_settingsMutex);
        m_dialogue.setBeforeEndOfData(m_commitHook);
    }
    bool ok = measuring() ? m_dialogue.measureMessage(message, *envelope)
                          : m_dialogue.sendMessage(message, *envelope, following);
    if (m_dialogue.state() == SmtpDialogue::State::Closed) {
        m_connected.store(false);  // a half-written message was abandoned
    }
    if (!ok) {
        return false;
    }
    if (!pause(m_waitAfterMessageMs.load())) {
        m_io.fail(SocketError::Stopped, ErrorPos::StoppedAfterMessage);
        return false;
    }
    return true;
}

bool MailEngine::runSend() {
    return sendOne(m_message, nullptr);
}

void MailEngine::queue(Message message) {
    auto queued = std::make_unique<Message>(std::move(message));
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back(std::move(queued));
}

std::size_t MailEngine::queued() const {
    std::lock_guard lock(m_queueMutex);
    return m_queue.size();
}

void MailEngine::clearQueue() {
    std::lock_guard lock(m_queueMutex);
    m_queue.clear();
}

bool MailEngine::runSendQueued() {
    std::unique_ptr<Message> message;
    std::optional<Envelope> following;
    {
        std::lock_guard lock(m_queueMutex);
        if (m_queue.empty()) {
            return false;
        }
        message = std::move(m_queue.front());
        m_queue.pop_front();
        // A wait after each message spaces them out on purpose: nothing of
        // the next one goes out before it.
        if (!m_queue.empty() && m_waitAfterMessageMs.load() <= 0) {
            following = envelopeOf(*m_queue.front());
        }
    }
    // The commands this message's transaction had sent ahead count with it.
    m_io.resetSent(m_dialogue.bytesSentAhead());
    return sendOne(*message, following ? &*following : nullptr);
}

bool MailEngine::runDisconnect() {
    if (!m_connected.load()) {
        return false;
    }
    m_connected.store(false);
    m_sessionPipelines.store(false);
    bool quitOk = m_dialogue.quit();
    bool alreadyClosed =
        m_dialogue.state() == SmtpDialogue::State::Closed && !m_io.socket().isOpen();
    m_dialogue.closed();
    if (!alreadyClosed && !m_io.close()) {
        m_io.fail(errnoError(m_io.socket().lastError()), ErrorPos::Close);
        return false;
    }
    if (!pause(m_waitAfterDisconnectMs.load())) {
        m_io.fail(SocketError::Stopped, ErrorPos::StoppedAfterDisconnect);
        return false;
    }
    return quitOk;
}

}  // namespace zeph

#include "command.h"

#include <algorithm>
#include <cerrno>

namespace zeph {
namespace {

constexpr auto kSendProgressWait = std::chrono::seconds(2);

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

bool SmtpConnection::open(const std::string& host, int port) {
    m_reader.discardUnread();
    if (!m_socket.resolve(host, port)) {
        fail(errnoError(m_socket.lastError()), ErrorPos::Open);
        return false;
    }
    if (!m_socket.connect(m_timeout, &m_stop)) {
        fail(m_socket.stopped() ? SocketError::Stopped : errnoError(m_socket.lastError()),
             ErrorPos::Connect);
        return false;
    }
    return true;
}

bool SmtpConnection::close() {
    m_reader.discardUnread();
    return m_socket.close();
}

bool SmtpConnection::waitWritable() {
    Socket::Wait w = m_socket.waitWritable(m_timeout, &m_stop);
    if (w == Socket::Wait::Ready) {
        return true;
    }
    SocketError err = w == Socket::Wait::Stopped    ? SocketError::Stopped
                      : w == Socket::Wait::TimedOut ? SocketError::NotWritable
                                                    : errnoError(m_socket.lastError());
    fail(err, ErrorPos::NotWritable);
    return false;
}

bool SmtpConnection::sendBytes(std::string_view bytes, std::size_t countedLater) {
    const std::size_t countedNow = bytes.size() - std::min(countedLater, bytes.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = m_socket.send(bytes.data() + done, bytes.size() - done);
        if (n < 0 && wouldBlock(m_socket.lastError())) {
            Socket::Wait w = m_socket.waitWritable(kSendProgressWait, &m_stop);
            if (w == Socket::Wait::Ready) {
                continue;
            }
            if (w == Socket::Wait::Stopped) {
                fail(SocketError::Stopped, ErrorPos::StoppedAfterSend);
            } else if (w == Socket::Wait::TimedOut) {
                // The peer takes nothing for two seconds: report it as a
                // socket that did not become writable.
                fail(SocketError::NotWritable, ErrorPos::NotWritable);
            } else {
                fail(errnoError(m_socket.lastError()), ErrorPos::Send);
            }
            return false;
        }
        if (n < 0) {
            fail(errnoError(m_socket.lastError()), ErrorPos::Send);
            return false;
        }
        const std::size_t before = done;
        done += static_cast<std::size_t>(n);
        if (before < countedNow) {
            m_sent.fetch_add(static_cast<long long>(std::min(done, countedNow) - before));
        }
    }
    if (m_stop.isSet()) {
        fail(SocketError::Stopped, ErrorPos::StoppedAfterSend);
        return false;
    }
    return true;
}

bool SmtpConnection::sendCommand(std::string_view line, Reply reply) {
    clearCommandValues();
    if (m_measuring) {
        m_sent.fetch_add(static_cast<long long>(line.size()));
        return true;
    }
    m_reader.discardUnread();
    if (!waitWritable() || !sendBytes(line, 0)) {
        return false;
    }
    return reply == Reply::CallerReads || readReply();
}

bool SmtpConnection::expectReply(std::string_view text, int code) {
    return sendCommand(text) && m_replyCode.load() == code;
}

bool SmtpConnection::write(std::string_view bytes, std::size_t countedLater) {
    clearCommandValues();
    if (m_measuring) {
        m_sent.fetch_add(
            static_cast<long long>(bytes.size() - std::min(countedLater, bytes.size())));
        return true;
    }
    return waitWritable() && sendBytes(bytes, countedLater);
}

bool SmtpConnection::readReply(Refusal refusal) {
    clearCommandValues();
    if (m_measuring) {
        return true;
    }
    switch (receive()) {
        case Outcome::Complete:
            return true;
        case Outcome::Refused:
            if (refusal == Refusal::Returned) {
                return true;
            }
            fail(SocketError::ServerRefused, ErrorPos::ServerRefused);
            return false;
        case Outcome::Failed:
            return false;
    }
    return false;
}

SmtpConnection::Values SmtpConnection::save() const {
    std::lock_guard lock(m_textMutex);
    return {m_sockError.load(), m_replyCode.load(), m_errorPos.load(), m_replyText, m_serverReply};
}

void SmtpConnection::restore(Values values) {
    m_sockError.store(values.sockError);
    m_replyCode.store(values.replyCode);
    m_errorPos.store(values.errorPos);
    std::lock_guard lock(m_textMutex);
    m_replyText = std::move(values.replyText);
    m_serverReply = std::move(values.serverReply);
}

SmtpConnection::Outcome SmtpConnection::receive() {
    m_reader.begin();
    auto show = [&] {
        if (m_reader.text().empty()) {
            return;
        }
        m_replyCode.store(m_reader.code());
        std::lock_guard lock(m_textMutex);
        m_replyText = m_reader.text();
    };
    auto finish = [&](Outcome outcome) {
        std::lock_guard lock(m_textMutex);
        m_serverReply = m_reader.text();
        return outcome;
    };
    ReplyReader::Step step = m_reader.next();
    std::array<char, ReplyReader::kChunkSize> chunk{};
    for (;;) {
        show();
        switch (step) {
            case ReplyReader::Step::More:
                break;
            case ReplyReader::Step::Overflow:
                fail(SocketError::None, ErrorPos::ReplyTooLong);
                return finish(Outcome::Failed);
            case ReplyReader::Step::ErrorReply:
                return finish(Outcome::Refused);
            case ReplyReader::Step::Complete:
                if (m_stop.isSet()) {
                    // The reply counts; the stop is recorded for the caller.
                    fail(SocketError::Stopped, ErrorPos::StoppedInReply);
                }
                return finish(Outcome::Complete);
        }
        // A refusal whose remaining lines never come is still a refusal.
        const bool refusedSoFar = !m_reader.text().empty() && m_reader.isErrorCode();
        Socket::Wait w = m_socket.waitReadable(m_timeout, &m_stop);
        if (w != Socket::Wait::Ready) {
            if (refusedSoFar && w != Socket::Wait::Stopped) {
                return finish(Outcome::Refused);
            }
            SocketError err = w == Socket::Wait::Stopped    ? SocketError::Stopped
                              : w == Socket::Wait::TimedOut ? SocketError::NoReply
                                                            : errnoError(m_socket.lastError());
            fail(err, ErrorPos::NoReply);
            return Outcome::Failed;
        }
        ssize_t n = m_socket.recv(chunk.data(), chunk.size());
        if (n < 0 && wouldBlock(m_socket.lastError())) {
            continue;
        }
        if (n <= 0) {
            if (refusedSoFar) {
                return finish(Outcome::Refused);
            }
            // End of stream is a failure, not an empty reply that passes.
            fail(n == 0 ? SocketError::ClosedByPeer : errnoError(m_socket.lastError()),
                 ErrorPos::Recv);
            return Outcome::Failed;
        }
        step = m_reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    }
}

std::string SmtpConnection::replyText() const {
    std::lock_guard lock(m_textMutex);
    return m_replyText;
}

void SmtpConnection::setReplyText(std::string text) {
    if (text.size() > ReplyReader::kChunkSize) {
        text.resize(ReplyReader::kChunkSize);
    }
    std::lock_guard lock(m_textMutex);
    m_replyText = std::move(text);
}

std::string SmtpConnection::serverReply() const {
    std::lock_guard lock(m_textMutex);
    return m_serverReply;
}

const char* SmtpConnection::resultLine() {
    std::lock_guard lock(m_textMutex);
    std::size_t end = std::min(m_replyText.find_first_of("\r\n"), m_replyText.size());
    end = std::min(end, m_resultLine.size() - 1);
    std::copy_n(m_replyText.begin(), end, m_resultLine.begin());
    m_resultLine[end] = '\0';
    return m_resultLine.data();
}

}  // namespace zeph

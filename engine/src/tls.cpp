#include "tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>

namespace zeph {
namespace {

using Clock = std::chrono::steady_clock;

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the
// server has gone; a library must not kill its host process for that, so the
// bytes go through send() with MSG_NOSIGNAL instead.
// The BIO's data is the Socket, which owns the channel and so outlives it.
int fdOf(BIO* bio) {
    return static_cast<const Socket*>(BIO_get_data(bio))->fd();
}

int bioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(fdOf(bio), data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(n);
}

int bioRead(BIO* bio, char* buffer, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(fdOf(bio), buffer, static_cast<std::size_t>(size), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(n);
}

long bioCtrl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* socketBioMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zeph socket");
        if (m != nullptr) {
            BIO_meth_set_write(m, bioWrite);
            BIO_meth_set_read(m, bioRead);
            BIO_meth_set_ctrl(m, bioCtrl);
            BIO_meth_set_create(m, bioCreate);
        }
        return m;
    }();
    return method;
}

// The first queued OpenSSL error as text, and the queue emptied.
std::string takeSslError() {
    std::string text;
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error()) {
        if (text.empty()) {
            std::array<char, 256> buffer{};
            ERR_error_string_n(e, buffer.data(), buffer.size());
            text = buffer.data();
        }
    }
    return text;
}

bool isIpLiteral(const std::string& host) {
    std::array<unsigned char, 16> address{};
    return inet_pton(AF_INET, host.c_str(), address.data()) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address.data()) == 1;
}

class TlsChannel : public Channel {
public:
    explicit TlsChannel(SslPtr ssl) : m_ssl(std::move(ssl)) {}

    ssize_t send(const char* data, std::size_t size) override {
        ERR_clear_error();
        errno = 0;  // a stale EAGAIN must not pass for this call's failure
        const int n =
            SSL_write(m_ssl.get(), data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
        return n > 0 ? n : failed(n);
    }

    ssize_t recv(char* buffer, std::size_t size) override {
        ERR_clear_error();
        errno = 0;
        const int n =
            SSL_read(m_ssl.get(), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
        if (n > 0) {
            return n;
        }
        if (SSL_get_error(m_ssl.get(), n) == SSL_ERROR_ZERO_RETURN) {
            return 0;
        }
        return failed(n);
    }

    bool hasBuffered() const override { return SSL_pending(m_ssl.get()) > 0; }

private:
    // Maps an OpenSSL failure onto the POSIX contract of Channel: EAGAIN to wait
    // and call again, EPROTO for a broken TLS stream, the socket's own errno else.
    ssize_t failed(int result) {
        const int savedErrno = errno;
        switch (SSL_get_error(m_ssl.get(), result)) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                errno = EAGAIN;
                break;
            case SSL_ERROR_SYSCALL:
                errno = savedErrno != 0 ? savedErrno : EPIPE;
                break;
            default:
                errno = EPROTO;
                break;
        }
        ERR_clear_error();
        return -1;
    }

    SslPtr m_ssl;
};

std::optional<TlsFailure> fail(TlsFailure::Kind kind, std::string message) {
    return TlsFailure{kind, std::move(message)};
}

}  // namespace

std::optional<TlsFailure> startTls(Socket& socket, const std::string& host,
                                   const std::string& caFile, std::chrono::milliseconds limit,
                                   const StopSignal* stop) {
    using Kind = TlsFailure::Kind;
    // No clean-up at exit: OpenSSL's would run before the engine's worker thread
    // is joined and strand that thread's OpenSSL state. The thread frees its own
    // state when it ends.
    static const bool initialised = OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    if (!initialised) {
        return fail(Kind::Handshake, "TLS could not be initialised: " + takeSslError());
    }
    ERR_clear_error();
    CtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx || socketBioMethod() == nullptr) {
        return fail(Kind::Handshake, "TLS could not be initialised: " + takeSslError());
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    // SMTP frames its own data, so a server that drops the connection without
    // a close_notify after QUIT is an ordinary end of stream, not an attack.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    // Channel::send promises POSIX semantics: a partial count, and a retry after
    // EAGAIN that may come from another buffer address with the rest of the data.
    SSL_CTX_set_mode(ctx.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
        takeSslError();  // no system store: an extra CA file may still do
    }
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr) != 1) {
        return fail(Kind::Certificate,
                    "the CA file " + caFile + " could not be read: " + takeSslError());
    }

    SslPtr ssl(SSL_new(ctx.get()));
    BIO* bio = ssl ? BIO_new(socketBioMethod()) : nullptr;
    if (bio == nullptr) {
        return fail(Kind::Handshake, "TLS could not be initialised: " + takeSslError());
    }
    BIO_set_data(bio, &socket);
    SSL_set_bio(ssl.get(), bio, bio);  // the SSL owns the BIO from here
    SSL_set_hostflags(ssl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (isIpLiteral(host)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str()) != 1) {
            return fail(Kind::Handshake, "TLS could not be initialised: " + takeSslError());
        }
    } else if (SSL_set1_host(ssl.get(), host.c_str()) != 1 ||
               SSL_set_tlsext_host_name(ssl.get(), host.c_str()) != 1) {
        return fail(Kind::Handshake, "TLS could not be initialised: " + takeSslError());
    }

    const auto deadline = Clock::now() + limit;
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int r = SSL_connect(ssl.get());
        if (r == 1) {
            break;
        }
        const int error = SSL_get_error(ssl.get(), r);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            const auto left = std::max(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                std::chrono::milliseconds(0));
            const auto wait = error == SSL_ERROR_WANT_READ ? socket.waitReadable(left, stop)
                                                           : socket.waitWritable(left, stop);
            switch (wait) {
                case Socket::Wait::Ready:
                    continue;
                case Socket::Wait::TimedOut:
                    return fail(Kind::TimedOut, "the TLS handshake did not finish in time");
                case Socket::Wait::Stopped:
                    return fail(Kind::Stopped, "the TLS handshake was stopped");
                case Socket::Wait::Failed:
                    return fail(Kind::Handshake, "the TLS handshake failed: socket error " +
                                                     std::to_string(socket.lastError()));
            }
        }
        const long verify = SSL_get_verify_result(ssl.get());
        if (verify != X509_V_OK) {
            takeSslError();
            return fail(Kind::Certificate, std::string("the server certificate was refused: ") +
                                               X509_verify_cert_error_string(verify));
        }
        std::string reason = takeSslError();
        if (reason.empty()) {
            reason = errno != 0 ? "socket error " + std::to_string(errno)
                                : "the server closed the connection";
        }
        return fail(Kind::Handshake, "the TLS handshake failed: " + reason);
    }
    socket.setChannel(std::make_unique<TlsChannel>(std::move(ssl)));
    return std::nullopt;
}

}  // namespace zeph

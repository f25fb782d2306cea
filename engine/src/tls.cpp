#include "tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/cp932.h"

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
    return TlsFailure{kind, tarn::cp932::fromUtf8Named(message)};
}

// A certificate name in RFC 2253 form, non-ASCII escaped, so that it fits a log line.
std::string nameText(const X509_NAME* name) {
    if (name == nullptr) {
        return "?";
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        return "?";
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string("?");
}

// The DNS names and addresses a certificate is for (its subjectAltName).
std::string altNames(X509* cert) {
    std::string out;
    auto* names =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (names == nullptr) {
        return out;
    }
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* n = sk_GENERAL_NAME_value(names, i);
        std::string one;
        if (n->type == GEN_DNS) {
            const ASN1_STRING* s = n->d.dNSName;
            one.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                       static_cast<std::size_t>(ASN1_STRING_length(s)));
        } else if (n->type == GEN_IPADD) {
            const ASN1_STRING* s = n->d.iPAddress;
            std::array<char, INET6_ADDRSTRLEN> text{};
            const int family = ASN1_STRING_length(s) == 4 ? AF_INET : AF_INET6;
            if (inet_ntop(family, ASN1_STRING_get0_data(s), text.data(), text.size()) != nullptr) {
                one = text.data();
            }
        }
        if (!one.empty()) {
            out += (out.empty() ? "" : ", ") + one;
        }
    }
    GENERAL_NAMES_free(names);
    return out;
}

// What the person needs to see about the server's certificate when it is
// refused: whom it is for and who signed it.
std::string describeCertificate(X509* cert) {
    std::string names = altNames(cert);
    return "。証明書: " + nameText(X509_get_subject_name(cert)) +
           (names.empty() ? std::string() : " (名前: " + names + ")") +
           "、発行者: " + nameText(X509_get_issuer_name(cert));
}

// Verification calls this for every certificate of the chain; the server's
// own (depth 0) is described for the message, since a refused handshake keeps
// no peer certificate. The verdict is OpenSSL's, unchanged.
int rememberServerCertificate(int ok, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* seen = ssl != nullptr ? static_cast<std::string*>(SSL_get_app_data(ssl)) : nullptr;
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    if (seen != nullptr && seen->empty() && cert != nullptr &&
        X509_STORE_CTX_get_error_depth(store) == 0) {
        *seen = describeCertificate(cert);
    }
    return ok;
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
        return fail(Kind::Handshake, "TLS を初期化できません (OpenSSL: " + takeSslError() + ")");
    }
    ERR_clear_error();
    CtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx || socketBioMethod() == nullptr) {
        return fail(Kind::Handshake, "TLS を初期化できません (OpenSSL: " + takeSslError() + ")");
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    // SMTP frames its own data, so a server that drops the connection without
    // a close_notify after QUIT is an ordinary end of stream, not an attack.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, rememberServerCertificate);
    // Channel::send promises POSIX semantics: a partial count, and a retry after
    // EAGAIN that may come from another buffer address with the rest of the data.
    SSL_CTX_set_mode(ctx.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
        takeSslError();  // no system store: an extra CA file may still do
    }
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr) != 1) {
        const int err = errno;
        std::string reason = takeSslError();
        struct stat st {};
        if (::stat(caFile.c_str(), &st) != 0) {
            reason = std::strerror(err == 0 ? ENOENT : err);
        }
        return fail(Kind::Certificate, "CA ファイル " + caFile + " を読めません (" + reason +
                                           ")。PEM 形式の CA 証明書のファイルを指定してください");
    }

    SslPtr ssl(SSL_new(ctx.get()));
    BIO* bio = ssl ? BIO_new(socketBioMethod()) : nullptr;
    if (bio == nullptr) {
        return fail(Kind::Handshake, "TLS を初期化できません (OpenSSL: " + takeSslError() + ")");
    }
    BIO_set_data(bio, &socket);
    SSL_set_bio(ssl.get(), bio, bio);  // the SSL owns the BIO from here
    SSL_set_hostflags(ssl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (isIpLiteral(host)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str()) != 1) {
            return fail(Kind::Handshake,
                        "TLS を初期化できません (OpenSSL: " + takeSslError() + ")");
        }
    } else if (SSL_set1_host(ssl.get(), host.c_str()) != 1 ||
               SSL_set_tlsext_host_name(ssl.get(), host.c_str()) != 1) {
        return fail(Kind::Handshake, "TLS を初期化できません (OpenSSL: " + takeSslError() + ")");
    }

    std::string serverCertificate;  // filled by rememberServerCertificate
    SSL_set_app_data(ssl.get(), &serverCertificate);
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
                    return fail(Kind::TimedOut,
                                "TLS の接続が時間内に終わりませんでした。接続先: " + host);
                case Socket::Wait::Stopped:
                    return fail(Kind::Stopped, "TLS の接続を中止しました");
                case Socket::Wait::Failed:
                    return fail(Kind::Handshake,
                                "TLS の接続に失敗しました (" +
                                    std::string(std::strerror(socket.lastError())) +
                                    ")。接続先: " + host);
            }
        }
        const long verify = SSL_get_verify_result(ssl.get());
        if (verify != X509_V_OK) {
            takeSslError();
            const std::string openssl =
                std::string(" (OpenSSL: ") + X509_verify_cert_error_string(verify) + ")";
            const std::string& certificate = serverCertificate;
            if (verify == X509_V_ERR_HOSTNAME_MISMATCH ||
                verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
                return fail(Kind::Certificate, "サーバ証明書の名前が接続先 " + host +
                                                   " と一致しません" + openssl + certificate);
            }
            return fail(Kind::Certificate,
                        "サーバ証明書を信頼できません" + openssl + "。接続先: " + host +
                            certificate +
                            (caFile.empty() ? std::string("。社内の認証局の証明書なら CA "
                                                          "ファイルを指定してください")
                                            : "。CA ファイル: " + caFile));
        }
        std::string reason = takeSslError();
        if (reason.empty()) {
            reason = errno != 0 ? std::string(std::strerror(errno))
                                : std::string("サーバが接続を閉じました");
        }
        return fail(Kind::Handshake,
                    "TLS の接続に失敗しました (OpenSSL: " + reason + ")。接続先: " + host);
    }
    socket.setChannel(std::make_unique<TlsChannel>(std::move(ssl)));
    return std::nullopt;
}

}  // namespace zeph

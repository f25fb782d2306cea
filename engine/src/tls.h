// TLS for the SMTP connection (OpenSSL): a handshake on an already connected
// socket, after which a TlsChannel carries the session's bytes. The server's
// certificate chain is verified against the system's CA store (and an optional
// extra CA file for private servers) and must name the host we connected to.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "socket.h"

namespace zeph {

// Per connection: 0 plain SMTP (the default), 1 STARTTLS after the first EHLO,
// 2 TLS from the first byte (SMTPS, usually port 465).
enum class TlsMode : int { None = 0, StartTls = 1, Implicit = 2 };

struct TlsFailure {
    enum class Kind { Handshake, Certificate, TimedOut, Stopped };
    Kind kind;
    // Shift_JIS, one line, for the reply text and so for logs and boxes: which
    // failure, OpenSSL's reason, and the names involved (the host, the
    // certificate's subject, names and issuer, the CA file); never a secret.
    std::string message;
};

// Runs the client handshake over socket's descriptor, bounded by limit and ended
// early by stop; on success installs a TlsChannel in the socket. host is what the
// certificate must name (a DNS name, or an IPv4/IPv6 literal matched against the
// certificate's IP addresses). An empty caFile adds nothing to the system store.
std::optional<TlsFailure> startTls(Socket& socket, const std::string& host,
                                   const std::string& caFile, std::chrono::milliseconds limit,
                                   const StopSignal* stop);

}  // namespace zeph

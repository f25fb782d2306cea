// SMTP AUTH inside the start job, right after an accepted EHLO reply: the
// method choice and the PLAIN (RFC 4616), LOGIN and CRAM-MD5 (RFC 2195)
// exchanges. The password only ever goes into the base64 payloads.
#include <string>

#include "codec.h"
#include "dialogue.h"
#include "sasl.h"

namespace zeph {
namespace {

enum Method { kNone = 0, kPlain = 1, kLogin = 2, kCramMd5 = 3 };

// CRAM-MD5 over LOGIN over PLAIN, from the mechanisms after the "AUTH" keyword.
Method offeredMethod(const std::string& ehloReply) {
    std::size_t pos = ehloReply.find("AUTH");
    if (pos == std::string::npos || pos + 5 > ehloReply.size()) {
        return kNone;
    }
    std::string_view rest = std::string_view(ehloReply).substr(pos + 5);
    if (rest.find("CRAM-MD5") != std::string_view::npos) {
        return kCramMd5;
    }
    if (rest.find("LOGIN") != std::string_view::npos) {
        return kLogin;
    }
    if (rest.find("PLAIN") != std::string_view::npos) {
        return kPlain;
    }
    return kNone;
}

std::string base64Line(std::string_view bytes) {
    return base64Encode(bytes) + "\r\n";
}

}  // namespace

bool SmtpDialogue::authenticate(const std::string& ehloReply) {
    const int mode = m_settings.authMode;
    const int method = m_settings.authMethod;
    const std::string& user = m_settings.authUser;
    Method chosen = (method >= kPlain && method <= kCramMd5) ? static_cast<Method>(method)
                                                             : offeredMethod(ehloReply);
    if (mode == -101) {
        chosen = kPlain;
    } else if (mode == -102) {
        chosen = kLogin;
    } else if (mode == -104) {
        chosen = kCramMd5;
    }

    bool ok = true;
    switch (chosen) {
        case kNone:
            break;  // nothing we know is offered: go on unauthenticated
        case kPlain:
            ok = m_io.expectReply(
                "AUTH PLAIN " + authPlainPayload(user, m_settings.authPassword) + "\r\n", 235);
            break;
        case kLogin:
            // The challenges ("Username:", "Password:") carry nothing we need.
            ok = m_io.expectReply("AUTH LOGIN\r\n", 334) &&
                 m_io.expectReply(base64Line(user), 334) &&
                 m_io.expectReply(base64Line(m_settings.authPassword), 235);
            break;
        case kCramMd5: {
            ok = m_io.expectReply("AUTH CRAM-MD5\r\n", 334);
            if (ok) {
                const std::string challenge = decodeChallenge(m_io.replyText());
                ok = m_io.expectReply(
                    cramMd5Response(user, m_settings.authPassword, challenge) + "\r\n", 235);
            }
            break;
        }
    }
    return ok;
}

}  // namespace zeph

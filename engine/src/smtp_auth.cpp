// SMTP AUTH inside the start job, right after an accepted EHLO reply: the
// method choice and the PLAIN (RFC 4616), LOGIN and CRAM-MD5 (RFC 2195)
// exchanges. The password only ever goes into the base64 payloads.
#include <string>

#include "codec.h"
#include "engine.h"
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

bool MailEngine::authenticate(const std::string& ehloReply) {
    int mode = 0;
    int method = 0;
    std::string user;
    std::string password;
    {
        std::lock_guard lock(m_settingsMutex);
        mode = m_authMode;
        method = m_authMethod;
        user = m_authUser;
        password = m_authPassword;
    }
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
            ok = expectReply("AUTH PLAIN " + authPlainPayload(user, password) + "\r\n", 235);
            break;
        case kLogin:
            // The challenges ("Username:", "Password:") carry nothing we need.
            ok = expectReply("AUTH LOGIN\r\n", 334) && expectReply(base64Line(user), 334) &&
                 expectReply(base64Line(password), 235);
            break;
        case kCramMd5: {
            ok = expectReply("AUTH CRAM-MD5\r\n", 334);
            if (ok) {
                std::string challenge;
                {
                    std::lock_guard lock(m_replyMutex);
                    challenge = decodeChallenge(m_reply.text());
                }
                ok = expectReply(cramMd5Response(user, password, challenge) + "\r\n", 235);
            }
            break;
        }
    }
    std::fill(password.begin(), password.end(), '\0');
    return ok;
}

}  // namespace zeph

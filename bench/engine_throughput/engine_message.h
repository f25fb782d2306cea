// The synthetic message of the rows that drive the engine's C++ class.
#pragma once

#include "engine.h"
#include "payload.h"

namespace bench {

inline zeph::Message messageTo(int i, const std::string& body) {
    zeph::Message m;
    m.setDefaultHeader();
    m.setHeader("To", payloadRecipient(i));
    m.setHeader("From", kPayloadFrom);
    m.setHeader("Subject", kPayloadSubject);
    m.setMessageId(nullptr);
    m.setBody(body.c_str());
    return m;
}

}  // namespace bench

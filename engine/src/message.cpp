// First cut: headers and body go out unconverted. The Japanese conversion and
// the MIME structure replace this writer.
#include "message.h"

#include <ctime>

#include "common/sjis.h"

namespace zeph {
namespace {
std::string_view firstWord(std::string_view name) {
    std::size_t end = name.find_first_of(" \t:");
    return end == std::string_view::npos ? name : name.substr(0, end);
}
}  // namespace

void Message::setHeader(std::string_view name, const char* value) {
    std::string v = value != nullptr ? value : "";
    for (auto& [n, val] : m_headers) {
        if (tarn::sjis::equalsIgnoreCase(firstWord(n), firstWord(name))) {
            val = std::move(v);
            return;
        }
    }
    m_headers.emplace_back(std::string(name), std::move(v));
}

const std::string* Message::findHeader(std::string_view name) const {
    for (const auto& [n, val] : m_headers) {
        if (tarn::sjis::equalsIgnoreCase(firstWord(n), firstWord(name))) {
            return &val;
        }
    }
    return nullptr;
}

void Message::setDefaultHeader() {
    setHeader("To", "");
    setHeader("From", "");
    setDateNow();
    setHeader("Subject", "");
    setHeader("MIME-Version", "1.0");
    setHeader("Content-Type", "text/plain; charset=iso-2022-jp");
    setHeader("Content-Transfer-Encoding", "7bit");
    setHeader("X-Mailer", "TARN01 Version 2.01");
}

void Message::setDateNow() {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %02d %02d:%02d:%02d %s", kDays[t.tm_wday], t.tm_mday,
                  kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, "+0900");
    setHeader("Date", buf);
}

void Message::setMessageId(const char* /*domainSource*/) {}

int Message::loadCustomHeader(const char* /*path*/) { return 0; }

void Message::clearCustomHeader() {
    m_headers.clear();
    m_customLines.clear();
}

bool Message::setBody(const char* text) {
    m_body.clear();
    return addBody(text);
}

bool Message::addBody(const char* text) {
    m_body.emplace_back(text != nullptr ? text : "");
    return true;
}

int Message::setAttach(const char* list, int* lastError) {
    m_attachments.clear();
    return addAttach(list, lastError);
}

int Message::addAttach(const char* /*list*/, int* lastError) {
    *lastError = -6;
    return 0;
}

int Message::setEncodeType(int type) {
    if (type != 0 && type != 1) {
        return 0;
    }
    m_encodeType = type;
    return 1;
}

bool Message::write(ByteSink& sink) {
    for (const auto& [n, v] : m_headers) {
        if (n.empty() || v.empty() || tarn::sjis::equalsIgnoreCase(n, "Bcc")) {
            continue;
        }
        if (!sink.send(n + ": " + v + "\r\n")) {
            return false;
        }
    }
    if (!sink.send("\r\n")) {
        return false;
    }
    for (const auto& chunk : m_body) {
        if (!sink.send(chunk)) {
            return false;
        }
    }
    return sink.send("\r\n");
}

}  // namespace zeph

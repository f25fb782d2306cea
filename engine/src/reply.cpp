#include "reply.h"

namespace zeph {

int replyCodeOf(std::string_view text) {
    int code = 0;
    for (std::size_t i = 0; i < text.size() && i < 9; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') {
            break;
        }
        code = code * 10 + (c - '0');
    }
    return code;
}

void ReplyReader::begin() {
    m_code = 0;
    m_first = true;
}

void ReplyReader::setText(std::string text) {
    if (text.size() > kChunkSize) {
        text.resize(kChunkSize);
    }
    m_text = std::move(text);
}

ReplyReader::Step ReplyReader::feed(std::string_view chunk) {
    if (m_first) {
        m_text.assign(chunk.substr(0, kChunkSize));
        m_first = false;
    } else {
        if (m_text.size() + chunk.size() > kChunkSize) {
            return Step::Overflow;
        }
        m_text.append(chunk);
    }
    // Read from the joined text, so that a code split over two chunks ("25",
    // "0 OK") is still read whole.
    m_code = replyCodeOf(m_text);
    if (m_text.empty() || m_text.back() != '\n') {
        return Step::More;
    }
    std::size_t lineStart = 0;
    if (m_text.size() >= 2) {
        std::size_t prevEnd = m_text.rfind('\n', m_text.size() - 2);
        lineStart = prevEnd == std::string::npos ? 0 : prevEnd + 1;
    }
    std::string_view lastLine = std::string_view(m_text).substr(lineStart);
    if (lastLine.size() > 3 && lastLine[3] == '-') {
        return Step::More;
    }
    return isErrorCode() ? Step::ErrorReply : Step::Complete;
}

}  // namespace zeph

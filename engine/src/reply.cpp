#include "reply.h"

namespace zeph {
namespace {

// Where the first reply in `bytes` ends (just past its last line's LF), or
// npos while its last line has not arrived.
std::size_t replyEnd(std::string_view bytes) {
    std::size_t lineStart = 0;
    for (;;) {
        std::size_t lf = bytes.find('\n', lineStart);
        if (lf == std::string_view::npos) {
            return std::string_view::npos;
        }
        std::string_view line = bytes.substr(lineStart, lf + 1 - lineStart);
        if (line.size() <= 3 || line[3] != '-') {
            return lf + 1;
        }
        lineStart = lf + 1;
    }
}

}  // namespace

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
    m_text.clear();
}

ReplyReader::Step ReplyReader::feed(std::string_view chunk) {
    m_buffer.append(chunk);
    return next();
}

ReplyReader::Step ReplyReader::next() {
    const std::size_t end = replyEnd(m_buffer);
    const std::size_t length = end == std::string::npos ? m_buffer.size() : end;
    if (length > kChunkSize) {
        // The stream cannot be followed past a reply we refused to hold.
        m_buffer.clear();
        return Step::Overflow;
    }
    m_text.assign(m_buffer, 0, length);
    // Read from the joined text, so that a code split over two chunks ("25",
    // "0 OK") is still read whole.
    m_code = replyCodeOf(m_text);
    if (end == std::string::npos) {
        return Step::More;
    }
    m_buffer.erase(0, end);
    return isErrorCode() ? Step::ErrorReply : Step::Complete;
}

}  // namespace zeph

// Assembles one SMTP reply from the chunks that recv() hands over, with no
// socket in sight, so that the rules can be tested and fuzzed on their own.
//
// A reply is complete when the text ends a line and that last line is not a
// continuation line ("250-..."): a multi-line reply is read to its last line
// however the server splits it, so no line is left over to be taken for the
// reply to the next command. The text is held within the engine's fixed
// 2048-byte reply buffer (terminator included); a reply that would outgrow it
// fails, which bounds what a hostile server can make us hold.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeph {

class ReplyReader {
public:
    static constexpr std::size_t kBufferSize = 2048;  // terminator included
    static constexpr std::size_t kChunkSize = kBufferSize - 1;

    enum class Step {
        More,        // the reply goes on: read another chunk
        Complete,    // a whole reply is in text()
        ErrorReply,  // complete, with a code of 400 or more other than 501
        Overflow,    // the joined text would not fit the buffer
    };

    // Starts a new reply: the code is cleared and the next chunk replaces the
    // text (which until then still holds the previous reply).
    void begin();
    Step feed(std::string_view chunk);

    int code() const { return m_code; }
    // 400 or more and not 501: the server refused. Also true of a reply cut
    // short, so that a refusal followed by a hang-up is still reported as one.
    bool isErrorCode() const { return m_code >= 400 && m_code != 501; }
    const std::string& text() const { return m_text; }
    // Replaces the text (the start job's "ABNORMAL CMD" rewrite).
    void setText(std::string text);

private:
    std::string m_text;
    int m_code = 0;
    bool m_first = true;
};

// The decimal number at the start of text (0 if none), read from at most 9
// digits so that no input can overflow it.
int replyCodeOf(std::string_view text);

}  // namespace zeph

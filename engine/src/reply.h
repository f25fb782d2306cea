// Takes SMTP replies one at a time out of the bytes that recv() hands over,
// with no socket in sight, so that the rules can be tested and fuzzed on
// their own.
//
// A reply ends with a line that is not a continuation line ("250-..."): a
// multi-line reply is read to its last line however the server splits it.
// Bytes received beyond the end of a reply stay buffered and begin the next
// one: with PIPELINING several replies arrive in one chunk, and each belongs
// to its own command. A reply is held within the engine's fixed 2048-byte
// reply buffer (terminator included); one that would outgrow it fails, which
// bounds what a hostile server can make us hold.
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
        Overflow,    // the reply would not fit the buffer
    };

    // Starts the next reply: the code and text are cleared, and bytes already
    // received beyond the previous reply begin it (see next()).
    void begin();
    // Takes the reply from what is buffered, without new bytes.
    Step next();
    // Adds received bytes, then as next().
    Step feed(std::string_view chunk);

    int code() const { return m_code; }
    // 400 or more and not 501: the server refused. Also true of a reply cut
    // short, so that a refusal followed by a hang-up is still reported as one.
    bool isErrorCode() const { return m_code >= 400 && m_code != 501; }
    // The reply so far: whole once complete, else the part received. On
    // overflow it keeps what it held before the chunk that overflowed.
    const std::string& text() const { return m_text; }

    // Bytes received beyond the current reply.
    bool hasUnread() const { return !m_buffer.empty(); }
    // Drops them: a server that talks out of turn (before a TLS handshake, or
    // in lock-step after its reply) must not answer a later command.
    void discardUnread() { m_buffer.clear(); }

private:
    std::string m_buffer;  // received and not yet part of a finished reply
    std::string m_text;
    int m_code = 0;
};

// The decimal number at the start of text (0 if none), read from at most 9
// digits so that no input can overflow it.
int replyCodeOf(std::string_view text);

}  // namespace zeph

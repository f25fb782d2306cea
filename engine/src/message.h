// The message under composition: header table, body chunks, attachment list,
// custom header lines, encode type, and the writer of everything that follows
// DATA (header block, blank line, body, attachments).
//
// The session code (smtp_*) only calls this interface; the writer sends through
// a ByteSink so that the same code both transmits and, in measure-only mode,
// counts a message. The writer streams: it never holds more than one converted
// body chunk or one block of an attachment, so sizing a message with a large
// attachment costs no more memory than a small one.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jis.h"

namespace zeph {

// Where composed bytes go. send() returns false to end the message at once
// (a socket failure or a stop); the writer then returns false too.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool send(std::string_view bytes) = 0;
};

class Message {
public:
    // Header table: names match on their first word (up to space, tab or colon),
    // ignoring case; setting replaces the first match in place or appends. A
    // null value is stored as empty. CR and LF in a name or value are stored as
    // spaces: a recipient field or merged subject must never start a header
    // line of its own (or an SMTP command).
    void setHeader(std::string_view name, const char* value);
    void setHeader(std::string_view name, std::string_view value);
    // The value of the first matching entry, or nullptr.
    const std::string* findHeader(std::string_view name) const;
    const std::vector<std::pair<std::string, std::string>>& headers() const { return m_headers; }

    void setDefaultHeader();
    // Sets "Date" to now (used by the send job when the table has none).
    void setDateNow();
    void setMessageId(const char* domainSource);

    // 1 read, 0 empty path or not opened (previous lines kept).
    int loadCustomHeader(const char* path);
    // Empties the header table and the custom header lines.
    void clearCustomHeader();
    const std::vector<std::string>& customHeaderLines() const { return m_customLines; }

    // False only when memory ran out.
    bool setBody(const char* text);
    bool addBody(const char* text);

    // Returns 1 when every named file exists; 0 otherwise, and then *lastError = -6.
    int setAttach(const char* list, int* lastError);
    int addAttach(const char* list, int* lastError);
    const std::vector<std::string>& attachments() const { return m_attachments; }

    // 1 when type is 0 (base64) or 1 (x-uuencode); 0 and unchanged otherwise.
    int setEncodeType(int type);
    int encodeType() const { return m_encodeType; }

    // Writes header block, "\r\n", body and attachments through sink. False when
    // the sink refused bytes, an attachment path is too long (checked before
    // anything is written) or an attachment could not be read to its end.
    bool write(ByteSink& sink);

    // Attachment paths of this many bytes or more fail the send.
    static constexpr std::size_t kMaxAttachmentPath = 2024;

private:
    std::string makeBoundary();
    bool writeHeaderBlock(ByteSink& sink);
    bool writeAttachment(ByteSink& sink, const std::string& path, std::string_view delimiter);

    std::vector<std::pair<std::string, std::string>> m_headers;
    std::vector<std::string> m_body;
    std::vector<std::string> m_attachments;
    std::vector<std::string> m_customLines;
    int m_encodeType = 0;
    bool m_lineStart = true;  // dot-stuffing state carried across converted strings
    // Never seeded from the clock: every process draws the same boundaries,
    // which keeps message sizes and test transcripts reproducible.
    std::minstd_rand m_random{1};
    jis::Converter m_converter;
    std::string m_line;   // one header line before conversion
    std::string m_block;  // encoded attachment lines waiting to be sent
};

}  // namespace zeph

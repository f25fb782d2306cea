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

// The character set of sent mail (the setting's values).
enum CharsetMode : int {
    kCharsetIso2022Jp = 0,  // as designed: every message in ISO-2022-JP
    kCharsetAutomatic = 1,  // ISO-2022-JP unless the message holds an extension character
    kCharsetUtf8 = 2,       // every message in UTF-8
};

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

    // The standard headers in their order (To, From, Date, Subject,
    // MIME-Version, Content-Type, Content-Transfer-Encoding, X-Mailer); then,
    // when a custom header file is loaded, its lines add or replace headers,
    // except the MIME structure headers, which the writer sets to match the
    // message.
    void setDefaultHeader();
    // Sets "Date" to now (used by the send job when the table has none).
    void setDateNow();
    // "<MMDDYYYhhmmss.counter.token@domain>": the counter runs in this
    // process, the token (random, drawn once per process) keeps Message-Ids of
    // processes started in the same second, here or on another machine,
    // apart. The domain is the text after the last "@" of domainSource when
    // that is a domain name of 3 to 100 bytes; else that of the From address;
    // else the machine's fully qualified name; else its host name; else "ukh".
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

    // 1 for a CharsetMode value; 0 and unchanged otherwise.
    int setCharsetMode(int mode);
    int charsetMode() const { return m_charsetMode; }
    // Whether the next message goes out in UTF-8 (the mode, and for the
    // automatic mode whether any header, the body or a file name holds a
    // character that only readers with the Microsoft extensions show).
    bool sendsUtf8() const;

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
    bool writeHeaderBlock(ByteSink& sink, bool utf8);
    bool writeBody(ByteSink& sink, bool utf8);
    bool writeAttachment(ByteSink& sink, const std::string& path, std::string_view delimiter,
                         bool utf8);
    // A header line or file name in UTF-8 form.
    std::string utf8Text(std::string_view sjis);

    std::vector<std::pair<std::string, std::string>> m_headers;
    std::vector<std::string> m_body;
    bool m_bodyEndsInCr = false;  // the last chunk ended with a CR (already made CR LF)
    std::vector<std::string> m_attachments;
    std::vector<std::string> m_customLines;
    int m_encodeType = 0;
    int m_charsetMode = kCharsetIso2022Jp;
    // Dot-stuffing and line length state carried across converted strings.
    jis::LinePosition m_position;
    // Never seeded from the clock: every process draws the same boundaries,
    // which keeps message sizes and test transcripts reproducible.
    std::minstd_rand m_random{1};
    jis::Converter m_converter;
    std::string m_line;   // one header line before conversion
    std::string m_block;  // encoded attachment lines waiting to be sent
    std::string m_words;  // a header line in UTF-8 form
};

}  // namespace zeph

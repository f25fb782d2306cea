#include "message.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <new>
#include <optional>

#include "codec.h"
#include "common/cp932.h"
#include "common/files.h"
#include "common/host_name.h"
#include "common/iso2022jp.h"
#include "common/sjis.h"
#include "media_types.h"
#include "utf8_mail.h"

namespace zeph {
namespace {

// Process-wide, so that Message-Ids made in the same second still differ.
std::atomic<unsigned long> g_messageIdCounter{1507406};

// Drawn once per process, so that two processes started in the same second
// (here or on another machine) never make the same Message-Id: the counter
// starts at the same number in each of them.
const std::string& processToken() {
    static const std::string token = [] {
        std::uint64_t random = 0;
        if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            // No entropy yet (early boot): the clock and the process id still
            // tell two processes apart.
            random = static_cast<std::uint64_t>(std::time(nullptr)) << 32 ^
                     static_cast<std::uint64_t>(::getpid());
        }
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random));
        return std::string(text);
    }();
    return token;
}

// The headers that describe the MIME structure: the writer sets them to match
// the message, whatever a custom header file says.
bool isStructureHeader(std::string_view name);

// The longest attachment name sent whole in one RFC 2231 value; longer ones are
// split into numbered sections, so that no header line grows past what older
// readers take.
constexpr std::size_t kMaxParameterSection = 56;

// The zone text of every Date header. The fields are Japan Standard Time
// whatever the machine's zone, so that the header is right wherever it runs.
constexpr std::string_view kZoneText = "+0900";
constexpr std::time_t kZoneOffsetSeconds = std::time_t{9} * 3600;

constexpr std::string_view kBoundaryPrefix = "====_360811.";
constexpr std::string_view kBoundaryAlphabet =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::size_t kBoundaryRandomChars = 20;
constexpr std::string_view kMixedSuffix = "_MP_MIXED";

constexpr std::size_t kCustomHeaderFileLimit = std::size_t{4} << 20;
// 1024 lines of 51 bytes (base64) or 45 bytes (x-uuencode) per read.
constexpr std::size_t kLinesPerBlock = 1024;
constexpr std::size_t kBase64LineBytes = 51;

std::string_view firstWord(std::string_view name) {
    std::size_t end = name.find_first_of(" \t:");
    return end == std::string_view::npos ? name : name.substr(0, end);
}

bool sameHeaderName(std::string_view a, std::string_view b) {
    return tarn::sjis::equalsIgnoreCase(firstWord(a), firstWord(b));
}

bool isStructureHeader(std::string_view name) {
    return sameHeaderName(name, "MIME-Version") || sameHeaderName(name, "Content-Type") ||
           sameHeaderName(name, "Content-Transfer-Encoding");
}

// Trail bytes of Shift_JIS are 0x40 or more, so replacing CR and LF byte by byte
// never touches a double-byte character.
std::string withoutLineBreaks(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return out;
}

std::string_view trimSpace(std::string_view s) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    std::size_t first = s.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = s.find_last_not_of(kSpace);
    return s.substr(first, last - first + 1);
}

// Paths arrive as Shift_JIS; file names on this system are UTF-8. A path that
// is not valid Shift_JIS is tried as the bytes it is.
class InputFile {
public:
    explicit InputFile(const std::string& sjisPath) {
        auto utf8 = tarn::cp932::toUtf8(sjisPath);
        if (utf8.ok() && *utf8 != sjisPath) {
            open(*utf8);
        }
        if (m_fd < 0) {
            open(sjisPath);
        }
    }
    ~InputFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Fills buf with up to `want` bytes, short only at the end of the file as
    // it was when opened (a file that grows meanwhile is not followed).
    // Returns the count, or -1 on a read error.
    long long read(std::string& buf, std::size_t want) {
        buf.resize(static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(want), m_remaining)));
        std::size_t got = 0;
        while (got < buf.size()) {
            ssize_t n = ::read(m_fd, buf.data() + got, buf.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return -1;
            }
            if (n == 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        buf.resize(got);
        m_remaining -= static_cast<long long>(got);
        return static_cast<long long>(got);
    }

private:
    // Only regular files: a directory, a FIFO or a device (an endless
    // /dev/zero) counts as a file that cannot be opened.
    void open(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return;
        }
        m_fd = fd;
        m_remaining = st.st_size;
    }

    int m_fd = -1;
    long long m_remaining = 0;
};

// Text after the last "/" (the whole path when there is none), with line
// breaks blanked: a quoted name in the attachment list may hold them, and the
// name goes into header lines.
std::string displayName(const std::string& path) {
    std::size_t slash = tarn::sjis::rfind(path, '/');
    return withoutLineBreaks(slash == std::string::npos ? std::string_view(path)
                                                        : std::string_view(path).substr(slash + 1));
}

bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           tarn::sjis::equalsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

// Whether the text holds a character that only readers with the Microsoft
// extensions show.
bool hasExtensionCharacter(std::string_view sjis) {
    for (std::size_t i = 0; i < sjis.size();) {
        if (static_cast<unsigned char>(sjis[i]) < 0x80) {
            ++i;
            continue;
        }
        const auto info = tarn::iso2022jp::charAt(sjis, i);
        if (info.kind == tarn::iso2022jp::CharKind::kExtension) {
            return true;
        }
        i += info.length;
    }
    return false;
}

// RFC 5322 2.1.1: a header line over 998 bytes is folded before white space
// (or, in a word that long, anywhere) so that no relay has to cut it.
void foldLongLines(std::string& wire) {
    std::size_t lineBegin = 0;
    while (lineBegin < wire.size()) {
        std::size_t lineEnd = wire.find("\r\n", lineBegin);
        lineEnd = lineEnd == std::string::npos ? wire.size() : lineEnd;
        if (lineEnd - lineBegin <= jis::kMaxLineBytes) {
            lineBegin = lineEnd + 2;
            continue;
        }
        const std::size_t limit = lineBegin + jis::kMaxLineBytes;
        std::size_t cut = wire.find_last_of(" \t", limit - 1);
        if (cut == std::string::npos || cut <= lineBegin) {
            wire.insert(limit - 1, "\r\n ");
            lineBegin = limit + 1;
        } else {
            wire.insert(cut, "\r\n");
            lineBegin = cut + 2;
        }
    }
}

// A quoted-string of printable ASCII, or nothing when the name needs more.
std::optional<std::string> quotedAscii(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x7F || (u < 0x20 && c != '\t')) {
            return std::nullopt;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// `attribute*=UTF-8''value`, or its numbered sections when the value is long
// (RFC 2231 3, 4), each on a line of its own after "; ".
std::string rfc2231Parameter(std::string_view attribute, std::string_view utf8) {
    const std::string value = utf8::percentEncode(utf8);
    std::string out;
    if (value.size() <= kMaxParameterSection) {
        return ";\r\n " + std::string(attribute) + "*=UTF-8''" + value;
    }
    int section = 0;
    for (std::size_t pos = 0; pos < value.size(); ++section) {
        std::size_t cut = std::min(value.size(), pos + kMaxParameterSection);
        // Never between the two digits of a %XX.
        if (cut < value.size()) {
            if (value[cut - 1] == '%') {
                cut -= 1;
            } else if (cut >= 2 && value[cut - 2] == '%') {
                cut -= 2;
            }
        }
        out += ";\r\n " + std::string(attribute) + "*" + std::to_string(section) + "*=";
        out += section == 0 ? "UTF-8''" : "";
        out.append(value, pos, cut - pos);
        pos = cut;
    }
    return out;
}

// The charset parameter of a text attachment, read from its first bytes:
// none for ASCII, then ISO-2022-JP, UTF-8 or Shift_JIS as the bytes show;
// none when they fit no such reading.
std::string textCharset(std::string_view head) {
    if (std::all_of(head.begin(), head.end(),
                    [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; })) {
        return head.find("\x1B$B") != std::string_view::npos ? "ISO-2022-JP" : "";
    }
    // A sequence cut off by the end of the sample still counts as UTF-8.
    std::size_t i = 0;
    bool utf8 = true;
    while (i < head.size() && utf8) {
        const auto c = static_cast<unsigned char>(head[i]);
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        utf8 = n != 0 && (n == 1 || c >= 0xC2);
        for (std::size_t k = 1; utf8 && k < n && i + k < head.size(); ++k) {
            utf8 = (static_cast<unsigned char>(head[i + k]) & 0xC0) == 0x80;
        }
        i += std::max<std::size_t>(n, 1);
    }
    if (utf8) {
        return "UTF-8";
    }
    for (i = 0; i < head.size();) {
        const auto info = tarn::iso2022jp::charAt(head, i);
        const bool cutOff = info.kind == tarn::iso2022jp::CharKind::kNoCode && i + 1 == head.size();
        if (info.kind == tarn::iso2022jp::CharKind::kNoCode && !cutOff) {
            return "";
        }
        i += info.length;
    }
    return "Shift_JIS";
}

}  // namespace

void Message::setHeader(std::string_view name, const char* value) {
    setHeader(name, std::string_view(value != nullptr ? value : ""));
}

void Message::setHeader(std::string_view name, std::string_view value) {
    std::string v = withoutLineBreaks(value);
    for (auto& [n, val] : m_headers) {
        if (sameHeaderName(n, name)) {
            val = std::move(v);
            return;
        }
    }
    m_headers.emplace_back(withoutLineBreaks(name), std::move(v));
}

const std::string* Message::findHeader(std::string_view name) const {
    for (const auto& [n, val] : m_headers) {
        if (sameHeaderName(n, name)) {
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
    if (m_customLines.empty()) {
        return;
    }
    for (const std::string& line : m_customLines) {
        std::size_t colon = tarn::sjis::find(line, ':');
        std::string_view text = line;
        std::string_view name =
            trimSpace(colon == std::string::npos ? text : text.substr(0, colon));
        if (isStructureHeader(name)) {
            continue;  // set by the writer to match the message
        }
        setHeader(name, colon == std::string::npos ? std::string_view()
                                                   : trimSpace(text.substr(colon + 1)));
    }
    setDateNow();
}

void Message::setDateNow() {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t shifted = std::time(nullptr) + kZoneOffsetSeconds;
    std::tm t{};
    gmtime_r(&shifted, &t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %.*s", kDays[t.tm_wday],
                  t.tm_mday, kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(kZoneText.size()), kZoneText.data());
    setHeader("Date", buf);
}

void Message::setMessageId(const char* domainSource) {
    std::string domain;
    if (domainSource != nullptr) {
        std::string_view source = domainSource;
        std::size_t at = tarn::sjis::rfind(source, '@');
        std::string_view candidate = at == std::string_view::npos ? source : source.substr(at + 1);
        if (candidate.size() >= 3 && candidate.size() <= 100 && tarn::isDomainName(candidate)) {
            domain = candidate;
        }
    }
    if (const std::string* from = findHeader("From"); domain.empty() && from != nullptr) {
        domain = tarn::addressDomain(*from);
    }
    if (domain.empty()) {
        domain = tarn::fullyQualifiedHostName();
    }
    if (domain.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0) {
            domain = host;
        }
    }
    if (domain.empty()) {
        domain = "ukh";
    }
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "<%02d%02d%02d%02d%02d%02d.%lu.", t.tm_mon + 1, t.tm_mday,
                  t.tm_year, t.tm_hour, t.tm_min, t.tm_sec, g_messageIdCounter.fetch_add(1));
    setHeader("Message-Id", std::string(stamp) + processToken() + "@" + domain + ">");
}

int Message::loadCustomHeader(const char* path) {
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    InputFile probe(path);
    if (!probe.isOpen()) {
        return 0;
    }
    std::string bytes;
    // A custom header file is a few lines; anything past the limit is not one.
    long long got = probe.read(bytes, kCustomHeaderFileLimit + 1);
    if (got < 0 || static_cast<std::size_t>(got) > kCustomHeaderFileLimit) {
        return 0;
    }
    m_customLines = tarn::splitLineList(bytes);
    return 1;
}

void Message::clearCustomHeader() {
    m_headers.clear();
    m_customLines.clear();
}

bool Message::setBody(const char* text) {
    m_body.clear();
    m_bodyEndsInCr = false;
    return addBody(text);
}

bool Message::addBody(const char* text) {
    // RFC 5321 2.3.8: inside DATA, CR and LF travel only as the pair CR LF. A
    // bare one (a merge value typed elsewhere, a script's output) becomes a
    // line end; an LF that completes a CR ending the previous chunk is that
    // pair's second half. (Neither byte occurs inside a double-byte character.)
    std::string_view in = text != nullptr ? text : "";
    try {
        std::string chunk;
        chunk.reserve(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const char c = in[i];
            if (c == '\n' && i == 0 && m_bodyEndsInCr) {
                continue;
            }
            if (c == '\r') {
                chunk += "\r\n";
                if (i + 1 < in.size() && in[i + 1] == '\n') {
                    ++i;
                }
            } else if (c == '\n') {
                chunk += "\r\n";
            } else {
                chunk += c;
            }
        }
        m_body.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!in.empty()) {
        m_bodyEndsInCr = in.back() == '\r';
    }
    return true;
}

int Message::setAttach(const char* list, int* lastError) {
    m_attachments.clear();
    return addAttach(list, lastError);
}

int Message::addAttach(const char* list, int* lastError) {
    std::string_view text = list != nullptr ? list : "";
    if (text.empty()) {
        *lastError = -6;
        return 0;
    }
    // Mark up a working copy: quotes toggle a quoted state and become spaces,
    // every byte inside quotes becomes '#' (so quoted names keep their spaces,
    // commas and semicolons). Trail bytes are skipped, never taken for a quote.
    std::string work(text);
    bool quoted = false;
    for (std::size_t i = 0; i < work.size();) {
        const std::size_t length = tarn::sjis::charLength(work, i);
        if (work[i] == '"') {
            quoted = !quoted;
            work[i] = ' ';
        } else if (quoted) {
            work.replace(i, length, length, '#');
        }
        i += length;
    }
    auto isSeparator = [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == ',' || c == ';';
    };
    int result = 1;
    std::size_t i = 0;
    while (i < work.size()) {
        if (isSeparator(work[i])) {
            ++i;
            continue;
        }
        std::size_t start = i;
        while (i < work.size() && !isSeparator(work[i])) {
            ++i;
        }
        std::string name(text.substr(start, i - start));
        if (!InputFile(name).isOpen()) {
            result = 0;
            *lastError = -6;
        }
        m_attachments.push_back(std::move(name));
    }
    return result;
}

int Message::setEncodeType(int type) {
    if (type != 0 && type != 1) {
        return 0;
    }
    m_encodeType = type;
    return 1;
}

std::string Message::makeBoundary() {
    std::string boundary(kBoundaryPrefix);
    for (std::size_t i = 0; i < kBoundaryRandomChars; ++i) {
        boundary += kBoundaryAlphabet[m_random() % kBoundaryAlphabet.size()];
    }
    return boundary;
}

int Message::setCharsetMode(int mode) {
    if (mode != kCharsetIso2022Jp && mode != kCharsetAutomatic && mode != kCharsetUtf8) {
        return 0;
    }
    m_charsetMode = mode;
    return 1;
}

bool Message::sendsUtf8() const {
    if (m_charsetMode != kCharsetAutomatic) {
        return m_charsetMode == kCharsetUtf8;
    }
    for (const auto& [name, value] : m_headers) {
        if (!sameHeaderName(name, "Bcc") && hasExtensionCharacter(value)) {
            return true;
        }
    }
    for (const std::string& chunk : m_body) {
        if (hasExtensionCharacter(chunk)) {
            return true;
        }
    }
    return std::any_of(m_attachments.begin(), m_attachments.end(), [](const std::string& path) {
        return hasExtensionCharacter(displayName(path));
    });
}

std::string Message::utf8Text(std::string_view sjis) {
    return utf8::fromSjis(m_converter.widen(sjis));
}

bool Message::writeHeaderBlock(ByteSink& sink, bool utf8) {
    for (const auto& [name, value] : m_headers) {
        if (name.empty() || value.empty() || sameHeaderName(name, "Bcc")) {
            continue;
        }
        m_line.clear();
        m_line.append(name).append(": ").append(value).append("\r\n");
        const bool subject = startsWithIgnoreCase(name, "Subject");
        if (utf8) {
            const std::string line = utf8Text(m_line);
            // The prefix "name: " is ASCII, so its length is the same in UTF-8.
            if (subject) {
                utf8::encodeFoldedHeader(line, name.size() + 2, m_words);
            } else {
                utf8::encodePlainHeader(line, m_words);
            }
        } else {
            m_words = subject ? m_converter.foldedHeader(m_line, name.size() + 2, m_position)
                              : m_converter.plainHeader(m_line, m_position);
        }
        foldLongLines(m_words);
        if (!sink.send(m_words)) {
            return false;
        }
    }
    return sink.send("\r\n");
}

bool Message::writeBody(ByteSink& sink, bool utf8) {
    if (!utf8) {
        m_position = jis::LinePosition{};
        for (const std::string& chunk : m_body) {
            if (!sink.send(m_converter.text(chunk, m_position))) {
                return false;
            }
        }
        return true;
    }
    // Base64 groups run across chunk boundaries: the body is converted whole.
    std::string text;
    for (const std::string& chunk : m_body) {
        text += m_converter.widen(chunk);
    }
    m_block.clear();
    utf8::appendBase64Lines(utf8::canonicalLineEnds(utf8::fromSjis(text)), m_block);
    return sink.send(m_block);
}

bool Message::write(ByteSink& sink) {
    for (const std::string& path : m_attachments) {
        if (path.size() >= kMaxAttachmentPath) {
            return false;
        }
    }
    // The message starts right after the DATA reply, at the start of a line.
    m_position = jis::LinePosition{};
    const bool utf8 = sendsUtf8();
    const std::string boundary = makeBoundary();
    const std::string delimiter = "--" + boundary + std::string(kMixedSuffix);
    const bool multipart = !m_attachments.empty();
    const std::string_view textType =
        utf8 ? "text/plain; charset=UTF-8" : "text/plain; charset=iso-2022-jp";
    const std::string_view textEncoding = utf8 ? "base64" : "7bit";
    // The structure decides these, whatever a custom header file or an earlier
    // message left in the table.
    setHeader("MIME-Version", "1.0");
    if (multipart) {
        setHeader("Content-Transfer-Encoding", "");
        setHeader("Content-Type",
                  "multipart/mixed; boundary=\"" + boundary + std::string(kMixedSuffix) + "\"");
    } else {
        setHeader("Content-Type", textType);
        setHeader("Content-Transfer-Encoding", textEncoding);
    }
    if (!writeHeaderBlock(sink, utf8)) {
        return false;
    }
    if (multipart &&
        !sink.send(delimiter + "\r\nContent-Type: " + std::string(textType) +
                   "\r\nContent-Transfer-Encoding: " + std::string(textEncoding) + "\r\n\r\n")) {
        return false;
    }
    if (!writeBody(sink, utf8) || !sink.send("\r\n")) {
        return false;
    }
    for (const std::string& path : m_attachments) {
        if (!writeAttachment(sink, path, delimiter, utf8)) {
            return false;
        }
    }
    return !multipart || sink.send(delimiter + "--\r\n\r\n");
}

bool Message::writeAttachment(ByteSink& sink, const std::string& path, std::string_view delimiter,
                              bool utf8) {
    const std::string name = displayName(path);
    const bool uuencode = m_encodeType == 1;
    InputFile file(path);
    // The type from the system's table by extension; a text file also says
    // how its bytes are to be read.
    std::string type(MediaTypes::system().typeOf(name));
    std::string raw;
    if (type.starts_with("text/") && file.isOpen()) {
        constexpr std::size_t kSniffBytes = std::size_t{64} * 1024;
        InputFile head(path);
        if (head.read(raw, kSniffBytes) >= 0) {
            if (std::string charset = textCharset(raw); !charset.empty()) {
                type += "; charset=" + charset;
            }
        }
    }
    std::string head(delimiter);
    head += "\r\n";
    if (const auto quoted = quotedAscii(name)) {
        head.append("Content-Type: ").append(type).append("; name=").append(*quoted).append("\r\n");
        head.append("Content-Transfer-Encoding: ").append(uuencode ? "x-uuencode" : "base64");
        head.append("\r\nContent-Disposition: attachment; filename=").append(*quoted);
    } else {
        // RFC 2231 for readers that know it, the encoded-words inside quotes
        // for older ones. The RFC 2231 form comes first and the Content-Type
        // carries no encoded-word: some readers join all forms they find into
        // one name.
        const std::string utf8Name = utf8Text(name);
        std::string words;
        if (utf8) {
            utf8::encodeFoldedHeader(utf8Name, 0, words);
        } else {
            words = m_converter.fileName(name);
        }
        head.append("Content-Type: ").append(type).append(rfc2231Parameter("name", utf8Name));
        head.append("\r\nContent-Transfer-Encoding: ").append(uuencode ? "x-uuencode" : "base64");
        head.append("\r\nContent-Disposition: attachment")
            .append(rfc2231Parameter("filename", utf8Name))
            .append(";\r\n filename=\"")
            .append(words)
            .append("\"");
    }
    head.append("\r\n\r\n");
    if (uuencode) {
        head.append("begin 600 ").append(name).append("\r\n");
    }
    if (!sink.send(head)) {
        return false;
    }

    // A file that cannot be opened now (it existed when listed) still gets its
    // part, with no data lines, as the recipient's mail program expects a part
    // per listed file.
    const std::size_t lineBytes = uuencode ? kUuencodeLineBytes : kBase64LineBytes;
    while (file.isOpen()) {
        const long long got = file.read(raw, lineBytes * kLinesPerBlock);
        if (got < 0) {
            return false;  // a truncated attachment must not go out as a whole one
        }
        if (got == 0) {
            break;
        }
        m_block.clear();
        for (std::size_t pos = 0; pos < raw.size(); pos += lineBytes) {
            const std::string_view group = std::string_view(raw).substr(pos, lineBytes);
            if (uuencode) {
                const std::size_t lineStart = m_block.size();
                appendUuencodeLine(group, m_block);
                // A count of 14 is written as "."; the line is not converted
                // text, so it is stuffed here or the receiver would drop the dot.
                if (m_block[lineStart] == '.') {
                    m_block.insert(lineStart, 1, '.');
                }
            } else {
                appendBase64(group, m_block);
            }
            m_block += "\r\n";
        }
        if (!sink.send(m_block)) {
            return false;
        }
    }
    return sink.send(uuencode ? "`\r\nend\r\n\r\n\r\n" : "\r\n");
}

}  // namespace zeph

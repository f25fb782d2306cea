#include "wab/vcard.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "common/cp932.h"
#include "common/sjis.h"
#include "common/utf8.h"

namespace tarn::wab {
namespace {

enum class Charset { Utf8, ShiftJis };

bool iequals(std::string_view a, std::string_view b) {
    return sjis::equalsIgnoreCase(a, b);
}

std::string trimBlanks(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

// One parameter of a property: "TYPE=INTERNET,PREF" gives name TYPE and the
// values; a bare "PREF" or "QUOTED-PRINTABLE" (vCard 2.1) has an empty name.
struct Param {
    std::string name;
    std::vector<std::string> values;
};

struct Property {
    std::string name;  // upper case, without a "group." prefix
    std::vector<Param> params;
    std::string_view rawValue;

    bool hasParamValue(std::string_view pname, std::string_view value) const {
        for (const auto& p : params) {
            if (p.name.empty() || iequals(p.name, pname)) {
                for (const auto& v : p.values) {
                    if (iequals(v, value)) {
                        return true;
                    }
                }
            }
        }
        return false;
    }
    const std::string* param(std::string_view pname) const {
        for (const auto& p : params) {
            if (iequals(p.name, pname) && !p.values.empty()) {
                return &p.values.front();
            }
        }
        return nullptr;
    }
};

// Splits "NAME;P=V;P2=\"a:b\":value" at the first colon outside quotes.
bool parseProperty(std::string_view line, Property& out) {
    std::size_t colon = std::string_view::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos) {
        return false;
    }
    out.rawValue = line.substr(colon + 1);
    std::string_view head = line.substr(0, colon);
    // Parameters, split at ';' outside quotes.
    std::vector<std::string_view> parts;
    quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= head.size(); ++i) {
        if (i < head.size() && head[i] == '"') {
            quoted = !quoted;
        }
        if (i == head.size() || (head[i] == ';' && !quoted)) {
            parts.push_back(head.substr(start, i - start));
            start = i + 1;
        }
    }
    std::string_view name = parts.front();
    if (auto dot = name.rfind('.'); dot != std::string_view::npos) {
        name = name.substr(dot + 1);  // "item1.EMAIL" is an EMAIL
    }
    out.name.assign(name);
    for (char& c : out.name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    out.params.clear();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        Param p;
        std::string_view text = parts[i];
        std::string_view values = text;
        if (auto eq = text.find('='); eq != std::string_view::npos) {
            p.name = trimBlanks(text.substr(0, eq));
            values = text.substr(eq + 1);
        }
        std::size_t vs = 0;
        quoted = false;
        for (std::size_t k = 0; k <= values.size(); ++k) {
            if (k < values.size() && values[k] == '"') {
                quoted = !quoted;
            }
            if (k == values.size() || (values[k] == ',' && !quoted)) {
                std::string v = trimBlanks(values.substr(vs, k - vs));
                if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
                    v = v.substr(1, v.size() - 2);
                }
                p.values.push_back(std::move(v));
                vs = k + 1;
            }
        }
        out.params.push_back(std::move(p));
    }
    return true;
}

bool isQuotedPrintable(const Property& p) {
    return p.hasParamValue("ENCODING", "QUOTED-PRINTABLE");
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Quoted-printable (RFC 2045 6.7) without the soft line breaks, which the line
// reader has already joined. A '=' not followed by two hex digits is kept.
std::string decodeQuotedPrintable(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size()) {
            const int hi = hexDigit(s[i + 1]);
            const int lo = hexDigit(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The value's bytes as UTF-8: quoted-printable undone, then converted from the
// value's CHARSET (else the file's).
Result<std::string> valueBytes(const Property& p, Charset fileCharset) {
    std::string bytes =
        isQuotedPrintable(p) ? decodeQuotedPrintable(p.rawValue) : std::string(p.rawValue);
    Charset cs = fileCharset;
    if (const std::string* named = p.param("CHARSET")) {
        if (iequals(*named, "SHIFT_JIS") || iequals(*named, "SHIFT-JIS") ||
            iequals(*named, "CP932") || iequals(*named, "WINDOWS-31J") || iequals(*named, "SJIS")) {
            cs = Charset::ShiftJis;
        } else if (iequals(*named, "UTF-8")) {
            cs = Charset::Utf8;
        }
    }
    if (cs == Charset::ShiftJis) {
        auto u = cp932::toUtf8(bytes);
        if (!u) {
            return makeError("the value of " + p.name + " is not Shift_JIS: " + u.error().message);
        }
        return std::move(u.value());
    }
    if (!utf8::isValid(bytes)) {
        return makeError("the value of " + p.name + " is not valid UTF-8");
    }
    return bytes;
}

// Splits a structured value at unescaped `sep` and undoes the text escapes.
std::vector<std::string> splitUnescape(std::string_view s, char sep) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out.back() += (n == 'n' || n == 'N') ? '\n' : n;
        } else if (c == sep) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out += (n == 'n' || n == 'N') ? '\n' : n;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The preference of an address: PREF=n (lower is preferred), or TYPE=PREF.
int preference(const Property& p) {
    if (const std::string* pref = p.param("PREF")) {
        int n = 100;
        auto r = std::from_chars(pref->data(), pref->data() + pref->size(), n);
        if (r.ec == std::errc() && n >= 1 && n <= 100) {
            return n;
        }
    }
    return p.hasParamValue("TYPE", "PREF") ? 1 : 101;
}

class LineReader {
public:
    LineReader(std::string_view bytes, std::size_t maxLine) : m_s(bytes), m_max(maxLine) {}

    // The next logical line (folds joined, quoted-printable soft breaks joined),
    // its first physical line number in `line`. False at the end.
    Result<bool> next(std::string& out, std::size_t& line) {
        out.clear();
        std::string_view phys;
        if (!physical(phys)) {
            return false;
        }
        line = m_line;
        out.assign(phys);
        while (true) {
            const bool softBreak = !out.empty() && out.back() == '=' && headIsQuotedPrintable(out);
            std::string_view peek;
            const std::size_t savePos = m_pos, saveLine = m_line;
            if (!physical(peek)) {
                break;
            }
            if (softBreak) {
                out.pop_back();
                out.append(peek);
            } else if (!peek.empty() && (peek.front() == ' ' || peek.front() == '\t')) {
                out.append(peek.substr(1));
            } else {
                m_pos = savePos;
                m_line = saveLine;
                break;
            }
            if (out.size() > m_max) {
                return makeError("line " + std::to_string(line) + " is longer than " +
                                 std::to_string(m_max) + " bytes");
            }
        }
        if (out.size() > m_max) {
            return makeError("line " + std::to_string(line) + " is longer than " +
                             std::to_string(m_max) + " bytes");
        }
        return true;
    }

private:
    // One physical line without its end (CRLF, LF or a lone CR).
    bool physical(std::string_view& out) {
        if (m_pos >= m_s.size()) {
            return false;
        }
        std::size_t e = m_pos;
        while (e < m_s.size() && m_s[e] != '\n' && m_s[e] != '\r') {
            ++e;
        }
        out = m_s.substr(m_pos, e - m_pos);
        if (e < m_s.size() && m_s[e] == '\r') {
            ++e;
            if (e < m_s.size() && m_s[e] == '\n') {
                ++e;
            }
        } else if (e < m_s.size()) {
            ++e;  // LF
        }
        m_pos = e;
        ++m_line;
        return true;
    }

    static bool headIsQuotedPrintable(std::string_view line) {
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return false;
        }
        const std::string head = sjis::asciiLower(line.substr(0, colon));
        return head.find("quoted-printable") != std::string::npos;
    }

    std::string_view m_s;
    std::size_t m_max;
    std::size_t m_pos = 0;
    std::size_t m_line = 0;
};

}  // namespace

std::string displayName(const Card& c) {
    if (!c.formattedName.empty()) {
        return c.formattedName;
    }
    if (!c.family.empty() || !c.given.empty()) {
        return c.family + (c.family.empty() || c.given.empty() ? "" : " ") + c.given;
    }
    return c.company;
}

Result<std::vector<Card>> parseVcards(std::string_view bytes, std::string_view fileName,
                                      const VcardLimits& limits) {
    const std::string file(fileName);
    if (bytes.size() > limits.maxFileBytes) {
        return makeError(file + ": " + std::to_string(bytes.size()) + " bytes, more than the " +
                         std::to_string(limits.maxFileBytes) + " read from one vCard file");
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    const Charset fileCharset = utf8::isValid(bytes) ? Charset::Utf8 : Charset::ShiftJis;

    std::vector<Card> cards;
    LineReader reader(bytes, limits.maxLineBytes);
    std::string line;
    std::size_t lineNo = 0;
    int depth = 0;  // nested cards (2.1 AGENT) are skipped whole
    Card card;
    int bestPref = 1000;
    auto fail = [&](const std::string& what) {
        return makeError(file + ", line " + std::to_string(lineNo) + ": " + what);
    };
    while (true) {
        auto more = reader.next(line, lineNo);
        if (!more) {
            return makeError(file + ": " + more.error().message);
        }
        if (!more.value()) {
            break;
        }
        Property p;
        if (!parseProperty(line, p)) {
            continue;  // blank or garbage line between properties
        }
        if (p.name == "BEGIN" && iequals(trimBlanks(p.rawValue), "VCARD")) {
            if (++depth == 1) {
                card = Card{};
                card.file = file;
                card.line = lineNo;
                bestPref = 1000;
            }
            continue;
        }
        if (p.name == "END" && iequals(trimBlanks(p.rawValue), "VCARD")) {
            if (depth > 0 && --depth == 0) {
                if (cards.size() >= limits.maxCards) {
                    return fail("more than " + std::to_string(limits.maxCards) + " cards");
                }
                cards.push_back(std::move(card));
                card = Card{};
            }
            continue;
        }
        if (depth != 1) {
            continue;
        }
        static constexpr std::string_view kWanted[] = {"FN",
                                                       "N",
                                                       "ORG",
                                                       "TITLE",
                                                       "EMAIL",
                                                       "CATEGORIES",
                                                       "UID",
                                                       "KIND",
                                                       "X-ADDRESSBOOKSERVER-KIND",
                                                       "MEMBER",
                                                       "X-ADDRESSBOOKSERVER-MEMBER"};
        if (std::find(std::begin(kWanted), std::end(kWanted), p.name) == std::end(kWanted)) {
            continue;  // TEL, ADR, PHOTO, NOTE, ...: not part of a contact here
        }
        auto value = valueBytes(p, fileCharset);
        if (!value) {
            return fail(value.error().message);
        }
        const std::string& v = value.value();
        if (p.name == "FN") {
            card.formattedName = trimBlanks(unescape(v));
        } else if (p.name == "N") {
            auto parts = splitUnescape(v, ';');
            card.family = trimBlanks(parts[0]);
            card.given = parts.size() > 1 ? trimBlanks(parts[1]) : std::string();
        } else if (p.name == "ORG") {
            auto parts = splitUnescape(v, ';');
            card.company = trimBlanks(parts[0]);
            card.department = parts.size() > 1 ? trimBlanks(parts[1]) : std::string();
        } else if (p.name == "TITLE") {
            card.title = trimBlanks(unescape(v));
        } else if (p.name == "EMAIL") {
            std::string address = trimBlanks(unescape(v));
            if (!address.empty()) {
                const int pref = preference(p);
                if (pref < bestPref) {
                    bestPref = pref;
                    card.email = address;
                }
                card.emails.push_back(std::move(address));
            }
        } else if (p.name == "CATEGORIES") {
            for (auto& c : splitUnescape(v, ',')) {
                std::string name = trimBlanks(c);
                if (!name.empty() && std::find(card.categories.begin(), card.categories.end(),
                                               name) == card.categories.end()) {
                    card.categories.push_back(std::move(name));
                }
            }
        } else if (p.name == "UID") {
            card.uid = trimBlanks(v);
        } else if (p.name == "KIND" || p.name == "X-ADDRESSBOOKSERVER-KIND") {
            card.isGroup = iequals(trimBlanks(v), "group");
        } else {  // MEMBER
            std::string member = trimBlanks(v);
            if (!member.empty()) {
                card.members.push_back(std::move(member));
            }
        }
    }
    if (depth > 0) {  // not closed: what it holds is still a contact
        if (cards.size() >= limits.maxCards) {
            return fail("more than " + std::to_string(limits.maxCards) + " cards");
        }
        cards.push_back(std::move(card));
    }
    return cards;
}

}  // namespace tarn::wab

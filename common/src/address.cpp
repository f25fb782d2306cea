#include "common/address.h"

#include <cstdio>

#include "common/cp932.h"
#include "common/sjis.h"

namespace tarn::address {
namespace {

constexpr std::string_view kDelimiters = " \t\r\n,;<>[]()";

// Blanks every stretch from `open` to the next `close` after it; the closer
// too unless keepClose. An opener without a closer stays as it is.
void blankPairs(std::string& work, char open, char close, bool keepClose) {
    std::size_t pos = 0;
    while ((pos = work.find(open, pos)) != std::string::npos) {
        const std::size_t end = work.find(close, pos + 1);
        if (end == std::string::npos) {
            return;
        }
        for (std::size_t i = pos; i < end; ++i) {
            work[i] = ' ';
        }
        if (!keepClose) {
            work[end] = ' ';
        }
        pos = end + 1;
    }
}

std::string sjisText(std::string_view utf8) {
    auto r = cp932::fromUtf8(utf8);
    return r ? *r : std::string(utf8);  // our literals are all CP932 text
}

std::string hexByte(unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", c);
    return buf;
}

// The token for a message: control bytes shown, so that it cannot break a line.
std::string shown(std::string_view token) {
    std::string out;
    for (char ch : token) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += "\\x" + hexByte(c).substr(2);
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

std::vector<Token> tokens(std::string_view field) {
    // The working copy keeps every byte at its place, so that a token's
    // position also finds its stored bytes; `wide` marks the masked bytes.
    std::string work(field);
    std::vector<bool> wide(work.size(), false);
    for (std::size_t i = 0; i < work.size();) {
        const std::size_t n = sjis::charLength(work, i);
        const auto lead = static_cast<unsigned char>(work[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const bool fullWidthSpace =
            n == 2 && lead == 0x81 && static_cast<unsigned char>(work[i + 1]) == 0x40;
        for (std::size_t k = i; k < i + n; ++k) {
            work[k] = fullWidthSpace ? ' ' : '*';
            wide[k] = !fullWidthSpace;
        }
        i += n;
    }
    blankPairs(work, '"', '"', false);
    blankPairs(work, '(', ')', true);
    blankPairs(work, '[', ']', true);
    blankPairs(work, '\'', '\'', false);

    // The display name of one address runs from where the address began up to "<".
    std::size_t segment = 0;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const char c = work[i];
        if (c == ',' || c == ';' || c == '>') {
            segment = i + 1;
        } else if (c == '<') {
            for (std::size_t j = segment; j < i; ++j) {
                work[j] = ' ';
            }
            segment = i + 1;
        }
    }

    std::vector<Token> out;
    std::size_t pos = 0;
    while (pos < work.size()) {
        const std::size_t start = work.find_first_not_of(kDelimiters, pos);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = work.find_first_of(kDelimiters, start);
        if (end == std::string::npos) {
            end = work.size();
        }
        Token t;
        t.text = field.substr(start, end - start);
        t.masked = work.substr(start, end - start);
        t.nameOnly = true;
        for (std::size_t k = start; k < end; ++k) {
            t.nameOnly = t.nameOnly && wide[k];
        }
        out.push_back(std::move(t));
        pos = end;
    }
    return out;
}

std::vector<std::string> extract(std::string_view field) {
    std::vector<std::string> addresses;
    for (const Token& t : tokens(field)) {
        if (!t.nameOnly) {
            addresses.emplace_back(t.text);
        }
    }
    return addresses;
}

FieldCheck checkField(std::string_view field) {
    FieldCheck check;
    // Control bytes are never part of a double-byte character, so a plain scan is exact.
    for (char ch : field) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            check.problem = FieldCheck::Problem::ControlCharacter;
            check.byte = c;
            return check;
        }
    }
    check.addresses = extract(field);
    if (check.addresses.empty()) {
        check.problem = FieldCheck::Problem::NoAddress;
        return check;
    }
    for (const std::string& a : check.addresses) {
        if (!isEnvelopeAddress(a)) {
            check.problem = FieldCheck::Problem::NotAnAddress;
            check.token = a;
            for (char ch : a) {
                if (!isAddressCharacter(static_cast<unsigned char>(ch))) {
                    check.byte = static_cast<unsigned char>(ch);
                    break;
                }
            }
            return check;
        }
    }
    return check;
}

bool isEnvelopeAddress(std::string_view token) {
    for (char ch : token) {
        if (!isAddressCharacter(static_cast<unsigned char>(ch))) {
            return false;
        }
    }
    // One at-sign: an unquoted one in the local part makes no mailbox
    // ("suzuki@@midori.example.jp" is a typing slip, not an address).
    const std::size_t at = token.find('@');
    return at != std::string_view::npos && at > 0 && at + 1 < token.size() &&
           token.find('@', at + 1) == std::string_view::npos;
}

std::string describe(const FieldCheck& check) {
    switch (check.problem) {
        case FieldCheck::Problem::None:
            return {};
        case FieldCheck::Problem::ControlCharacter: {
            const char* name = check.byte == '\r'   ? "CR"
                               : check.byte == '\n' ? "LF"
                               : check.byte == 0    ? "NUL"
                                                    : nullptr;
            return sjisText("E-Mail に制御文字 (" +
                            (name != nullptr ? std::string(name) + " " : "") + hexByte(check.byte) +
                            ") があるため、このアドレスには送りません。");
        }
        case FieldCheck::Problem::NoAddress:
            return sjisText("E-Mail にメールアドレスがありません。");
        case FieldCheck::Problem::NotAnAddress:
            if (check.byte == 0) {
                return sjisText("E-Mail の「") + shown(check.token) +
                       sjisText(
                           "」はメールアドレスの形 (名前@ドメイン) ではないため、送りません。");
            }
            return sjisText("E-Mail の「") + shown(check.token) +
                   sjisText("」にメールアドレスに使えない文字 (" +
                            (check.byte < 0x80
                                 ? "'" + std::string(1, static_cast<char>(check.byte)) + "' "
                                 : std::string()) +
                            hexByte(check.byte) + ") があるため、このアドレスには送りません。");
    }
    return {};
}

}  // namespace tarn::address

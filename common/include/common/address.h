// The addresses of a stored address field or of a To, Cc, Bcc or From value.
// One extractor serves the envelope (MAIL FROM, RCPT TO) and the address check,
// so that the check looks at exactly the addresses a send would go to: a
// checked book never sends to an address nobody checked.
//
// On a working copy of the Shift_JIS text:
//  1. every non-ASCII character is masked: a double-byte character as two
//     bytes, half-width kana and stray bytes as one (a full-width space counts
//     as two spaces, so that it separates addresses as an ASCII space does);
//  2. "..." stretches, then (...) comments, then [...] and '...' stretches are
//     blanked ("(" and "[" up to the closer, which stays a delimiter); an opener
//     without a closer is left as text, so that it cannot hide what follows it;
//  3. the display name of each address (its text up to "<") is blanked; an
//     address ends at ",", ";" or ">";
//  4. the text splits at " \t\r\n,;<>[]()". A token made only of masked
//     characters is words of a name written without brackets ("山田 様"), not an
//     address; every other token is one, in order, with its bytes as stored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn::address {

struct Token {
    std::string_view text;  // the bytes as stored
    std::string masked;     // each non-ASCII character's bytes as "*"
    bool nameOnly = false;  // made only of non-ASCII characters
};

// Every token of the field, name-only ones included, in order.
std::vector<Token> tokens(std::string_view field);

// The addresses of the field (the tokens that are not name-only), as stored.
std::vector<std::string> extract(std::string_view field);

// A byte that may stand in an envelope address: an RFC 5322 atext character,
// "." or "@". Anything else (a control or non-ASCII byte, ":", "\\", a lone
// quote) would put words or commands into the SMTP dialogue.
constexpr bool isAddressCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-/=?^_`{|}~.@").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

// Whether a token has the shape of an envelope address: only address
// characters, and a non-empty local part and domain around its one "@".
bool isEnvelopeAddress(std::string_view token);

// Whether a field can give the envelope its addresses, and why not.
struct FieldCheck {
    enum class Problem {
        None,
        ControlCharacter,  // CR, LF, NUL or another control byte anywhere (a tab is a blank)
        NoAddress,         // nothing but blanks, brackets and names
        NotAnAddress,      // a token with a character outside an address, or not
                           // of the form local@domain (byte 0 then)
    };
    Problem problem = Problem::None;
    unsigned char byte = 0;              // the control byte, or the first bad byte of `token`
    std::string token;                   // NotAnAddress: the token as stored
    std::vector<std::string> addresses;  // as extract()
    bool ok() const { return problem == Problem::None; }
};
FieldCheck checkField(std::string_view field);

// Why a field was refused, in Japanese, naming the byte and the token; Shift_JIS,
// like the token it quotes (control bytes in it shown as \xHH).
std::string describe(const FieldCheck& check);

}  // namespace tarn::address

// The one scanner of query text in the database layer. Two readers use it: the
// file sources' SELECT parser (Shift_JIS text, names in back-quotes or
// brackets) and the ODBC layer's search for the one table a query reads (UTF-8
// text, names in the driver's identifier quote, string literals).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::db::detail {

struct SqlToken {
    enum class Kind : std::uint8_t {
        Word,        // letters, digits, _ $ # @ and every byte from 0x80 on
        QuotedName,  // a name between identifier quotes
        Literal,     // a string between single quotes
        Punct,       // any other single character
        Unclosed,    // a quote never closed: the rest of the text, always the last token
    };
    Kind kind = Kind::Punct;
    // A quoted name or literal without its quotes, a doubled quote standing for
    // one; any other token as written.
    std::string text;
    std::string_view raw;  // the bytes of the query the token covers, quotes included
    std::size_t offset = 0;

    std::size_t end() const { return offset + raw.size(); }
    // A word equal to `word` but for ASCII letter case.
    bool isKeyword(std::string_view word) const;
    bool isPunct(char c) const { return kind == Kind::Punct && raw.size() == 1 && raw[0] == c; }
};

struct SqlDialect {
    // The characters that open a quoted name; "[" is closed by "]", any other
    // by itself.
    std::string_view nameQuotes;
    bool stringLiterals = false;  // '...' is a literal, not punctuation
    // Double-byte characters are stepped over as units, so that a trail byte
    // such as 0x60 (a back-quote) never closes a name.
    bool shiftJis = false;
};

// Blanks (space, tab, CR, LF) separate tokens and are not tokens themselves.
// The tokens view `sql`, which must outlive them.
std::vector<SqlToken> scanSql(std::string_view sql, const SqlDialect& dialect);

}  // namespace tarn::db::detail

#include "database/select_parser.h"

#include "common/sjis.h"
#include "sql_scanner.h"

namespace tarn::db {
namespace {

using detail::SqlToken;

constexpr std::size_t kMaxNameBytes = 4096;

// The tokens of the query, read front to back.
class Tokens {
public:
    explicit Tokens(std::string_view text)
        : m_text(text), m_tokens(detail::scanSql(text, {.nameQuotes = "`[", .shiftJis = true})) {}

    bool atEnd() const { return m_next == m_tokens.size(); }
    // Where the next token starts (the end of the text after the last one).
    std::size_t pos() const { return atEnd() ? m_text.size() : m_tokens[m_next].offset; }

    bool accept(char c) {
        if (!atEnd() && m_tokens[m_next].isPunct(c)) {
            ++m_next;
            return true;
        }
        return false;
    }
    // A keyword ends in a blank, the end, a quoted name or "*".
    bool acceptKeyword(std::string_view word) {
        if (atEnd() || !m_tokens[m_next].isKeyword(word)) {
            return false;
        }
        const SqlToken& keyword = m_tokens[m_next];
        if (m_next + 1 < m_tokens.size()) {
            const SqlToken& after = m_tokens[m_next + 1];
            if (after.offset == keyword.end() && after.kind != SqlToken::Kind::QuotedName &&
                after.kind != SqlToken::Kind::Unclosed && !after.isPunct('*')) {
                return false;
            }
        }
        ++m_next;
        return true;
    }
    // A quoted name, or a run of characters up to a blank, a comma or a semicolon.
    Result<std::string> name() {
        const std::size_t start = pos();
        std::string out;
        if (!atEnd() && m_tokens[m_next].kind == SqlToken::Kind::QuotedName) {
            out = m_tokens[m_next++].text;
        } else {
            std::size_t end = start;
            while (!atEnd() && m_tokens[m_next].offset == end && !m_tokens[m_next].isPunct(',') &&
                   !m_tokens[m_next].isPunct(';')) {
                if (m_tokens[m_next].kind == SqlToken::Kind::Unclosed) {
                    return error(
                        end, std::string("a name opened with ") + m_text[end] + " is not closed");
                }
                end = m_tokens[m_next++].end();
            }
            out = std::string(m_text.substr(start, end - start));
        }
        if (out.empty()) {
            return error(start, "a name is missing");
        }
        if (out.size() > kMaxNameBytes) {
            return error(start,
                         "a name is longer than " + std::to_string(kMaxNameBytes) + " bytes");
        }
        return out;
    }
    Error error(std::size_t at, const std::string& what) const {
        return makeError("query not understood at byte " + std::to_string(at) + ": " + what +
                             " (this source takes SELECT * or SELECT `a`,`b` FROM `table`)",
                         static_cast<long long>(at));
    }

private:
    std::string_view m_text;
    std::vector<SqlToken> m_tokens;
    std::size_t m_next = 0;
};

}  // namespace

Result<SelectQuery> parseSelect(std::string_view text) {
    Tokens in(text);
    SelectQuery q;
    if (!in.acceptKeyword("SELECT")) {
        // A bare table name opens the whole table.
        auto table = in.name();
        if (!table) {
            return table.error();
        }
        in.accept(';');
        if (!in.atEnd()) {
            return in.error(in.pos(), "text follows the table name");
        }
        q.allColumns = true;
        q.table = std::move(table.value());
        return q;
    }
    if (in.accept('*')) {
        q.allColumns = true;
    } else {
        do {
            auto column = in.name();
            if (!column) {
                return column.error();
            }
            if (sjis::equalsIgnoreCase(column.value(), "FROM")) {
                return in.error(in.pos(), "a column name is missing before FROM");
            }
            q.columns.push_back(std::move(column.value()));
        } while (in.accept(','));
    }
    if (!in.acceptKeyword("FROM")) {
        return in.error(in.pos(), "FROM expected");
    }
    auto table = in.name();
    if (!table) {
        return table.error();
    }
    q.table = std::move(table.value());
    in.accept(';');
    if (!in.atEnd()) {
        return in.error(in.pos(), "only SELECT ... FROM table is understood");
    }
    return q;
}

}  // namespace tarn::db

#include "database/select_parser.h"

#include "common/sjis.h"

namespace tarn::db {
namespace {

constexpr std::size_t kMaxNameBytes = 4096;

class Scanner {
public:
    explicit Scanner(std::string_view s) : m_s(s) {}

    void skipBlanks() {
        while (m_pos < m_s.size() && isBlank(m_s[m_pos])) {
            ++m_pos;
        }
    }
    bool atEnd() {
        skipBlanks();
        return m_pos == m_s.size();
    }
    bool accept(char c) {
        skipBlanks();
        if (m_pos < m_s.size() && m_s[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    // A keyword must be followed by a blank or a quoting character.
    bool acceptKeyword(std::string_view word) {
        skipBlanks();
        if (m_s.size() - m_pos < word.size() ||
            !sjis::equalsIgnoreCase(m_s.substr(m_pos, word.size()), word)) {
            return false;
        }
        std::size_t after = m_pos + word.size();
        if (after < m_s.size() && !isBlank(m_s[after]) && m_s[after] != '`' && m_s[after] != '[' &&
            m_s[after] != '*') {
            return false;
        }
        m_pos = after;
        return true;
    }
    Result<std::string> name() {
        skipBlanks();
        const std::size_t start = m_pos;
        std::string out;
        if (m_pos < m_s.size() && (m_s[m_pos] == '`' || m_s[m_pos] == '[')) {
            const char close = m_s[m_pos] == '`' ? '`' : ']';
            std::size_t end = sjis::find(m_s, close, m_pos + 1);
            if (end == std::string_view::npos) {
                return error(start,
                             std::string("a name opened with ") + m_s[start] + " is not closed");
            }
            out = std::string(m_s.substr(m_pos + 1, end - m_pos - 1));
            m_pos = end + 1;
        } else {
            while (m_pos < m_s.size() && !isBlank(m_s[m_pos]) && m_s[m_pos] != ',' &&
                   m_s[m_pos] != ';') {
                m_pos += sjis::charLength(m_s, m_pos);
            }
            out = std::string(m_s.substr(start, m_pos - start));
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
    std::size_t pos() const { return m_pos; }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    std::string_view m_s;
    std::size_t m_pos = 0;
};

}  // namespace

Result<SelectQuery> parseSelect(std::string_view text) {
    Scanner in(text);
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

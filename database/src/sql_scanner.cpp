#include "sql_scanner.h"

#include "common/sjis.h"

namespace tarn::db::detail {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isWordByte(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x80 || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
           (b >= 'a' && b <= 'z') || c == '_' || c == '$' || c == '#' || c == '@';
}

}  // namespace

bool SqlToken::isKeyword(std::string_view word) const {
    return kind == Kind::Word && sjis::equalsIgnoreCase(raw, word);
}

std::vector<SqlToken> scanSql(std::string_view sql, const SqlDialect& dialect) {
    std::vector<SqlToken> out;
    const std::size_t n = sql.size();
    auto step = [&](std::size_t i) { return dialect.shiftJis ? sjis::charLength(sql, i) : 1; };
    std::size_t i = 0;
    while (i < n) {
        const char c = sql[i];
        if (isBlank(c)) {
            ++i;
            continue;
        }
        SqlToken t;
        t.offset = i;
        const bool literal = dialect.stringLiterals && c == '\'';
        if (literal || dialect.nameQuotes.find(c) != std::string_view::npos) {
            const char close = c == '[' ? ']' : c;
            std::size_t j = i + 1;
            bool closed = false;
            while (j < n) {
                if (sql[j] != close) {
                    t.text.append(sql.substr(j, step(j)));
                    j += step(j);
                } else if (j + 1 < n && sql[j + 1] == close) {  // a doubled quote
                    t.text += close;
                    j += 2;
                } else {
                    closed = true;
                    ++j;
                    break;
                }
            }
            t.kind = !closed   ? SqlToken::Kind::Unclosed
                     : literal ? SqlToken::Kind::Literal
                               : SqlToken::Kind::QuotedName;
            t.raw = sql.substr(i, j - i);
            i = j;
        } else if (isWordByte(c)) {
            std::size_t j = i;
            while (j < n && isWordByte(sql[j])) {
                j += step(j);
            }
            t.kind = SqlToken::Kind::Word;
            t.raw = sql.substr(i, j - i);
            t.text = std::string(t.raw);
            i = j;
        } else {
            t.kind = SqlToken::Kind::Punct;
            t.raw = sql.substr(i, 1);
            t.text = std::string(t.raw);
            ++i;
        }
        out.push_back(std::move(t));
        if (out.back().kind == SqlToken::Kind::Unclosed) {
            break;
        }
    }
    return out;
}

}  // namespace tarn::db::detail

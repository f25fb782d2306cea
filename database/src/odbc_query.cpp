#include "odbc_query.h"

#include <vector>

#include "sql_scanner.h"

namespace tarn::db::detail {
namespace {

// The driver's tokens: names in its identifier quote, string literals; nothing
// when a quote is never closed.
std::optional<std::vector<SqlToken>> tokensOf(std::string_view sql, std::string_view quote) {
    SqlDialect dialect;
    dialect.nameQuotes = quote.size() == 1 ? quote : std::string_view();
    dialect.stringLiterals = true;
    auto tokens = scanSql(sql, dialect);
    if (!tokens.empty() && tokens.back().kind == SqlToken::Kind::Unclosed) {
        return std::nullopt;
    }
    return tokens;
}

// A dotted name (schema.table) starting at token i; i moves past it.
std::optional<TableRef> dottedName(const std::vector<SqlToken>& t, std::size_t& i) {
    std::vector<std::string> parts;
    std::string sql;
    for (;;) {
        if (i >= t.size() ||
            (t[i].kind != SqlToken::Kind::Word && t[i].kind != SqlToken::Kind::QuotedName)) {
            return std::nullopt;
        }
        parts.push_back(t[i].text);
        sql += t[i].raw;
        ++i;
        if (i < t.size() && t[i].isPunct('.')) {
            sql += '.';
            ++i;
            continue;
        }
        break;
    }
    if (parts.size() > 2) {
        return std::nullopt;  // catalog.schema.table: not worth guessing about
    }
    TableRef r;
    r.sql = std::move(sql);
    r.name = parts.back();
    if (parts.size() == 2) {
        r.schema = parts.front();
    }
    return r;
}

}  // namespace

std::optional<TableRef> singleTable(std::string_view sqlUtf8, std::string_view quote) {
    const auto tokens = tokensOf(sqlUtf8, quote);
    if (!tokens || tokens->empty() || !tokens->front().isKeyword("select")) {
        return std::nullopt;
    }
    const auto& t = *tokens;
    std::size_t i = 1;
    if (i < t.size() && (t[i].isKeyword("distinct") || t[i].isKeyword("top"))) {
        return std::nullopt;
    }
    for (; i < t.size() && !t[i].isKeyword("from"); ++i) {
        if (t[i].kind == SqlToken::Kind::Punct && !t[i].isPunct(',') && !t[i].isPunct('*') &&
            !t[i].isPunct('.')) {
            return std::nullopt;
        }
    }
    ++i;
    auto table = dottedName(t, i);
    if (!table) {
        return std::nullopt;
    }
    if (i < t.size() && !t[i].isKeyword("where") && !t[i].isKeyword("order") &&
        !(t[i].isPunct(';') && i + 1 == t.size())) {
        return std::nullopt;
    }
    for (; i < t.size(); ++i) {
        for (const char* k : {"join", "union", "group", "having", "intersect", "except"}) {
            if (t[i].isKeyword(k)) {
                return std::nullopt;
            }
        }
    }
    return table;
}

bool isBareTableName(std::string_view sqlUtf8, std::string_view quote) {
    const auto tokens = tokensOf(sqlUtf8, quote);
    std::size_t end = 0;
    return tokens && !tokens->empty() && !tokens->front().isKeyword("select") &&
           dottedName(*tokens, end) && end == tokens->size();
}

}  // namespace tarn::db::detail

// tarn db tables / tarn db rows: what a spreadsheet, Access file, CSV folder or
// ODBC source holds, read through the database access layer, so that an
// operator can check a list before a send.
#include <charconv>
#include <string>
#include <vector>

#include "command.h"
#include "database/db_connection.h"

namespace tarn::cli {
namespace {

using db::CsvEncoding;
using db::DbConnection;
using db::DbRecordset;

extern const Command kTables;
extern const Command kRows;

// One line per row in the text form: tabs and line breaks inside a value are
// written as \t, \n and \r (and a backslash as \\).
std::string tabSeparatedCell(std::string_view s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '\\':
                o += "\\\\";
                break;
            case '\t':
                o += "\\t";
                break;
            case '\n':
                o += "\\n";
                break;
            case '\r':
                o += "\\r";
                break;
            default:
                o += c;
        }
    }
    return o;
}

// Opens the connection the options name; prints the reason and returns an exit
// code on failure.
int openSource(const Command& self, const Args& args, DbConnection& conn) {
    auto typeText = args.value("type");
    auto source = args.value("source");
    if (!typeText || !source) {
        return usageError(self, "--type と --source が必要です");
    }
    int type = -1;
    auto [end, ec] = std::from_chars(typeText->data(), typeText->data() + typeText->size(), type);
    if (ec != std::errc() || end != typeText->data() + typeText->size()) {
        return usageError(self, "--type は 0 から 5 の数です: " + *typeText);
    }
    if (auto enc = args.value("encoding")) {
        if (*enc == "sjis") {
            conn.SetCsvEncoding(CsvEncoding::ShiftJis);
        } else if (*enc == "utf8") {
            conn.SetCsvEncoding(CsvEncoding::Utf8);
        } else if (*enc != "auto") {
            return usageError(self, "--encoding は auto、sjis、utf8 のいずれかです: " + *enc);
        }
    }
    auto sjisSource = toSjis(*source, "--source");
    if (!sjisSource) {
        return kFailure;
    }
    if (!conn.Open(type, *sjisSource)) {
        return fail("データベースを開けません: " + conn.LastError().message);
    }
    return kSuccess;
}

int runTables(const std::vector<std::string>& argv) {
    Args args(argv, {"type", "source", "encoding"}, {});
    if (!args.ok()) {
        return usageError(kTables, args.error());
    }
    DbConnection conn;
    if (int rc = openSource(kTables, args, conn); rc != kSuccess) {
        return rc;
    }
    std::string o;
    for (int i = 0; i < conn.TableCount(); ++i) {
        o += conn.TableType(i).value_or("") + "\t" +
             tabSeparatedCell(conn.TableNameUtf8(i).value_or("")) + "\n";
    }
    out(o);
    return kSuccess;
}

int runRows(const std::vector<std::string>& argv) {
    Args args(argv, {"type", "source", "query", "encoding"}, {"json"});
    if (!args.ok()) {
        return usageError(kRows, args.error());
    }
    auto query = args.value("query");
    if (!query) {
        return usageError(kRows, "--query が必要です");
    }
    DbConnection conn;
    if (int rc = openSource(kRows, args, conn); rc != kSuccess) {
        return rc;
    }
    auto sjisQuery = toSjis(*query, "--query");
    if (!sjisQuery) {
        return kFailure;
    }
    DbRecordset rs;
    if (!rs.Open(conn, *sjisQuery)) {
        return fail("レコードを開けません: " + rs.LastError().message);
    }
    const bool json = args.has("json");
    std::vector<std::string> names;
    for (int i = 0; i < rs.FieldCount(); ++i) {
        rs.SelectField(i);
        auto name = rs.FieldName();
        names.push_back(name ? fromSjis(*name) : "F" + std::to_string(i + 1));
    }
    if (json) {
        out("[");
    } else {
        std::string header;
        for (std::size_t i = 0; i < names.size(); ++i) {
            header += (i ? "\t" : "") + tabSeparatedCell(names[i]);
        }
        out(header + "\n");
    }
    bool allConverted = true;
    for (long long row = 0; !rs.AtEnd(); ++row) {
        std::string line = json ? std::string(row ? ",\n{" : "\n{") : std::string();
        for (int i = 0; i < rs.FieldCount(); ++i) {
            rs.SelectField(i);
            std::string value;
            if (auto text = rs.FieldAsText()) {
                value = fromSjis(text.value());
            } else {
                // Shown empty, never as a look-alike: the operator is told which value.
                err("tarn: " + text.error().message + "\n");
                allConverted = false;
            }
            if (json) {
                line += (i ? "," : "") + jsonString(names[static_cast<std::size_t>(i)]) + ":" +
                        jsonString(value);
            } else {
                line += (i ? "\t" : "") + tabSeparatedCell(value);
            }
        }
        out(line + (json ? "}" : "\n"));
        if (!rs.MoveNext()) {
            if (json) {
                out("\n]\n");
            }
            return fail("レコードの移動に失敗しました。" + rs.LastError().message);
        }
    }
    if (json) {
        out("\n]\n");
    }
    return allConverted ? kSuccess : kFailure;
}

const Command kTables{"db tables", "db tables --type N --source SOURCE [--encoding auto|sjis|utf8]",
                      "データベースのテーブル一覧を表示します (種類と名前)", runTables};
const Command kRows{
    "db rows",
    "db rows --type N --source SOURCE --query TEXT [--json] [--encoding auto|sjis|utf8]\n"
    "  N: 0 ODBC (接続文字列), 1 Access (.mdb), 2 Excel95, 3 Excel97-2003 (.xls), 4 CSV (フォルダ)",
    "テーブルの行を文字列に変換して表示します", runRows};

const Registration kRegisterTables(kTables);
const Registration kRegisterRows(kRows);

}  // namespace
}  // namespace tarn::cli

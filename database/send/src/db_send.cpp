#include "dbsend/db_send.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "common/cp932.h"
#include "driver/send_driver.h"

namespace tarn::dbsend {
namespace {

std::string sjisText(std::string_view utf8) {
    auto converted = cp932::fromUtf8(utf8);
    return converted ? *converted : std::string(utf8);
}

constexpr const char* kSlotLabels[kSlotCount] = {
    "会社名",     "部署名",     "役職",       "宛名１（姓）", "宛名２（名）", "E-Mailアドレス",
    "Freefield1", "Freefield2", "Freefield3", "Freefield4",   "Freefield5",   "Freefield6",
    "Freefield7", "Freefield8", "Freefield9", "Freefield10"};

std::string enclosed(const SourceSpec& spec, std::string_view name) {
    if (spec.type != 0) {
        return "`" + std::string(name) + "`";
    }
    if (!spec.enclose || spec.odbcQuote.empty()) {
        return std::string(name);
    }
    // An identifier quote inside the name is doubled, as SQL escapes it.
    std::string out = spec.odbcQuote;
    for (char c : name) {
        out += c;
        if (std::string_view(&c, 1) == spec.odbcQuote) {
            out += c;
        }
    }
    return out + spec.odbcQuote;
}

std::string fromClause(const SourceSpec& spec) {
    if (spec.type == 2 || spec.type == 3) {
        return " FROM " + enclosed(spec, spec.table + "$");
    }
    return " FROM " + enclosed(spec, spec.table);
}

// A range box read as a number and cut to a whole row ("1.9" is 1; text that
// is no number at all is 0, as the dialog's number reading gives).
long long rowNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || !std::isfinite(value)) {
        return 0;
    }
    static_cast<void>(end);
    if (value >= 9.2e18) {
        return 9'200'000'000'000'000'000LL;
    }
    return value <= -9.2e18 ? -1 : static_cast<long long>(value);
}

}  // namespace

std::string slotLabel(int slot) {
    return slot >= 0 && slot < kSlotCount ? sjisText(kSlotLabels[slot]) : std::string();
}

std::optional<int> slotByLabel(std::string_view sjisLabel) {
    for (int i = 0; i < kSlotCount; ++i) {
        if (sjisLabel == slotLabel(i)) {
            return i;
        }
    }
    // The short names a terminal user types: 姓, 名, E-Mail, 1-based Freefield numbers.
    if (sjisLabel == sjisText("姓")) {
        return kSurname;
    }
    if (sjisLabel == sjisText("名")) {
        return kGivenName;
    }
    if (sjisLabel == "E-Mail" || sjisLabel == "email") {
        return kEmail;
    }
    return std::nullopt;
}

Page pageOf(int sourceType) {
    switch (sourceType) {
        case 0:
            return Page::kOdbc;
        case 1:
            return Page::kAccess;
        case 2:
        case 3:
            return Page::kExcel;
        default:
            return Page::kCsv;
    }
}

std::optional<std::string> selectText(const SourceSpec& spec) {
    std::string fields;
    for (const std::string& f : spec.fields) {
        if (!f.empty()) {
            fields += (fields.empty() ? "" : ",") + enclosed(spec, f);
        }
    }
    if (fields.empty()) {
        return std::nullopt;
    }
    return "SELECT " + fields + fromClause(spec);
}

std::string allFieldsText(const SourceSpec& spec) {
    return "SELECT *" + fromClause(spec);
}

int parseRange(std::string_view start, std::string_view end, RowRange& range) {
    const long long from = rowNumber(start);
    if (from < 1) {
        return errorNumber(DbSendError::BadStartRow);
    }
    const long long to = rowNumber(end);
    if (to < 1) {
        return errorNumber(DbSendError::BadEndRow);
    }
    if (to < from) {
        return errorNumber(DbSendError::BadRange);
    }
    range = {from, to};
    return 0;
}

std::string errorTitle(int code) {
    std::string digits = std::to_string(code);
    if (digits.size() < 3) {
        digits.insert(0, 3 - digits.size(), ' ');
    }
    return sjisText("ターノス - エラー  (№") + digits + ")";
}

std::string errorText(int code) {
    switch (code) {
        case 1:
            return sjisText("データベースファイルがオープンできません。");
        case 2:
            return sjisText("読み込みエラーです。");
        case 3:
            return sjisText("データベースファイルがクローズできません。");
        case 4:
            return sjisText("データベースファイル名が未入力です。");
        case 5:
            return sjisText("データベースがオープンできません。");
        case 6:
            return sjisText("レコードがオープンできません。");
        case 7:
            return sjisText("有効レコードが１件も存在しません。");
        case 8:
            return sjisText("レコードの移動に失敗しました。");
        case 100:
            return sjisText("シート名が選択されていません。");
        case 101:
            return sjisText("フィールド名が選択されていません。");
        case 102:
            return sjisText("存在しないフィールド名です。");
        case 103:
            return sjisText("同一フィールド名を選択しています。");
        case 104:
            return sjisText("シートがオープンできません。");
        case 200:
            return sjisText("データベース名が未入力です。");
        case 201:
            return sjisText("テーブル名が選択されていません。");
        case 202:
            return sjisText("フィールド名が選択されていません。");
        case 203:
            return sjisText("存在しないフィールド名です。");
        case 204:
            return sjisText("テーブルがオープンできません。");
        case 205:
            return sjisText("同一フィールド名を選択しています。");
        case 206:
            return sjisText("送信対象データが一件もありません。");
        case 300:
            return sjisText("インポート項目Noの値がマイナスです。");
        case 301:
            return sjisText("同一インポート項目Noが指定されています。");
        case 302:
            return sjisText("インポート項目Noを指定して下さい。");
        case 303:
            return sjisText("フルパス名で指定して下さい。");
        case 304:
            return sjisText("ファイル名を指定して下さい。");
        case 305:
            return sjisText("ファイルがオープンできません。");
        case 306:
            return sjisText("存在しないフィールド名です。");
        case 307:
            return sjisText("同一フィールド名を選択しています。");
        case 308:
            return sjisText("フィールド名が選択されていません。");
        case 400:
            return sjisText("E-Mailフィールドを設定してください");
        case 510:
            return sjisText("送信内容がありません。");
        case 800:
            return sjisText("開始行の値が不正です。");
        case 801:
            return sjisText("終了行の値が不正です。");
        case 802:
            return sjisText("開始行・終了行の関係が不正です。");
        default:
            // The send's own codes, shown under the same title.
            return code >= 500 ? driver::sendErrorText(code) : std::string();
    }
}

int openErrorCode(Page page) {
    switch (page) {
        case Page::kOdbc:
            return 5;
        case Page::kCsv:
            return errorNumber(DbSendError::CsvOpen);
        default:
            return errorNumber(DbSendError::DbOpen);
    }
}

int tableErrorCode(Page page) {
    switch (page) {
        case Page::kExcel:
            return errorNumber(DbSendError::ExcelSheetOpen);
        case Page::kCsv:
            return errorNumber(DbSendError::CsvOpen);
        default:
            return errorNumber(DbSendError::DbTableOpen);
    }
}

std::optional<PageProblem> validatePage(Page page, const SourceSpec& spec,
                                        const std::vector<std::string>& tableFields) {
    using Box = PageProblem::Box;
    using E = DbSendError;
    struct Codes {
        E noSource, noTable, noField, unknown, same;
    };
    Codes c{};
    switch (page) {
        case Page::kExcel:
            c = {E::NoFileName, E::ExcelNoSheet, E::ExcelNoField, E::ExcelUnknownField,
                 E::ExcelSameField};
            break;
        case Page::kAccess:
            c = {E::NoFileName, E::DbNoTable, E::DbNoField, E::DbUnknownField, E::DbSameField};
            break;
        case Page::kOdbc:
            c = {E::DbNoName, E::DbNoTable, E::DbNoField, E::DbUnknownField, E::DbSameField};
            break;
        case Page::kCsv:
            c = {E::CsvNoFileName, E::CsvNoFileName, E::CsvNoField, E::CsvUnknownField,
                 E::CsvSameField};
            break;
    }
    if (spec.source.empty()) {
        return PageProblem{errorNumber(c.noSource), Box::kSource, -1};
    }
    if (page == Page::kCsv && spec.source.front() != '/') {
        return PageProblem{errorNumber(DbSendError::CsvFullPath), Box::kSource, -1};
    }
    if (spec.table.empty()) {
        return PageProblem{errorNumber(c.noTable), page == Page::kCsv ? Box::kSource : Box::kTable,
                           -1};
    }
    if (tableFields.empty()) {
        return PageProblem{errorNumber(c.noField), Box::kTable, -1};
    }
    std::set<std::string> chosen;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::string& f = spec.fields[static_cast<std::size_t>(slot)];
        if (f.empty()) {
            continue;
        }
        if (std::find(tableFields.begin(), tableFields.end(), f) == tableFields.end()) {
            return PageProblem{errorNumber(c.unknown), Box::kSlot, slot};
        }
        if (!chosen.insert(f).second) {
            return PageProblem{errorNumber(c.same), Box::kSlot, slot};
        }
    }
    if (spec.fields[kEmail].empty()) {
        return PageProblem{errorNumber(DbSendError::NoEmailField), Box::kSlot, kEmail};
    }
    return std::nullopt;
}

}  // namespace tarn::dbsend

// tarn book import: builds or fills an address book (.tn2) from a CSV, Excel,
// Access, ODBC or vCard source without a display, with the same import the
// wizard runs.
#include <charconv>
#include <filesystem>
#include <string>
#include <vector>

#include "addressbook/import.h"
#include "command.h"
#include "driver/book_sources.h"

namespace tarn::cli {
namespace {

using namespace addressbook;

int runImport(const std::vector<std::string>& args);

const Command kImport{
    "book import",
    "book import BOOK.tn2 --type N --source SOURCE [--table TABLE] --map FIELD=COLUMN...\n"
    "    [--surname COLUMN --given COLUMN] [--honorific TEXT] [--where email] [--where name]\n"
    "    [--folder NAME] [--delete-first] [--encoding auto|sjis|utf8] [--no-enclose]\n"
    "  N: 0 ODBC (接続文字列), 1 Access (.mdb), 2 Excel95, 3 Excel97-2003 (.xls/.xlsx),\n"
    "     4 CSV (ファイル、またはフォルダと --table), vcard (アドレス帳: .vcf かフォルダ;\n"
    "     --table group:名前 / folder:名前 で一部だけ)\n"
    "  FIELD: company 会社名, department 部署, title 役職, name 氏名, email E-Mail,\n"
    "         free1 ... free10 (Freefield1 ... Freefield10)\n"
    "  --where email: E-Mail が空の行を除外 / --where name: 会社名と氏名が共に空の行を除外\n"
    "  BOOK "
    "がなければ新しいアドレス帳を作ります。インポートできなかった行は行番号と理由を表示します。",
    "外部のデータからアドレス帳にレコードをインポートします", runImport};
const Registration kImportRegistration(kImport);

int slotOf(std::string_view field) {
    static const std::pair<std::string_view, int> kNames[] = {
        {"company", kSlotCompany}, {"会社名", kSlotCompany},    {"department", kSlotDepartment},
        {"部署", kSlotDepartment}, {"部署名", kSlotDepartment}, {"title", kSlotTitle},
        {"役職", kSlotTitle},      {"name", kSlotName1},        {"氏名", kSlotName1},
        {"email", kSlotEmail},     {"E-Mail", kSlotEmail},      {"敬称", -2},
    };
    for (const auto& [name, slot] : kNames) {
        if (field == name) {
            return slot;
        }
    }
    for (std::string_view prefix : {"free", "Freefield"}) {
        if (field.substr(0, prefix.size()) == prefix) {
            int n = 0;
            auto rest = field.substr(prefix.size());
            auto r = std::from_chars(rest.data(), rest.data() + rest.size(), n);
            if (r.ec == std::errc() && r.ptr == rest.data() + rest.size() && n >= 1 && n <= 10) {
                return static_cast<int>(kSlotFree1) + n - 1;
            }
        }
    }
    return -1;
}

// --type and --source (and --table) into the import's source.
int parseSource(const Args& a, ImportSource& s) {
    const auto type = a.value("type");
    const auto source = a.value("source");
    if (!type || !source) {
        return usageError(kImport, "--type と --source が必要です");
    }
    if (*type == "vcard") {
        s.kind = ImportKind::AddressBook;
    } else if (*type == "0") {
        s.kind = ImportKind::Odbc;
    } else if (*type == "1") {
        s.kind = ImportKind::Access;
    } else if (*type == "2" || *type == "3") {
        s.kind = ImportKind::Excel;
        s.excelVersion = *type == "2" ? ExcelVersion::Excel95 : ExcelVersion::Excel97;
    } else if (*type == "4") {
        s.kind = ImportKind::Csv;
    } else {
        return usageError(kImport, "--type は 0 から 4 の数か vcard です: " + *type);
    }
    auto sjisSource = toSjis(*source, "--source");
    if (!sjisSource) {
        return kFailure;
    }
    s.source = std::move(*sjisSource);
    std::string table = a.value("table").value_or("");
    if (s.kind == ImportKind::AddressBook && !table.empty()) {
        if (table.rfind("group:", 0) == 0) {
            s.scope = AddressBookScope::Group;
            table.erase(0, 6);
        } else if (table.rfind("folder:", 0) == 0) {
            s.scope = AddressBookScope::Folder;
            table.erase(0, 7);
        } else {
            return usageError(kImport, "アドレス帳の --table は group:名前 か folder:名前 です");
        }
    }
    if (s.kind == ImportKind::Csv && !table.empty()) {
        // A folder and a file name in it, as `tarn db` takes them.
        s.source += "/" + std::string(toSjis(table, "--table").value_or(""));
        table.clear();
    }
    auto sjisTable = toSjis(table, "--table");
    if (!sjisTable) {
        return kFailure;
    }
    s.table = s.kind == ImportKind::Excel ? bareSheetName(*sjisTable) : *sjisTable;
    if (s.kind != ImportKind::Csv && s.kind != ImportKind::AddressBook && s.table.empty()) {
        return usageError(kImport, "--table が必要です");
    }
    s.odbcEnclose = !a.has("no-enclose");
    if (auto enc = a.value("encoding")) {
        if (*enc == "sjis") {
            s.csvEncoding = db::CsvEncoding::ShiftJis;
        } else if (*enc == "utf8") {
            s.csvEncoding = db::CsvEncoding::Utf8;
        } else if (*enc != "auto") {
            return usageError(kImport, "--encoding は auto、sjis、utf8 のいずれかです: " + *enc);
        }
    }
    return kSuccess;
}

int parseMapping(const Args& a, ImportRequest& r) {
    for (const auto& m : a.values("map")) {
        const auto eq = m.find('=');
        const int slot = eq == std::string::npos ? -1 : slotOf(std::string_view(m).substr(0, eq));
        if (slot < 0) {
            return usageError(kImport, "--map は FIELD=COLUMN です: " + m);
        }
        auto column = toSjis(m.substr(eq + 1), "--map");
        if (!column) {
            return kFailure;
        }
        r.mapping.columns[static_cast<std::size_t>(slot)] = std::move(*column);
    }
    for (auto [option, slot] : {std::pair{"surname", kSlotName1}, std::pair{"given", kSlotName2}}) {
        if (auto column = a.value(option)) {
            auto sjisColumn = toSjis(*column, std::string("--") + option);
            if (!sjisColumn) {
                return kFailure;
            }
            r.mapping.columns[slot] = std::move(*sjisColumn);
        }
    }
    if (auto h = a.value("honorific")) {
        auto sjisText = toSjis(*h, "--honorific");
        if (!sjisText) {
            return kFailure;
        }
        r.mapping.honorific = std::move(*sjisText);
    }
    r.skipWithoutEmail = false;
    r.skipWithoutCompanyAndName = false;
    for (const auto& w : a.values("where")) {
        if (w == "email") {
            r.skipWithoutEmail = true;
        } else if (w == "name") {
            r.skipWithoutCompanyAndName = true;
        } else {
            return usageError(kImport, "--where は email か name です: " + w);
        }
    }
    r.deleteFirst = a.has("delete-first");
    return kSuccess;
}

// --folder by name, or by number; 0 or "なし" for no folder.
int parseFolder(const Args& a, const CTarnSendDoc& doc, ImportRequest& r) {
    const auto folder = a.value("folder");
    if (!folder || *folder == "なし" || *folder == "0") {
        return kSuccess;
    }
    auto sjisName = toSjis(*folder, "--folder");
    if (!sjisName) {
        return kFailure;
    }
    for (std::size_t i = 0; i < doc.folders().size(); ++i) {
        if (doc.folders()[i].name == *sjisName) {
            r.folder = static_cast<std::uint16_t>(i + 1);
            return kSuccess;
        }
    }
    std::size_t n = 0;
    auto p = std::from_chars(folder->data(), folder->data() + folder->size(), n);
    if (p.ec == std::errc() && p.ptr == folder->data() + folder->size() && n >= 1 &&
        n <= doc.folders().size()) {
        r.folder = static_cast<std::uint16_t>(n);
        return kSuccess;
    }
    return fail("フォルダ「" + *folder + "」はアドレス帳にありません");
}

int runImport(const std::vector<std::string>& args) {
    Args a(args,
           {"type", "source", "table", "map", "surname", "given", "honorific", "where", "folder",
            "encoding"},
           {"delete-first", "no-enclose"});
    if (!a.ok()) {
        return usageError(kImport, a.error());
    }
    if (a.positional().size() != 1) {
        return usageError(kImport, "アドレス帳ファイルを一つ指定してください");
    }
    const std::string bookPath = a.positional()[0];
    ImportRequest request;
    if (int rc = parseSource(a, request.source); rc != kSuccess) {
        return rc;
    }
    if (int rc = parseMapping(a, request); rc != kSuccess) {
        return rc;
    }
    // Held until the book is saved: an import beside a send on the same book
    // would lose either the new records or the send's statuses.
    const auto bookLock = driver::lockBook(bookPath);
    if (!bookLock) {
        return fail(bookLock.error().message);
    }
    CTarnSendDoc doc;
    std::error_code ec;
    if (std::filesystem::exists(bookPath, ec)) {
        if (auto st = doc.OnOpenDocument(bookPath, defaultFreeFieldTitles()); !st) {
            return fail(st.error().message);
        }
    } else {
        if (auto st = doc.OnNewDocument(defaultFreeFieldTitles()); !st) {
            return fail(st.error().message);
        }
    }
    if (int rc = parseFolder(a, doc, request); rc != kSuccess) {
        return rc;
    }
    auto staged = readImport(request);
    if (!staged) {
        return fail("インポートに失敗しました。" + staged.error().message);
    }
    auto applied = applyImport(doc, std::move(staged.value()));
    if (!applied) {
        return fail("インポートに失敗しました。" + applied.error().message);
    }
    const ImportReport& report = applied.value();
    for (const auto& p : report.problems) {
        err((p.excluded ? "除外 " : "インポートできません ") + std::to_string(p.row) +
            "行目: " + p.message + "\n");
    }
    if (!report.readError.empty()) {
        err("tarn: " + std::to_string(report.rowsRead + 1) +
            "行目の読み込みに失敗したため、それまでの行をインポートしました: " + report.readError +
            "\n");
    }
    if (auto st = doc.OnSaveDocument(bookPath); !st) {
        return fail(st.error().message);
    }
    out(std::to_string(report.imported) + " 件をインポートしました (読んだ行 " +
        std::to_string(report.rowsRead) + "、除外 " + std::to_string(report.excludedCount()) +
        "、インポートできなかった行 " + std::to_string(report.failedCount()) +
        (report.removedFirst > 0 ? "、先に削除したレコード " + std::to_string(report.removedFirst)
                                 : std::string()) +
        ")\n");
    return report.failedCount() == 0 && report.readError.empty() ? kSuccess : kFailure;
}

}  // namespace
}  // namespace tarn::cli

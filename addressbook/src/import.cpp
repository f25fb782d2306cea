#include "addressbook/import.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "common/cp932.h"
#include "common/sjis.h"
#include "database/db_connection.h"
#include "wab/zephwab.h"

namespace tarn::addressbook {
namespace {

using db::DbConnection;
using db::DbRecordset;

// What a row becomes a record from: per mapped slot, the value as Shift_JIS
// text, or the reason it has none.
struct SlotValue {
    bool mapped = false;
    std::string text;
    std::string problem;  // UTF-8; empty when the text is good
};
using RowValues = std::array<SlotValue, kSlotCount>;

const char* const kSlotLabels[kSlotCount] = {
    "会社名",     "部署",       "役職",       "氏名 (前)",  "氏名 (後)",  "E-Mail",
    "Freefield1", "Freefield2", "Freefield3", "Freefield4", "Freefield5", "Freefield6",
    "Freefield7", "Freefield8", "Freefield9", "Freefield10"};

std::string sjisLiteral(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();  // the program's own texts are all in CP932
}

int dbType(const ImportSource& s) {
    switch (s.kind) {
        case ImportKind::Access:
            return db::kAccess;
        case ImportKind::Excel:
            return s.excelVersion == ExcelVersion::Excel95 ? db::kExcel95 : db::kExcel97;
        case ImportKind::Csv:
            return db::kText;
        case ImportKind::Odbc:
            return db::kOdbc;
        case ImportKind::AddressBook:
            break;
    }
    return -1;
}

// A CSV path names its folder as the data source and itself as the table.
std::pair<std::string, std::string> splitCsvPath(std::string_view path) {
    const std::size_t slash = sjis::rfind(path, '/');
    if (slash == std::string_view::npos) {
        return {".", std::string(path)};
    }
    return {std::string(path.substr(0, slash == 0 ? 1 : slash)),
            std::string(path.substr(slash + 1))};
}

std::string dataSource(const ImportSource& s) {
    return s.kind == ImportKind::Csv ? splitCsvPath(s.source).first : s.source;
}

bool fileExists(std::string_view sjisPath) {
    auto utf8 = cp932::toUtf8(sjisPath);
    std::error_code ec;
    return utf8 && std::filesystem::exists(std::filesystem::path(utf8.value()), ec);
}

Result<std::unique_ptr<DbConnection>> openConnection(const ImportSource& s) {
    auto conn = std::make_unique<DbConnection>();
    conn->SetCsvEncoding(s.csvEncoding);
    if (!conn->Open(dbType(s), dataSource(s))) {
        return conn->LastError();
    }
    return conn;
}

// How names are enclosed: back-quotes for the file sources; for ODBC the
// driver's own quote (a back-quote is a syntax error to most servers), or
// nothing when the person turned enclosing off.
std::string quoteFor(const ImportSource& s, const DbConnection* conn) {
    if (s.kind != ImportKind::Odbc) {
        return "`";
    }
    if (!s.odbcEnclose) {
        return {};
    }
    return conn != nullptr ? conn->IdentifierQuote() : std::string("`");
}

std::string enclose(std::string_view name, const std::string& quote) {
    return quote + std::string(name) + quote;
}

std::string fromClause(const ImportSource& s, const std::string& quote) {
    if (s.kind == ImportKind::Excel) {
        return enclose(s.table + "$", quote);
    }
    if (s.kind == ImportKind::Csv && s.table.empty()) {
        return enclose(splitCsvPath(s.source).second, quote);
    }
    return enclose(s.table, quote);
}

std::string fieldListQueryWith(const ImportSource& s, const std::string& quote) {
    return "SELECT * FROM " + fromClause(s, quote);
}

std::string importQueryWith(const ImportSource& s, const ImportMapping& m,
                            const std::string& quote) {
    std::string q = "SELECT ";
    bool first = true;
    for (const auto& column : m.columns) {
        if (!column.empty()) {
            q += (first ? "" : ",") + enclose(column, quote);
            first = false;
        }
    }
    return q + " FROM " + fromClause(s, quote);
}

// --- the system address book through its five calls

struct WabClose {
    void operator()(ZEPHWAB* h) const { ZEPHWABClose(h); }
};
using WabHandle = std::unique_ptr<ZEPHWAB, WabClose>;
struct WabFree {
    void operator()(void* p) const { ZEPHWABMemFree(p); }
};
using WabRow = std::unique_ptr<ZEPHWABROW, WabFree>;

Result<WabHandle> wabOpen(const std::string& bookUtf8, const std::string& container, int mode) {
    ZEPHWAB* raw = nullptr;
    if (ZEPHWABOpen(&raw, bookUtf8.c_str(), container.empty() ? nullptr : container.data(),
                    container.size(), mode) == 0) {
        return makeError(ZEPHWABLastError());
    }
    return WabHandle(raw);
}

// Reads rows until the read answers 0; `visit` returns false to stop early.
template <class Visit>
Status wabReadAll(ZEPHWAB* h, Visit visit) {
    while (true) {
        ZEPHWABROW* raw = nullptr;
        if (ZEPHWABRead(h, &raw, 0) == 0) {
            if (*ZEPHWABLastError() != '\0') {
                return makeError(ZEPHWABLastError());
            }
            return Ok{};
        }
        WabRow row(raw);
        if (!visit(*row)) {
            return Ok{};
        }
    }
}

// Folders are listed as the address book holds them, leaving out the
// per-identity "…の連絡先" folders and stopping at the main "アドレス帳" folder.
bool isListedFolder(std::string_view utf8Name, bool& stop) {
    if (utf8Name == "アドレス帳") {
        stop = true;
        return false;
    }
    return utf8Name.find("の連絡先") == std::string_view::npos;
}

Result<std::vector<std::string>> wabNames(std::string_view bookPath, int mode) {
    auto utf8 = cp932::toUtf8(bookPath);
    if (!utf8) {
        return utf8.error();
    }
    auto h = wabOpen(utf8.value(), {}, mode);
    if (!h) {
        return h.error();
    }
    std::vector<std::string> names;
    std::string failure;
    auto st = wabReadAll(h->get(), [&](const ZEPHWABROW& row) {
        std::string_view name = row.texts[ZEPHWAB_NAME];
        if (mode == ZEPHWAB_MODE_FOLDERS) {
            bool stop = false;
            if (!isListedFolder(name, stop)) {
                return !stop;
            }
        } else if (row.isList == 0) {
            return true;
        }
        auto sjisName = cp932::fromUtf8(name);
        if (!sjisName) {
            failure = sjisName.error().message;
            return false;
        }
        names.push_back(std::move(sjisName.value()));
        return true;
    });
    if (!st) {
        return st.error();
    }
    if (!failure.empty()) {
        return makeError(failure);
    }
    return names;
}

// The identifier of the first entry the predicate accepts, copied past its row.
Result<std::string> wabFindEntry(const std::string& bookUtf8, int mode,
                                 const std::function<bool(const ZEPHWABROW&, bool&)>& accept) {
    auto h = wabOpen(bookUtf8, {}, mode);
    if (!h) {
        return h.error();
    }
    std::string id;
    bool found = false;
    auto st = wabReadAll(h->get(), [&](const ZEPHWABROW& row) {
        bool stop = false;
        if (!accept(row, stop)) {
            return !stop;
        }
        void* copy = nullptr;
        if (ZEPHWABMemCopy(&copy, row.entryId, row.entryIdSize) == 0) {
            return false;
        }
        std::unique_ptr<void, WabFree> owned(copy);
        id.assign(static_cast<const char*>(copy), row.entryIdSize);
        found = true;
        return false;
    });
    if (!st) {
        return st.error();
    }
    if (!found) {
        return makeError("the address book has no such group or folder");
    }
    return id;
}

// --- rows into records

class RowReader {
public:
    virtual ~RowReader() = default;
    // The next row's values into `out`; false at the end. readError() tells a
    // failed read from the end.
    virtual bool next(RowValues& out) = 0;
    virtual long long total() const { return -1; }
    std::string readError;
};

class DbRowReader final : public RowReader {
public:
    static Result<std::unique_ptr<DbRowReader>> open(const ImportRequest& r) {
        auto reader = std::make_unique<DbRowReader>();
        auto conn = openConnection(r.source);
        if (!conn) {
            return conn.error();
        }
        reader->m_conn = std::move(conn.value());
        const std::string query =
            importQueryWith(r.source, r.mapping, quoteFor(r.source, reader->m_conn.get()));
        if (!reader->m_rs.Open(*reader->m_conn, query)) {
            return reader->m_rs.LastError();
        }
        int field = 0;
        for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
            if (!r.mapping.columns[slot].empty()) {
                reader->m_fields[slot] = field++;
            }
        }
        // Counting the rows first is cheap for the file sources (held in
        // memory) and not for a server, which is left to say nothing.
        if (r.source.kind != ImportKind::Odbc) {
            reader->m_total = 0;
            if (!reader->m_rs.AtEnd() && reader->m_rs.MoveLast()) {
                reader->m_total = reader->m_rs.Position() + 1;
                reader->m_rs.MoveFirst();
            }
        }
        return reader;
    }

    bool next(RowValues& out) override {
        if (m_started && !m_rs.MoveNext()) {
            readError = m_rs.LastError().message;
            return false;
        }
        m_started = true;
        if (m_rs.AtEnd()) {
            return false;
        }
        for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
            SlotValue& v = out[slot];
            v.mapped = m_fields[slot] >= 0;
            v.text.clear();
            v.problem.clear();
            if (v.mapped && (!m_rs.SelectField(m_fields[slot]) || !m_rs.FieldAsText(v.text))) {
                v.problem = m_rs.LastError().message;
            }
        }
        return true;
    }

    long long total() const override { return m_total; }

private:
    std::unique_ptr<DbConnection> m_conn;
    DbRecordset m_rs;
    std::array<int, kSlotCount> m_fields{-1, -1, -1, -1, -1, -1, -1, -1,
                                         -1, -1, -1, -1, -1, -1, -1, -1};
    bool m_started = false;
    long long m_total = -1;
};

class WabRowReader final : public RowReader {
public:
    static Result<std::unique_ptr<WabRowReader>> open(const ImportRequest& r) {
        auto reader = std::make_unique<WabRowReader>();
        auto book = cp932::toUtf8(r.source.source);
        if (!book) {
            return book.error();
        }
        auto chosen = cp932::toUtf8(r.source.table);
        if (!chosen) {
            return chosen.error();
        }
        std::string container;
        int mode = ZEPHWAB_MODE_CONTACTS;
        if (r.source.scope == AddressBookScope::Group) {
            auto id = wabFindEntry(
                book.value(), ZEPHWAB_MODE_CONTACTS, [&](const ZEPHWABROW& row, bool&) {
                    return row.isList != 0 &&
                           sjis::equalsIgnoreCase(row.texts[ZEPHWAB_NAME], chosen.value());
                });
            if (!id) {
                return makeError("group \"" + chosen.value() + "\": " + id.error().message);
            }
            container = std::move(id.value());
        } else if (r.source.scope == AddressBookScope::Folder) {
            auto id = wabFindEntry(
                book.value(), ZEPHWAB_MODE_FOLDERS, [&](const ZEPHWABROW& row, bool& stop) {
                    return isListedFolder(row.texts[ZEPHWAB_NAME], stop) &&
                           sjis::equalsIgnoreCase(row.texts[ZEPHWAB_NAME], chosen.value());
                });
            if (!id) {
                return makeError("folder \"" + chosen.value() + "\": " + id.error().message);
            }
            container = std::move(id.value());
        }
        auto h = wabOpen(book.value(), container, mode);
        if (!h) {
            return h.error();
        }
        reader->m_handle = std::move(h.value());
        // Each slot takes one of the seven texts by its name.
        const auto& names = addressBookFields();
        for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
            const std::string& column = r.mapping.columns[slot];
            if (column.empty()) {
                continue;
            }
            auto at = std::find(names.begin(), names.end(), column);
            if (at == names.end()) {
                return makeError("an address-book entry has no text named \"" +
                                 cp932::toUtf8Lossy(column) + "\"");
            }
            reader->m_texts[slot] = static_cast<int>(at - names.begin());
        }
        return reader;
    }

    bool next(RowValues& out) override {
        while (true) {
            ZEPHWABROW* raw = nullptr;
            if (ZEPHWABRead(m_handle.get(), &raw, 0) == 0) {
                readError = ZEPHWABLastError();
                return false;
            }
            WabRow row(raw);
            if (row->isList != 0) {
                continue;  // a group is not a contact
            }
            for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
                SlotValue& v = out[slot];
                v.mapped = m_texts[slot] >= 0;
                v.text.clear();
                v.problem.clear();
                if (v.mapped) {
                    auto t = cp932::fromUtf8(row->texts[m_texts[slot]]);
                    if (t) {
                        v.text = std::move(t.value());
                    } else {
                        v.problem = t.error().message;
                    }
                }
            }
            return true;
        }
    }

private:
    WabHandle m_handle;
    std::array<int, kSlotCount> m_texts{-1, -1, -1, -1, -1, -1, -1, -1,
                                        -1, -1, -1, -1, -1, -1, -1, -1};
};

std::size_t limitFor(std::size_t slot) {
    switch (slot) {
        case kSlotCompany:
            return CTarnSendDoc::kMaxCompanyBytes;
        case kSlotDepartment:
        case kSlotTitle:
        case kSlotEmail:
            return CTarnSendDoc::kMaxFieldBytes;
        default:
            return 0;  // the name is checked joined; free fields have no limit
    }
}

// One row into a record, or the reason it is not one.
std::optional<ImportProblem> buildRecord(const ImportRequest& r, const RowValues& v, long long row,
                                         Record& out) {
    auto problem = [&](std::string message, bool excluded) {
        return ImportProblem{row, std::move(message), excluded};
    };
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
        if (!v[slot].problem.empty()) {
            return problem(std::string(kSlotLabels[slot]) + ": " + v[slot].problem, false);
        }
    }
    const bool emailMapped = v[kSlotEmail].mapped;
    if (r.skipWithoutEmail && emailMapped && v[kSlotEmail].text.empty()) {
        return problem("E-Mailが入っていないため除外しました。", true);
    }
    const bool companyAndNameMapped =
        v[kSlotCompany].mapped && v[kSlotName1].mapped && v[kSlotName2].mapped;
    if (r.skipWithoutCompanyAndName && companyAndNameMapped && v[kSlotCompany].text.empty() &&
        v[kSlotName1].text.empty() && v[kSlotName2].text.empty()) {
        return problem("会社名および名前のどちらも入っていないため除外しました。", true);
    }
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
        const std::size_t limit = limitFor(slot);
        if (limit != 0 && v[slot].text.size() > limit) {
            return problem(std::string(kSlotLabels[slot]) + "が" + std::to_string(limit) +
                               "バイトを超えています (" + std::to_string(v[slot].text.size()) +
                               "バイト)。",
                           false);
        }
    }
    const std::string name = v[kSlotName1].text + v[kSlotName2].text;
    if (name.size() > CTarnSendDoc::kMaxFieldBytes) {
        return problem("氏名が" + std::to_string(CTarnSendDoc::kMaxFieldBytes) +
                           "バイトを超えています (" + std::to_string(name.size()) + "バイト)。",
                       false);
    }
    Record::Texts texts{};
    texts[static_cast<std::size_t>(Field::Company)] = v[kSlotCompany].text;
    texts[static_cast<std::size_t>(Field::Department)] = v[kSlotDepartment].text;
    texts[static_cast<std::size_t>(Field::Title)] = v[kSlotTitle].text;
    texts[static_cast<std::size_t>(Field::Name)] = name;
    texts[static_cast<std::size_t>(Field::Email)] = v[kSlotEmail].text;
    texts[static_cast<std::size_t>(Field::Honorific)] = r.mapping.honorific;
    for (std::size_t i = 0; i < kFreeFieldCount; ++i) {
        texts[static_cast<std::size_t>(freeField(i))] = v[kSlotFree1 + i].text;
    }
    out.assignTexts(texts);
    out.setFolder(r.folder);
    out.setStatus(kStatusNormal);
    return std::nullopt;
}

}  // namespace

std::size_t ImportReport::excludedCount() const {
    return static_cast<std::size_t>(std::count_if(
        problems.begin(), problems.end(), [](const ImportProblem& p) { return p.excluded; }));
}

std::size_t ImportReport::failedCount() const {
    return problems.size() - excludedCount();
}

std::string bareSheetName(std::string_view table) {
    if (table.size() >= 2 && table.front() == '\'' && table.back() == '\'') {
        table = table.substr(1, table.size() - 2);
    }
    if (!table.empty() && table.back() == '$') {
        table.remove_suffix(1);
    }
    return std::string(table);
}

std::string fieldListQuery(const ImportSource& source) {
    return fieldListQueryWith(source, quoteFor(source, nullptr));
}

std::string importQuery(const ImportSource& source, const ImportMapping& mapping) {
    return importQueryWith(source, mapping, quoteFor(source, nullptr));
}

const std::vector<std::string>& addressBookFields() {
    // In the order of the entry's texts (ZEPHWAB_NAME ... ZEPHWAB_GIVEN).
    static const std::vector<std::string> names = {
        sjisLiteral("表示名"), sjisLiteral("E-Mail"), sjisLiteral("会社名"), sjisLiteral("部署名"),
        sjisLiteral("役職"),   sjisLiteral("姓"),     sjisLiteral("名")};
    return names;
}

ImportMapping addressBookMapping() {
    const auto& f = addressBookFields();
    ImportMapping m;
    m.columns[kSlotCompany] = f[ZEPHWAB_COMPANY];
    m.columns[kSlotDepartment] = f[ZEPHWAB_DEPARTMENT];
    m.columns[kSlotTitle] = f[ZEPHWAB_TITLE];
    m.columns[kSlotName1] = f[ZEPHWAB_NAME];
    m.columns[kSlotEmail] = f[ZEPHWAB_EMAIL];
    return m;
}

Result<std::vector<std::string>> listTables(const ImportSource& s) {
    if (s.kind == ImportKind::AddressBook) {
        return makeError("the address book has groups and folders, not tables");
    }
    if (s.kind != ImportKind::Odbc && !fileExists(s.source)) {
        return std::vector<std::string>{};
    }
    auto conn = openConnection(s);
    if (!conn) {
        return conn.error();
    }
    std::vector<std::string> out;
    for (int i = 0; i < (*conn)->TableCount(); ++i) {
        const std::string type = (*conn)->TableType(i).value_or("");
        if ((s.kind == ImportKind::Access || s.kind == ImportKind::Odbc) && type != "TABLE" &&
            type != "VIEW") {
            continue;
        }
        auto name = (*conn)->TableName(i);
        if (!name) {
            continue;  // a name Shift_JIS cannot hold cannot be asked for either
        }
        std::string shown = s.kind == ImportKind::Excel ? bareSheetName(*name) : *name;
        if (!shown.empty()) {
            out.push_back(std::move(shown));
        }
    }
    return out;
}

Result<std::vector<std::string>> listFields(const ImportSource& s) {
    if (s.kind == ImportKind::AddressBook) {
        return addressBookFields();
    }
    auto conn = openConnection(s);
    if (!conn) {
        return conn.error();
    }
    DbRecordset rs;
    if (!rs.Open(**conn, fieldListQueryWith(s, quoteFor(s, conn->get())))) {
        return rs.LastError();
    }
    std::vector<std::string> out;
    for (int i = 0; i < rs.FieldCount(); ++i) {
        rs.SelectField(i);
        if (auto name = rs.FieldName()) {
            out.push_back(std::move(*name));
        }
    }
    return out;  // a sheet whose only field is "F1" already has none
}

Result<std::vector<std::string>> listAddressBookGroups(std::string_view bookPath) {
    return wabNames(bookPath, ZEPHWAB_MODE_CONTACTS);
}

Result<std::vector<std::string>> listAddressBookFolders(std::string_view bookPath) {
    return wabNames(bookPath, ZEPHWAB_MODE_FOLDERS);
}

Result<StagedImport> readImport(const ImportRequest& request, ImportProgress* progress) {
    if (std::all_of(request.mapping.columns.begin(), request.mapping.columns.end(),
                    [](const std::string& c) { return c.empty(); })) {
        return makeError("no column is mapped to a field of the address book");
    }
    std::unique_ptr<RowReader> reader;
    if (request.source.kind == ImportKind::AddressBook) {
        auto r = WabRowReader::open(request);
        if (!r) {
            return r.error();
        }
        reader = std::move(r.value());
    } else {
        auto r = DbRowReader::open(request);
        if (!r) {
            return r.error();
        }
        reader = std::move(r.value());
    }
    if (progress != nullptr) {
        progress->rowsTotal = reader->total();
    }
    StagedImport staged;
    staged.request = request;
    if (reader->total() > 0) {
        staged.records.reserve(static_cast<std::size_t>(
            std::min<long long>(reader->total(), CTarnSendDoc::kMaxRecords)));
    }
    RowValues values;
    long long row = 0;
    while (true) {
        if (progress != nullptr && progress->cancel.load()) {
            staged.cancelled = true;
            break;
        }
        if (!reader->next(values)) {
            staged.readError = reader->readError;
            break;
        }
        ++row;
        Record record;
        if (auto problem = buildRecord(request, values, row, record)) {
            staged.problems.push_back(std::move(*problem));
        } else {
            staged.records.push_back(std::move(record));
            staged.recordRows.push_back(row);
        }
        if (progress != nullptr) {
            progress->rowsRead = row;
        }
    }
    staged.rowsRead = row;
    return staged;
}

Result<ImportReport> applyImport(CTarnSendDoc& doc, StagedImport staged) {
    ImportReport report;
    report.rowsRead = staged.rowsRead;
    report.readError = std::move(staged.readError);
    report.problems = std::move(staged.problems);
    if (staged.cancelled) {
        report.cancelled = true;
        return report;
    }
    if (auto ok = doc.editable(); !ok) {
        return ok.error();  // a send or check holds the book
    }
    const ImportRequest& r = staged.request;
    std::uint16_t folder = r.folder;
    if (doc.folderByNumber(folder) == nullptr) {
        folder = 0;  // the folder went away while the rows were read
    }
    // An import is not undone; entries from before it would name positions
    // that no longer hold what they did.
    doc.clearUndo();
    if (r.deleteFirst && doc.recordCount() > 0) {
        std::vector<const Record*> all;
        all.reserve(doc.recordCount());
        for (std::size_t i = 0; i < doc.recordCount(); ++i) {
            all.push_back(&doc.record(i));
        }
        auto removed = doc.removeRecords(all);  // out of every group too
        if (!removed) {
            return removed.error();
        }
        report.removedFirst = removed->size();
    }
    const std::size_t room = CTarnSendDoc::kMaxRecords - doc.recordCount();
    const std::size_t fits = std::min(room, staged.records.size());
    std::vector<PlacedRecord> placed;
    placed.reserve(fits);
    for (std::size_t i = 0; i < fits; ++i) {
        staged.records[i].setFolder(folder);
        placed.push_back({doc.recordCount() + i, std::move(staged.records[i]), {}});
    }
    auto added = doc.insertRecords(std::move(placed));
    if (!added) {
        return added.error();
    }
    report.imported = added->size();
    if (fits < staged.records.size()) {
        const long long first = staged.recordRows[fits];
        const long long last = staged.recordRows.back();
        report.problems.push_back(
            {first,
             "アドレス帳のレコードは" + std::to_string(CTarnSendDoc::kMaxRecords) +
                 "件までのため、" + std::to_string(first) + "行目から" + std::to_string(last) +
                 "行目までの" + std::to_string(staged.records.size() - fits) +
                 "件はインポートしませんでした。",
             false});
    }
    std::stable_sort(report.problems.begin(), report.problems.end(),
                     [](const ImportProblem& a, const ImportProblem& b) { return a.row < b.row; });
    if (report.imported > 0 || report.removedFirst > 0) {
        doc.setModifiedFlag();
    }
    return report;
}

}  // namespace tarn::addressbook

// The import against the sample files: every file kind gives the same records,
// the conditions and delete-first, and rows that cannot be imported.
#include "addressbook/import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <span>

#include "common/cp932.h"
#include "testsupport.h"

namespace tarn::addressbook {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kData = TARN_TESTDATA;

std::string sj(const std::string& utf8) {
    auto r = cp932::fromUtf8(utf8);
    EXPECT_TRUE(r) << utf8;
    return r ? r.value() : std::string();
}
std::string u8(std::string_view sjis) {
    return cp932::toUtf8Lossy(sjis);
}

// The sample table's columns onto the record, 姓 + 名 as the name.
ImportMapping sampleMapping() {
    ImportMapping m;
    m.columns[kSlotCompany] = sj("会社名");
    m.columns[kSlotDepartment] = sj("部署名");
    m.columns[kSlotTitle] = sj("役職");
    m.columns[kSlotName1] = sj("姓");
    m.columns[kSlotName2] = sj("名");
    m.columns[kSlotEmail] = "E-Mail";
    m.columns[kSlotFree1] = "Freefield1";
    m.columns[kSlotFree1 + 1] = "Freefield2";
    m.columns[kSlotFree1 + 2] = "Freefield3";
    m.columns[kSlotFree1 + 3] = sj("会員番号");
    m.columns[kSlotFree1 + 4] = sj("金額");
    m.columns[kSlotFree1 + 5] = sj("登録日");
    m.honorific = sj("様");
    return m;
}

ImportRequest request(ImportKind kind, const std::string& fileUtf8, const std::string& table) {
    ImportRequest r;
    r.source.kind = kind;
    r.source.source = sj(fileUtf8);
    r.source.table = sj(table);
    r.mapping = sampleMapping();
    return r;
}

// Every record as UTF-8 lines, to compare sources with each other.
std::vector<std::string> dump(const CTarnSendDoc& doc) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < doc.recordCount(); ++i) {
        const Record& r = doc.record(i);
        std::string line = std::to_string(r.folder());
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            line += "|" + u8(r.text(static_cast<Field>(f)));
        }
        out.push_back(line);
    }
    return out;
}

ImportReport importInto(CTarnSendDoc& doc, const ImportRequest& r) {
    auto staged = readImport(r);
    EXPECT_TRUE(staged) << (staged ? "" : staged.error().message);
    if (!staged) {
        return {};
    }
    auto report = applyImport(doc, std::move(staged.value()));
    EXPECT_TRUE(report) << (report ? "" : report.error().message);
    return report ? std::move(report.value()) : ImportReport{};
}

CTarnSendDoc newBook() {
    CTarnSendDoc doc;
    EXPECT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    return doc;
}

TEST(Import, EveryFileKindGivesTheSameRecords) {
    const std::vector<ImportRequest> sources = {
        request(ImportKind::Csv, kData + "/csv/recipients_sjis.csv", "recipients_sjis.csv"),
        request(ImportKind::Csv, kData + "/csv/recipients_utf8bom.csv", "recipients_utf8bom.csv"),
        request(ImportKind::Csv, kData + "/csv/recipients_utf8.csv", ""),  // table from the path
        request(ImportKind::Excel, kData + "/xls/recipients97.xls", "顧客"),
        [] {
            auto r = request(ImportKind::Excel, kData + "/xls/recipients95.xls", "顧客");
            r.source.excelVersion = ExcelVersion::Excel95;
            return r;
        }(),
    };
    std::vector<std::string> first;
    for (const auto& r : sources) {
        SCOPED_TRACE(u8(r.source.source));
        CTarnSendDoc doc = newBook();
        auto report = importInto(doc, r);
        EXPECT_EQ(report.rowsRead, 12);
        EXPECT_EQ(report.imported, 11u);
        // Row 8 has no address: left out by the condition, and said so.
        ASSERT_EQ(report.problems.size(), 1u);
        EXPECT_EQ(report.problems[0].row, 8);
        EXPECT_TRUE(report.problems[0].excluded);
        EXPECT_TRUE(doc.isModified());
        auto lines = dump(doc);
        if (first.empty()) {
            first = lines;
            continue;
        }
        EXPECT_EQ(lines, first);
    }
    ASSERT_EQ(first.size(), 11u);
    EXPECT_EQ(first[0],
              "0|株式会社みどり商事|営業部|部長|佐藤一郎|ichiro.sato@midori-shoji.example.co.jp|様|"
              "東京都港区芝公園4-2-8|ゴールド会員||1001|125000.5|2023/04/01||||");
    auto startsWith = [](const std::string& s, const std::string& prefix) {
        return s.rfind(prefix, 0) == 0;
    };
    EXPECT_TRUE(startsWith(first[2], "0|株式会社山﨑精機|品質保証部|係長|髙橋健太|")) << first[2];
    // Row 6 (a company without a name) and row 7 (a name without a company) are
    // imported: the condition wants both missing.
    EXPECT_TRUE(startsWith(first[5], "0|株式会社つばさ物流|総務部|||info@")) << first[5];
    EXPECT_TRUE(startsWith(first[6], "0||||田中美咲|misaki")) << first[6];
    // Row 9's line break and row 10's quotes and comma come through.
    EXPECT_NE(first[7].find("梅田1-2-3\n梅田スカイタワー12F"), std::string::npos);
    EXPECT_NE(first[8].find("|ABC Holdings, Inc.|"), std::string::npos);
    EXPECT_NE(first[8].find("|\"至急\",折り返し連絡|"), std::string::npos);
}

TEST(Import, ConditionsFolderAndDeleteFirst) {
    CTarnSendDoc doc = newBook();
    Record kept;
    kept.setText(Field::Email, "kept@example.jp");
    const Record* keptRecord = doc.appendRecord(std::move(kept)).value();
    ASSERT_TRUE(doc.addMembers(2, std::span(&keptRecord, 1)));

    // Conditions off: the row without an address comes in too (the address is
    // left empty, for the person to fill in), into folder 3, after the record
    // already there, whose membership stays.
    auto r = request(ImportKind::Csv, kData + "/csv/recipients_sjis.csv", "recipients_sjis.csv");
    r.skipWithoutEmail = false;
    r.skipWithoutCompanyAndName = false;
    r.folder = 3;
    auto report = importInto(doc, r);
    EXPECT_EQ(report.imported, 12u);
    EXPECT_TRUE(report.problems.empty());
    ASSERT_EQ(doc.recordCount(), 13u);
    EXPECT_EQ(doc.record(0).email(), "kept@example.jp");
    EXPECT_EQ(doc.groups()[2].members, std::vector<const Record*>{keptRecord});
    EXPECT_EQ(doc.record(8).email(), "");
    EXPECT_EQ(doc.record(8).folder(), 3);

    // Delete-first: the book holds the import alone and the groups are empty.
    // With 姓 and 名 unmapped the company-and-name condition does not apply; a
    // row with neither company nor address would be left out by the other.
    r.deleteFirst = true;
    r.skipWithoutCompanyAndName = true;
    r.skipWithoutEmail = true;
    r.mapping.columns[kSlotName2].clear();
    r.folder = 0;
    report = importInto(doc, r);
    EXPECT_EQ(report.removedFirst, 13u);
    EXPECT_EQ(report.imported, 11u);
    EXPECT_EQ(doc.recordCount(), 11u);
    for (const auto& g : doc.groups()) {
        EXPECT_TRUE(g.members.empty());
    }
    EXPECT_EQ(u8(doc.record(0).name()), "佐藤");
    EXPECT_TRUE(doc.undo().empty());

    // A company-and-name row with the three mapped and all empty is left out.
    TempDir dir;
    test::writeFile(dir / "t.csv", "c,a,b,m\r\n,,,x@example.jp\r\nC,,,y@example.jp\r\n");
    ImportRequest t;
    t.source.kind = ImportKind::Csv;
    t.source.source = (dir / "t.csv").string();
    t.mapping.columns[kSlotCompany] = "c";
    t.mapping.columns[kSlotName1] = "a";
    t.mapping.columns[kSlotName2] = "b";
    t.mapping.columns[kSlotEmail] = "m";
    CTarnSendDoc small = newBook();
    report = importInto(small, t);
    EXPECT_EQ(report.imported, 1u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].row, 1);
    EXPECT_EQ(small.record(0).company(), "C");
}

// The sample Access 97 file is a Western one: its text is CP1252, not the
// CP932 a Japanese Access 97 file holds.
void readJet3AsWestern() {
    setenv("MDB_JET3_CHARSET", "CP1252", 1);
}

TEST(Import, RowsThatCannotBeImportedAreListedNotCut) {
    // Access: 40 of the 91 customers hold letters Shift_JIS has no place for.
    readJet3AsWestern();
    ImportRequest r;
    r.source.kind = ImportKind::Access;
    r.source.source = kData + "/mdb/nwind.mdb";
    r.source.table = "Customers";
    r.mapping.columns[kSlotCompany] = "CompanyName";
    r.mapping.columns[kSlotName1] = "ContactName";
    r.mapping.columns[kSlotTitle] = "ContactTitle";
    r.mapping.columns[kSlotEmail] = "CustomerID";
    r.mapping.columns[kSlotFree1] = "Address";
    r.mapping.columns[kSlotFree1 + 1] = "City";
    CTarnSendDoc doc = newBook();
    auto report = importInto(doc, r);
    EXPECT_EQ(report.rowsRead, 91);
    EXPECT_EQ(report.imported, 51u);
    EXPECT_EQ(report.failedCount(), 40u);
    bool namedMoreno = false;
    for (const auto& p : report.problems) {
        EXPECT_FALSE(p.excluded);
        if (p.message.find("U+00ED") != std::string::npos) {  // Taquería
            namedMoreno = true;
        }
    }
    EXPECT_TRUE(namedMoreno);
    EXPECT_EQ(doc.record(0).company(), "Alfreds Futterkiste");

    // A department over 512 bytes and a joined name over 512 bytes.
    TempDir dir;
    const std::string longDept(513, 'd'), half(300, 'n');
    test::writeFile(dir / "long.csv", "dept,a,b,m\r\n" + longDept + ",x,y,a@example.jp\r\nok," +
                                          half + "," + half + ",b@example.jp\r\nok,x,y,c@e.jp\r\n");
    ImportRequest l;
    l.source.kind = ImportKind::Csv;
    l.source.source = (dir / "long.csv").string();
    l.mapping.columns[kSlotDepartment] = "dept";
    l.mapping.columns[kSlotName1] = "a";
    l.mapping.columns[kSlotName2] = "b";
    l.mapping.columns[kSlotEmail] = "m";
    CTarnSendDoc small = newBook();
    report = importInto(small, l);
    EXPECT_EQ(report.imported, 1u);
    ASSERT_EQ(report.problems.size(), 2u);
    EXPECT_EQ(report.problems[0].row, 1);
    EXPECT_NE(report.problems[0].message.find("部署が512バイトを超えています (513バイト)"),
              std::string::npos)
        << report.problems[0].message;
    EXPECT_EQ(report.problems[1].row, 2);
    EXPECT_NE(report.problems[1].message.find("氏名"), std::string::npos);

    // The book's limit: what does not fit is named as a range of rows.
    CTarnSendDoc full = newBook();
    ASSERT_TRUE(full.appendRecords(std::vector<Record>(CTarnSendDoc::kMaxRecords - 2)));
    report = importInto(full, request(ImportKind::Csv, kData + "/csv/recipients_sjis.csv", ""));
    EXPECT_EQ(report.imported, 2u);
    EXPECT_EQ(full.recordCount(), CTarnSendDoc::kMaxRecords);
    ASSERT_EQ(report.failedCount(), 1u);
    const auto limit = std::find_if(report.problems.begin(), report.problems.end(),
                                    [](const ImportProblem& p) { return !p.excluded; });
    EXPECT_EQ(limit->row, 3);
    EXPECT_NE(limit->message.find("3行目から12行目までの9件"), std::string::npos) << limit->message;
}

TEST(Import, AddressBookAllGroupAndFolder) {
    ImportRequest r;
    r.source.kind = ImportKind::AddressBook;
    r.source.source = sj(kData + "/vcf/contacts.vcf");
    r.mapping = addressBookMapping();
    r.mapping.honorific = sj("様");
    CTarnSendDoc doc = newBook();
    auto report = importInto(doc, r);
    EXPECT_EQ(report.rowsRead, 11);   // the five category groups are passed over
    EXPECT_EQ(report.imported, 10u);  // 伊藤 has no address
    EXPECT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(dump(doc)[0],
              "0|株式会社みどり商事|営業部|部長|佐藤 一郎|"
              "ichiro.sato@midori-shoji.example.co.jp|様||||||||||");

    // Family + given as the name, from one group, chosen ignoring case.
    r.source.source = sj(kData + "/vcf/contacts40.vcf");
    r.source.scope = AddressBookScope::Group;
    r.source.table = sj("セミナー参加者");
    r.mapping.columns[kSlotName1] = sj("姓");
    r.mapping.columns[kSlotName2] = sj("名");
    CTarnSendDoc group = newBook();
    report = importInto(group, r);
    EXPECT_EQ(report.imported, 3u);
    EXPECT_EQ(u8(group.record(2).name()), "山本浩");

    auto groups = listAddressBookGroups(sj(kData + "/vcf/contacts40.vcf"));
    ASSERT_TRUE(groups);
    EXPECT_EQ(groups->size(), 3u);
    auto folders = listAddressBookFolders(sj(kData + "/vcf/folders"));
    ASSERT_TRUE(folders);
    ASSERT_EQ(folders->size(), 2u);

    r.source.source = sj(kData + "/vcf/folders");
    r.source.scope = AddressBookScope::Folder;
    r.source.table = sj("取引先");
    CTarnSendDoc folder = newBook();
    report = importInto(folder, r);
    EXPECT_EQ(report.imported, 3u);
    EXPECT_EQ(u8(folder.record(2).name()), "木村拓也");

    r.source.table = sj("ありません");
    EXPECT_FALSE(readImport(r));
}

TEST(Import, TablesFieldsAndQueries) {
    ImportSource excel;
    excel.kind = ImportKind::Excel;
    excel.source = sj(kData + "/xls/recipients97.xls");
    auto sheets = listTables(excel);
    ASSERT_TRUE(sheets) << sheets.error().message;
    EXPECT_EQ(*sheets, (std::vector<std::string>{sj("顧客"), "Sheet2"}));
    excel.table = "Sheet2";
    auto none = listFields(excel);
    ASSERT_TRUE(none) << none.error().message;
    EXPECT_TRUE(none->empty());

    readJet3AsWestern();
    ImportSource access;
    access.kind = ImportKind::Access;
    access.source = sj(kData + "/mdb/nwind.mdb");
    auto tables = listTables(access);
    ASSERT_TRUE(tables);
    EXPECT_EQ(tables->size(), 8u);  // the nine user tables less "Umsätze", which CP932 cannot name
    EXPECT_TRUE(std::find(tables->begin(), tables->end(), "Customers") != tables->end());

    ImportSource missing = access;
    missing.source = "/no/such/file.mdb";
    auto empty = listTables(missing);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    ImportSource notADatabase = access;
    notADatabase.source = sj(kData + "/csv/recipients_sjis.csv");
    EXPECT_FALSE(listTables(notADatabase));

    EXPECT_EQ(bareSheetName("'My Sheet$'"), "My Sheet");
    EXPECT_EQ(bareSheetName("Sheet1$"), "Sheet1");
    ImportMapping m;
    m.columns[kSlotEmail] = "mail";
    m.columns[kSlotCompany] = "co";
    excel.table = sj("顧客");
    EXPECT_EQ(importQuery(excel, m), sj("SELECT `co`,`mail` FROM `顧客$`"));
    ImportSource odbc;
    odbc.kind = ImportKind::Odbc;
    odbc.table = "people";
    odbc.odbcEnclose = false;
    EXPECT_EQ(importQuery(odbc, m), "SELECT co,mail FROM people");
    EXPECT_EQ(fieldListQuery(odbc), "SELECT * FROM people");

    ImportRequest nothing;
    nothing.source = excel;
    EXPECT_FALSE(readImport(nothing));  // nothing mapped
    ImportRequest broken = request(ImportKind::Access, "/no/such/file.mdb", "Customers");
    EXPECT_FALSE(readImport(broken));
}

TEST(Import, ACancelledReadChangesNothing) {
    CTarnSendDoc doc = newBook();
    ASSERT_TRUE(doc.appendRecord(Record{}));
    doc.setModifiedFlag(false);
    ImportProgress progress;
    progress.cancel = true;
    auto r = request(ImportKind::Csv, kData + "/csv/recipients_sjis.csv", "");
    r.deleteFirst = true;
    auto staged = readImport(r, &progress);
    ASSERT_TRUE(staged);
    EXPECT_EQ(progress.rowsTotal.load(), 12);
    auto report = applyImport(doc, std::move(staged.value()));
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->cancelled);
    EXPECT_EQ(doc.recordCount(), 1u);
    EXPECT_FALSE(doc.isModified());
}

// The import changes the book through its own calls: listeners hear of the
// removal and the insertion, and a book a send holds refuses, unchanged.
TEST(Import, GoesThroughTheDocumentsEventsAndRunGuard) {
    struct Log final : DocumentListener {
        void recordsInserted(std::span<const std::size_t> p) override { inserted += p.size(); }
        void recordsRemoved(std::span<const std::size_t> p,
                            std::span<const Record* const>) override {
            removed += p.size();
        }
        std::size_t inserted = 0, removed = 0;
    } log;
    CTarnSendDoc doc = newBook();
    ASSERT_TRUE(doc.appendRecords(std::vector<Record>(3)));
    doc.addListener(&log);
    auto r = request(ImportKind::Csv, kData + "/csv/recipients_sjis.csv", "");
    r.deleteFirst = true;
    {
        auto run = doc.beginRun();
        ASSERT_TRUE(run);
        auto staged = readImport(r);
        ASSERT_TRUE(staged);
        auto refused = applyImport(doc, std::move(staged.value()));
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().message, std::string(kRunInProgressText));
        EXPECT_EQ(doc.recordCount(), 3u);
    }
    importInto(doc, r);
    EXPECT_EQ(log.removed, 3u);
    EXPECT_EQ(log.inserted, 11u);  // row 8 has no address
    doc.removeListener(&log);
}

}  // namespace
}  // namespace tarn::addressbook

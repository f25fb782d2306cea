// Changing rows: CSV files rewritten in place, ODBC tables through SQLite, and
// the sources that stay read-only.
#include <gtest/gtest.h>

#include "db_helpers.h"
#include "odbc_fixture.h"
#include "testsupport.h"

namespace tarn::db {
namespace {

using dbtest::readTable;
using dbtest::sjis;
using dbtest::utf8;
using tarn::test::TempDir;

using Rows = std::vector<std::vector<std::string>>;

std::string text(DbRecordset& rs, int field) {
    EXPECT_TRUE(rs.SelectField(field));
    auto t = rs.FieldAsText();
    return t ? utf8(t.value()) : "<" + t.error().message + ">";
}

// ---------------------------------------------------------------------------
// CSV

class CsvWrite : public ::testing::Test {
protected:
    void SetUp() override {
        tarn::test::writeFile(m_dir / "t.csv", sjis("id,名前,メモ\r\n"
                                                    "1,佐藤,\"a,b\"\r\n"
                                                    "2,鈴木,\r\n"
                                                    "3,高橋,x\r\n"));
        ASSERT_TRUE(m_conn.Open(kText, m_dir.path().string())) << m_conn.LastError().message;
    }
    std::string file() const { return utf8(tarn::test::readFile(m_dir / "t.csv")); }

    TempDir m_dir;
    DbConnection m_conn;
};

TEST_F(CsvWrite, UpdatesAddsAndDeletesRowsChangingOnlyThoseRecords) {
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(m_conn, "SELECT * FROM `t.csv`", LockType::Optimistic));
    EXPECT_TRUE(rs.Supports(CursorOption::Update));
    EXPECT_TRUE(rs.Supports(CursorOption::AddNew));
    EXPECT_TRUE(rs.Supports(CursorOption::Delete));

    ASSERT_TRUE(rs.MoveNext());
    ASSERT_TRUE(rs.Update(1, DbAnsiString{sjis("山﨑")})) << rs.LastError().message;
    EXPECT_EQ(text(rs, 1), "山﨑");  // read again, still on the same row
    EXPECT_EQ(file(), "id,名前,メモ\r\n1,佐藤,\"a,b\"\r\n2,山﨑,\r\n3,高橋,x\r\n");

    // Deleting the first row makes the one after it current.
    ASSERT_TRUE(rs.MoveFirst());
    ASSERT_TRUE(rs.Delete());
    EXPECT_EQ(text(rs, 0), "2");

    // A new row: its fields read as written, and each Update writes at once.
    const std::string awkward = "He said \"hi\",\r\nthen left";
    ASSERT_TRUE(rs.AddNew());
    EXPECT_EQ(text(rs, 0), "");
    ASSERT_TRUE(rs.Update(0, DbAnsiString{"4"})) << rs.LastError().message;
    EXPECT_EQ(file(), "id,名前,メモ\r\n2,山﨑,\r\n3,高橋,x\r\n4,,\r\n");
    ASSERT_TRUE(rs.Update(2, DbAnsiString{awkward})) << rs.LastError().message;
    ASSERT_TRUE(rs.Update(1, DbAnsiString{""}));  // empty, not null: quoted
    EXPECT_EQ(text(rs, 2), awkward);
    EXPECT_EQ(
        file(),
        "id,名前,メモ\r\n2,山﨑,\r\n3,高橋,x\r\n4,\"\",\"He said \"\"hi\"\",\r\nthen left\"\r\n");

    // Moving ends the new row; the move counts from the row before AddNew.
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_EQ(text(rs, 0), "3");
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_EQ(text(rs, 0), "4");
    ASSERT_TRUE(rs.Delete());  // the last row: the set is then at its end
    EXPECT_TRUE(rs.AtEnd());

    DbConnection again;
    ASSERT_TRUE(again.Open(kText, m_dir.path().string()));
    auto t = readTable(again, "SELECT * FROM `t.csv`");
    EXPECT_EQ(t.rows, (Rows{{"2", "山﨑", ""}, {"3", "高橋", "x"}}));
}

TEST_F(CsvWrite, WritesTheRightColumnOfAPartialSelectAndOfAShortRecord) {
    tarn::test::writeFile(m_dir / "short.csv", "a,b,c\n1\n2,x,y\n");
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(m_conn, "SELECT `c`,`a` FROM `short.csv`", LockType::Pessimistic));
    ASSERT_TRUE(rs.Update(0, DbAnsiString{"z"})) << rs.LastError().message;
    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Update(1, std::int32_t{3}));
    // LF line ends stay LF.
    EXPECT_EQ(tarn::test::readFile(m_dir / "short.csv"), "a,b,c\n1,,z\n2,x,y\n3,,\n");
}

TEST_F(CsvWrite, KeepsUtf8WithItsBomAndRefusesWhatShiftJisCannotHold) {
    tarn::test::writeFile(m_dir / "u.csv", "\xEF\xBB\xBFname\r\nMüller\r\n");
    DbRecordset u;
    ASSERT_TRUE(u.Open(m_conn, "u.csv", LockType::Optimistic));
    ASSERT_TRUE(u.Update(0, DbWideString{"Gödel 髙"})) << u.LastError().message;
    ASSERT_TRUE(u.AddNew());
    ASSERT_TRUE(u.Update(0, DbAnsiString{sjis("山﨑")}));
    EXPECT_EQ(tarn::test::readFile(m_dir / "u.csv"), "\xEF\xBB\xBFname\r\nGödel 髙\r\n山﨑\r\n");

    const std::string before = tarn::test::readFile(m_dir / "t.csv");
    DbRecordset s;
    ASSERT_TRUE(s.Open(m_conn, "t.csv", LockType::Optimistic));
    EXPECT_FALSE(s.Update(1, DbWideString{"Müller"}));
    EXPECT_NE(s.LastError().message.find("U+00FC"), std::string::npos) << s.LastError().message;
    EXPECT_FALSE(s.Update(1, DbAnsiString{"\x82"}));  // half a double-byte character
    EXPECT_EQ(tarn::test::readFile(m_dir / "t.csv"), before);
}

TEST_F(CsvWrite, RefusesReadOnlySetsAndFilesChangedSinceTheyWereRead) {
    DbRecordset ro;
    ASSERT_TRUE(ro.Open(m_conn, "t.csv"));
    EXPECT_FALSE(ro.Supports(CursorOption::Update));
    EXPECT_FALSE(ro.AddNew());
    EXPECT_NE(ro.LastError().message.find("read-only"), std::string::npos);

    DbRecordset rs;
    ASSERT_TRUE(rs.Open(m_conn, "t.csv", LockType::Optimistic));
    const std::string other = "id,名前,メモ\r\n9,other,\r\n";
    tarn::test::writeFile(m_dir / "t.csv", other);
    EXPECT_FALSE(rs.Delete());
    EXPECT_NE(rs.LastError().message.find("changed since it was read"), std::string::npos)
        << rs.LastError().message;
    EXPECT_EQ(tarn::test::readFile(m_dir / "t.csv"), other);
    EXPECT_FALSE(rs.Delete(Affect::All));
}

TEST(FileWrite, AccessAndExcelStayReadOnly) {
    const std::string data = TARN_TESTDATA;
    DbConnection mdb;
    ASSERT_TRUE(mdb.Open(kAccess, data + "/mdb/DateTestDatabase.mdb"));
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(mdb, "DateTest", LockType::Optimistic));
    EXPECT_FALSE(rs.Supports(CursorOption::AddNew));
    EXPECT_FALSE(rs.AddNew());
    EXPECT_NE(rs.LastError().message.find("Access databases can only be read"), std::string::npos);

    DbConnection xls;
    ASSERT_TRUE(xls.Open(kExcel97, data + "/xls/recipients97.xls"));
    DbRecordset sheet;
    ASSERT_TRUE(sheet.Open(xls, "Sheet2$", LockType::Optimistic));
    EXPECT_FALSE(sheet.Supports(CursorOption::Delete));
    EXPECT_FALSE(sheet.Update(0, DbAnsiString{"x"}));
    EXPECT_NE(sheet.LastError().message.find("Excel"), std::string::npos);
}

// ---------------------------------------------------------------------------
// ODBC through SQLite (PostgreSQL: odbc_test.cpp, beside its server)

class SqliteWrite : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string driver = dbtest::driverPath("libsqlite3odbc.so");
        ASSERT_FALSE(driver.empty()) << "the SQLite ODBC driver (libsqliteodbc) is not installed";
        m_source = "DRIVER=" + driver + ";Database=" + (m_dir / "w.db").string() + ";";
        std::string err = dbtest::execute(
            m_source,
            {"CREATE TABLE 会員 (id INTEGER PRIMARY KEY, 名前 TEXT, 登録日 DATE)",
             "INSERT INTO 会員 VALUES (1, '佐藤', '2023-04-01'), (2, 'Smith', NULL), "
             "(3, '高橋', '2024-02-29')",
             "CREATE TABLE dup (name TEXT, n INTEGER, r REAL)",
             "INSERT INTO dup VALUES ('a', 1, 0.1), ('a', 1, 0.1), ('b', 2, 0.1)"},
            false);
        ASSERT_TRUE(err.empty()) << err;
        ASSERT_TRUE(m_conn.Open(kOdbc, m_source)) << m_conn.LastError().message;
    }
    Rows rows(const std::string& query) { return readTable(m_conn, query).rows; }

    TempDir m_dir;
    std::string m_source;
    DbConnection m_conn;
};

TEST_F(SqliteWrite, ChangesRowsOfATableByItsKey) {
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(m_conn, sjis("会員"), LockType::Optimistic)) << rs.LastError().message;
    EXPECT_TRUE(rs.Supports(CursorOption::Update));
    ASSERT_TRUE(rs.MoveNext());
    // Changed elsewhere since it was read: the key still finds the row.
    ASSERT_EQ(
        dbtest::execute(m_source, {"UPDATE 会員 SET 登録日 = '2000-01-01' WHERE id = 2"}, false),
        "");
    ASSERT_TRUE(rs.Update(1, DbAnsiString{sjis("髙橋 ㈱")})) << rs.LastError().message;
    EXPECT_EQ(text(rs, 1), "髙橋 ㈱");
    ASSERT_TRUE(rs.Update(2, DbDate{2025, 1, 31}));

    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Update(1, DbAnsiString{sjis("新規")})) << rs.LastError().message;
    ASSERT_TRUE(rs.Update(2, DbAnsiString{"2026-12-06"})) << rs.LastError().message;
    ASSERT_TRUE(rs.MoveFirst());
    ASSERT_TRUE(rs.Delete()) << rs.LastError().message;
    EXPECT_EQ(text(rs, 0), "2");

    EXPECT_EQ(rows("SELECT id, 名前, 登録日 FROM 会員 ORDER BY id"),
              (Rows{{"2", "髙橋 ㈱", "2025/01/31"},
                    {"3", "高橋", "2024/02/29"},
                    {"4", "新規", "2026/12/06"}}));
}

TEST_F(SqliteWrite, RefusesToChangeADuplicatedRowOfATableWithoutKey) {
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(m_conn, "SELECT name, n, r FROM dup", LockType::Optimistic));
    EXPECT_FALSE(rs.Update(0, DbAnsiString{"z"}));
    EXPECT_NE(rs.LastError().message.find("2 rows matched"), std::string::npos)
        << rs.LastError().message;
    EXPECT_FALSE(rs.Delete());
    EXPECT_EQ(text(rs, 0), "a");  // the set still reads
    ASSERT_TRUE(rs.MoveLast());
    ASSERT_TRUE(rs.Update(0, DbAnsiString{"c"})) << rs.LastError().message;  // unique
    EXPECT_EQ(rows("SELECT name, n FROM dup ORDER BY name"),
              (Rows{{"a", "1"}, {"a", "1"}, {"c", "2"}}));

    DbRecordset join;
    ASSERT_TRUE(join.Open(m_conn, "SELECT d.name FROM dup d JOIN dup e ON d.n = e.n",
                          LockType::Optimistic));
    EXPECT_FALSE(join.Supports(CursorOption::Update));
    EXPECT_FALSE(join.Delete());
    EXPECT_NE(join.LastError().message.find("one table"), std::string::npos);
}

}  // namespace
}  // namespace tarn::db

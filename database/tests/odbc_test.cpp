// ODBC through unixODBC with two real drivers: SQLite on a file, PostgreSQL on a
// private server.
#include <gtest/gtest.h>

#include <algorithm>

#include "db_helpers.h"
#include "odbc_fixture.h"

namespace tarn::db {
namespace {

using dbtest::readTable;
using dbtest::sjis;

class SqliteOdbc : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string driver = dbtest::driverPath("libsqlite3odbc.so");
        ASSERT_FALSE(driver.empty()) << "the SQLite ODBC driver (libsqliteodbc) is not installed";
        m_conn = "DRIVER=" + driver + ";Database=" + (m_dir / "t.db").string() + ";";
        std::string err = dbtest::execute(
            m_conn,
            {"CREATE TABLE 顧客 (id INTEGER, 会社名 TEXT, 金額 NUMERIC(10,2), 比率 DOUBLE, 単価 "
             "REAL, "
             "登録日 DATE, 更新 TIMESTAMP)",
             "INSERT INTO 顧客 VALUES (1, '株式会社山﨑精機', 12.5, 12.0, 0.5, '2023-04-01', "
             "'2024-02-29 09:05:00')",
             "INSERT INTO 顧客 VALUES (2, 'ABC Holdings, Inc.', 12, 1234567.89, 3.25, "
             "'1899-01-01', "
             "'2024-01-09 00:00:00')",
             "INSERT INTO 顧客 VALUES (3, NULL, NULL, NULL, NULL, NULL, NULL)",
             "INSERT INTO 顧客 VALUES (4, 'Müller', -300.75, -1.5, 1, '9999-12-31', NULL)",
             "CREATE VIEW 一覧 AS SELECT id, 会社名 FROM 顧客", "CREATE TABLE numbers (n INTEGER)",
             "INSERT INTO numbers WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
             "WHERE x < 50) SELECT x FROM c"},
            false);
        ASSERT_TRUE(err.empty()) << err;
    }

    tarn::test::TempDir m_dir;
    std::string m_conn;
};

TEST_F(SqliteOdbc, ListsTablesAndViewsAndReadsValuesAsText) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, sjis(m_conn))) << c.LastError().message;
    std::vector<std::pair<std::string, std::string>> tables;
    for (int i = 0; i < c.TableCount(); ++i) {
        tables.emplace_back(*c.TableType(i), *c.TableNameUtf8(i));
    }
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::pair<std::string, std::string>>{
                          {"TABLE", "numbers"}, {"TABLE", "顧客"}, {"VIEW", "一覧"}}));

    auto t = readTable(c, "SELECT * FROM 顧客");
    EXPECT_EQ(t.names,
              (std::vector<std::string>{"id", "会社名", "金額", "比率", "単価", "登録日", "更新"}));
    ASSERT_EQ(t.rows.size(), 4u);
    EXPECT_EQ(t.rows[0], (std::vector<std::string>{"1", "株式会社山﨑精機", "12.5", "12.0", "0.5",
                                                   "2023/04/01", "2024/02/29 9:05:00"}));
    // The SQLite driver reports NUMERIC as a double, so 12 reads as "12.0".
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"2", "ABC Holdings, Inc.", "12.0", "1234567.89",
                                                   "3.25", "1899/01/01", "2024/01/09"}));
    EXPECT_EQ(t.rows[2], (std::vector<std::string>{"3", "", "", "", "", "", ""}));
    EXPECT_EQ(t.rows[3].at(1), "<error>");  // ü has no Shift_JIS form
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_NE(t.errors[0].find("U+00FC"), std::string::npos) << t.errors[0];
    EXPECT_EQ(t.rows[3].at(5), "9999/12/31");

    // The 会社名 of row 1 is Windows' bytes for 﨑 (FA B1).
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, sjis("SELECT 会社名 FROM 顧客 ORDER BY id")));
    rs.SelectField(0);
    EXPECT_NE(rs.FieldText().value_or("").find("\xFA\xB1"), std::string::npos);
}

TEST_F(SqliteOdbc, OpensAFileDsnAndRunsFromTheCommandLine) {
    const auto dsn = m_dir / "members.dsn";
    tarn::test::writeFile(dsn, "[ODBC]\nDRIVER=" + dbtest::driverPath("libsqlite3odbc.so") +
                                   "\nDatabase=" + (m_dir / "t.db").string() + "\n");
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, "FILEDSN=" + dsn.string())) << c.LastError().message;
    EXPECT_EQ(c.TableCount(), 3);

    auto r =
        tarn::test::run({tarn::test::tarnPath(), "db", "rows", "--type", "0", "--source", m_conn,
                         "--query", "SELECT id, 会社名, 登録日 FROM 顧客 WHERE id < 3", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n{\"id\":\"1\",\"会社名\":\"株式会社山﨑精機\",\"登録日\":\"2023/04/01\"},\n"
              "{\"id\":\"2\",\"会社名\":\"ABC Holdings, Inc.\",\"登録日\":\"1899/01/01\"}\n]\n");
}

TEST_F(SqliteOdbc, WalksBackwardsOverAForwardOnlyCursor) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, sjis(m_conn)));
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, "SELECT n FROM numbers ORDER BY n"));
    ASSERT_TRUE(rs.SelectField(0));
    auto current = [&] { return rs.FieldAsText().value(); };
    EXPECT_EQ(current(), "1");
    ASSERT_TRUE(rs.MoveLast());
    EXPECT_EQ(current(), "50");
    ASSERT_TRUE(rs.MovePrevious());
    EXPECT_EQ(current(), "49");
    ASSERT_TRUE(rs.MovePrevious());  // runs the query again
    EXPECT_EQ(current(), "48");
    ASSERT_TRUE(rs.MoveNext());
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_EQ(current(), "50");
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.AtEnd());
    ASSERT_TRUE(rs.MoveFirst());
    EXPECT_FALSE(rs.Move(60));
    EXPECT_TRUE(rs.AtEnd());
    ASSERT_TRUE(rs.MoveFirst());
    ASSERT_TRUE(rs.Move(9));
    EXPECT_EQ(current(), "10");
}

TEST_F(SqliteOdbc, ReportsDriverErrors) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, sjis(m_conn)));
    EXPECT_FALSE(c.Open(kOdbc, sjis(m_conn)));  // already open
    DbRecordset rs;
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM no_such_table"));
    EXPECT_NE(rs.LastError().message.find("no_such_table"), std::string::npos)
        << rs.LastError().message;

    DbConnection bad;
    EXPECT_FALSE(bad.Open(kOdbc, "DSN=tarn-no-such-source"));
    EXPECT_NE(bad.LastError().message.find("cannot connect"), std::string::npos);
    EXPECT_FALSE(bad.IsOpen());
}

class PostgresOdbc : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<dbtest::PostgresServer>();
        if (!s_server->ok()) {
            return;
        }
        s_setupError = dbtest::execute(
            s_server->connectionString(),
            {"CREATE TABLE 顧客 (id integer, 会社名 varchar(100), 名前 text, 金額 numeric(12,2), "
             "単価 real, 比率 double precision, 登録日 date, 更新 timestamp, 有効 boolean, "
             "番号 bigint, 件数 smallint)",
             "INSERT INTO 顧客 VALUES (1, '㈱ひかり通信', '髙橋 健太', 12.50, 0.1, 12, "
             "'2023-04-01', "
             "'2024-02-29 13:45:30', true, 9007199254740993, -5)",
             "INSERT INTO 顧客 VALUES (2, 'ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ(ｶ)', E'大阪\\n梅田', 12.00, 2.5, 0.25, "
             "'1899-12-30', NULL, false, NULL, NULL)",
             "INSERT INTO 顧客 VALUES (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
             "NULL)",
             "CREATE TABLE big (t text)", "INSERT INTO big VALUES (repeat('x', 2000000))"},
            true);
    }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override {
        ASSERT_FALSE(dbtest::driverPath("psqlodbcw.so").empty())
            << "the PostgreSQL ODBC driver (odbc-postgresql) is not installed";
        ASSERT_TRUE(s_server->ok()) << s_server->error();
        ASSERT_TRUE(s_setupError.empty()) << s_setupError;
    }
    static std::unique_ptr<dbtest::PostgresServer> s_server;
    static std::string s_setupError;
};
std::unique_ptr<dbtest::PostgresServer> PostgresOdbc::s_server;
std::string PostgresOdbc::s_setupError;

TEST_F(PostgresOdbc, ReadsJapaneseNumbersDatesAndNulls) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, sjis(s_server->connectionString()))) << c.LastError().message;
    bool listed = false;
    for (int i = 0; i < c.TableCount(); ++i) {
        listed |= c.TableType(i) == "TABLE" && c.TableNameUtf8(i) == "顧客";
    }
    EXPECT_TRUE(listed);
    // Names are enclosed with the server's quote, which is not a back-quote.
    const std::string q = c.IdentifierQuote();
    EXPECT_EQ(q, "\"");
    auto t = readTable(c, "SELECT * FROM " + q + "顧客" + q + " ORDER BY id");
    EXPECT_EQ(t.names.at(1), "会社名");
    ASSERT_EQ(t.rows.size(), 3u);
    EXPECT_EQ(t.rows[0], (std::vector<std::string>{"1", "㈱ひかり通信", "髙橋 健太", "12.5", "0.1",
                                                   "12.0", "2023/04/01", "2024/02/29 13:45:30",
                                                   "-1", "9007199254740993", "-5"}));
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"2", "ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ(ｶ)", "大阪\n梅田", "12",
                                                   "2.5", "0.25", "1899/12/30", "", "0", "", ""}));
    EXPECT_EQ(t.rows[2], (std::vector<std::string>{"3", "", "", "", "", "", "", "", "", "", ""}));
    EXPECT_TRUE(t.errors.empty());

    DbRecordset back;
    EXPECT_FALSE(back.Open(c, sjis("SELECT * FROM `顧客`")));
}

TEST_F(PostgresOdbc, RefusesAFieldBeyondTheSizeCap) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, sjis(s_server->connectionString())));
    DbRecordset rs;
    EXPECT_FALSE(rs.Open(c, "SELECT t FROM big"));
    EXPECT_NE(rs.LastError().message.find("longer than 1048576 bytes"), std::string::npos)
        << rs.LastError().message;
}

TEST_F(PostgresOdbc, ChangesRowsByKeyAndRefusesAmbiguousOnes) {
    ASSERT_EQ(dbtest::execute(s_server->connectionString(),
                              {"CREATE TABLE 会員 (id serial PRIMARY KEY, 名前 text, 金額 "
                               "numeric(10,2), 登録日 date)",
                               "INSERT INTO 会員 (名前, 金額, 登録日) VALUES ('佐藤', 12.50, "
                               "'2023-04-01'), ('Smith', NULL, NULL)",
                               "CREATE TABLE 重複 (名前 text, n integer)",
                               "CREATE TABLE Mixed (id integer PRIMARY KEY, v text)",
                               "INSERT INTO mixed VALUES (1, 'a')",
                               "INSERT INTO 重複 VALUES ('a', 1), ('a', 1), ('b', 2)"},
                              true),
              "");
    DbConnection c;
    ASSERT_TRUE(c.Open(kOdbc, sjis(s_server->connectionString())));
    const std::string q = c.IdentifierQuote();
    DbRecordset rs;
    ASSERT_TRUE(
        rs.Open(c, sjis("SELECT * FROM " + q + "会員" + q + " ORDER BY id"), LockType::Optimistic))
        << rs.LastError().message;
    ASSERT_TRUE(rs.Supports(CursorOption::Update));
    ASSERT_TRUE(rs.Update(1, DbAnsiString{sjis("山﨑 ㈱ひかり")})) << rs.LastError().message;
    ASSERT_TRUE(rs.Update(2, DbAnsiString{"99.5"})) << rs.LastError().message;
    // The key (filled in by the server) is not set: the new row is found by
    // what was written to it.
    ASSERT_TRUE(rs.AddNew());
    ASSERT_TRUE(rs.Update(1, DbAnsiString{sjis("新規 髙橋")})) << rs.LastError().message;
    ASSERT_TRUE(rs.Update(3, DbDate{2026, 12, 6})) << rs.LastError().message;
    ASSERT_TRUE(rs.MoveNext());  // from the first row: Smith
    ASSERT_TRUE(rs.Delete()) << rs.LastError().message;
    auto t = readTable(c, "SELECT 名前, 金額, 登録日 FROM " + q + "会員" + q + " ORDER BY id");
    EXPECT_EQ(t.rows,
              (std::vector<std::vector<std::string>>{{"山﨑 ㈱ひかり", "99.5", "2023/04/01"},
                                                     {"新規 髙橋", "", "2026/12/06"}}));

    DbRecordset dup;
    ASSERT_TRUE(dup.Open(c, sjis("重複"), LockType::Optimistic)) << dup.LastError().message;
    EXPECT_FALSE(dup.Delete());
    EXPECT_NE(dup.LastError().message.find("2 rows matched"), std::string::npos)
        << dup.LastError().message;
    EXPECT_FALSE(dup.Update(0, DbAnsiString{"z"}));
    EXPECT_EQ(readTable(c, "SELECT count(*) FROM 重複 WHERE 名前 = 'a' AND n = 1").rows,
              (std::vector<std::vector<std::string>>{{"2"}}));

    // An unquoted name is folded by the server as the query's own was.
    DbRecordset mixed;
    ASSERT_TRUE(mixed.Open(c, "SELECT id, v FROM Mixed", LockType::Optimistic));
    ASSERT_TRUE(mixed.Update(1, DbAnsiString{"b"})) << mixed.LastError().message;
    EXPECT_EQ(readTable(c, "SELECT v FROM mixed").rows,
              (std::vector<std::vector<std::string>>{{"b"}}));
}

TEST(OdbcChoice, TakesTheDataSourceFromTheConnectionString) {
    auto c =
        odbcChoiceFromConnectionString("DRIVER={x};FILEDSN=/etc/ODBCDataSources/会員.dsn;UID=a");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->connectionString, "FILEDSN=/etc/ODBCDataSources/会員.dsn;UID=a");
    EXPECT_EQ(c->name, "/etc/ODBCDataSources/会員.dsn");
    c = odbcChoiceFromConnectionString("dsn=Sales;UID=tarn");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->connectionString, "dsn=Sales;UID=tarn");
    EXPECT_EQ(c->name, "Sales");
    EXPECT_FALSE(odbcChoiceFromConnectionString("DRIVER=x;DATABASE=y;MYDSN=z"));
}

TEST(OdbcSources, ListsDsnsAndFileDsns) {
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir / "odbc.ini",
                          "[TarnSales]\nDriver=" + dbtest::driverPath("libsqlite3odbc.so") +
                              "\nDescription=Sales list\n");
    tarn::test::writeFile(dir / "odbcinst.ini", "");
    tarn::test::writeFile(dir / "members.dsn", "[ODBC]\nDRIVER=SQLite3\n");
    tarn::test::writeFile(dir / "notes.txt", "");
    // The driver manager reads its configuration from these variables.
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    auto list = listOdbcSources(dir.path().string());
    unsetenv("ODBCINI");
    unsetenv("ODBCSYSINI");
    bool dsn = false, file = false;
    for (const auto& e : list) {
        dsn |= e.name == "TarnSales" && e.connectionString == "DSN=TarnSales" && !e.fileDsn;
        file |= e.name == "members" && e.fileDsn &&
                e.connectionString == "FILEDSN=" + (dir / "members.dsn").string();
        EXPECT_NE(e.name, "notes");
    }
    EXPECT_TRUE(dsn);
    EXPECT_TRUE(file);
    EXPECT_EQ(TarnOdbcApi(), 0);
}

}  // namespace
}  // namespace tarn::db

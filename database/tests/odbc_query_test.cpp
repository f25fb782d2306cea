#include <gtest/gtest.h>

#include "odbc_query.h"

namespace tarn::db::detail {
namespace {

TEST(OdbcQuery, FindsTheOneTableOfASimpleSelect) {
    auto t = singleTable("SELECT a, b FROM t WHERE note = 'it''s FROM x' ORDER BY a", "\"");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->name, "t");
    EXPECT_EQ(t->schema, "");
    EXPECT_EQ(t->sql, "t");

    // Quoted parts lose their quotes (a doubled quote is one) but keep them in
    // the statement text; an unquoted name keeps its case.
    t = singleTable("select * from \"My \"\"Schema\"\"\".\"名前\";", "\"");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->schema, "My \"Schema\"");
    EXPECT_EQ(t->name, "名前");
    EXPECT_EQ(t->sql, "\"My \"\"Schema\"\"\".\"名前\"");

    t = singleTable("SELECT * FROM `Sheet 1`", "`");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->name, "Sheet 1");
}

TEST(OdbcQuery, RefusesQueriesWhoseRowsAreNotOneTablesRows) {
    for (const char* sql :
         {"SELECT * FROM a JOIN b ON a.id = b.id", "SELECT DISTINCT x FROM t",
          "SELECT a + 1 FROM t", "SELECT * FROM t GROUP BY a", "SELECT * FROM c.s.t",
          "SELECT * FROM t; DELETE FROM t", "SELECT * FROM \"t", "SELECT 'x FROM t",
          "SELECT * FROM t UNION SELECT * FROM u", "UPDATE t SET a = 1", "", "SELECT *"}) {
        EXPECT_FALSE(singleTable(sql, "\"")) << sql;
    }
    // Without an identifier quote a back-quote is punctuation, not a name.
    EXPECT_FALSE(singleTable("SELECT * FROM `t`", ""));
}

TEST(OdbcQuery, TellsABareTableNameFromAQuery) {
    EXPECT_TRUE(isBareTableName("customers", "\""));
    EXPECT_TRUE(isBareTableName(" public.\"顧客 一覧\" ", "\""));
    EXPECT_FALSE(isBareTableName("SELECT * FROM customers", "\""));
    EXPECT_FALSE(isBareTableName("customers c", "\""));
    EXPECT_FALSE(isBareTableName("\"customers", "\""));
    EXPECT_FALSE(isBareTableName("a.b.c", "\""));
    EXPECT_FALSE(isBareTableName("", "\""));
}

}  // namespace
}  // namespace tarn::db::detail

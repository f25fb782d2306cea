#include <gtest/gtest.h>

#include "database/select_parser.h"

namespace tarn::db {
namespace {

TEST(SelectParser, TakesTheFormsTheCallersBuild) {
    auto q = parseSelect("SELECT * FROM `Customers`");
    ASSERT_TRUE(q.ok()) << q.error().message;
    EXPECT_TRUE(q->allColumns);
    EXPECT_EQ(q->table, "Customers");

    q = parseSelect("SELECT `a b`,`c`,`a b` FROM `Sheet 1$`");
    ASSERT_TRUE(q.ok()) << q.error().message;
    EXPECT_FALSE(q->allColumns);
    EXPECT_EQ(q->columns, (std::vector<std::string>{"a b", "c", "a b"}));
    EXPECT_EQ(q->table, "Sheet 1$");

    q = parseSelect("  select [Order Details].x , y\r\nfrom\tOrders ; ");
    ASSERT_FALSE(q.ok());  // "[Order Details].x" is an expression, not a name
    q = parseSelect("select [Order ID] , y\r\nfrom\tOrders ; ");
    ASSERT_TRUE(q.ok()) << q.error().message;
    EXPECT_EQ(q->columns, (std::vector<std::string>{"Order ID", "y"}));
    EXPECT_EQ(q->table, "Orders");

    q = parseSelect("recipients.csv");
    ASSERT_TRUE(q.ok());
    EXPECT_TRUE(q->allColumns);
    EXPECT_EQ(q->table, "recipients.csv");
}

TEST(SelectParser, ReadsShiftJisNamesWhoseTrailByteIsABackQuote) {
    // チーム: チ is 83 60, whose trail byte 0x60 is a back-quote.
    const std::string name = "\x83\x60\x81\x5B\x83\x80";
    auto q = parseSelect("SELECT `" + name + "` FROM `" + name + "$`");
    ASSERT_TRUE(q.ok()) << q.error().message;
    EXPECT_EQ(q->columns.at(0), name);
    EXPECT_EQ(q->table, name + "$");
}

TEST(SelectParser, RefusesEverythingElseSayingWhere) {
    for (const char* bad :
         {"SELECT * FROM `t` WHERE a = 1", "SELECT * FROM", "SELECT FROM `t`",
          "SELECT `a`, FROM `t`", "SELECT `a FROM t", "DELETE FROM t",
          "SELECT * FROM `t` ORDER BY a", "SELECT a b FROM t", "SELECT ab`c FROM t", "", "   "}) {
        auto q = parseSelect(bad);
        EXPECT_FALSE(q.ok()) << bad;
        if (!q.ok()) {
            EXPECT_NE(q.error().message.find("at byte"), std::string::npos) << q.error().message;
        }
    }
}

}  // namespace
}  // namespace tarn::db

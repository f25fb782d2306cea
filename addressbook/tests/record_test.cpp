#include <gtest/gtest.h>

#include "addressbook/record.h"
#include "common/cp932.h"

namespace tarn::addressbook {
namespace {

std::string sj(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

TEST(Record, SettingOneTextLeavesTheOthers) {
    Record r;
    for (std::size_t f = 0; f < kFieldCount; ++f) {
        r.setText(static_cast<Field>(f), "v" + std::to_string(f));
    }
    r.setText(Field::Name, sj("長い名前の人物です"));  // grows a middle field
    r.setText(Field::Company, "");                     // empties the first
    r.setText(freeField(9), std::string(300, 'x'));    // grows the last
    r.setText(Field::Title, "T");                      // shrinks one
    EXPECT_EQ(r.company(), "");
    EXPECT_EQ(r.department(), "v1");
    EXPECT_EQ(r.title(), "T");
    EXPECT_EQ(r.name(), sj("長い名前の人物です"));
    EXPECT_EQ(r.email(), "v4");
    EXPECT_EQ(r.honorific(), "v5");
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(r.freeFieldText(i), "v" + std::to_string(6 + i));
    }
    EXPECT_EQ(r.freeFieldText(9), std::string(300, 'x'));
}

}  // namespace
}  // namespace tarn::addressbook

#include <gtest/gtest.h>

#include <limits>

#include "database/db_value.h"

namespace tarn::db {
namespace {

std::string text(const DbValue& v) {
    auto r = valueToText(v);
    EXPECT_TRUE(r.ok()) << r.error().message;
    return r ? r.value() : std::string("<error>");
}

TEST(ValueToText, NumbersFollowTheConversionTable) {
    EXPECT_EQ(text(DbCurrency{125000}), "12.5");
    EXPECT_EQ(text(DbCurrency{120000}), "12");
    EXPECT_EQ(text(DbCurrency{-3007500}), "-300.75");
    EXPECT_EQ(text(DbCurrency{12345678900}), "1234567.89");
    EXPECT_EQ(text(DbBool{true}), "-1");
    EXPECT_EQ(text(DbBool{false}), "0");
    EXPECT_EQ(text(std::int16_t{-32768}), "-32768");
    EXPECT_EQ(text(std::int32_t{1001}), "1001");
    EXPECT_EQ(text(std::uint32_t{4000000000u}), "4000000000");
    EXPECT_EQ(text(std::int64_t{9007199254740993}), "9007199254740993");
    EXPECT_EQ(text(std::uint8_t{200}), "200");
    EXPECT_EQ(text(std::uint16_t{65535}), "65535");
    EXPECT_EQ(text(DbInt8{'A'}), "A");
    // Reals: a whole number keeps ".0"; 7 and 15 significant digits.
    EXPECT_EQ(text(12.0), "12.0");
    EXPECT_EQ(text(12.5), "12.5");
    EXPECT_EQ(text(1234567.89), "1234567.89");
    EXPECT_EQ(text(0.1 + 0.2), "0.3");
    EXPECT_EQ(text(1.0f / 3.0f), "0.3333333");
    EXPECT_EQ(text(16777216.0f), "1.677722e+07");  // 8 digits need the exponent
    EXPECT_EQ(text(1e20), "1e+20");
    EXPECT_EQ(text(std::numeric_limits<double>::quiet_NaN()), "NaN");
    // Exact decimals lose trailing fraction zeros only.
    EXPECT_EQ(text(DbDecimal{"12.50"}), "12.5");
    EXPECT_EQ(text(DbDecimal{"12.00"}), "12");
    EXPECT_EQ(text(DbDecimal{"1200"}), "1200");
    EXPECT_EQ(text(DbDecimal{"-0.00"}), "0");
}

TEST(ValueToText, NullsAndEmptiesAreEmptyText) {
    EXPECT_EQ(text(DbNull{}), "");
    EXPECT_EQ(text(DbEmpty{}), "");
    EXPECT_TRUE(isNull(DbNull{}));
    EXPECT_FALSE(isNull(DbAnsiString{}));
}

TEST(ValueToText, StringsBecomeShiftJisOrNameTheMissingCharacter) {
    // 髙 (U+9AD9) is FB FC and ① is 87 40 in code page 932.
    EXPECT_EQ(text(DbWideString{"\xE9\xAB\x99\xE2\x91\xA0"}), "\xFB\xFC\x87\x40");
    EXPECT_EQ(text(DbAnsiString{"\x8D\xB2\x93\xA1"}), "\x8D\xB2\x93\xA1");
    auto r = valueToText(DbWideString{"Ums\xC3\xA4tze"});
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().message.find("U+00E4"), std::string::npos) << r.error().message;
}

TEST(ValueToText, DatesUseTheJapaneseShortDateAndLongTime) {
    DbDate d;
    ASSERT_TRUE(dateFromSerial(45017.0, d));  // 2023-04-01
    EXPECT_EQ(formatDate(d), "2023/04/01");
    ASSERT_TRUE(dateFromSerial(45017.25 + 5.0 / 86400, d));
    EXPECT_EQ(formatDate(d), "2023/04/01 6:00:05");
    ASSERT_TRUE(dateFromSerial(-728.0, d));  // before 1900
    EXPECT_EQ(formatDate(d), "1898/01/01");
    ASSERT_TRUE(dateFromSerial(-1.25, d));  // negative serial, positive time
    EXPECT_EQ(formatDate(d), "1899/12/29 6:00:00");
    ASSERT_TRUE(dateFromSerial(2958101.0, d));
    EXPECT_EQ(formatDate(d), "9999/01/01");
    ASSERT_TRUE(dateFromSerial(-463126.0, d));
    EXPECT_EQ(formatDate(d), "0632/01/01");
    EXPECT_FALSE(dateFromSerial(1e300, d));
    EXPECT_FALSE(dateFromSerial(std::numeric_limits<double>::infinity(), d));

    DbDate timeOnly;
    timeOnly.hasDate = false;
    timeOnly.hasTime = true;
    timeOnly.hour = 13;
    timeOnly.minute = 5;
    EXPECT_EQ(text(timeOnly), "13:05:00");
}

}  // namespace
}  // namespace tarn::db

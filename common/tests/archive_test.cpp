#include "common/archive.h"

#include <gtest/gtest.h>

using namespace tarn;

TEST(Archive, PrefixFormsAtTheirBoundaries) {
    struct Row {
        std::size_t n;
        std::string prefix;
    } rows[] = {
        {0, std::string("\x00", 1)},
        {254, "\xFE"},
        {255, std::string("\xFF\xFF\x00", 3)},
        {65533, "\xFF\xFD\xFF"},
        {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
    };
    for (const auto& row : rows) {
        std::string out;
        writeArchiveString(out, std::string(row.n, 'x'));
        ASSERT_EQ(out.size(), row.n + row.prefix.size()) << row.n;
        EXPECT_EQ(out.substr(0, row.prefix.size()), row.prefix) << row.n;
        EXPECT_EQ(archivePrefixSize(row.n), row.prefix.size());
        ByteReader r(out);
        std::string back;
        ASSERT_TRUE(r.readArchiveString(back)) << r.failure();
        EXPECT_EQ(back.size(), row.n);
        EXPECT_TRUE(r.atEnd());
    }
}

TEST(Archive, ReaderAcceptsLongerFormsThanNeeded) {
    const std::string bytes(
        "\xFF\x03\x00"
        "abc"
        "\xFF\xFF\xFF\x01\x00\x00\x00"
        "d",
        14);
    ByteReader r(bytes);
    std::string a, b;
    ASSERT_TRUE(r.readArchiveString(a));
    ASSERT_TRUE(r.readArchiveString(b));
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(b, "d");
}

TEST(Archive, TruncatedAndHostileLengthsFailWithoutMoving) {
    // A 32-bit length of 4 GB with three bytes behind it must fail before any allocation.
    const std::string hugeBytes(
        "\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
        "abc",
        10);
    ByteReader huge(hugeBytes);
    std::string s = "untouched";
    EXPECT_FALSE(huge.readArchiveString(s));
    EXPECT_EQ(s, "untouched");
    EXPECT_EQ(huge.offset(), 0u);
    EXPECT_EQ(huge.failureOffset(), 7u);
    EXPECT_NE(huge.failure().find("4294967295"), std::string::npos);

    const std::string cutBytes("\xFF\x10", 2);
    ByteReader cut(cutBytes);
    EXPECT_FALSE(cut.readArchiveString(s));
    EXPECT_EQ(cut.offset(), 0u);

    const std::string utf16Bytes(
        "\xFF\xFE\xFF\x01"
        "a\x00",
        6);
    ByteReader utf16(utf16Bytes);
    EXPECT_FALSE(utf16.readArchiveString(s));

    const std::string intBytes("\x01\x02\x03", 3);
    ByteReader ints(intBytes);
    std::uint32_t v = 0;
    EXPECT_FALSE(ints.readU32le(v));
    std::uint16_t w = 0;
    EXPECT_TRUE(ints.readU16le(w));
    EXPECT_EQ(w, 0x0201);
}

TEST(Archive, IntegersAreLittleEndian) {
    std::string out;
    writeU16le(out, 0x1234);
    writeI32le(out, -2);
    EXPECT_EQ(out, std::string("\x34\x12\xFE\xFF\xFF\xFF", 6));
    ByteReader r(out);
    std::uint16_t a = 0;
    std::int32_t b = 0;
    ASSERT_TRUE(r.readU16le(a) && r.readI32le(b));
    EXPECT_EQ(a, 0x1234);
    EXPECT_EQ(b, -2);
}

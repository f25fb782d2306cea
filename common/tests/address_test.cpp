#include "common/address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cp932.h"

namespace tarn::address {
namespace {

std::string sj(const char* utf8) {
    return cp932::fromUtf8(utf8).value();
}

TEST(AddressExtraction, FindsTheAddressesOfAField) {
    struct Row {
        std::string field;
        std::vector<std::string> addresses;
    };
    const std::vector<Row> rows = {
        {sj("山田 <a@x.jp>, b@y.jp"), {"a@x.jp", "b@y.jp"}},
        {"Yamada Taro <t@x.jp>", {"t@x.jp"}},
        {"\"Yamada, Taro; Sales\" <t@x.jp>", {"t@x.jp"}},
        {"t@x.jp (Taro, Sales)", {"t@x.jp"}},
        {"a@x.jp;b@y.jp,\tc@z.jp", {"a@x.jp", "b@y.jp", "c@z.jp"}},
        // Two bracketed addresses without a comma: each keeps its address.
        {"A <a@x.jp> B <b@y.jp>", {"a@x.jp", "b@y.jp"}},
        // A full-width space separates, like an ASCII one.
        {sj("山田　太郎<t@x.jp>"), {"t@x.jp"}},
        {sj("t@x.jp　u@y.jp"), {"t@x.jp", "u@y.jp"}},
        // Words of a name without brackets are not addresses.
        {sj("山田 太郎 t@x.jp 様"), {"t@x.jp"}},
        {sj("山田"), {}},
        // "ゼソ", whose trail bytes are "[" and "\\": no bracket, no escape.
        {"\x83\x5b\x83\x5c <t@x.jp>", {"t@x.jp"}},
        // Half-width kana inside a token stay part of it (and make it no address).
        {"\xB1\xB2@x.jp", {"\xB1\xB2@x.jp"}},
        {"", {}},
        {"'quoted' a@x.jp [comment] b@y.jp", {"a@x.jp", "b@y.jp"}},
        // An opener without a closer hides nothing after it.
        {"\"unterminated <t@x.jp>", {"t@x.jp"}},
        {"o'brien@x.jp", {"o'brien@x.jp"}},
        {"a@x.jp (note b@y.jp", {"a@x.jp", "note", "b@y.jp"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(extract(row.field), row.addresses) << cp932::toUtf8Lossy(row.field);
    }
}

// What the envelope refuses, and why: no text of a field becomes a command
// line or a recipient.
TEST(AddressExtraction, HostileFieldsNeverReachTheEnvelope) {
    using P = FieldCheck::Problem;
    struct Row {
        std::string field;
        P problem;
        unsigned char byte;
        std::string token;
    };
    const std::vector<Row> rows = {
        {"r01@example.com\r\nBcc: victim01@evil.test", P::ControlCharacter, '\r', ""},
        {"r04@example.com>\r\nRCPT TO:<victim04@evil.test", P::ControlCharacter, '\r', ""},
        {std::string("a@x.jp\0b@y.jp", 13), P::ControlCharacter, 0, ""},
        {"a@x.jp\x1B[2J", P::ControlCharacter, 0x1B, ""},
        // Without line breaks the words still are no addresses.
        {"r01@example.com Bcc: victim01@evil.test", P::NotAnAddress, ':', "Bcc:"},
        {"r04@example.com RCPT TO:victim04@evil.test", P::NotAnAddress, 0, "RCPT"},
        {"a@x.jp, \"b", P::NotAnAddress, '"', "\"b"},
        {"\xB1@x.jp", P::NotAnAddress, 0xB1, "\xB1@x.jp"},
        {sj("山田@x.jp"), P::NotAnAddress, 0x8E, sj("山田@x.jp")},
        {" <> ,; ", P::NoAddress, 0, ""},
        // Words that are no addresses: never RCPT TO:<note>.
        {"a@x.jp (note b@y.jp", P::NotAnAddress, 0, "note"},
        {"@x.jp", P::NotAnAddress, 0, "@x.jp"},
        {"suzuki@@midori.example.jp", P::NotAnAddress, 0, "suzuki@@midori.example.jp"},
        {"a@b.jp@x.jp", P::NotAnAddress, 0, "a@b.jp@x.jp"},
        {sj("山田 様"), P::NoAddress, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(cp932::toUtf8Lossy(row.field));
        const FieldCheck c = checkField(row.field);
        EXPECT_EQ(c.problem, row.problem);
        EXPECT_EQ(c.byte, row.byte);
        EXPECT_EQ(c.token, row.token);
        EXPECT_FALSE(describe(c).empty());
        EXPECT_EQ(describe(c).find_first_of("\r\n"), std::string::npos);
    }
    const FieldCheck fine = checkField("A <a@x.jp>,\tb+tag@y.jp");
    EXPECT_TRUE(fine.ok());
    EXPECT_EQ(fine.addresses, (std::vector<std::string>{"a@x.jp", "b+tag@y.jp"}));
    EXPECT_EQ(describe(fine), "");
}

}  // namespace
}  // namespace tarn::address

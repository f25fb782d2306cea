#include "sendcore/smtp_auth_file.h"

#include <gtest/gtest.h>

#include "testsupport.h"

namespace tarn {
namespace {

struct Case {
    const char* name;
    std::string text;
    std::string userId, password;
    int method;
    bool usable;
};

TEST(SmtpAuthFile, Rules) {
    const Case cases[] = {
        {"password only", "password: secret\n", "", "secret", 0, false},
        {"user id only", "userid: u\n", "u", "", 0, false},
        {"blanks trimmed, CR LF", "userid:  user01 \t\r\npassword:\tpw 1 \r\nkind: 2\r\n", "user01",
         "pw 1", 2, true},
        {"both words: user id", "userid password: x\npassword: p\n", "x", "p", 0, true},
        {"later replaces earlier",
         "userid: a\npassword: p\nuserid: b\npassword: q\nkind: 1\nkind: 3", "b", "q", 3, true},
        {"case-sensitive and needs a colon", "UserID: a\nPassword: b\nuserid c\n", "", "", 0,
         false},
        {"value after the first colon", "userid: u\npassword: a:b\n", "u", "a:b", 0, true},
        {"kind takes leading digits", "kind: 3rd\n", "", "", 3, false},
        {"kind without a number", "kind: cram\n", "", "", 0, false},
        {"empty value clears", "userid: u\npassword: p\npassword:   \n", "u", "", 0, false},
    };
    for (const Case& c : cases) {
        auto parsed = parseSmtpAuth(c.text);
        ASSERT_TRUE(parsed.ok()) << c.name;
        const SmtpAuthFile& a = *parsed;
        EXPECT_EQ(a.userId, c.userId) << c.name;
        EXPECT_EQ(a.password, c.password) << c.name;
        EXPECT_EQ(a.method, c.method) << c.name;
        EXPECT_EQ(a.usable(), c.usable) << c.name;
    }
}

// A file that exists but cannot be used stops the send; authentication is
// never quietly dropped, and a password never cut.
TEST(SmtpAuthFile, UnusableFilesAreErrorsThatNeverQuoteThePassword) {
    auto exactly512 = parseSmtpAuth("userid: u\npassword: " + std::string(512, 'p') + "\n");
    ASSERT_TRUE(exactly512.ok());
    EXPECT_EQ(exactly512->password.size(), 512u);

    auto tooLong = parseSmtpAuth("userid: u\npassword: " + std::string(600, 'p') + "\n");
    ASSERT_FALSE(tooLong.ok());
    EXPECT_NE(tooLong.error().message.find("2 行目 (password) の値が 600 バイト"),
              std::string::npos)
        << tooLong.error().message;
    EXPECT_EQ(tooLong.error().message.find("ppp"), std::string::npos);

    auto nul = parseSmtpAuth(std::string("userid: u\npassword: sec\0ret\n", 28));
    ASSERT_FALSE(nul.ok());
    EXPECT_NE(nul.error().message.find("NUL"), std::string::npos);
    EXPECT_EQ(nul.error().offset, 23);

    test::TempDir dir;
    const auto file = dir / "SMTPAuth.txt";
    test::writeFile(file, "userid: u\npassword: p\n" + std::string(std::size_t{2} << 20, '#'));
    auto big = readSmtpAuthFile(file);
    ASSERT_FALSE(big.ok());
    EXPECT_NE(big.error().message.find("SMTPAuth.txt を読めません"), std::string::npos);
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_FALSE(readSmtpAuthFile(file).ok());
}

TEST(SmtpAuthFile, ReadsTheFileAndTreatsAMissingOneAsNoAuthentication) {
    test::TempDir dir;
    auto missing = readSmtpAuthFile(dir / "SMTPAuth.txt");
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->usable());
    test::writeFile(dir / "SMTPAuth.txt",
                    "# account\r\nuserid : me\r\npassword : pw\r\nkind : 1\r\n");
    auto a = readSmtpAuthFile(dir / "SMTPAuth.txt");
    ASSERT_TRUE(a.ok());
    EXPECT_TRUE(a->usable());
    EXPECT_EQ(a->userId, "me");
    EXPECT_EQ(a->method, 1);
}

}  // namespace
}  // namespace tarn

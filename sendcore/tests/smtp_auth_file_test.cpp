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
        SmtpAuthFile a = parseSmtpAuth(c.text);
        EXPECT_EQ(a.userId, c.userId) << c.name;
        EXPECT_EQ(a.password, c.password) << c.name;
        EXPECT_EQ(a.method, c.method) << c.name;
        EXPECT_EQ(a.usable(), c.usable) << c.name;
    }
}

TEST(SmtpAuthFile, ValuesKeepAtMost512Bytes) {
    SmtpAuthFile a = parseSmtpAuth("userid: " + std::string(600, 'u') +
                                   "\npassword: " + std::string(511, 'p') + "\x82\xA0\n");
    EXPECT_EQ(a.userId, std::string(512, 'u'));
    // A double-byte character across the limit is not cut in half.
    EXPECT_EQ(a.password, std::string(511, 'p'));
}

TEST(SmtpAuthFile, ReadsTheFileAndTreatsAMissingOneAsUnusable) {
    test::TempDir dir;
    EXPECT_FALSE(readSmtpAuthFile(dir / "SMTPAuth.txt").usable());
    test::writeFile(dir / "SMTPAuth.txt",
                    "# account\r\nuserid : me\r\npassword : pw\r\nkind : 1\r\n");
    SmtpAuthFile a = readSmtpAuthFile(dir / "SMTPAuth.txt");
    EXPECT_TRUE(a.usable());
    EXPECT_EQ(a.userId, "me");
    EXPECT_EQ(a.method, 1);
}

}  // namespace
}  // namespace tarn

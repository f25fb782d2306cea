// Reading the account dialog's fields: the order of refusals, the sender-name
// quoting, and texts that do not fit their field of the record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <variant>

#include "common/cp932.h"
#include "options/account_form.h"
#include "options/texts.h"

using namespace tarn;
using namespace tarn::options;

namespace {

std::string sj(const std::string& utf8) {
    return *cp932::fromUtf8(utf8);
}

std::string kanji(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += sj("漢");
    }
    return s;
}

AccountForm goodForm() {
    AccountForm f = formForNewAccount();
    f.smtpName = "mail.example.jp";
    f.fromName = sj("山田 太郎");
    f.fromEMail = "taro@example.jp";
    return f;
}

const FieldProblem* problemOf(const std::variant<AccountEntry, FieldProblem>& r) {
    return std::get_if<FieldProblem>(&r);
}

AccountEntry entryOf(const AccountForm& f) {
    auto r = readAccountForm(f);
    const FieldProblem* p = problemOf(r);
    EXPECT_EQ(p, nullptr) << (p != nullptr ? p->message : "");
    return p == nullptr ? std::get<AccountEntry>(r) : AccountEntry{};
}

TEST(AccountForm, RefusalsComeInTheDialogsOrder) {
    struct Row {
        const char* what;
        void (*change)(AccountForm&);
        AccountField field;
        std::string_view message;
    };
    const Row rows[] = {
        {"everything empty", [](AccountForm& f) { f = AccountForm{}; }, AccountField::SmtpName,
         text::kNoSmtpServer},
        {"port past the range, name empty",
         [](AccountForm& f) {
             f.port = "65536";
             f.fromName.clear();
         },
         AccountField::Port, text::kPortRange},
        {"empty port is 0; then the name",
         [](AccountForm& f) {
             f.port.clear();
             f.fromName.clear();
             f.fromEMail.clear();
         },
         AccountField::FromName, text::kNoSenderName},
        {"address", [](AccountForm& f) { f.fromEMail.clear(); }, AccountField::FromEMail,
         text::kNoSenderAddress},
        {"unknown security mode", [](AccountForm& f) { f.security = 3; }, AccountField::Security,
         text::kUnknownSecurity},
    };
    for (const Row& row : rows) {
        AccountForm f = goodForm();
        row.change(f);
        auto r = readAccountForm(f);
        const FieldProblem* p = problemOf(r);
        ASSERT_NE(p, nullptr) << row.what;
        EXPECT_EQ(p->field, row.field) << row.what;
        EXPECT_EQ(p->message, row.message) << row.what;
    }
    AccountForm f = goodForm();
    f.port = "";
    EXPECT_EQ(entryOf(f).settings.PortNo, 0);
    f.port = "65535";
    EXPECT_EQ(entryOf(f).settings.PortNo, 65535);
    f.port = "99999";
    EXPECT_NE(problemOf(readAccountForm(f)), nullptr);
}

TEST(AccountForm, SenderNameIsQuotedWhenItHoldsAddressSyntax) {
    const std::pair<std::string, std::string> rows[] = {
        {"Taro", "Taro"},
        {"Taro Yamada", "\"Taro Yamada\""},
        {"Example Co.,Ltd.", "\"Example Co.,Ltd.\""},
        {"sales@tokyo", "\"sales@tokyo\""},  // not 0x20-0x2F, but splits the address all the same
        {"\"Taro Yamada\"", "\"Taro Yamada\""},
        {sj("山田 太郎"), sj("山田 太郎")},  // begins with a double-byte character
        {sj("ABC 商事"), "\"" + sj("ABC 商事") + "\""},
        {sj("Aソ"), sj("Aソ")},  // ソ's trail byte is 0x5C ('\'), not a character of its own
    };
    for (const auto& [typed, stored] : rows) {
        AccountForm f = goodForm();
        f.fromName = typed;
        EXPECT_EQ(fieldText(entryOf(f).settings.FromName), stored) << typed;
    }
    // A double quote anywhere but around the whole name would leave the From
    // header with an open quoted string.
    for (const char* bad : {"Taro \"T\" Yamada", "\"Taro", "Taro\"", "\""}) {
        AccountForm f = goodForm();
        f.fromName = bad;
        const auto r = readAccountForm(f);
        ASSERT_NE(problemOf(r), nullptr) << bad;
        EXPECT_EQ(problemOf(r)->field, AccountField::FromName);
    }
}

TEST(AccountForm, TextsThatDoNotFitAreRefusedWithTheirLength) {
    struct Row {
        const char* what;
        void (*change)(AccountForm&);
        AccountField field;
        const char* length;
    };
    const Row rows[] = {
        {"server of 64 bytes", [](AccountForm& f) { f.smtpName = std::string(64, 'h'); },
         AccountField::SmtpName, "（64 バイト）"},
        {"name of 128 bytes", [](AccountForm& f) { f.fromName = std::string(128, 'n'); },
         AccountField::FromName, "（128 バイト）"},
        {"64 kanji are 128 bytes", [](AccountForm& f) { f.fromName = kanji(64); },
         AccountField::FromName, "（128 バイト）"},
        {"126 bytes that gain two quotes",
         [](AccountForm& f) { f.fromName = std::string(62, 'a') + " " + std::string(63, 'b'); },
         AccountField::FromName, "（128 バイト）"},
        {"address of 128 bytes",
         [](AccountForm& f) { f.fromEMail = std::string(117, 'a') + "@example.jp"; },
         AccountField::FromEMail, "（128 バイト）"},
        {"account name", [](AccountForm& f) { f.account = std::string(128, 'a'); },
         AccountField::Account, "（128 バイト）"},
        {"CA file", [](AccountForm& f) { f.caFile = "/" + std::string(259, 'c'); },
         AccountField::CaFile, "（260 バイト）"},
        {"POP3 server", [](AccountForm& f) { f.pop3Name = std::string(64, 'p'); },
         AccountField::Pop3Name, "（64 バイト）"},
        {"dial-up password", [](AccountForm& f) { f.password = std::string(256, 'p'); },
         AccountField::PassWord, "（256 バイト）"},
    };
    for (const Row& row : rows) {
        AccountForm f = goodForm();
        row.change(f);
        auto r = readAccountForm(f);
        const FieldProblem* p = problemOf(r);
        ASSERT_NE(p, nullptr) << row.what;
        EXPECT_EQ(p->field, row.field) << row.what;
        EXPECT_NE(p->message.find(row.length), std::string::npos) << row.what << ": " << p->message;
    }
    // The largest texts that fit are kept whole.
    AccountForm f = goodForm();
    f.smtpName = std::string(63, 'h');
    f.fromName = std::string(61, 'a') + " " + std::string(63, 'b');  // 125 + 2 quotes
    f.fromEMail = std::string(116, 'a') + "@example.jp";
    const AccountEntry e = entryOf(f);
    EXPECT_EQ(fieldText(e.settings.SMTPName), f.smtpName);
    EXPECT_EQ(fieldText(e.settings.FromName), "\"" + f.fromName + "\"");
    EXPECT_EQ(fieldText(e.settings.FromEMail), f.fromEMail);
    f.fromName = kanji(63);
    EXPECT_EQ(fieldText(entryOf(f).settings.FromName), kanji(63));
}

TEST(AccountForm, ShowsAndReadsBackAnAccount) {
    // A new account opens with port 25 and the Message-ID box unticked.
    EXPECT_EQ(formForNewAccount().port, "25");
    EXPECT_FALSE(formForNewAccount().useFqdn);

    AccountForm f = goodForm();
    f.account.clear();  // "省略した場合は、SMTPサーバー名がアカウント名となります。"
    f.pbsUse = true;
    f.pop3Name.clear();  // the POP3 server defaults to the SMTP server too
    f.pbsUserId = "pop-user";
    f.security = kSecurityStartTls;
    f.caFile = "/etc/ssl/private/ca.pem";
    f.lan = false;
    f.entryName = "provider";
    f.autoCut = true;
    const AccountEntry e = entryOf(f);
    EXPECT_EQ(fieldText(e.settings.Account), "mail.example.jp");
    EXPECT_EQ(displayName(e.settings), "mail.example.jp");
    EXPECT_EQ(fieldText(e.settings.Pop3Name), "mail.example.jp");
    EXPECT_EQ(e.settings.PortNo, 25);
    EXPECT_EQ(e.settings.dialUp.LANConnect, 0);
    EXPECT_EQ(e.settings.dialUp.AutoCut, 1);
    EXPECT_EQ(e.security, kSecurityStartTls);

    // Shown again, the same account reads back unchanged.
    const AccountEntry again = entryOf(formForAccount(e));
    EXPECT_EQ(std::memcmp(&again.settings, &e.settings, sizeof e.settings), 0);
    EXPECT_EQ(again.caFile, e.caFile);
    EXPECT_EQ(again.security, e.security);

    // The dial-up choice is offered only when it can be used.
    EXPECT_TRUE(offerDialUp(formForAccount(e), true, 1));
    EXPECT_FALSE(offerDialUp(formForAccount(e), true, 0));
    EXPECT_FALSE(offerDialUp(formForAccount(e), false, 1));
}

TEST(AccountForm, ChoosingASecurityModeOffersItsPortOnlyOverAUsualOne) {
    EXPECT_EQ(suggestedPort("25", kSecurityStartTls), "587");
    EXPECT_EQ(suggestedPort("587", kSecurityTls), "465");
    EXPECT_EQ(suggestedPort("465", kSecurityNone), "25");
    EXPECT_EQ(suggestedPort("", kSecurityTls), "465");
    EXPECT_EQ(suggestedPort("2525", kSecurityTls), std::nullopt);  // typed by the person
    EXPECT_EQ(suggestedPort("587", kSecurityStartTls), std::nullopt);
}

}  // namespace

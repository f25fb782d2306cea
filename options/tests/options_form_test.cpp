// The main dialog's working copy: the account list and its default, the checks
// of OK, and what OK writes back into the caller's record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "options/options_form.h"
#include "options/texts.h"

using namespace tarn;
using namespace tarn::options;

namespace {

AccountEntry account(const std::string& name, int security = kSecurityNone,
                     const std::string& caFile = {}) {
    AccountEntry e;
    setFieldText(e.settings.FromName, name);
    setFieldText(e.settings.FromEMail, name + "@example.jp");
    setFieldText(e.settings.SMTPName, "smtp." + name + ".example.jp");
    setFieldText(e.settings.Account, name);
    e.settings.PortNo = 25;
    e.security = security;
    e.caFile = caFile;
    return e;
}

SendSettings emptySettings() {
    SendSettings s;
    std::memset(&s, 0, sizeof s);
    return s;
}

TEST(OptionsForm, FirstAccountBecomesTheDefaultAndEditsOfTheDefaultFollow) {
    SendSettings s = emptySettings();
    OptionsForm form(s);
    EXPECT_TRUE(form.wantsFirstAccount());
    EXPECT_EQ(form.defaultLabel(), "標準で使用するアカウント : 選択されていません");

    form.addAccount(account("alpha"));
    form.addAccount(account("beta"));
    EXPECT_EQ(form.defaultRow(), 0);
    EXPECT_EQ(form.defaultLabel(), "標準で使用するアカウント : alpha");

    // The default account is what sends use: a changed server of the default
    // row must reach it, or the list and the sends disagree.
    AccountEntry edited = form.account(0);
    setFieldText(edited.settings.SMTPName, "smtp.new.example.jp");
    edited.security = kSecurityTls;
    form.replaceAccount(0, edited);
    EXPECT_STREQ(form.defaultAccount().settings.SMTPName, "smtp.new.example.jp");
    EXPECT_EQ(form.defaultAccount().security, kSecurityTls);
    form.replaceAccount(1, account("gamma"));
    EXPECT_STREQ(form.defaultAccount().settings.FromName, "alpha");

    form.makeDefault(1);
    EXPECT_EQ(form.defaultRow(), 1);
    EXPECT_EQ(form.defaultLabel(), "標準で使用するアカウント : gamma");
}

TEST(OptionsForm, RemovingTheDefaultLeavesNoneAndOkIsRefused) {
    SendSettings s = emptySettings();
    OptionsForm form(s);
    form.addAccount(account("alpha"));
    form.addAccount(account("beta", kSecurityStartTls, "/etc/ssl/beta.pem"));
    form.addAccount(account("gamma"));
    form.removeAccount(0);
    EXPECT_EQ(form.defaultRow(), -1);
    EXPECT_EQ(form.defaultLabel(), "標準で使用するアカウント : 選択されていません");
    const auto problem = form.checkOk();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->message, text::kNoDefaultAccount);
    EXPECT_EQ(problem->page, OptionsPage::Accounts);

    // Later accounts moved up with what is kept beside them; the freed slots are empty.
    form.makeDefault(0);
    ASSERT_FALSE(form.checkOk());
    form.writeTo(s);
    EXPECT_STREQ(s.accounts[0].FromName, "beta");
    EXPECT_EQ(s.accountSecurity[0], kSecurityStartTls);
    EXPECT_STREQ(s.accountCaFile[0], "/etc/ssl/beta.pem");
    EXPECT_STREQ(s.accounts[1].FromName, "gamma");
    EXPECT_EQ(s.accountSecurity[1], kSecurityNone);
    EXPECT_STREQ(s.accountCaFile[1], "");
    for (int slot = 2; slot < kMaxAccounts; ++slot) {
        EXPECT_TRUE(isEmptyAccount(s.accounts[slot])) << slot;
    }
    EXPECT_STREQ(s.defaultAccount.FromName, "beta");
    EXPECT_STREQ(s.defaultCaFile, "/etc/ssl/beta.pem");
}

TEST(OptionsForm, TakesEveryStoredAccountEvenPastAnEmptySlot) {
    SendSettings s = emptySettings();
    storeAccount(s, 0, account("alpha"));
    storeAccount(s, 4, account("echo", kSecurityTls));  // slots 1-3 empty (a hand-edited registry)
    storeAccount(s, kDefaultSlot, account("echo", kSecurityTls));
    OptionsForm form(s);
    ASSERT_EQ(form.accountCount(), 2);
    EXPECT_EQ(form.defaultRow(), 1);
    EXPECT_FALSE(form.full());
    form.writeTo(s);
    EXPECT_STREQ(s.accounts[1].FromName, "echo");
    EXPECT_EQ(s.accountSecurity[1], kSecurityTls);
    EXPECT_TRUE(isEmptyAccount(s.accounts[4]));
}

TEST(OptionsForm, APathThatDoesNotFitIsRefusedNotCut) {
    SendSettings s = emptySettings();
    storeAccount(s, 0, account("alpha"));
    storeAccount(s, kDefaultSlot, account("alpha"));
    OptionsForm form(s);
    form.pages().logFileMode = 2;
    form.pages().logFileName = "/var/log/" + std::string(250, 'x');  // 259 bytes fit
    EXPECT_FALSE(form.checkOk());
    form.pages().logFileName += "x";
    const auto problem = form.checkOk();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->page, OptionsPage::SendLog);
    EXPECT_NE(problem->message.find("（260 バイト）"), std::string::npos) << problem->message;
}

TEST(OptionsForm, OkWritesWhatTheDialogEditsAndNothingElse) {
    SendSettings s = emptySettings();
    storeAccount(s, 0, account("alpha"));
    storeAccount(s, kDefaultSlot, account("alpha"));
    s.WaitCount = -1;  // never pause: shown as "-1" and kept
    s.check.CheckMode = 1;
    s.check.DNSAddress = 0xC0A80001;
    OptionsForm form(s);
    EXPECT_EQ(form.pages().waitCount, "-1");
    form.pages().waitMSec = "1500";
    form.pages().waitSec = "abc";  // not a number: read as 0
    form.pages().logFileMode = 1;
    form.pages().logFileName = "/var/log/tarn.log";
    form.pages().appendToLog = true;
    form.pages().customUse = true;
    ASSERT_FALSE(form.checkOk());
    form.writeTo(s);
    EXPECT_EQ(s.WaitMSec, 1500);
    EXPECT_EQ(s.WaitCount, -1);
    EXPECT_EQ(s.WaitSec, 0);
    EXPECT_EQ(s.LogFileMode, 1);
    EXPECT_STREQ(s.LogFileName, "/var/log/tarn.log");
    EXPECT_EQ(s.LogCreateMode, 1);
    EXPECT_EQ(s.CustomUse, 1);
    EXPECT_EQ(s.ScriptUse, 0);
    EXPECT_EQ(s.check.CheckMode, 1);
    EXPECT_EQ(s.check.DNSAddress, 0xC0A80001u);
}

}  // namespace

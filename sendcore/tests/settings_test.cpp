#include "sendcore/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

#include "common/cp932.h"
#include "common/host_name.h"
#include "testsupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string sj(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

bool isZero(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    return std::all_of(b, b + n, [](unsigned char c) { return c == 0; });
}

const std::string kV2 = "Software\\Kestrel\\ZEPHV2\\";

template <std::size_t N>
void put(char (&field)[N], std::string_view text) {
    ASSERT_LT(text.size(), N);
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size());
}

// A field filled to its last byte with double-byte text (and an ASCII tag, so
// that fields differ), the worst case for cutting and conversion.
template <std::size_t N>
void fill(char (&field)[N], std::string_view tag) {
    std::string text(tag);
    const std::string kanji = sj("漢");
    while (text.size() + kanji.size() <= N - 1) {
        text += kanji;
    }
    text.resize(N - 1, 'x');
    put(field, text);
}

void fillAccount(AccountSettings& a, int n) {
    std::string t = "a" + std::to_string(n);
    fill(a.FromName, t + "name");
    fill(a.FromEMail, t + "mail");
    fill(a.Account, t + "acct");
    fill(a.SMTPName, t + "smtp");
    a.PortNo = 25 + n;
    a.UseFQDN = 1;
    a.dialUp.LANConnect = n % 2;
    fill(a.dialUp.EntryName, t + "entry");
    a.dialUp.Check = 1;
    fill(a.dialUp.UserName, t + "user");
    fill(a.dialUp.PassWord, t + "pass");
    a.dialUp.AutoCut = 1;
    a.PBSUse = 1;
    fill(a.Pop3Name, t + "pop");
    fill(a.PBSUserID, t + "pbsuser");
    fill(a.PBSPassword, t + "pbspass");
    a.PBSAPOP = 1;
}

TEST(Settings, FreshRegistryLoadsAllZeroAndSavingCreatesEveryValue) {
    TempDir dir;
    SettingsStore store(dir / "registry");
    SendSettings s;
    std::memset(&s, 0x5A, sizeof s);
    std::string cont = "stale";
    EXPECT_FALSE(store.load(s, cont).imported);
    EXPECT_TRUE(isZero(&s, sizeof s));
    EXPECT_EQ(cont, "");

    ASSERT_TRUE(store.saveOption(s).ok());
    ASSERT_TRUE(store.saveCommon(cont).ok());
    ASSERT_TRUE(store.saveCheckParam(s.check).ok());
    RegistryFile reg = RegistryFile::load(store.path());
    // Option 9 + the mail character set, greeting name, pipelining, retries,
    // the two quotas, jitter, receive time-out and sessions; DefAccount and
    // Account1-10 17 + the security mode and CA file; Common 1; CheckParam 6.
    EXPECT_EQ(reg.entries().size(), 18u + 11 * 19 + 1 + 6);
    std::string text = readFile(store.path());
    EXPECT_NE(text.find("[Software\\Kestrel\\ZEPHV2\\Option\\Account10]\n"), std::string::npos);
    EXPECT_NE(text.find("\"SMTPName10\"=\"\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"DefSecurity\"=dword:00000000\n"), std::string::npos);
}

// The value names are an interface with the other generation and with people
// who edit the file: each is spelled here independently of the store's tables,
// and each goes to its own field.
TEST(Settings, ReadsTheDocumentedValueNames) {
    SendSettings s;
    std::memset(&s, 0, sizeof s);
    const std::string opt = kV2 + "Option", def = opt + "\\DefAccount", a3 = opt + "\\Account3";
    const std::string chk = kV2 + "CheckParam";
    AccountSettings& d = s.defaultAccount;
    AccountSettings& a = s.accounts[2];
    const std::tuple<std::string, const char*, const void*> numbers[] = {
        {opt, "WaitMSec", &s.WaitMSec},
        {opt, "WaitCount", &s.WaitCount},
        {opt, "WaitSec", &s.WaitSec},
        {opt, "LogFileMode", &s.LogFileMode},
        {opt, "LogCreateMode", &s.LogCreateMode},
        {opt, "CustomUse", &s.CustomUse},
        {opt, "ScriptUse", &s.ScriptUse},
        {opt, "MailCharset", &s.MailCharset},
        {opt, "NoPipelining", &s.NoPipelining},
        {opt, "NoRetry", &s.NoRetry},
        {opt, "QuotaPerHour", &s.QuotaPerHour},
        {opt, "QuotaPerDay", &s.QuotaPerDay},
        {opt, "JitterMSec", &s.JitterMSec},
        {opt, "RecvTimeOutSec", &s.RecvTimeOutSec},
        {opt, "SmtpSessions", &s.SmtpSessions},
        {def, "DefPortNo", &d.PortNo},
        {def, "DefUseFQDN", &d.UseFQDN},
        {def, "LANConnect", &d.dialUp.LANConnect},
        {def, "Check", &d.dialUp.Check},
        {def, "AutoCut", &d.dialUp.AutoCut},
        {def, "DefPBSUse", &d.PBSUse},
        {def, "DefPBSAPOP", &d.PBSAPOP},
        {def, "DefSecurity", &s.defaultSecurity},
        {a3, "PortNo3", &a.PortNo},
        {a3, "UseFQDN3", &a.UseFQDN},
        {a3, "LANConnect3", &a.dialUp.LANConnect},
        {a3, "Check3", &a.dialUp.Check},
        {a3, "AutoCut3", &a.dialUp.AutoCut},
        {a3, "PBSUse3", &a.PBSUse},
        {a3, "PBSAPOP3", &a.PBSAPOP},
        {a3, "Security3", &s.accountSecurity[2]},
        {chk, "CheckMode", &s.check.CheckMode},
        {chk, "CheckLogOutMode", &s.check.CheckLogOutMode},
        {chk, "CheckLogCreateMode", &s.check.CheckLogCreateMode},
        {chk, "DNSAddress", &s.check.DNSAddress},
        {chk, "AllowDomain", &s.check.AllowDomain},
    };
    const std::tuple<std::string, const char*, const char*> texts[] = {
        {opt, "LogFileName", s.LogFileName},
        {opt, "LogOpenExeName", s.LogOpenExeName},
        {def, "DefName", d.FromName},
        {def, "DefEMail", d.FromEMail},
        {def, "DefAccount", d.Account},
        {def, "DefSMTPName", d.SMTPName},
        {def, "EntryName", d.dialUp.EntryName},
        {def, "UserName", d.dialUp.UserName},
        {def, "PassWord", d.dialUp.PassWord},
        {def, "DefPop3Name", d.Pop3Name},
        {def, "DefPBSUserID", d.PBSUserID},
        {def, "DefPBSPassword", d.PBSPassword},
        {def, "DefCAFile", s.defaultCaFile},
        {a3, "FromName3", a.FromName},
        {a3, "FromEMail3", a.FromEMail},
        {a3, "Account3", a.Account},
        {a3, "SMTPName3", a.SMTPName},
        {a3, "EntryName3", a.dialUp.EntryName},
        {a3, "UserName3", a.dialUp.UserName},
        {a3, "PassWord3", a.dialUp.PassWord},
        {a3, "Pop3Name3", a.Pop3Name},
        {a3, "PBSUserID3", a.PBSUserID},
        {a3, "PBSPassword3", a.PBSPassword},
        {a3, "CAFile3", s.accountCaFile[2]},
        {chk, "CheckLogFileName", s.check.CheckLogFileName},
    };
    RegistryFile reg = RegistryFile::parse("");
    std::uint32_t n = 1;
    for (const auto& [key, name, field] : numbers) {
        reg.setDword(key, name, n++);
    }
    for (const auto& [key, name, field] : texts) {
        reg.setString(key, name, key.substr(key.rfind('\\') + 1) + "-" + name);
    }
    reg.setString(kV2 + "Common", "ContFileName", sj("/home/送信文.tnm"));

    std::string cont;
    EXPECT_FALSE(readSettings(reg, s, cont).imported);
    n = 1;
    for (const auto& [key, name, field] : numbers) {
        std::uint32_t v = 0;
        std::memcpy(&v, field, sizeof v);
        EXPECT_EQ(v, n++) << name;
    }
    for (const auto& [key, name, field] : texts) {
        EXPECT_EQ(field, key.substr(key.rfind('\\') + 1) + "-" + name);
    }
    EXPECT_EQ(cont, sj("/home/送信文.tnm"));
    EXPECT_TRUE(isZero(&s.accounts[1], sizeof(AccountSettings)));
}

TEST(Settings, FullyFilledRecordRoundTripsThroughTheFile) {
    SendSettings s;
    std::memset(&s, 0, sizeof s);
    for (int n = 0; n < 10; ++n) {
        fillAccount(s.accounts[n], n + 1);
        s.accountSecurity[n] = n % 3;
        fill(s.accountCaFile[n], "/etc/ssl/private-ca" + std::to_string(n) + "/");
    }
    fillAccount(s.defaultAccount, 0);
    fill(s.defaultCaFile, "/etc/ssl/private-ca/");
    s.defaultSecurity = kSecurityStartTls;
    s.WaitMSec = 1500;
    s.WaitCount = -1;
    s.WaitSec = 30;
    s.LogFileMode = 2;
    fill(s.LogFileName, "/log/");
    fill(s.LogOpenExeName, "/usr/bin/");
    s.LogCreateMode = 1;
    s.CustomUse = 1;
    s.ScriptUse = 1;
    s.MailCharset = kMailCharsetAutomatic;
    fill(s.HeloName, "mail.");
    s.NoPipelining = 1;
    s.NoRetry = 1;
    s.QuotaPerHour = 100;
    s.QuotaPerDay = 2000;
    s.JitterMSec = 700;
    s.RecvTimeOutSec = 30;
    s.SmtpSessions = 4;
    s.check.CheckMode = 1;
    s.check.CheckLogOutMode = 1;
    fill(s.check.CheckLogFileName, "/check/");
    s.check.CheckLogCreateMode = 1;
    s.check.DNSAddress = 0xC0A80001;  // high bit set: 192.168.0.1
    s.check.AllowDomain = 1;
    const std::string cont = sj("/home/利用者/メッセージ.tnm");

    TempDir dir;
    SettingsStore store(dir / "registry");
    ASSERT_TRUE(store.saveOption(s).ok());
    ASSERT_TRUE(store.saveCommon(cont).ok());
    ASSERT_TRUE(store.saveCheckParam(s.check).ok());

    SendSettings back;
    std::string backCont;
    store.load(back, backCont);
    EXPECT_EQ(std::memcmp(&s, &back, sizeof s), 0);
    for (int n = 0; n < 10; ++n) {
        EXPECT_EQ(std::memcmp(&s.accounts[n], &back.accounts[n], sizeof(AccountSettings)), 0) << n;
    }
    EXPECT_EQ(backCont, cont);
}

TEST(Settings, CharsetAndGreetingNameFallBackToSafeValues) {
    SendSettings s;
    std::memset(&s, 0, sizeof s);
    EXPECT_EQ(mailCharset(s), kMailCharsetIso2022Jp);
    s.MailCharset = 2;
    EXPECT_EQ(mailCharset(s), kMailCharsetUtf8);
    s.MailCharset = 7;  // written by hand: read as the designed default
    EXPECT_EQ(mailCharset(s), kMailCharsetIso2022Jp);

    // Unset is one session; a hand-edited file cannot ask for none or for more
    // than the limit.
    for (const auto& [stored, used] : {std::pair{0, 1}, std::pair{1, 1}, std::pair{4, 4},
                                       std::pair{10, 10}, std::pair{11, 10}, std::pair{-3, 1}}) {
        s.SmtpSessions = stored;
        EXPECT_EQ(smtpSessionCount(s), used) << stored;
    }

    // Unset: the machine's fully qualified name, else the sender's domain
    // (never a bare host name, which receiving servers score as spam).
    setFieldText(s.defaultAccount.FromEMail, "office@mail.example.co.jp");
    const std::string machine = fullyQualifiedHostName();
    EXPECT_EQ(greetingName(s), machine.empty() ? "mail.example.co.jp" : machine);
    for (const char* good : {"relay.example.jp", "[192.0.2.1]", "[IPv6:2001:db8::1]"}) {
        setFieldText(s.HeloName, good);
        EXPECT_EQ(greetingName(s), good);
    }
    // A name that could not go onto the command line as it is counts as unset.
    for (const char* bad : {"relay.example.jp\r\nRSET", "bare", "with space.jp", "[1.2.3.4"}) {
        setFieldText(s.HeloName, bad);
        EXPECT_EQ(greetingName(s), machine.empty() ? "mail.example.co.jp" : machine) << bad;
    }
    setFieldText(s.defaultAccount.FromEMail, "no-domain");
    EXPECT_EQ(greetingName(s), machine);

    // Both live in the Option key, for the options dialog and `tarn config`.
    RegistryFile reg = RegistryFile::parse("");
    reg.setDword(kV2 + "Option", "MailCharset", 1);
    reg.setString(kV2 + "Option", "HeloName", "relay.example.jp");
    std::string cont;
    readSettings(reg, s, cont);
    EXPECT_EQ(s.MailCharset, kMailCharsetAutomatic);
    EXPECT_EQ(fieldText(s.HeloName), "relay.example.jp");
}

TEST(Settings, OverlongValueIsCutAtACharacterBoundary) {
    RegistryFile reg = RegistryFile::parse("");
    // 63 bytes fit SMTPName[64]; two ASCII bytes then 2-byte characters make the
    // 63rd byte a lead byte, which must not be kept alone.
    std::string host = "hh";
    while (host.size() < 80) {
        host += sj("あ");
    }
    reg.setString(kV2 + "Option\\DefAccount", "DefName", "x");
    reg.setString(kV2 + "Option\\DefAccount", "DefSMTPName", host);
    SendSettings s;
    std::string cont;
    readSettings(reg, s, cont);
    EXPECT_EQ(std::string(s.defaultAccount.SMTPName), host.substr(0, 62));
}

TEST(Settings, ImportsThePreviousGenerationSender) {
    RegistryFile reg = RegistryFile::parse("");
    const std::string old = "Software\\Kestrel\\ZEPH\\Option";
    const std::string yamada = sj("山田");
    reg.setString(old, "SMTPName", "mail.example.jp");
    reg.setDword(old, "PortNo", 587);
    reg.setString(old, "DefName", yamada);
    reg.setString(old, "DefEMail", "yamada@example.jp");
    reg.setDword(old, "LANConnect", 0);
    reg.setString(old, "EntryName", "isp");
    reg.setDword(old, "Check", 1);
    reg.setString(old, "UserName", "dialuser");
    reg.setString(old, "PassWord", "dialpass");
    reg.setDword(old, "AutoCut", 1);
    reg.setString(old, "FromName1", yamada);  // same sender: the whole default account
    reg.setString(old, "FromEMail1", "ignored@example.jp");
    reg.setString(old, "FromName2", sj("鈴木"));
    reg.setString(old, "FromEMail2", "suzuki@example.jp");
    reg.setString(old, "FromEMail3", "nameless@example.jp");
    // This generation: POP before SMTP already set, but no sender yet; values of
    // the other accounts are not read during an import.
    const std::string def = kV2 + "Option\\DefAccount";
    reg.setDword(def, "DefPBSUse", 1);
    reg.setString(def, "DefPop3Name", "pop.example.jp");
    reg.setString(def, "DefPBSUserID", "popuser");
    reg.setString(def, "DefPBSPassword", "poppass");
    reg.setDword(def, "DefPBSAPOP", 1);
    reg.setString(def, "DefSMTPName", "not-read.example.jp");
    reg.setString(kV2 + "Option\\Account5", "SMTPName5", "not-read.example.jp");
    reg.setDword(kV2 + "Option", "WaitSec", 9);

    SendSettings s;
    std::string cont;
    ASSERT_TRUE(readSettings(reg, s, cont).imported);
    const AccountSettings& d = s.defaultAccount;
    EXPECT_STREQ(d.Account, "mail.example.jp");
    EXPECT_STREQ(d.SMTPName, "mail.example.jp");
    EXPECT_EQ(d.PortNo, 587);
    EXPECT_EQ(std::string(d.FromName), yamada);
    EXPECT_STREQ(d.FromEMail, "yamada@example.jp");
    EXPECT_EQ(d.dialUp.LANConnect, 0);
    EXPECT_STREQ(d.dialUp.EntryName, "isp");
    EXPECT_EQ(d.dialUp.Check, 1);
    EXPECT_STREQ(d.dialUp.UserName, "dialuser");
    EXPECT_STREQ(d.dialUp.PassWord, "dialpass");
    EXPECT_EQ(d.dialUp.AutoCut, 1);
    EXPECT_EQ(d.PBSUse, 1);
    EXPECT_STREQ(d.Pop3Name, "pop.example.jp");
    EXPECT_STREQ(d.PBSUserID, "popuser");
    EXPECT_STREQ(d.PBSPassword, "poppass");
    EXPECT_EQ(d.PBSAPOP, 1);
    EXPECT_EQ(s.WaitSec, 9);

    EXPECT_EQ(std::memcmp(&s.accounts[0], &d, sizeof d), 0);
    EXPECT_EQ(std::string(s.accounts[1].FromName), sj("鈴木"));
    EXPECT_STREQ(s.accounts[1].FromEMail, "suzuki@example.jp");
    EXPECT_EQ(s.accounts[1].PortNo, 25);
    EXPECT_STREQ(s.accounts[1].SMTPName, "");
    EXPECT_STREQ(s.accounts[2].FromEMail, "nameless@example.jp");
    EXPECT_EQ(s.accounts[2].PortNo, 0);  // no name: no port either
    EXPECT_STREQ(s.accounts[4].SMTPName, "");
}

TEST(Settings, NoImportOnceThisGenerationHasASenderOrWithoutTheOldKey) {
    RegistryFile reg = RegistryFile::parse("");
    reg.setString("Software\\Kestrel\\ZEPH\\Option", "DefName", "old");
    reg.setString(kV2 + "Option\\DefAccount", "DefName", "new");
    SendSettings s;
    std::string cont;
    EXPECT_FALSE(readSettings(reg, s, cont).imported);
    EXPECT_STREQ(s.defaultAccount.FromName, "new");

    RegistryFile fresh = RegistryFile::parse("");
    fresh.setString(kV2 + "Option\\DefAccount", "DefName", "");
    EXPECT_FALSE(readSettings(fresh, s, cont).imported);
}

TEST(Settings, EachSaveChangesOnlyItsKeyAndReadOnlyFilesRefuse) {
    TempDir dir;
    fs::path path = dir / "registry";
    writeFile(path,
              "[Software\\Kestrel\\ZEPHV2\\TarnDBSend]\n"
              "\"SFileName\"=\"/data/list.mdb\"\n"
              "\"ExcelVersion\"=dword:00000008\n"
              "[Software\\Kestrel\\ZEPHV2\\Option\\DefAccount]\n"
              "\"DefName\"=\"someone\"\n"
              "this line is damaged\n");
    SettingsStore store(path);
    ASSERT_TRUE(store.saveCommon("/x.tnm").ok());
    DbSendSettings db = store.loadDbSend();
    EXPECT_EQ(db.SFileName, "/data/list.mdb");
    EXPECT_EQ(db.ExcelVersion, 8);
    SendSettings s;
    std::string cont;
    store.load(s, cont);
    EXPECT_STREQ(s.defaultAccount.FromName, "someone");
    EXPECT_EQ(cont, "/x.tnm");
    EXPECT_NE(readFile(path).find("this line is damaged\n"), std::string::npos);

    db.Keisyo = sj("様");
    db.SendMode = 1;
    ASSERT_TRUE(store.saveDbSend(db).ok());
    DbSendSettings back = store.loadDbSend();
    EXPECT_EQ(back.Keisyo, sj("様"));
    EXPECT_EQ(back.SendMode, 1);

    fs::permissions(path, fs::perms::owner_read);
    std::string before = readFile(path);
    EXPECT_FALSE(store.saveOption(s).ok());
    EXPECT_FALSE(store.saveCheckParam(s.check).ok());
    EXPECT_EQ(readFile(path), before);
    store.load(s, cont);
    EXPECT_STREQ(s.defaultAccount.FromName, "someone");
}

}  // namespace
}  // namespace tarn

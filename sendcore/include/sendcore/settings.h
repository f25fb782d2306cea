// The settings record of both sending applications and its registry store.
//
// SendSettings is the exact memory the options library edits through a
// pointer, so its layout is an interface: packed, with the offsets asserted
// below. Strings are NUL-terminated Shift_JIS in fixed arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "sendcore/registry.h"
#include "tarnras.h"  // DialUpSettings

namespace tarn {

#pragma pack(push, 1)

struct AccountSettings {
    char FromName[128];
    char FromEMail[128];
    char Account[128];  // name shown in the options dialog
    char SMTPName[64];
    std::int32_t PortNo;
    std::int32_t UseFQDN;   // 1: the sender address gives the Message-Id domain
    DialUpSettings dialUp;  // LANConnect .. AutoCut, handed to the dial-up library as one block
    std::int32_t PBSUse;    // 1: POP before SMTP
    char Pop3Name[64];
    char PBSUserID[128];
    char PBSPassword[128];
    std::int32_t PBSAPOP;
};

// The address-check settings, handed as one block to the check-settings dialog.
struct CheckSettings {
    std::int32_t CheckMode;        // 0: level 1; 1: levels 1 and 2
    std::int32_t CheckLogOutMode;  // 0: OK lines too; non-zero: failures only
    char CheckLogFileName[260];
    std::int32_t CheckLogCreateMode;  // 0: replace; non-zero: append
    std::uint32_t DNSAddress;         // IPv4, first octet in the most significant byte
    std::int32_t AllowDomain;
};

// Connection security of an account (stored as DefSecurity / Securityn).
enum SecurityMode : std::int32_t { kSecurityNone = 0, kSecurityStartTls = 1, kSecurityTls = 2 };

// The engine refuses any other value and keeps the connection as it was
// (plain), so a send must never start with one: the password would go out
// readable to a server that offers STARTTLS.
constexpr bool isKnownSecurityMode(std::int32_t value) {
    return value >= kSecurityNone && value <= kSecurityTls;
}

// The character set of sent mail: SendSettings::MailCharset, registry value
// Option\MailCharset (DWORD). Any other value reads as ISO-2022-JP.
//   0 ISO-2022-JP  as designed (the default): every reader shows JIS X 0208;
//                  NEC special and IBM extension characters (①, ㈱, 髙) go out
//                  in the rows only readers that know them show
//   1 automatic    ISO-2022-JP, or UTF-8 for a message that holds such a character
//   2 UTF-8        every message in UTF-8 (base64 body, "=?UTF-8?B?" headers)
enum MailCharsetMode : std::int32_t {
    kMailCharsetIso2022Jp = 0,
    kMailCharsetAutomatic = 1,
    kMailCharsetUtf8 = 2,
};

struct SendSettings {
    AccountSettings accounts[10];  // account n (1-10) is accounts[n - 1]
    AccountSettings defaultAccount;
    std::int32_t WaitMSec;
    std::int32_t WaitCount;
    std::int32_t WaitSec;
    std::int32_t LogFileMode;  // 0: none; 1: errors only; 2: every message
    char LogFileName[260];
    char LogOpenExeName[260];
    std::int32_t LogCreateMode;  // 0: replace; non-zero: append
    std::int32_t CustomUse;
    std::int32_t ScriptUse;
    CheckSettings check;
    // Added after the original layout, so that every field before keeps its offset.
    std::int32_t defaultSecurity;      // SecurityMode of defaultAccount
    std::int32_t accountSecurity[10];  // SecurityMode of accounts[i]
    // A CA certificate file (PEM) trusted besides the system store, for a
    // private server's certificate; empty for none. Stored as DefCAFile / CAFilen.
    char defaultCaFile[260];
    char accountCaFile[10][260];
    std::int32_t MailCharset;  // MailCharsetMode (registry Option\MailCharset)
    // The name the SMTP session greets with (registry Option\HeloName, SZ): a
    // domain name or an address literal such as "[192.0.2.1]". Empty: the
    // machine's fully qualified name, else the sender address's domain.
    char HeloName[256];
    // 1: every SMTP command waits for its reply even where the server offers
    // PIPELINING (registry Option\NoPipelining, DWORD). 0, the default, lets
    // the session pipeline; results and the log are the same either way.
    std::int32_t NoPipelining;
    // 1: a temporary failure (a 4xx reply, a lost connection) is final at
    // once, as a refusal (registry Option\NoRetry, DWORD). 0, the default,
    // defers the recipient and tries it again after the walk and twice more
    // within about half an hour.
    std::int32_t NoRetry;
    // The default account's sending quota: at most this many messages in any
    // hour / any 24 hours, counted across runs (Option\QuotaPerHour,
    // Option\QuotaPerDay, DWORD); 0: no limit.
    std::int32_t QuotaPerHour;
    std::int32_t QuotaPerDay;
    // A random pause of up to this many milliseconds between messages, on top
    // of WaitMSec (Option\JitterMSec, DWORD); 0: none.
    std::int32_t JitterMSec;
    // Seconds a send waits for a server's reply (Option\RecvTimeOutSec,
    // DWORD); 0: the usual 90.
    std::int32_t RecvTimeOutSec;
    // How many SMTP sessions a send runs side by side (Option\SmtpSessions,
    // DWORD): 0 or 1, the default, is one session; at most kMaxSmtpSessions.
    std::int32_t SmtpSessions;
};

#pragma pack(pop)

static_assert(sizeof(DialUpSettings) == 792);
static_assert(offsetof(DialUpSettings, EntryName) == 4);
static_assert(offsetof(DialUpSettings, Check) == 264);
static_assert(offsetof(DialUpSettings, UserName) == 268);
static_assert(offsetof(DialUpSettings, PassWord) == 528);
static_assert(offsetof(DialUpSettings, AutoCut) == 788);

static_assert(sizeof(AccountSettings) == 1576);
static_assert(offsetof(AccountSettings, FromEMail) == 128);
static_assert(offsetof(AccountSettings, Account) == 256);
static_assert(offsetof(AccountSettings, SMTPName) == 384);
static_assert(offsetof(AccountSettings, PortNo) == 448);
static_assert(offsetof(AccountSettings, UseFQDN) == 452);
static_assert(offsetof(AccountSettings, dialUp) == 456);  // LANConnect
static_assert(offsetof(AccountSettings, PBSUse) == 1248);
static_assert(offsetof(AccountSettings, Pop3Name) == 1252);
static_assert(offsetof(AccountSettings, PBSUserID) == 1316);
static_assert(offsetof(AccountSettings, PBSPassword) == 1444);
static_assert(offsetof(AccountSettings, PBSAPOP) == 1572);

static_assert(sizeof(CheckSettings) == 280);
static_assert(offsetof(CheckSettings, CheckLogFileName) == 8);
static_assert(offsetof(CheckSettings, CheckLogCreateMode) == 268);
static_assert(offsetof(CheckSettings, DNSAddress) == 272);
static_assert(offsetof(CheckSettings, AllowDomain) == 276);

static_assert(offsetof(SendSettings, defaultAccount) == 15760);
static_assert(offsetof(SendSettings, WaitMSec) == 17336);
static_assert(offsetof(SendSettings, WaitCount) == 17340);
static_assert(offsetof(SendSettings, WaitSec) == 17344);
static_assert(offsetof(SendSettings, LogFileMode) == 17348);
static_assert(offsetof(SendSettings, LogFileName) == 17352);
static_assert(offsetof(SendSettings, LogOpenExeName) == 17612);
static_assert(offsetof(SendSettings, LogCreateMode) == 17872);
static_assert(offsetof(SendSettings, CustomUse) == 17876);
static_assert(offsetof(SendSettings, ScriptUse) == 17880);
static_assert(offsetof(SendSettings, check) == 17884);  // CheckMode
static_assert(offsetof(SendSettings, defaultSecurity) == 18164);
static_assert(offsetof(SendSettings, accountSecurity) == 18168);
static_assert(offsetof(SendSettings, defaultCaFile) == 18208);
static_assert(offsetof(SendSettings, accountCaFile) == 18468);
static_assert(offsetof(SendSettings, MailCharset) == 21068);
static_assert(offsetof(SendSettings, HeloName) == 21072);
static_assert(offsetof(SendSettings, NoPipelining) == 21328);
static_assert(offsetof(SendSettings, NoRetry) == 21332);
static_assert(offsetof(SendSettings, QuotaPerHour) == 21336);
static_assert(offsetof(SendSettings, QuotaPerDay) == 21340);
static_assert(offsetof(SendSettings, JitterMSec) == 21344);
static_assert(offsetof(SendSettings, RecvTimeOutSec) == 21348);
static_assert(offsetof(SendSettings, SmtpSessions) == 21352);
static_assert(sizeof(SendSettings) == 21356);

// The most SMTP sessions one send runs at once: beyond that a relay's
// per-client limits bite long before the line is full.
constexpr int kMaxSmtpSessions = 10;
// SmtpSessions as a send uses it: 1..kMaxSmtpSessions, whatever a hand-edited
// file holds.
int smtpSessionCount(const SendSettings& settings);

// The character set a send uses: MailCharset, with an unknown value read as
// ISO-2022-JP.
MailCharsetMode mailCharset(const SendSettings& settings);

// The SMTP greeting name of a send with the default account: HeloName when it
// is a domain name or an address literal; else the machine's fully qualified
// name; else the domain of the sender address; empty when none of them is
// usable (the engine then greets with the host name).
std::string greetingName(const SendSettings& settings);
// The same rule for a configured name and a sender address of their own (the
// options dialog's test send of an account being edited).
std::string greetingName(const std::string& configured, const std::string& fromEMail);

// The text of a fixed field of a record (up to its first NUL).
template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0') {
        ++n;
    }
    return std::string(field, n);
}

// Copies text into a fixed field: cut at a character boundary, always terminated.
void setFieldText(char* field, std::size_t size, std::string_view text);
template <std::size_t N>
void setFieldText(char (&field)[N], std::string_view text) {
    setFieldText(field, N, text);
}

// The database-send application's own values (key TarnDBSend).
struct DbSendSettings {
    std::string SFileName;  // Shift_JIS
    std::int32_t ExcelVersion = 0;
    std::string Keisyo;  // Shift_JIS
    std::int32_t SendMode = 0;
};

// Key paths below HKEY_LOCAL_MACHINE, as in the registry file.
inline constexpr std::string_view kSettingsRoot = "Software\\Kestrel\\ZEPHV2";
inline constexpr std::string_view kPreviousGenerationRoot = "Software\\Kestrel\\ZEPH";

// Shown (information icon) when the previous generation's sender was imported.
inline constexpr std::string_view kImportNoticeTitle = "ターノス - 送信者情報の取り込み";
inline constexpr std::string_view kImportNoticeText =
    "旧ターノス Ver1.0の送信者情報を取り込みます。\n"
    "デフォルトアカウント以外はSMTPサーバー情報や接続情報が\n"
    "取り込まれないため、アカウントを切り替えて使用する前に再設定\n"
    "を行う必要があります。";

struct SettingsLoadResult {
    // The previous generation's sender was imported: the caller shows
    // kImportNoticeText. Nothing was written back.
    bool imported = false;
    // Damaged lines of the registry file (skipped, kept as they are), for the
    // caller to show.
    std::vector<std::string> warnings;
};

// On an in-memory registry. Loading zeroes `settings` and `contFileName` first;
// a missing value reads as 0 or empty, a string longer than its field is cut at
// a character boundary.
SettingsLoadResult readSettings(const RegistryFile& reg, SendSettings& settings,
                                std::string& contFileName);
void writeOptionKey(RegistryFile& reg, const SendSettings& settings);
void writeCommonKey(RegistryFile& reg, std::string_view contFileName);
void writeCheckParamKey(RegistryFile& reg, const CheckSettings& check);
DbSendSettings readDbSendKey(const RegistryFile& reg);
void writeDbSendKey(RegistryFile& reg, const DbSendSettings& db);

// What a value below kSettingsRoot holds, for tools that edit single values
// (`tarn config`). `key` is relative to kSettingsRoot ("Option\\DefAccount").
struct KnownValue {
    RegType type;
    std::size_t maxBytes;                 // longest text the record keeps; 0: no limit (or a DWORD)
    bool secret;                          // a password: never shown
    std::uint32_t maxDword = 0xFFFFFFFF;  // a DWORD with a closed range 0..maxDword
};

// Nothing when the default account's security value can be used; otherwise
// the reason a send stops with (UTF-8, naming the value and what it may be).
Status checkDefaultSecurity(const SendSettings& settings);
std::optional<KnownValue> describeSettingsValue(std::string_view key, std::string_view name);
// True for the value names that hold passwords, known or not.
bool isPasswordValueName(std::string_view name);

// The store on the registry file: every save reads the file again and changes
// only its own key, so that values written meanwhile by another program (or
// lines this version cannot read) survive.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path registryPath = RegistryFile::defaultPath());

    SettingsLoadResult load(SendSettings& settings, std::string& contFileName) const;
    Status saveOption(const SendSettings& settings) const;
    Status saveCommon(std::string_view contFileName) const;
    Status saveCheckParam(const CheckSettings& check) const;
    DbSendSettings loadDbSend() const;
    Status saveDbSend(const DbSendSettings& db) const;

    const std::filesystem::path& path() const { return m_path; }

private:
    template <class Fn>
    Status update(Fn&& change) const;

    std::filesystem::path m_path;
};

}  // namespace tarn

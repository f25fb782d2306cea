#include "sendcore/settings.h"

#include <algorithm>
#include <cstring>

#include "common/host_name.h"
#include "common/sjis.h"

namespace tarn {
namespace {

// One value of the record: its registry name, type, and where it lives.
struct Field {
    const char* name;
    RegType type;
    std::size_t offset;
    std::size_t size;  // bytes of the char array, or 4
};

// An account value has two names: one in DefAccount, one (with the account's
// number appended) in Accountn.
struct AccountField {
    const char* defName;
    const char* numberedName;
    RegType type;
    std::size_t offset;
    std::size_t size;
};

constexpr RegType kSz = RegType::Sz;
constexpr RegType kDw = RegType::Dword;
constexpr std::size_t kDial = offsetof(AccountSettings, dialUp);

#define TARN_AT(type, member) offsetof(type, member), sizeof(type::member)

constexpr AccountField kAccountFields[] = {
    {"DefName", "FromName", kSz, TARN_AT(AccountSettings, FromName)},
    {"DefEMail", "FromEMail", kSz, TARN_AT(AccountSettings, FromEMail)},
    {"DefAccount", "Account", kSz, TARN_AT(AccountSettings, Account)},
    {"DefSMTPName", "SMTPName", kSz, TARN_AT(AccountSettings, SMTPName)},
    {"DefPortNo", "PortNo", kDw, TARN_AT(AccountSettings, PortNo)},
    {"DefUseFQDN", "UseFQDN", kDw, TARN_AT(AccountSettings, UseFQDN)},
    {"LANConnect", "LANConnect", kDw, kDial + TARN_AT(DialUpSettings, LANConnect)},
    {"EntryName", "EntryName", kSz, kDial + TARN_AT(DialUpSettings, EntryName)},
    {"Check", "Check", kDw, kDial + TARN_AT(DialUpSettings, Check)},
    {"UserName", "UserName", kSz, kDial + TARN_AT(DialUpSettings, UserName)},
    {"PassWord", "PassWord", kSz, kDial + TARN_AT(DialUpSettings, PassWord)},
    {"AutoCut", "AutoCut", kDw, kDial + TARN_AT(DialUpSettings, AutoCut)},
    {"DefPBSUse", "PBSUse", kDw, TARN_AT(AccountSettings, PBSUse)},
    {"DefPop3Name", "Pop3Name", kSz, TARN_AT(AccountSettings, Pop3Name)},
    {"DefPBSUserID", "PBSUserID", kSz, TARN_AT(AccountSettings, PBSUserID)},
    {"DefPBSPassword", "PBSPassword", kSz, TARN_AT(AccountSettings, PBSPassword)},
    {"DefPBSAPOP", "PBSAPOP", kDw, TARN_AT(AccountSettings, PBSAPOP)},
};
// The POP before SMTP values, which a previous-generation import keeps from this generation.
constexpr std::size_t kFirstPbsField = 12;

constexpr Field kOptionFields[] = {
    {"WaitMSec", kDw, TARN_AT(SendSettings, WaitMSec)},
    {"WaitCount", kDw, TARN_AT(SendSettings, WaitCount)},
    {"WaitSec", kDw, TARN_AT(SendSettings, WaitSec)},
    {"LogFileMode", kDw, TARN_AT(SendSettings, LogFileMode)},
    {"LogCreateMode", kDw, TARN_AT(SendSettings, LogCreateMode)},
    {"CustomUse", kDw, TARN_AT(SendSettings, CustomUse)},
    {"ScriptUse", kDw, TARN_AT(SendSettings, ScriptUse)},
    {"LogFileName", kSz, TARN_AT(SendSettings, LogFileName)},
    {"LogOpenExeName", kSz, TARN_AT(SendSettings, LogOpenExeName)},
    {"MailCharset", kDw, TARN_AT(SendSettings, MailCharset)},
    {"HeloName", kSz, TARN_AT(SendSettings, HeloName)},
    {"NoPipelining", kDw, TARN_AT(SendSettings, NoPipelining)},
    {"NoRetry", kDw, TARN_AT(SendSettings, NoRetry)},
    {"QuotaPerHour", kDw, TARN_AT(SendSettings, QuotaPerHour)},
    {"QuotaPerDay", kDw, TARN_AT(SendSettings, QuotaPerDay)},
    {"JitterMSec", kDw, TARN_AT(SendSettings, JitterMSec)},
    {"RecvTimeOutSec", kDw, TARN_AT(SendSettings, RecvTimeOutSec)},
    {"SmtpSessions", kDw, TARN_AT(SendSettings, SmtpSessions)},
};

constexpr Field kCheckFields[] = {
    {"CheckMode", kDw, TARN_AT(CheckSettings, CheckMode)},
    {"CheckLogOutMode", kDw, TARN_AT(CheckSettings, CheckLogOutMode)},
    {"CheckLogCreateMode", kDw, TARN_AT(CheckSettings, CheckLogCreateMode)},
    {"DNSAddress", kDw, TARN_AT(CheckSettings, DNSAddress)},
    {"AllowDomain", kDw, TARN_AT(CheckSettings, AllowDomain)},
    {"CheckLogFileName", kSz, TARN_AT(CheckSettings, CheckLogFileName)},
};

#undef TARN_AT

std::string fullKey(std::string_view relative) {
    return std::string(kSettingsRoot) + "\\" + std::string(relative);
}

std::string accountKey(int n) {
    return "Option\\Account" + std::to_string(n);
}

void readValue(const RegistryFile& reg, const std::string& key, const std::string& name,
               RegType type, void* record, std::size_t offset, std::size_t size) {
    char* at = static_cast<char*>(record) + offset;
    if (type == RegType::Dword) {
        std::uint32_t v = reg.getDword(key, name);
        std::memcpy(at, &v, sizeof v);
    } else {
        setFieldText(at, size, reg.getString(key, name));
    }
}

void writeValue(RegistryFile& reg, const std::string& key, const std::string& name, RegType type,
                const void* record, std::size_t offset, std::size_t size) {
    const char* at = static_cast<const char*>(record) + offset;
    if (type == RegType::Dword) {
        std::uint32_t v = 0;
        std::memcpy(&v, at, sizeof v);
        reg.setDword(key, name, v);
    } else {
        reg.setString(key, name, std::string_view(at, strnlen(at, size)));
    }
}

std::string accountValueName(const AccountField& f, int n) {
    return n == 0 ? std::string(f.defName) : f.numberedName + std::to_string(n);
}

std::string securityName(int n) {
    return n == 0 ? "DefSecurity" : "Security" + std::to_string(n);
}

std::string caFileName(int n) {
    return n == 0 ? "DefCAFile" : "CAFile" + std::to_string(n);
}

// Account n of the record (0: the default account) and the values kept beside
// it after the original layout; for SendSettings and const SendSettings alike.
template <class Settings>
auto& accountOf(Settings& s, int n) {
    return n == 0 ? s.defaultAccount : s.accounts[n - 1];
}
template <class Settings>
auto& securityOf(Settings& s, int n) {
    return n == 0 ? s.defaultSecurity : s.accountSecurity[n - 1];
}
template <class Settings>
auto& caFileOf(Settings& s, int n) {
    return n == 0 ? s.defaultCaFile : s.accountCaFile[n - 1];
}

// n = 0: the default account (key DefAccount); 1-10: Accountn.
void readAccount(const RegistryFile& reg, int n, SendSettings& s) {
    std::string key = fullKey(n == 0 ? "Option\\DefAccount" : accountKey(n));
    for (const auto& f : kAccountFields) {
        readValue(reg, key, accountValueName(f, n), f.type, &accountOf(s, n), f.offset, f.size);
    }
    securityOf(s, n) = static_cast<std::int32_t>(reg.getDword(key, securityName(n)));
    setFieldText(caFileOf(s, n), reg.getString(key, caFileName(n)));
}

void writeAccount(RegistryFile& reg, int n, const SendSettings& s) {
    std::string key = fullKey(n == 0 ? "Option\\DefAccount" : accountKey(n));
    for (const auto& f : kAccountFields) {
        writeValue(reg, key, accountValueName(f, n), f.type, &accountOf(s, n), f.offset, f.size);
    }
    reg.setDword(key, securityName(n), static_cast<std::uint32_t>(securityOf(s, n)));
    reg.setString(key, caFileName(n), fieldText(caFileOf(s, n)));
}

template <std::size_t N>
void readFields(const RegistryFile& reg, const std::string& key, const Field (&fields)[N],
                void* record) {
    for (const auto& f : fields) {
        readValue(reg, key, f.name, f.type, record, f.offset, f.size);
    }
}

template <std::size_t N>
void writeFields(RegistryFile& reg, const std::string& key, const Field (&fields)[N],
                 const void* record) {
    for (const auto& f : fields) {
        writeValue(reg, key, f.name, f.type, record, f.offset, f.size);
    }
}

// The previous generation kept one sender with its connection, and only names
// and addresses for the other accounts.
void importPreviousGeneration(const RegistryFile& reg, SendSettings& s) {
    const std::string old = std::string(kPreviousGenerationRoot) + "\\Option";
    AccountSettings& def = s.defaultAccount;
    std::string server = reg.getString(old, "SMTPName");
    setFieldText(def.Account, server);
    setFieldText(def.SMTPName, server);
    def.PortNo = static_cast<std::int32_t>(reg.getDword(old, "PortNo"));
    setFieldText(def.FromName, reg.getString(old, "DefName"));
    setFieldText(def.FromEMail, reg.getString(old, "DefEMail"));
    def.dialUp.LANConnect = static_cast<std::int32_t>(reg.getDword(old, "LANConnect"));
    setFieldText(def.dialUp.EntryName, reg.getString(old, "EntryName"));
    def.dialUp.Check = static_cast<std::int32_t>(reg.getDword(old, "Check"));
    setFieldText(def.dialUp.UserName, reg.getString(old, "UserName"));
    setFieldText(def.dialUp.PassWord, reg.getString(old, "PassWord"));
    def.dialUp.AutoCut = static_cast<std::int32_t>(reg.getDword(old, "AutoCut"));

    for (int n = 1; n <= 10; ++n) {
        AccountSettings& a = s.accounts[n - 1];
        setFieldText(a.FromName, reg.getString(old, "FromName" + std::to_string(n)));
        if (std::strcmp(a.FromName, def.FromName) == 0) {
            a = def;
            continue;
        }
        setFieldText(a.FromEMail, reg.getString(old, "FromEMail" + std::to_string(n)));
        if (a.FromName[0] != '\0') {
            a.PortNo = 25;
        }
    }
}

bool sameName(std::string_view a, std::string_view b) {
    return sjis::equalsIgnoreCase(a, b);
}

// "Option\Account7" -> 7; 0 when `key` is not an account key.
int accountNumber(std::string_view key) {
    constexpr std::string_view prefix = "Option\\Account";
    if (key.size() <= prefix.size() || !sameName(key.substr(0, prefix.size()), prefix)) {
        return 0;
    }
    std::string_view digits = key.substr(prefix.size());
    for (int n = 1; n <= 10; ++n) {
        if (digits == std::to_string(n)) {
            return n;
        }
    }
    return 0;
}

}  // namespace

void setFieldText(char* field, std::size_t size, std::string_view text) {
    std::string_view cut = sjis::truncate(text.substr(0, text.find('\0')), size - 1);
    std::memset(field, 0, size);
    std::memcpy(field, cut.data(), cut.size());
}

MailCharsetMode mailCharset(const SendSettings& settings) {
    switch (settings.MailCharset) {
        case kMailCharsetAutomatic:
            return kMailCharsetAutomatic;
        case kMailCharsetUtf8:
            return kMailCharsetUtf8;
        default:
            return kMailCharsetIso2022Jp;
    }
}

std::string greetingName(const SendSettings& settings) {
    return greetingName(fieldText(settings.HeloName), fieldText(settings.defaultAccount.FromEMail));
}

std::string greetingName(const std::string& configured, const std::string& fromEMail) {
    if (isGreetingName(configured)) {
        return configured;
    }
    if (std::string fqdn = fullyQualifiedHostName(); !fqdn.empty()) {
        return fqdn;
    }
    return addressDomain(fromEMail);
}

SettingsLoadResult readSettings(const RegistryFile& reg, SendSettings& settings,
                                std::string& contFileName) {
    SettingsLoadResult result;
    std::memset(&settings, 0, sizeof settings);
    contFileName.clear();

    readFields(reg, fullKey("Option"), kOptionFields, &settings);
    const std::string defKey = fullKey("Option\\DefAccount");
    if (!reg.getString(defKey, "DefName").empty() || !reg.keyExists(kPreviousGenerationRoot)) {
        for (int n = 0; n <= 10; ++n) {
            readAccount(reg, n, settings);
        }
    } else {
        for (std::size_t i = kFirstPbsField; i < std::size(kAccountFields); ++i) {
            const auto& f = kAccountFields[i];
            readValue(reg, defKey, f.defName, f.type, &settings.defaultAccount, f.offset, f.size);
        }
        importPreviousGeneration(reg, settings);
        result.imported = true;
    }
    contFileName = reg.getString(fullKey("Common"), "ContFileName");
    readFields(reg, fullKey("CheckParam"), kCheckFields, &settings.check);
    return result;
}

void writeOptionKey(RegistryFile& reg, const SendSettings& settings) {
    writeFields(reg, fullKey("Option"), kOptionFields, &settings);
    for (int n = 0; n <= 10; ++n) {
        writeAccount(reg, n, settings);
    }
}

void writeCommonKey(RegistryFile& reg, std::string_view contFileName) {
    reg.setString(fullKey("Common"), "ContFileName", contFileName);
}

void writeCheckParamKey(RegistryFile& reg, const CheckSettings& check) {
    writeFields(reg, fullKey("CheckParam"), kCheckFields, &check);
}

DbSendSettings readDbSendKey(const RegistryFile& reg) {
    const std::string key = fullKey("TarnDBSend");
    DbSendSettings db;
    db.SFileName = reg.getString(key, "SFileName");
    db.ExcelVersion = static_cast<std::int32_t>(reg.getDword(key, "ExcelVersion"));
    db.Keisyo = reg.getString(key, "Keisyo");
    db.SendMode = static_cast<std::int32_t>(reg.getDword(key, "SendMode"));
    return db;
}

void writeDbSendKey(RegistryFile& reg, const DbSendSettings& db) {
    const std::string key = fullKey("TarnDBSend");
    reg.setString(key, "SFileName", db.SFileName);
    reg.setDword(key, "ExcelVersion", static_cast<std::uint32_t>(db.ExcelVersion));
    reg.setString(key, "Keisyo", db.Keisyo);
    reg.setDword(key, "SendMode", static_cast<std::uint32_t>(db.SendMode));
}

bool isPasswordValueName(std::string_view name) {
    return sjis::asciiLower(name).find("password") != std::string::npos;
}

std::optional<KnownValue> describeSettingsValue(std::string_view key, std::string_view name) {
    auto known = [&](RegType type, std::size_t size) {
        return KnownValue{type, type == RegType::Sz && size > 0 ? size - 1 : 0,
                          isPasswordValueName(name)};
    };
    auto inFields = [&](const auto& fields) -> std::optional<KnownValue> {
        for (const auto& f : fields) {
            if (sameName(name, f.name)) {
                return known(f.type, f.size);
            }
        }
        return std::nullopt;
    };
    if (sameName(key, "Option")) {
        auto v = inFields(kOptionFields);
        if (v && sameName(name, "SmtpSessions")) {
            v->maxDword = kMaxSmtpSessions;
        }
        return v;
    }
    if (sameName(key, "CheckParam")) {
        return inFields(kCheckFields);
    }
    if (sameName(key, "Common")) {
        return sameName(name, "ContFileName") ? std::optional(known(kSz, 0)) : std::nullopt;
    }
    if (sameName(key, "TarnDBSend")) {
        for (const char* sz : {"SFileName", "Keisyo"}) {
            if (sameName(name, sz)) {
                return known(kSz, 0);
            }
        }
        for (const char* dw : {"ExcelVersion", "SendMode"}) {
            if (sameName(name, dw)) {
                return known(kDw, 4);
            }
        }
        return std::nullopt;
    }
    int n = sameName(key, "Option\\DefAccount") ? 0 : accountNumber(key);
    if (n == 0 && !sameName(key, "Option\\DefAccount")) {
        return std::nullopt;
    }
    if (sameName(name, securityName(n))) {
        KnownValue v = known(kDw, 4);
        v.maxDword = kSecurityTls;
        return v;
    }
    if (sameName(name, caFileName(n))) {
        return known(kSz, sizeof SendSettings::defaultCaFile);
    }
    for (const auto& f : kAccountFields) {
        if (sameName(name, accountValueName(f, n))) {
            return known(f.type, f.size);
        }
    }
    return std::nullopt;
}

int smtpSessionCount(const SendSettings& settings) {
    return std::clamp(settings.SmtpSessions, 1, kMaxSmtpSessions);
}

Status checkDefaultSecurity(const SendSettings& settings) {
    if (isKnownSecurityMode(settings.defaultSecurity)) {
        return Ok{};
    }
    return makeError(
        "標準アカウントの接続の保護 (DefSecurity) の値 " +
        std::to_string(static_cast<std::uint32_t>(settings.defaultSecurity)) +
        " は使えません。0 (なし)、1 (STARTTLS)、2 (SSL/TLS) のどれかを設定してください。"
        "保護なしの接続にはしません。");
}

SettingsStore::SettingsStore(std::filesystem::path registryPath)
    : m_path(std::move(registryPath)) {}

SettingsLoadResult SettingsStore::load(SendSettings& settings, std::string& contFileName) const {
    const RegistryFile reg = RegistryFile::load(m_path);
    SettingsLoadResult r = readSettings(reg, settings, contFileName);
    r.warnings = reg.warnings();
    return r;
}

template <class Fn>
Status SettingsStore::update(Fn&& change) const {
    // Warnings about damaged lines were handed out when the settings were loaded.
    return RegistryFile::update(m_path, [&](RegistryFile& reg) -> Status {
        change(reg);
        return Ok{};
    });
}

Status SettingsStore::saveOption(const SendSettings& settings) const {
    return update([&](RegistryFile& reg) { writeOptionKey(reg, settings); });
}

Status SettingsStore::saveCommon(std::string_view contFileName) const {
    return update([&](RegistryFile& reg) { writeCommonKey(reg, contFileName); });
}

Status SettingsStore::saveCheckParam(const CheckSettings& check) const {
    return update([&](RegistryFile& reg) { writeCheckParamKey(reg, check); });
}

DbSendSettings SettingsStore::loadDbSend() const {
    return readDbSendKey(RegistryFile::load(m_path));
}

Status SettingsStore::saveDbSend(const DbSendSettings& db) const {
    return update([&](RegistryFile& reg) { writeDbSendKey(reg, db); });
}

}  // namespace tarn

#include "options/account_form.h"

#include <charconv>
#include <tuple>

#include "common/sjis.h"
#include "options/texts.h"

namespace tarn::options {
namespace {

// Bytes a text field of N bytes holds, without its terminating zero.
template <std::size_t N>
constexpr std::size_t room(const char (&)[N]) {
    return N - 1;
}

// Why a text may not go into a field of `limit` bytes, or nullopt.
std::optional<FieldProblem> checkFits(AccountField field, std::string_view label,
                                      std::string_view text, std::size_t limit,
                                      std::string_view why = {}) {
    if (text.size() <= limit) {
        return std::nullopt;
    }
    return FieldProblem{field, tooLongMessage(label, text.size(), limit) + std::string(why)};
}

// What a mail reader takes for address syntax in an unquoted display name: the
// blank and the ASCII punctuation from 0x20 to 0x2F (which the rule has always
// quoted), and the other specials of RFC 5322 (":;<>@[\]"), which would split or
// misplace the address just the same.
bool needsQuotes(std::string_view name) {
    for (std::size_t i = 0; i < name.size(); i += sjis::charLength(name, i)) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (sjis::isLeadByte(c)) {
            continue;
        }
        if ((c >= 0x20 && c <= 0x2F) ||
            std::string_view(":;<>@[\\]").find(static_cast<char>(c)) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// A double quote is welcome only as the pair around the whole name: any other
// leaves the From header with an open quoted string, and the envelope address
// is then read from the wrong place.
bool quotesArePaired(std::string_view name) {
    const std::size_t first = sjis::find(name, '"');
    if (first == std::string_view::npos) {
        return true;
    }
    if (first != 0 || name.size() < 2) {
        return false;
    }
    const std::size_t next = sjis::find(name, '"', 1);
    return next == name.size() - 1;
}

}  // namespace

AccountEntry loadAccount(const SendSettings& settings, int slot) {
    AccountEntry e;
    if (slot == kDefaultSlot) {
        e.settings = settings.defaultAccount;
        e.security = settings.defaultSecurity;
        e.caFile = fieldText(settings.defaultCaFile);
    } else {
        const auto i = static_cast<std::size_t>(slot);
        e.settings = settings.accounts[i];
        e.security = settings.accountSecurity[i];
        e.caFile = fieldText(settings.accountCaFile[i]);
    }
    return e;
}

void storeAccount(SendSettings& settings, int slot, const AccountEntry& entry) {
    if (slot == kDefaultSlot) {
        settings.defaultAccount = entry.settings;
        settings.defaultSecurity = entry.security;
        setFieldText(settings.defaultCaFile, entry.caFile);
    } else {
        const auto i = static_cast<std::size_t>(slot);
        settings.accounts[i] = entry.settings;
        settings.accountSecurity[i] = entry.security;
        setFieldText(settings.accountCaFile[i], entry.caFile);
    }
}

bool isEmptyAccount(const AccountSettings& account) {
    return account.FromName[0] == '\0';
}

std::string displayName(const AccountSettings& account) {
    std::string name = fieldText(account.Account);
    return name.empty() ? fieldText(account.SMTPName) : name;
}

AccountForm formForNewAccount() {
    AccountForm f;
    f.port = "25";
    return f;
}

AccountForm formForAccount(const AccountEntry& entry) {
    const AccountSettings& a = entry.settings;
    AccountForm f;
    f.account = fieldText(a.Account);
    f.smtpName = fieldText(a.SMTPName);
    f.port = std::to_string(a.PortNo);
    f.fromName = fieldText(a.FromName);
    f.fromEMail = fieldText(a.FromEMail);
    f.useFqdn = a.UseFQDN == 1;
    f.security = entry.security;
    f.caFile = entry.caFile;
    f.lan = a.dialUp.LANConnect != 0;
    f.entryName = fieldText(a.dialUp.EntryName);
    f.check = a.dialUp.Check == 1;
    f.userName = fieldText(a.dialUp.UserName);
    f.password = fieldText(a.dialUp.PassWord);
    f.autoCut = a.dialUp.AutoCut == 1;
    f.pbsUse = a.PBSUse == 1;
    f.pop3Name = a.Pop3Name[0] != '\0' ? fieldText(a.Pop3Name) : f.smtpName;
    f.pbsUserId = fieldText(a.PBSUserID);
    f.pbsPassword = fieldText(a.PBSPassword);
    f.apop = a.PBSAPOP == 1;
    return f;
}

bool offerDialUp(const AccountForm& form, bool dialUpAvailable, std::size_t entryCount) {
    return !form.lan && dialUpAvailable && entryCount > 0;
}

std::string_view usualPort(std::int32_t security) {
    switch (security) {
        case kSecurityStartTls:
            return "587";
        case kSecurityTls:
            return "465";
        default:
            return "25";
    }
}

std::optional<std::string> suggestedPort(std::string_view currentPort, std::int32_t security) {
    const bool usual = currentPort.empty() || currentPort == usualPort(kSecurityNone) ||
                       currentPort == usualPort(kSecurityStartTls) ||
                       currentPort == usualPort(kSecurityTls);
    if (!usual || currentPort == usualPort(security)) {
        return std::nullopt;
    }
    return std::string(usualPort(security));
}

std::string tooLongMessage(std::string_view label, std::size_t bytes, std::size_t limit) {
    std::string m(label);
    m += "が長すぎます（";
    m += std::to_string(bytes);
    m += " バイト）。\n半角 ";
    m += std::to_string(limit);
    m += " 文字（全角 ";
    m += std::to_string(limit / 2);
    m += " 文字）までで入力して下さい。";
    return m;
}

std::optional<int> portValue(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    int value = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, 10);
    if (r.ec != std::errc() || r.ptr != end || text.front() == '-' || value > 65535) {
        return std::nullopt;
    }
    return value;
}

std::string storedSenderName(std::string_view name) {
    if (name.empty() || name.front() == '"' || sjis::isLeadByte(name.front()) ||
        !needsQuotes(name)) {
        return std::string(name);
    }
    return "\"" + std::string(name) + "\"";
}

std::variant<AccountEntry, FieldProblem> readAccountForm(const AccountForm& form) {
    using F = AccountField;
    AccountEntry entry;
    AccountSettings& a = entry.settings;

    // SMTP server name.
    if (form.smtpName.empty()) {
        return FieldProblem{F::SmtpName, std::string(text::kNoSmtpServer)};
    }
    if (auto p = checkFits(F::SmtpName, "SMTPサーバー名", form.smtpName, room(a.SMTPName))) {
        return *p;
    }

    // Port.
    const std::optional<int> port = portValue(form.port);
    if (!port) {
        return FieldProblem{F::Port, std::string(text::kPortRange)};
    }

    // Sender name.
    if (form.fromName.empty()) {
        return FieldProblem{F::FromName, std::string(text::kNoSenderName)};
    }
    if (!quotesArePaired(form.fromName)) {
        return FieldProblem{F::FromName,
                            "送信者名の「\"」は、名前全体を「\"」で囲む場合にだけ使えます。"};
    }
    const std::string fromName = storedSenderName(form.fromName);
    if (auto p = checkFits(F::FromName, "送信者名", fromName, room(a.FromName),
                           fromName.size() != form.fromName.size()
                               ? "\n（記号や空白を含む名前は「\"」で囲んで保存するため、"
                                 "囲みの 2 文字も数えます。）"
                               : "")) {
        return *p;
    }

    // Sender address.
    if (form.fromEMail.empty()) {
        return FieldProblem{F::FromEMail, std::string(text::kNoSenderAddress)};
    }
    if (auto p = checkFits(F::FromEMail, "E-Mail", form.fromEMail, room(a.FromEMail))) {
        return *p;
    }

    // Account name ("省略した場合は、SMTPサーバー名がアカウント名となります。").
    const std::string& account = form.account.empty() ? form.smtpName : form.account;
    if (auto p = checkFits(F::Account, "アカウント名", account, room(a.Account))) {
        return *p;
    }

    // The rest.
    if (form.security != kSecurityNone && form.security != kSecurityStartTls &&
        form.security != kSecurityTls) {
        return FieldProblem{F::Security, std::string(text::kUnknownSecurity)};
    }
    if (auto p = checkFits(F::CaFile, "CA ファイル名", form.caFile,
                           sizeof SendSettings::defaultCaFile - 1)) {
        return *p;
    }
    // The dial-up library takes names and credentials of up to 255 characters.
    constexpr std::size_t kDialUpText = 255;
    const std::string& pop3 = form.pop3Name.empty() ? form.smtpName : form.pop3Name;
    const std::tuple<F, std::string_view, const std::string&, std::size_t> rest[] = {
        {F::EntryName, "ダイヤルアップエントリー名", form.entryName, kDialUpText},
        {F::UserName, "ユーザー名", form.userName, kDialUpText},
        {F::PassWord, "パスワード", form.password, kDialUpText},
        {F::Pop3Name, "POP3サーバー名", pop3, room(a.Pop3Name)},
        {F::PbsUserId, "POP3のユーザーID", form.pbsUserId, room(a.PBSUserID)},
        {F::PbsPassword, "POP3のパスワード", form.pbsPassword, room(a.PBSPassword)},
    };
    for (const auto& [field, label, value, limit] : rest) {
        if (auto p = checkFits(field, label, value, limit)) {
            return *p;
        }
    }

    setFieldText(a.SMTPName, form.smtpName);
    a.PortNo = *port;
    setFieldText(a.FromName, fromName);
    setFieldText(a.FromEMail, form.fromEMail);
    setFieldText(a.Account, account);
    a.UseFQDN = form.useFqdn ? 1 : 0;
    a.dialUp.LANConnect = form.lan ? 1 : 0;
    setFieldText(a.dialUp.EntryName, form.entryName);
    a.dialUp.Check = form.check ? 1 : 0;
    setFieldText(a.dialUp.UserName, form.userName);
    setFieldText(a.dialUp.PassWord, form.password);
    a.dialUp.AutoCut = form.autoCut ? 1 : 0;
    a.PBSUse = form.pbsUse ? 1 : 0;
    setFieldText(a.Pop3Name, pop3);
    setFieldText(a.PBSUserID, form.pbsUserId);
    setFieldText(a.PBSPassword, form.pbsPassword);
    a.PBSAPOP = form.apop ? 1 : 0;
    entry.security = form.security;
    entry.caFile = form.caFile;
    return entry;
}

}  // namespace tarn::options

// The rules of the account dialog, without its widgets: what the fields show
// when the dialog opens, and how they are read back into an account, in a fixed
// order that stops at the first refusal. A text that does not fit its field of
// the settings record is refused with its length, never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "sendcore/settings.h"

namespace tarn::options {

// One account with what the settings record keeps beside it.
struct AccountEntry {
    AccountSettings settings{};
    std::int32_t security = kSecurityNone;  // SecurityMode
    std::string caFile;                     // Shift_JIS path of a PEM file; "" for none
};

// Slot 0-9 of the account list, or the default account.
inline constexpr int kDefaultSlot = -1;
AccountEntry loadAccount(const SendSettings& settings, int slot);
// The entry's texts must fit (readAccountForm makes sure of that).
void storeAccount(SendSettings& settings, int slot, const AccountEntry& entry);

// A slot is empty when its sender name is.
bool isEmptyAccount(const AccountSettings& account);
// The name the account list shows: the account name, or the SMTP server name
// when that is empty (Shift_JIS).
std::string displayName(const AccountSettings& account);

// The account dialog's controls. Texts are Shift_JIS, as typed.
struct AccountForm {
    // Page "アカウント詳細"
    std::string account, smtpName, port, fromName, fromEMail;
    bool useFqdn = false;
    std::int32_t security = kSecurityNone;
    std::string caFile;
    // Page "接続方法"
    bool lan = true;
    std::string entryName;
    bool check = false;  // "ユーザー名、パスワードを指定する"
    std::string userName, password;
    bool autoCut = false;
    // Page "その他の設定" (POP before SMTP)
    bool pbsUse = false;
    std::string pop3Name, pbsUserId, pbsPassword;
    bool apop = false;
};

// A new account: port 25, Message-ID box unticked, over the LAN.
AccountForm formForNewAccount();
// An existing account; the POP3 server shows the SMTP server when it has none.
// `lan` is as stored; see offerDialUp().
AccountForm formForAccount(const AccountEntry& entry);

// Whether the dialog opens on the dial-up choice: only for an account that is
// not on the LAN, when the dial-up library is there and lists an entry.
bool offerDialUp(const AccountForm& form, bool dialUpAvailable, std::size_t entryCount);

// The port the dialog puts in when the security mode is chosen: the mode's
// usual port (25, 587 with STARTTLS, 465 with SSL/TLS), but only over an empty
// field or another mode's usual port, never over a port the person typed.
std::optional<std::string> suggestedPort(std::string_view currentPort, std::int32_t security);
std::string_view usualPort(std::int32_t security);

// The field a refusal is about, so that the window can show it.
enum class AccountField {
    SmtpName,
    Port,
    FromName,
    FromEMail,
    Account,
    Security,
    CaFile,
    EntryName,
    UserName,
    PassWord,
    Pop3Name,
    PbsUserId,
    PbsPassword,
};

struct FieldProblem {
    AccountField field;
    std::string message;  // UTF-8, shown with the caption "ターノス  - オプション設定"
};

// Reads the controls into an account, in the dialog's order: SMTP server, port,
// sender name, sender address, account name, then the rest.
std::variant<AccountEntry, FieldProblem> readAccountForm(const AccountForm& form);

// The sender name as stored: unchanged when it begins with a double quote or a
// double-byte character, or holds nothing a mail reader would take for address
// syntax; otherwise wrapped in double quotes.
std::string storedSenderName(std::string_view name);

// "送信者名が長すぎます（130 バイト）。半角 127 文字（全角 63 文字）までで…":
// a text of `bytes` refused for a field that holds `limit` (UTF-8).
std::string tooLongMessage(std::string_view label, std::size_t bytes, std::size_t limit);

// The port field's value: empty is 0; nullopt for anything but 0-65535.
std::optional<int> portValue(std::string_view text);

}  // namespace tarn::options

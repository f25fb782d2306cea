// The rules of the main options dialog, without its widgets: a working copy of
// the accounts and of the other pages, taken when the dialog opens and written
// back to the caller's record only when OK succeeds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "options/account_form.h"
#include "sendcore/settings.h"

namespace tarn::options {

inline constexpr int kMaxAccounts = 10;
// The largest send limit the dialog takes (as `tarn config quota`).
inline constexpr int kMaxQuota = 1000000;

// The pages other than the account list, as their controls hold them. Texts are
// Shift_JIS. Settings added later get their control's value here, are filled in
// the constructor and written back in writeTo().
struct OtherPages {
    // "SMTP詳細": the load reduction, as typed (at most 4 digits each).
    std::string waitMSec, waitCount, waitSec;
    // The account's send limits per hour and per day (0: none) and the
    // random extra wait of up to jitterMSec between messages, as typed.
    std::string quotaPerHour, quotaPerDay, jitterMSec;
    // The SMTP sessions a send opens side by side (1 to kMaxSmtpSessions),
    // and whether it waits for every reply even where the server offers
    // PIPELINING.
    int smtpSessions = 1;
    bool noPipelining = false;
    // "送信ログ"
    std::int32_t logFileMode = 0;  // 2 "作成する", 1 "エラー発生時のみ作成する", 0 "作成しない"
    std::string logFileName, logOpenExeName;
    bool appendToLog = false;  // "既存のログファイルに追加します。"
    // "その他の設定"
    bool customUse = false;
    bool scriptUse = false;
};

// Which page a refusal of OK is about.
enum class OptionsPage { Accounts, SmtpDetails, SendLog, Other };

struct OkProblem {
    OptionsPage page;
    std::string message;  // UTF-8
};

class OptionsForm {
public:
    // Takes every account that has a sender name, packed to the front in slot
    // order, and the default account.
    explicit OptionsForm(const SendSettings& settings);

    int accountCount() const { return static_cast<int>(m_accounts.size()); }
    const AccountEntry& account(int row) const {
        return m_accounts.at(static_cast<std::size_t>(row));
    }
    const AccountEntry& defaultAccount() const { return m_default; }
    // The row whose sender name and address equal the default account's, or -1.
    int defaultRow() const;
    // "標準で使用するアカウント : " and the default account's name, or "選択されていません"
    // (UTF-8).
    std::string defaultLabel() const;
    // No account yet: the dialog opens the account dialog for a new one at once.
    bool wantsFirstAccount() const;
    bool full() const { return accountCount() >= kMaxAccounts; }

    // Appends an account (the list must not be full); the first one also becomes
    // the default. Returns its row.
    int addAccount(const AccountEntry& entry);
    // Stores an edited account. When it was the default, the default follows the
    // edit, so that what the list shows as default is what is sent with.
    void replaceAccount(int row, const AccountEntry& entry);
    // Removes a row; the later ones move up. Removing the default leaves none.
    void removeAccount(int row);
    // Copies the row into the default account.
    void makeDefault(int row);

    OtherPages& pages() { return m_pages; }
    const OtherPages& pages() const { return m_pages; }

    // The first reason OK is refused, in the dialog's order, or nullopt.
    std::optional<OkProblem> checkOk() const;
    // Writes everything the dialog edits into the caller's record (checkOk()
    // must have passed); the rest of the record is left alone.
    void writeTo(SendSettings& settings) const;

private:
    std::vector<AccountEntry> m_accounts;
    AccountEntry m_default;
    OtherPages m_pages;
};

// A number field's value as the dialog has always read it: the leading decimal
// number, 0 when there is none.
std::int32_t decimalValue(std::string_view text);

}  // namespace tarn::options

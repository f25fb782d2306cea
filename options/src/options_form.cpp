#include "options/options_form.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/cp932.h"
#include "options/texts.h"

namespace tarn::options {
namespace {

bool sameAccount(const AccountSettings& a, const AccountSettings& b) {
    return std::strcmp(a.FromName, b.FromName) == 0 && std::strcmp(a.FromEMail, b.FromEMail) == 0;
}

std::string decimalText(std::int32_t value) {
    return std::to_string(value);
}

}  // namespace

std::int32_t decimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) {
            value = std::numeric_limits<std::int32_t>::max();  // saturate, never wrap
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

OptionsForm::OptionsForm(const SendSettings& settings) {
    // A slot left empty between accounts (a hand-edited registry) closes up
    // rather than hiding the accounts after it, which OK would then erase.
    for (int slot = 0; slot < kMaxAccounts; ++slot) {
        if (!isEmptyAccount(settings.accounts[slot])) {
            m_accounts.push_back(loadAccount(settings, slot));
        }
    }
    m_default = loadAccount(settings, kDefaultSlot);

    m_pages.waitMSec = decimalText(settings.WaitMSec);
    m_pages.waitCount = decimalText(settings.WaitCount);
    m_pages.waitSec = decimalText(settings.WaitSec);
    m_pages.quotaPerHour = decimalText(std::max(0, settings.QuotaPerHour));
    m_pages.quotaPerDay = decimalText(std::max(0, settings.QuotaPerDay));
    m_pages.jitterMSec = decimalText(std::max(0, settings.JitterMSec));
    m_pages.smtpSessions = smtpSessionCount(settings);
    m_pages.noPipelining = settings.NoPipelining != 0;
    m_pages.logFileMode = settings.LogFileMode;
    m_pages.logFileName = fieldText(settings.LogFileName);
    m_pages.logOpenExeName = fieldText(settings.LogOpenExeName);
    m_pages.appendToLog = settings.LogCreateMode != 0;
    m_pages.customUse = settings.CustomUse == 1;
    m_pages.scriptUse = settings.ScriptUse == 1;
}

int OptionsForm::defaultRow() const {
    for (int row = 0; row < accountCount(); ++row) {
        if (sameAccount(account(row).settings, m_default.settings)) {
            return row;
        }
    }
    return -1;
}

std::string OptionsForm::defaultLabel() const {
    std::string label(text::kDefaultLabel);
    if (isEmptyAccount(m_default.settings)) {
        return label + std::string(text::kNoDefault);
    }
    return label + cp932::toUtf8Lossy(displayName(m_default.settings));
}

bool OptionsForm::wantsFirstAccount() const {
    return m_accounts.empty() || m_accounts.front().settings.FromEMail[0] == '\0';
}

int OptionsForm::addAccount(const AccountEntry& entry) {
    m_accounts.push_back(entry);
    if (m_accounts.size() == 1) {
        m_default = entry;
    }
    return accountCount() - 1;
}

void OptionsForm::replaceAccount(int row, const AccountEntry& entry) {
    const bool wasDefault = row == defaultRow();
    m_accounts.at(static_cast<std::size_t>(row)) = entry;
    if (wasDefault) {
        m_default = entry;
    }
}

void OptionsForm::removeAccount(int row) {
    if (row == defaultRow()) {
        m_default = AccountEntry{};
    }
    m_accounts.erase(m_accounts.begin() + row);
}

void OptionsForm::makeDefault(int row) {
    m_default = account(row);
}

std::optional<OkProblem> OptionsForm::checkOk() const {
    const AccountSettings& def = m_default.settings;
    if (def.FromName[0] == '\0' || def.SMTPName[0] == '\0') {
        return OkProblem{OptionsPage::Accounts, std::string(text::kNoDefaultAccount)};
    }
    for (const std::string* quota : {&m_pages.quotaPerHour, &m_pages.quotaPerDay}) {
        if (decimalValue(*quota) > kMaxQuota) {  // saturates: a long number is refused too
            return OkProblem{OptionsPage::SmtpDetails, "送信数の上限は 0 から " +
                                                           std::to_string(kMaxQuota) +
                                                           " 通までで指定してください。"};
        }
    }
    if (m_pages.logFileMode != 0 && m_pages.logFileName.empty()) {
        return OkProblem{OptionsPage::SendLog, std::string(text::kNoLogFileName)};
    }
    // The two paths are refused rather than cut: a cut path names another file.
    constexpr std::size_t kPathRoom = sizeof SendSettings::LogFileName - 1;
    const std::pair<std::string_view, const std::string&> paths[] = {
        {"ログファイル名", m_pages.logFileName},
        {"ログ表示プログラム名", m_pages.logOpenExeName},
    };
    for (const auto& [label, path] : paths) {
        if (path.size() > kPathRoom) {
            return OkProblem{OptionsPage::SendLog, tooLongMessage(label, path.size(), kPathRoom)};
        }
    }
    return std::nullopt;
}

void OptionsForm::writeTo(SendSettings& settings) const {
    for (int slot = 0; slot < kMaxAccounts; ++slot) {
        storeAccount(settings, slot, slot < accountCount() ? account(slot) : AccountEntry{});
    }
    storeAccount(settings, kDefaultSlot, m_default);

    settings.WaitMSec = decimalValue(m_pages.waitMSec);
    settings.WaitCount = decimalValue(m_pages.waitCount);
    settings.WaitSec = decimalValue(m_pages.waitSec);
    settings.QuotaPerHour = std::max(0, decimalValue(m_pages.quotaPerHour));
    settings.QuotaPerDay = std::max(0, decimalValue(m_pages.quotaPerDay));
    settings.JitterMSec = std::max(0, decimalValue(m_pages.jitterMSec));
    // 0 and 1 both mean one session: a stored 0 stays as it was.
    if (const int sessions = std::clamp(m_pages.smtpSessions, 1, kMaxSmtpSessions);
        sessions != smtpSessionCount(settings)) {
        settings.SmtpSessions = sessions;
    }
    settings.NoPipelining = m_pages.noPipelining ? 1 : 0;
    settings.LogFileMode = m_pages.logFileMode;
    setFieldText(settings.LogFileName, m_pages.logFileName);
    setFieldText(settings.LogOpenExeName, m_pages.logOpenExeName);
    settings.LogCreateMode = m_pages.appendToLog ? 1 : 0;
    settings.CustomUse = m_pages.customUse ? 1 : 0;
    settings.ScriptUse = m_pages.scriptUse ? 1 : 0;
}

}  // namespace tarn::options

#include "driver/send_quota.h"

#include "percent_text.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "common/file_lock.h"
#include "common/files.h"
#include "texts.h"

namespace tarn::driver {
namespace {

constexpr std::string_view kFirstLine = "TARNQUOTA 1";
constexpr std::size_t kMaxLines = 200000;
constexpr std::uintmax_t kMaxFile = 32U << 20U;
constexpr auto kHour = std::chrono::hours(1);
constexpr auto kDay = std::chrono::hours(24);

// Writers of the state file (runs of several processes, and threads of one)
// take turns: each reads, changes and rewrites it under this lock.
constexpr auto kLockWait = std::chrono::seconds(10);

Result<QuotaRecord> readState(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return QuotaRecord{};
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFile) {
        return makeError(sjisText("送信数の記録ファイルを読めません: ") + path.string());
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        return makeError(sjisText("送信数の記録ファイルを読めません: ") + path.string());
    }
    return parseQuotaState(bytes);
}

Status writeState(const std::filesystem::path& path, const QuotaRecord& record) {
    std::string bytes = std::string(kFirstLine) + '\n';
    for (const auto& [when, account] : record.sends) {
        // Rounded up: a message never leaves a window earlier than it should.
        bytes += std::to_string(
                     std::chrono::ceil<std::chrono::seconds>(when.time_since_epoch()).count()) +
                 ' ' + detail::percentEscaped(account) + '\n';
    }
    AtomicWriteOptions options;
    options.mode = 0600;
    if (!writeFileAtomically(path, bytes, options)) {
        return makeError(sjisText("送信数の記録ファイルに書き込めません: ") + path.string());
    }
    return Ok{};
}

}  // namespace

const std::vector<QuotaPreset>& quotaPresets() {
    static const std::vector<QuotaPreset> presets = {
        {"off", sjisText("上限なし").c_str(), {0, 0}},
        {"free-mail", sjisText("無料のWebメール（1日 500 通）").c_str(), {0, 500}},
        {"business-mail", sjisText("企業向けのメールサービス（1日 2000 通）").c_str(), {0, 2000}},
        {"hosting", sjisText("レンタルサーバー（1時間 100 通、1日 1000 通）").c_str(), {100, 1000}},
        {"provider", sjisText("プロバイダのメール（1時間 50 通、1日 300 通）").c_str(), {50, 300}},
    };
    return presets;
}

const QuotaPreset* findQuotaPreset(std::string_view name) {
    for (const QuotaPreset& p : quotaPresets()) {
        if (name == p.name) {
            return &p;
        }
    }
    return nullptr;
}

QuotaRecord parseQuotaState(std::string_view bytes) {
    QuotaRecord record;
    bool first = true;
    while (!bytes.empty() && record.sends.size() < kMaxLines) {
        const auto lf = bytes.find('\n');
        const std::string_view line = bytes.substr(0, lf);
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
        if (first) {
            first = false;
            if (line == kFirstLine) {
                continue;
            }
        }
        const auto space = line.find(' ');
        if (lf == std::string_view::npos || space == std::string_view::npos || line.size() > 1024) {
            continue;
        }
        long long seconds = 0;
        auto [end, ec] = std::from_chars(line.data(), line.data() + space, seconds);
        std::string account;
        if (ec != std::errc{} || end != line.data() + space || seconds < 0 ||
            !detail::percentUnescaped(line.substr(space + 1), account)) {
            continue;
        }
        record.sends.emplace_back(QuotaClock::time_point(std::chrono::seconds(seconds)),
                                  std::move(account));
    }
    return record;
}

QuotaClock::time_point nextAllowedTime(const QuotaRecord& record, std::string_view account,
                                       const QuotaLimits& limits, QuotaClock::time_point now) {
    std::vector<QuotaClock::time_point> mine;
    for (const auto& [when, who] : record.sends) {
        // A time ahead of `now` (stored rounded up, or the clock went back)
        // still counts: the provider saw that message.
        if (who == account && when > now - kDay) {
            mine.push_back(when);
        }
    }
    std::sort(mine.begin(), mine.end());
    QuotaClock::time_point allowed = now;
    // A full window frees its first place when its oldest message leaves it.
    auto check = [&](int limit, std::chrono::hours window) {
        if (limit <= 0) {
            return;
        }
        const auto from = std::upper_bound(mine.begin(), mine.end(), now - window);
        const auto inWindow = static_cast<std::size_t>(mine.end() - from);
        if (inWindow >= static_cast<std::size_t>(limit)) {
            allowed = std::max(allowed, *(mine.end() - limit) + window);
        }
    };
    check(limits.perHour, kHour);
    check(limits.perDay, kDay);
    return allowed;
}

std::string quotaAccountKey(std::string_view smtpServer, std::string_view fromEMail) {
    return std::string(smtpServer) + '/' + std::string(fromEMail);
}

Result<QuotaClock::time_point> QuotaState::nextAllowed(std::string_view account,
                                                       const QuotaLimits& limits,
                                                       QuotaClock::time_point now) const {
    const FileLock lock = FileLock::lock(m_path, kLockWait);
    if (!lock.held()) {
        return makeError(sjisText("送信数の記録ファイルを開けません: ") + m_path.string());
    }
    auto record = readState(m_path);
    if (!record) {
        return record.error();
    }
    return nextAllowedTime(*record, account, limits, now);
}

Status QuotaState::record(std::string_view account, QuotaClock::time_point now) const {
    const FileLock lock = FileLock::lock(m_path, kLockWait);
    if (!lock.held()) {
        return makeError(sjisText("送信数の記録ファイルを開けません: ") + m_path.string());
    }
    auto record = readState(m_path);
    if (!record) {
        return record.error();
    }
    auto& sends = record->sends;
    // What is older than a day counts for no window any more.
    sends.erase(std::remove_if(sends.begin(), sends.end(),
                               [&](const auto& s) { return s.first <= now - kDay; }),
                sends.end());
    sends.emplace_back(now, std::string(account));
    return writeState(m_path, *record);
}

}  // namespace tarn::driver

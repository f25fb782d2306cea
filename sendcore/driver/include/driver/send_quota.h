// Sending quotas: at most so many messages per hour and per day for one
// account, as hosted providers allow, counted across runs (and across
// processes sending at the same time) in a small state file.
//
// The file holds one line per message sent in the last 24 hours:
//   "TARNQUOTA 1"            first line
//   "<unix-seconds> <account>"   the account percent-escaped
// It is rewritten whole under an exclusive lock (a temporary file, synced,
// renamed over the old one), so a crash leaves the old or the new file, never
// a half-written one. Windows are rolling: the last 60 minutes, the last 24
// hours.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tarn::driver {

struct QuotaLimits {
    int perHour = 0;  // 0: no limit
    int perDay = 0;
    bool any() const { return perHour > 0 || perDay > 0; }
};

// The usual hosted-provider limits, by name, for `tarn config quota`.
struct QuotaPreset {
    const char* name;
    const char* description;  // Shift_JIS
    QuotaLimits limits;
};
const std::vector<QuotaPreset>& quotaPresets();
const QuotaPreset* findQuotaPreset(std::string_view name);

using QuotaClock = std::chrono::system_clock;

// The sends of every account the state file holds (times of the last 24 hours).
struct QuotaRecord {
    std::vector<std::pair<QuotaClock::time_point, std::string>> sends;
};

// Reads state-file bytes; lines that cannot be read are skipped. Bounded:
// at most 200,000 lines are kept.
QuotaRecord parseQuotaState(std::string_view bytes);

// The state file of a machine's sends.
class QuotaState {
public:
    explicit QuotaState(std::filesystem::path path) : m_path(std::move(path)) {}

    // When `account` may send its next message under `limits`: `now`, or the
    // time the oldest counted message leaves the full window.
    Result<QuotaClock::time_point> nextAllowed(std::string_view account, const QuotaLimits& limits,
                                               QuotaClock::time_point now) const;
    // Counts one message of `account` sent at `now` (and drops what is older
    // than a day).
    Status record(std::string_view account, QuotaClock::time_point now) const;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// When the next message may go out, from the sends already counted.
QuotaClock::time_point nextAllowedTime(const QuotaRecord& record, std::string_view account,
                                       const QuotaLimits& limits, QuotaClock::time_point now);

// The account key of a default account: its server and sender address.
std::string quotaAccountKey(std::string_view smtpServer, std::string_view fromEMail);

}  // namespace tarn::driver

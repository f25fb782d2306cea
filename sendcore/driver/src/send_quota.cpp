#include "driver/send_quota.h"

#include "percent_text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

#include "texts.h"

namespace tarn::driver {
namespace {

constexpr std::string_view kFirstLine = "TARNQUOTA 1";
constexpr std::size_t kMaxLines = 200000;
constexpr std::uintmax_t kMaxFile = 32U << 20U;
constexpr auto kHour = std::chrono::hours(1);
constexpr auto kDay = std::chrono::hours(24);

// The file descriptor of the lock beside the state file, held while alive.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    ::close(m_fd);
                    m_fd = -1;
                    break;
                }
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0) {
            ::close(m_fd);  // releases the lock
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

std::filesystem::path siblingPath(const std::filesystem::path& path, const char* suffix) {
    std::filesystem::path p = path;
    p += suffix;
    return p;
}

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
    const std::filesystem::path temp = siblingPath(path, ".tmp");
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return makeError(sjisText("送信数の記録ファイルに書き込めません: ") + path.string() + " (" +
                         std::strerror(errno) + ")");
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fdatasync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
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
    FileLock lock(siblingPath(m_path, ".lock"));
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
    FileLock lock(siblingPath(m_path, ".lock"));
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

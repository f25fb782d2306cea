// The address check command as one job, the same for `tarn check` and the
// windows:
//
//   CheckJob job(std::make_unique<BookCheckSource>(doc, listView), setup);
//   if (auto problem = job.prepare()) { show *problem; return; }
//   edit job.checkSettings() (the check-settings dialog); save them;
//   ask job.question() ("%d件チェックを行います。\nよろしいですか？");
//   job.start(wake);                // Status
//   ... job.dispatch(progressUi) on every wake, until it returns true ...
//
// As with SendJob, everything but the run itself happens on the caller's
// thread, a non-zero result has been shown through errorBox, and the statuses
// have been committed to the document when dispatch() reports the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "driver/book_sources.h"
#include "driver/check_driver.h"
#include "driver/job.h"
#include "driver/send_job.h"
#include "sendcore/settings.h"

namespace tarn::driver {

// The first IPv4 "nameserver" line of a resolv.conf text, first octet in the
// most significant byte as DNSAddress keeps it; 0 when there is none.
std::uint32_t firstIpv4Nameserver(std::string_view resolvConf);
// The same from the system's resolver configuration (the first 64 KiB of a
// regular file); 0 when it cannot be read. The check-settings dialog offers it
// when no DNS server has been set.
std::uint32_t systemDnsServer(const std::filesystem::path& resolvConf = "/etc/resolv.conf");

class CheckJob : public Job {
public:
    struct Setup {
        SendSettings settings{};  // the check settings may still be edited before start
        CheckRunOptions options;
        // The address book checked: its lock is held from start() until the
        // statuses are committed.
        BookFile book;
    };

    CheckJob(std::unique_ptr<CheckSource> source, Setup setup);
    ~CheckJob() override;

    // No target records (also: the group branch without a group): 510.
    std::optional<CommandProblem> prepare();
    int targetCount() const { return m_targets; }
    // What the check-settings dialog edits before the run.
    CheckSettings& checkSettings() { return m_setup.settings.check; }
    // Whether level 2 can be offered (a UDP socket can be opened).
    static bool levelTwoAvailable();
    // "%d件チェックを行います。\nよろしいですか？" (Shift_JIS) and its title.
    std::string question() const;
    static std::string questionTitle();

    // Starts the run; the records' walk is fixed from here on. Refused (no
    // run) while another run holds the document or the book's lock.
    Status start(Wake wake = {});

private:
    void commit() override;

    std::unique_ptr<CheckSource> m_source;
    Setup m_setup;
    int m_targets = 0;
};

}  // namespace tarn::driver

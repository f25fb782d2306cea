// The address check driver: level 1 (duplicates and the syntax and domain
// rules) for every target record, then, when the settings ask for it, level 2
// (DNS MX) for the addresses that passed; a status for every checked record,
// the check log, progress and totals.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "driver/job.h"
#include "driver/send_driver.h"
#include "sendcore/dialup_loader.h"
#include "sendcore/send_log.h"
#include "sendcore/settings.h"

namespace tarn::driver {

struct CheckEntry {
    int position = 0;     // 1-based position in the walk
    bool target = false;  // shown in the list view
    std::string stored;   // the stored address text
    std::size_t key = 0;  // the source's handle for setStatus
};

// The records of a check in walk order. As with RecipientSource, the document
// is touched only on the caller's thread.
class CheckSource {
public:
    virtual ~CheckSource() = default;
    // Caller's thread, before the run: the records the check takes.
    virtual int targetCount() = 0;
    // Caller's thread, when the run starts: the walk is fixed from here on.
    // A refusal (the document is held by another run) means no run.
    virtual Status beginRun() { return Ok{}; }
    // Worker thread, during the run.
    virtual bool next(CheckEntry& entry) = 0;
    virtual void setStatus(std::size_t key, int status) = 0;
    // Caller's thread, after the run (on every path): apply the statuses.
    virtual void commit() {}
};

struct CheckRunOptions {
    std::string documentTitle;  // the check log's "チェックデータ:[%s]"
    // Folder of AllowEmailDomain.txt, DenyEmailDomain.txt and LocalDomain.txt
    // (empty: beside the program).
    std::filesystem::path listFolder;
    DialUpLoader loadDialUp;
    SendLog::Clock logClock;
    // The records are the rows of a table (the database-send application): no
    // duplicate test, and the level-end lines in that application's form.
    bool databaseRows = false;
};

// Runs the check on the calling (worker) thread, reporting through `channel`.
// Returns 0 on completion (also after a stop during level 2) or 502, 503, 505,
// 507, 508. CheckJob (check_job.h) is what callers use.
int runAddressCheck(const SendSettings& settings, int targetCount, CheckSource& source,
                    JobChannel& channel, const CheckRunOptions& options);

}  // namespace tarn::driver

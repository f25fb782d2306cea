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
#include "driver/progress_ui.h"
#include "driver/send_driver.h"
#include "sendcore/dialup_loader.h"
#include "sendcore/send_log.h"
#include "sendcore/settings.h"

namespace tarn::addressbook {
class CTarnSendDoc;
class Record;
}  // namespace tarn::addressbook

namespace tarn::driver {

struct CheckEntry {
    int position = 0;     // 1-based position in the walk
    bool target = false;  // shown in the list view
    std::string stored;   // the stored address text
    std::size_t key = 0;  // the source's handle for setStatus
};

// The records of a check in walk order.
class CheckSource {
public:
    virtual ~CheckSource() = default;
    virtual bool next(CheckEntry& entry) = 0;
    virtual void setStatus(std::size_t key, int status) = 0;
};

// An address book as its list view shows it (group members in member order,
// otherwise all records in document order).
class BookCheckSource : public CheckSource {
public:
    explicit BookCheckSource(addressbook::CTarnSendDoc& doc);
    bool next(CheckEntry& entry) override;
    void setStatus(std::size_t key, int status) override;

private:
    addressbook::CTarnSendDoc& m_doc;
    std::vector<const addressbook::Record*> m_walk;
    std::size_t m_index = 0;
};

struct CheckRunOptions {
    std::string documentTitle;  // the check log's "チェックデータ:[%s]"
    // Folder of AllowEmailDomain.txt, DenyEmailDomain.txt and LocalDomain.txt
    // (empty: beside the program).
    std::filesystem::path listFolder;
    DialUpLoader loadDialUp;
    SendLog::Clock logClock;
};

// Returns 0 on completion (also after a cancel during level 2) or 502, 503,
// 505, 507, 508.
int runAddressCheck(const SendSettings& settings, int targetCount, CheckSource& source,
                    ProgressUi& ui, const CheckRunOptions& options);

}  // namespace tarn::driver

// The address book as the recipients of a send or a check: the records a list
// view shows (a ListViewState), walked as it walks them: the selected group's
// members in member order, otherwise every record in document order.
//
// The document is read and written only on the caller's thread. beginRun
// takes the document's run guard (every edit is refused until the run is
// over) and a copy of what the run needs; the worker reads only that copy and
// notes the statuses it gives; commit applies them through the guard after
// the run and lets the document go.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "addressbook/list_view_state.h"
#include "common/file_lock.h"
#include "common/result.h"
#include "driver/check_driver.h"
#include "driver/send_driver.h"

namespace tarn::driver {

// The lock on an address book file (common/file_lock.h) that a send, a check
// or an import holds while it works on the file, so that a second one on the
// same file, from a window or from tarn, refuses at once instead of mailing
// every recipient again or overwriting the other's statuses. The refusal says
// so in a sentence for the person (UTF-8).
Result<std::shared_ptr<const FileLock>> lockBook(const std::filesystem::path& book);

// The address book file a send's or a check's recipients come from.
struct BookFile {
    // Empty: none (database rows, a book that has not been saved yet).
    std::filesystem::path path;
    // The lock, when the caller holds it already: tarn holds it from before it
    // reads the book until it has saved the statuses. Otherwise the job takes
    // it when the run starts and lets it go once the statuses are committed.
    std::shared_ptr<const FileLock> lock;

    // Takes the lock unless it is held or there is no file.
    Status hold();
};

// Which shown records a send goes to.
enum class BookSelection {
    kNormal,      // status 正常 (0): the usual send
    kFailedOnly,  // status 送信エラー (4): a send again to the failed; each one
                  // accepted this time gets 正常 back
};

class BookRecipients : public RecipientSource {
public:
    // `view` shows what is sent; both must outlive the run.
    BookRecipients(addressbook::CTarnSendDoc& doc, const addressbook::ListViewState& view,
                   BookSelection selection = BookSelection::kNormal)
        : m_doc(doc), m_view(view), m_selection(selection) {}

    int eligibleCount() override;
    void visitEligible(const std::function<bool(const Recipient&)>& visit) override;
    Status beginRun() override;
    bool next(Recipient& recipient) override;
    void revisit(const Recipient& recipient) override;
    void markSendFailed() override;
    void markSent() override;
    // Refused recipients get "送信エラー" (4), and with kFailedOnly accepted
    // ones "正常" (0); the document is marked modified.
    void commit() override;

private:
    struct Entry {
        const addressbook::Record* record;
        Recipient recipient;
    };
    int wantedStatus() const;
    addressbook::CTarnSendDoc& m_doc;
    const addressbook::ListViewState& m_view;
    BookSelection m_selection;
    std::optional<addressbook::DocumentRun> m_run;
    std::vector<Entry> m_walk;  // the eligible recipients, fixed by beginRun
    std::size_t m_next = 0;
    std::size_t m_current = 0;  // 1-based index into m_walk of the entry messages concern
    std::vector<addressbook::StatusUpdate> m_updates;
};

class BookCheckSource : public CheckSource {
public:
    BookCheckSource(addressbook::CTarnSendDoc& doc, const addressbook::ListViewState& view)
        : m_doc(doc), m_view(view) {}

    int targetCount() override;
    Status beginRun() override;
    bool next(CheckEntry& entry) override;
    void setStatus(std::size_t key, int status) override;
    // The statuses the check gave, into the document (modified when any changed).
    void commit() override;

private:
    struct Entry {
        const addressbook::Record* record;
        int position;
        std::string stored;
        int status;  // what the check gave; -1 while it gave nothing
    };
    addressbook::CTarnSendDoc& m_doc;
    const addressbook::ListViewState& m_view;
    std::optional<addressbook::DocumentRun> m_run;
    std::vector<Entry> m_walk;  // the target records, fixed by beginRun
    std::size_t m_next = 0;
};

}  // namespace tarn::driver

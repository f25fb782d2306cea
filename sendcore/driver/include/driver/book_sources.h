// The address book as the recipients of a send or a check: the records the
// list view shows, walked as the list shows them (the selected group's members
// in member order, otherwise every record in document order).
//
// The document is read and written only on the caller's thread: beginRun takes
// a copy of what the run needs, the worker reads only that copy and notes the
// statuses it gives, and commit writes them into the document after the run.
#pragma once

#include <cstddef>
#include <vector>

#include "driver/check_driver.h"
#include "driver/send_driver.h"

namespace tarn::addressbook {
class CTarnSendDoc;
class Record;
}  // namespace tarn::addressbook

namespace tarn::driver {

class BookRecipients : public RecipientSource {
public:
    explicit BookRecipients(addressbook::CTarnSendDoc& doc) : m_doc(doc) {}

    int eligibleCount() override;
    void visitEligible(const std::function<bool(const Recipient&)>& visit) override;
    void beginRun() override;
    bool next(Recipient& recipient) override;
    void markSendFailed() override;
    // Refused recipients get "送信エラー" (4); the document is marked modified.
    void commit() override;

private:
    struct Entry {
        const addressbook::Record* record;
        Recipient recipient;
    };
    addressbook::CTarnSendDoc& m_doc;
    std::vector<Entry> m_walk;  // the eligible recipients, fixed by beginRun
    std::size_t m_next = 0;
    std::vector<const addressbook::Record*> m_failed;
};

class BookCheckSource : public CheckSource {
public:
    explicit BookCheckSource(addressbook::CTarnSendDoc& doc) : m_doc(doc) {}

    int targetCount() override;
    void beginRun() override;
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
    std::vector<Entry> m_walk;  // the target records, fixed by beginRun
    std::size_t m_next = 0;
};

}  // namespace tarn::driver

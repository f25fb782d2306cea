#include "driver/book_sources.h"

#include "addressbook/document.h"

namespace tarn::driver {
namespace {

using addressbook::CTarnSendDoc;
using addressbook::Record;

struct WalkEntry {
    const Record* record;
    int position;  // 1-based position in the walk
};

// The records the list view shows, in walk order, with their positions in the
// walk (records the list does not show still count).
std::vector<WalkEntry> shownInWalkOrder(CTarnSendDoc& doc) {
    std::vector<WalkEntry> walk;
    auto add = [&walk](const Record* r, std::size_t index) {
        if (r->viewPosition() != 0) {
            walk.push_back({r, static_cast<int>(index + 1)});
        }
    };
    if (doc.selectionKind() == addressbook::kSelectGroup) {
        const int selected = doc.selectedGroup();
        const auto* group =
            selected < 0 ? nullptr : doc.groupByIndex(static_cast<std::size_t>(selected));
        if (group != nullptr) {
            for (std::size_t i = 0; i < group->members.size(); ++i) {
                add(group->members[i], i);
            }
        }
        return walk;
    }
    for (std::size_t i = 0; i < doc.recordCount(); ++i) {
        add(&doc.record(i), i);
    }
    return walk;
}

Recipient recipientOf(const Record& record, int position) {
    Recipient r;
    r.position = position;
    r.eligible = record.status() == addressbook::kStatusNormal;
    r.address = std::string(record.email());
    r.values[0] = record.company();
    r.values[1] = record.department();
    r.values[2] = record.title();
    r.values[3] = record.name();
    r.values[4] = record.honorific();
    for (std::size_t i = 0; i < addressbook::kFreeFieldCount; ++i) {
        r.values[5 + i] = record.freeFieldText(i);
    }
    return r;
}

}  // namespace

int BookRecipients::eligibleCount() {
    return static_cast<int>(m_doc.eligibleCount());
}

void BookRecipients::visitEligible(const std::function<bool(const Recipient&)>& visit) {
    for (const WalkEntry& e : shownInWalkOrder(m_doc)) {
        if (e.record->status() == addressbook::kStatusNormal &&
            !visit(recipientOf(*e.record, e.position))) {
            return;
        }
    }
}

void BookRecipients::beginRun() {
    m_walk.clear();
    m_failed.clear();
    m_next = 0;
    for (const WalkEntry& e : shownInWalkOrder(m_doc)) {
        if (e.record->status() == addressbook::kStatusNormal) {
            m_walk.push_back({e.record, recipientOf(*e.record, e.position)});
        }
    }
}

bool BookRecipients::next(Recipient& recipient) {
    if (m_next >= m_walk.size()) {
        return false;
    }
    recipient = m_walk[m_next++].recipient;
    return true;
}

void BookRecipients::markSendFailed() {
    if (m_next > 0) {
        m_failed.push_back(m_walk[m_next - 1].record);
    }
}

void BookRecipients::commit() {
    std::vector<addressbook::StatusUpdate> updates;
    for (const Record* r : m_failed) {
        updates.push_back({r, addressbook::kStatusSendError});
    }
    static_cast<void>(m_doc.setStatuses(updates));
    m_failed.clear();
}

int BookCheckSource::targetCount() {
    return static_cast<int>(shownInWalkOrder(m_doc).size());
}

void BookCheckSource::beginRun() {
    m_walk.clear();
    m_next = 0;
    for (const WalkEntry& e : shownInWalkOrder(m_doc)) {
        m_walk.push_back({e.record, e.position, std::string(e.record->email()), -1});
    }
}

bool BookCheckSource::next(CheckEntry& entry) {
    if (m_next >= m_walk.size()) {
        return false;
    }
    const Entry& e = m_walk[m_next];
    entry.key = m_next++;
    entry.position = e.position;
    entry.target = true;
    entry.stored = e.stored;
    return true;
}

void BookCheckSource::setStatus(std::size_t key, int status) {
    if (key < m_walk.size()) {
        m_walk[key].status = status;
    }
}

void BookCheckSource::commit() {
    std::vector<addressbook::StatusUpdate> updates;
    for (Entry& e : m_walk) {
        if (e.status >= 0) {
            updates.push_back({e.record, e.status});
        }
        e.status = -1;
    }
    static_cast<void>(m_doc.setStatuses(updates));
}

}  // namespace tarn::driver

#include "driver/book_sources.h"

#include <algorithm>

namespace tarn::driver {

Result<std::shared_ptr<const FileLock>> lockBook(const std::filesystem::path& book) {
    FileLock lock = FileLock::tryLock(book);
    if (lock.outcome() == FileLock::Outcome::Busy) {
        return makeError("アドレス帳 " + book.string() +
                         " は別の送信、チェックまたはインポートが使用中です。"
                         "終わってからやり直してください。");
    }
    if (!lock.held()) {
        return makeError("アドレス帳をロックできません: " + lock.message());
    }
    return std::make_shared<const FileLock>(std::move(lock));
}

Status BookFile::hold() {
    if (path.empty() || lock) {
        return Ok{};
    }
    auto taken = lockBook(path);
    if (!taken) {
        return taken.error();
    }
    lock = std::move(*taken);
    return Ok{};
}

namespace {

using addressbook::Record;

struct Shown {
    const Record* record;
    int position;  // 1-based position in the walk (records not shown still count)
};

std::vector<Shown> shownInWalkOrder(const addressbook::ListViewState& view) {
    std::vector<Shown> shown;
    const std::vector<addressbook::WalkStep> walk = view.walk();
    for (std::size_t i = 0; i < walk.size(); ++i) {
        if (walk[i].viewPosition != 0) {
            shown.push_back({walk[i].record, static_cast<int>(i + 1)});
        }
    }
    return shown;
}

Recipient recipientOf(const Record& record, int position, int wantedStatus) {
    Recipient r;
    r.position = position;
    r.eligible = record.status() == wantedStatus;
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

// Takes the document for a run: refused while another run holds it.
Status takeDocument(addressbook::CTarnSendDoc& doc, std::optional<addressbook::DocumentRun>& run) {
    auto taken = doc.beginRun();
    if (!taken) {
        return taken.error();
    }
    run.emplace(std::move(*taken));
    return Ok{};
}

// The statuses of a run into the document, then the document let go.
void giveBack(std::optional<addressbook::DocumentRun>& run,
              std::span<const addressbook::StatusUpdate> updates) {
    if (run) {
        // Only records of the run's own walk, which cannot have left the
        // document while the run held it: nothing to refuse.
        static_cast<void>(run->setStatuses(updates));
        run.reset();
    }
}

}  // namespace

int BookRecipients::wantedStatus() const {
    return m_selection == BookSelection::kFailedOnly ? addressbook::kStatusSendError
                                                     : addressbook::kStatusNormal;
}

int BookRecipients::eligibleCount() {
    if (m_selection == BookSelection::kNormal) {
        return static_cast<int>(m_view.eligibleCount());
    }
    int n = 0;
    visitEligible([&](const Recipient&) {
        ++n;
        return true;
    });
    return n;
}

void BookRecipients::visitEligible(const std::function<bool(const Recipient&)>& visit) {
    for (const Shown& s : shownInWalkOrder(m_view)) {
        if (s.record->status() == wantedStatus() &&
            !visit(recipientOf(*s.record, s.position, wantedStatus()))) {
            return;
        }
    }
}

Status BookRecipients::beginRun() {
    if (auto taken = takeDocument(m_doc, m_run); !taken) {
        return taken;
    }
    m_walk.clear();
    m_updates.clear();
    m_next = 0;
    m_current = 0;
    for (const Shown& s : shownInWalkOrder(m_view)) {
        if (s.record->status() == wantedStatus()) {
            m_walk.push_back({s.record, recipientOf(*s.record, s.position, wantedStatus())});
        }
    }
    return Ok{};
}

bool BookRecipients::next(Recipient& recipient) {
    if (m_next >= m_walk.size()) {
        return false;
    }
    recipient = m_walk[m_next++].recipient;
    m_current = m_next;
    return true;
}

void BookRecipients::revisit(const Recipient& recipient) {
    // The walk is in position order; a run with several sessions revisits
    // every recipient, so this must not scan the whole walk each time.
    const auto at = std::lower_bound(
        m_walk.begin(), m_walk.end(), recipient.position,
        [](const auto& entry, int position) { return entry.recipient.position < position; });
    if (at != m_walk.end() && at->recipient.position == recipient.position) {
        m_current = static_cast<std::size_t>(at - m_walk.begin()) + 1;
    }
}

void BookRecipients::markSendFailed() {
    if (m_current > 0) {
        m_updates.push_back({m_walk[m_current - 1].record, addressbook::kStatusSendError});
    }
}

void BookRecipients::markSent() {
    if (m_current > 0 && m_selection == BookSelection::kFailedOnly) {
        m_updates.push_back({m_walk[m_current - 1].record, addressbook::kStatusNormal});
    }
}

void BookRecipients::commit() {
    giveBack(m_run, m_updates);
    m_updates.clear();
}

int BookCheckSource::targetCount() {
    return static_cast<int>(m_view.recipients().size());
}

Status BookCheckSource::beginRun() {
    if (auto taken = takeDocument(m_doc, m_run); !taken) {
        return taken;
    }
    m_walk.clear();
    m_next = 0;
    for (const Shown& s : shownInWalkOrder(m_view)) {
        m_walk.push_back({s.record, s.position, std::string(s.record->email()), -1});
    }
    return Ok{};
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
    giveBack(m_run, updates);
}

}  // namespace tarn::driver

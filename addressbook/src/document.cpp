#include "addressbook/document.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string>
#include <unordered_set>

#include "common/cp932.h"
#include "common/files.h"
#include "common/sjis.h"
#include "numbers.h"

namespace tarn::addressbook {

namespace {

std::string sjis(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

// "フォルダ1", "グループ3": numbered default names.
std::string numberedName(const char* utf8Stem, int n) {
    return sjis(utf8Stem + std::to_string(n));
}

void trimTrailingBlanks(Record& r, Field f) {
    // Walked character by character so that the trail byte of a double-byte
    // character is never taken for a blank; the full-width space counts as one.
    const std::string_view t = r.text(f);
    std::size_t keep = 0;
    for (std::size_t i = 0; i < t.size();) {
        const std::size_t n = sjis::charLength(t, i);
        const bool blank =
            n == 1 ? std::string_view(" \t\r\n\v\f").find(t[i]) != std::string_view::npos
                   : t.substr(i, 2) == "\x81\x40";  // "　"
        i += n;
        if (!blank) {
            keep = i;
        }
    }
    if (keep != t.size()) {
        r.setText(f, t.substr(0, keep));
    }
}

// Folder numbers are 16 bits in the file and in every record.
constexpr std::size_t kMaxFolders = std::numeric_limits<std::uint16_t>::max();

Error noSuchFolder(std::size_t number) {
    return makeError("フォルダ " + std::to_string(number) + " はありません。");
}

Error noSuchGroup(std::size_t index) {
    return makeError("グループ " + std::to_string(index + 1) + " はありません。");
}

// Copies data (texts, folder, status) without the view position.
void assignData(Record& to, const Record& from) {
    const std::uint32_t keep = to.viewPosition();
    to = from;
    to.setViewPosition(keep);
}

}  // namespace

long long ListChange::follow(std::size_t oldIndex) const {
    const auto i = static_cast<long long>(oldIndex);
    const auto at = static_cast<long long>(index);
    switch (kind) {
        case Kind::Inserted:
            return i >= at ? i + 1 : i;
        case Kind::Removed:
            return i == at ? -1 : (i > at ? i - 1 : i);
        case Kind::Moved: {
            const auto t = static_cast<long long>(to);
            if (i == at) {
                return t;
            }
            if (at < t && i > at && i <= t) {
                return i - 1;
            }
            if (at > t && i >= t && i < at) {
                return i + 1;
            }
            return i;
        }
        case Kind::Edited:
            break;
    }
    return i;
}

std::string undoMenuText(UndoKind kind) {
    static constexpr std::array<const char*, 14> kWords = {
        "",          "新規",      "切り取り",  "貼り付け",  "編集",   "移動",   "ﾌｫﾙﾀﾞ変更",
        "新規ﾌｫﾙﾀﾞ", "ﾌｫﾙﾀﾞ削除", "ﾌｫﾙﾀﾞ編集", "ﾌｫﾙﾀﾞ移動", "送信順", "ｲﾝﾎﾟｰﾄ", "削除",
    };
    const auto k = static_cast<std::size_t>(kind);
    return std::string("元に戻す(&U)") + (k < kWords.size() ? kWords[k] : "") + "\tCtrl+Z";
}

FreeFieldTitles defaultFreeFieldTitles() {
    FreeFieldTitles titles;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        titles[i] = "Freefield" + std::to_string(i + 1) + "(&" +
                    static_cast<char>('A' + static_cast<int>(i)) + ")";
    }
    return titles;
}

// --- runs

DocumentRun::DocumentRun(DocumentRun&& other) noexcept
    : m_doc(std::exchange(other.m_doc, nullptr)) {}

DocumentRun& DocumentRun::operator=(DocumentRun&& other) noexcept {
    if (this != &other) {
        release();
        m_doc = std::exchange(other.m_doc, nullptr);
    }
    return *this;
}

DocumentRun::~DocumentRun() {
    release();
}

Status DocumentRun::setStatuses(std::span<const StatusUpdate> updates) {
    if (m_doc == nullptr) {
        return makeError("実行はすでに終わっています。");
    }
    return m_doc->applyStatuses(updates);
}

void DocumentRun::release() {
    if (m_doc != nullptr) {
        std::exchange(m_doc, nullptr)->endRun();
    }
}

// --- the document

CTarnSendDoc::CTarnSendDoc(CTarnSendDoc&& other) noexcept : m_data(std::move(other.m_data)) {
    other.m_data = Content{};
    other.m_positionsValid = false;
    m_selectionKind = other.m_selectionKind;
    m_selectedFolder = other.m_selectedFolder;
    m_selectedGroup = other.m_selectedGroup;
}

CTarnSendDoc::~CTarnSendDoc() = default;

template <class F>
void CTarnSendDoc::tell(F&& f) {
    // A listener may remove itself while it is told.
    const auto listeners = m_listeners;
    for (DocumentListener* l : listeners) {
        if (std::find(m_listeners.begin(), m_listeners.end(), l) != m_listeners.end()) {
            f(*l);
        }
    }
}

Status CTarnSendDoc::editable() const {
    if (m_running) {
        return makeError(std::string(kRunInProgressText));
    }
    return Ok{};
}

Result<DocumentRun> CTarnSendDoc::beginRun() {
    if (m_running) {
        return makeError(std::string(kRunInProgressText));
    }
    m_running = true;
    tell([](DocumentListener& l) { l.runChanged(true); });
    return DocumentRun(this);
}

void CTarnSendDoc::endRun() {
    m_running = false;
    tell([](DocumentListener& l) { l.runChanged(false); });
}

void CTarnSendDoc::setModifiedFlag(bool modified) {
    if (m_data.modified != modified) {
        m_data.modified = modified;
        tell([&](DocumentListener& l) { l.modifiedChanged(modified); });
    }
}

void CTarnSendDoc::changed() {
    setModifiedFlag(true);
}

void CTarnSendDoc::replaceContent(Content content) {
    m_data = std::move(content);
    m_positionsValid = false;
    m_selectionKind = kSelectFolder;
    m_selectedFolder = 0;
    m_selectedGroup = -1;
    tell([](DocumentListener& l) { l.documentReset(); });
}

Status CTarnSendDoc::OnNewDocument(const FreeFieldTitles& appTitles) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    Content fresh;
    for (int n = 1; n <= 5; ++n) {
        fresh.folders.push_back({numberedName("フォルダ", n), static_cast<std::uint16_t>(n + 1)});
        fresh.groups.push_back(
            {numberedName("グループ", n), static_cast<std::uint16_t>(n + 6), {}});
    }
    for (const char* h : {"様", "殿", "御中", "先生", "師匠", "君", "くん", "さん", "ちゃん"}) {
        fresh.honorifics.push_back(sjis(h));
    }
    fresh.titles = appTitles;
    replaceContent(std::move(fresh));
    return Ok{};
}

Status CTarnSendDoc::OnSaveDocument(const std::filesystem::path& path) {
    auto bytes = Serialize();
    if (!bytes) {
        return bytes.error();
    }
    auto written = writeFileAtomically(path, *bytes);
    if (!written) {
        return written.error();
    }
    setModifiedFlag(false);
    return Ok{};
}

// --- records

std::size_t CTarnSendDoc::positionOf(const Record* r) const {
    if (!m_positionsValid) {
        m_positions.clear();
        m_positions.reserve(m_data.records.size());
        for (std::size_t i = 0; i < m_data.records.size(); ++i) {
            m_positions.emplace(m_data.records[i].get(), i);
        }
        m_positionsValid = true;
    }
    auto it = m_positions.find(r);
    return it == m_positions.end() ? m_data.records.size() : it->second;
}

Result<std::vector<std::size_t>> CTarnSendDoc::positionsOf(
    std::span<const Record* const> records) const {
    std::vector<std::size_t> positions;
    positions.reserve(records.size());
    for (const Record* r : records) {
        const std::size_t p = positionOf(r);
        if (p == recordCount()) {
            return makeError("このアドレス帳にないレコードが指定されました。");
        }
        positions.push_back(p);
    }
    std::sort(positions.begin(), positions.end());
    if (std::adjacent_find(positions.begin(), positions.end()) != positions.end()) {
        return makeError("同じレコードが二度指定されました。");
    }
    return positions;
}

std::string CTarnSendDoc::tooManyRecordsText(std::size_t count) {
    return "アドレス帳に登録できるレコードは " + withThousands(kMaxRecords) + " 件までです。あと " +
           withThousands(count) + " 件は登録できません。";
}

Result<const Record*> CTarnSendDoc::appendRecord(Record r) {
    auto added = appendRecords(std::span<const Record>(&r, 1));
    if (!added) {
        return added.error();
    }
    return added->front();
}

Result<std::vector<const Record*>> CTarnSendDoc::appendRecords(std::span<const Record> records) {
    std::vector<PlacedRecord> placed;
    placed.reserve(records.size());
    for (const Record& r : records) {
        placed.push_back({recordCount() + placed.size(), r, {}});
    }
    return insertRecords(std::move(placed));
}

Result<std::vector<const Record*>> CTarnSendDoc::insertRecords(std::vector<PlacedRecord> records) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    if (records.empty()) {
        return std::vector<const Record*>{};
    }
    if (recordCount() + records.size() > kMaxRecords) {
        return makeError(tooManyRecordsText(recordCount() + records.size() - kMaxRecords));
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& p = records[i];
        if ((i > 0 && p.position <= records[i - 1].position) || p.position > recordCount() + i) {
            return makeError("レコードの挿入位置 " + std::to_string(p.position) + " は不正です。");
        }
        if (p.data.folder() > m_data.folders.size()) {
            return noSuchFolder(p.data.folder());
        }
        for (const Membership& m : p.memberships) {
            if (m.group >= m_data.groups.size()) {
                return noSuchGroup(m.group);
            }
        }
    }

    std::vector<std::size_t> positions;
    std::vector<const Record*> added;
    positions.reserve(records.size());
    added.reserve(records.size());
    if (records.front().position == recordCount()) {
        // Appending (the common case, one record at a time while a book is
        // built): no pass over the records already there.
        for (auto& p : records) {
            auto r = std::make_unique<Record>(std::move(p.data));
            r->setViewPosition(0);
            positions.push_back(m_data.records.size());
            added.push_back(r.get());
            if (m_positionsValid) {
                m_positions.emplace(r.get(), m_data.records.size());
            }
            m_data.records.push_back(std::move(r));
        }
    } else {
        // One pass that merges the old records with the new ones at their places.
        std::vector<std::unique_ptr<Record>> merged;
        merged.reserve(recordCount() + records.size());
        std::size_t old = 0;
        for (auto& p : records) {
            while (merged.size() < p.position) {
                merged.push_back(std::move(m_data.records[old++]));
            }
            auto r = std::make_unique<Record>(std::move(p.data));
            r->setViewPosition(0);
            positions.push_back(merged.size());
            added.push_back(r.get());
            merged.push_back(std::move(r));
        }
        while (old < m_data.records.size()) {
            merged.push_back(std::move(m_data.records[old++]));
        }
        m_data.records = std::move(merged);
        m_positionsValid = false;
    }

    // Memberships go back in ascending member index per group, so that each
    // index is valid when it is reached.
    std::vector<std::pair<Membership, const Record*>> joins;
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (const Membership& m : records[i].memberships) {
            joins.emplace_back(m, added[i]);
        }
    }
    std::sort(joins.begin(), joins.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.group, a.first.index) < std::tie(b.first.group, b.first.index);
    });
    std::vector<std::size_t> joined;
    for (const auto& [m, r] : joins) {
        auto& members = m_data.groups[m.group].members;
        members.insert(
            members.begin() + static_cast<std::ptrdiff_t>(std::min(m.index, members.size())), r);
        if (joined.empty() || joined.back() != m.group) {
            joined.push_back(m.group);
        }
    }

    tell([&](DocumentListener& l) { l.recordsInserted(positions); });
    for (std::size_t g : joined) {
        tell([&](DocumentListener& l) { l.membersChanged(g); });
    }
    changed();
    return added;
}

Result<std::vector<RemovedRecord>> CTarnSendDoc::removeRecords(
    std::span<const Record* const> records) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    auto found = positionsOf(records);
    if (!found) {
        return found.error();
    }
    const std::vector<std::size_t>& positions = *found;
    if (positions.empty()) {
        return std::vector<RemovedRecord>{};
    }
    const std::unordered_set<const Record*> gone(records.begin(), records.end());

    std::vector<RemovedRecord> removed(positions.size());
    std::unordered_map<const Record*, std::size_t> slot;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        removed[i].position = positions[i];
        removed[i].data = *m_data.records[positions[i]];
        removed[i].data.setViewPosition(0);
        slot.emplace(m_data.records[positions[i]].get(), i);
    }
    std::vector<std::size_t> leftGroups;
    for (std::size_t g = 0; g < m_data.groups.size(); ++g) {
        auto& members = m_data.groups[g].members;
        for (std::size_t m = 0; m < members.size(); ++m) {
            if (auto it = slot.find(members[m]); it != slot.end()) {
                removed[it->second].memberships.push_back({g, m});
            }
        }
        if (std::erase_if(members, [&](const Record* r) { return gone.count(r) != 0; }) > 0) {
            leftGroups.push_back(g);
        }
    }

    // The removed records stay alive until the listeners have been told.
    std::vector<std::unique_ptr<Record>> dying;
    std::vector<const Record*> dyingOrder;
    dying.reserve(positions.size());
    dyingOrder.reserve(positions.size());
    std::vector<std::unique_ptr<Record>> kept;
    kept.reserve(m_data.records.size() - positions.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < m_data.records.size(); ++i) {
        if (next < positions.size() && positions[next] == i) {
            dyingOrder.push_back(m_data.records[i].get());
            dying.push_back(std::move(m_data.records[i]));
            ++next;
        } else {
            kept.push_back(std::move(m_data.records[i]));
        }
    }
    m_data.records = std::move(kept);
    m_positionsValid = false;

    // An undo entry that names a removed record could never be applied.
    if (std::any_of(m_data.undo.begin(), m_data.undo.end(), [&](const UndoEntry& e) {
            return e.record != nullptr && gone.count(e.record);
        })) {
        clearUndo();
    }
    for (std::size_t g : leftGroups) {
        tell([&](DocumentListener& l) { l.membersChanged(g); });
    }
    tell([&](DocumentListener& l) { l.recordsRemoved(positions, dyingOrder); });
    changed();
    return removed;
}

Status CTarnSendDoc::updateRecords(std::span<const RecordUpdate> updates) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    std::vector<std::size_t> positions;
    for (const auto& u : updates) {
        const std::size_t p = positionOf(u.record);
        if (p == recordCount()) {
            return makeError("このアドレス帳にないレコードが指定されました。");
        }
        if (u.data.folder() > m_data.folders.size()) {
            return noSuchFolder(u.data.folder());
        }
        positions.push_back(p);
    }
    std::vector<std::size_t> changedAt;
    for (std::size_t i = 0; i < updates.size(); ++i) {
        Record& r = *m_data.records[positions[i]];
        if (!r.sameData(updates[i].data)) {
            assignData(r, updates[i].data);
            changedAt.push_back(positions[i]);
        }
    }
    if (changedAt.empty()) {
        return Ok{};
    }
    std::sort(changedAt.begin(), changedAt.end());
    changedAt.erase(std::unique(changedAt.begin(), changedAt.end()), changedAt.end());
    tell([&](DocumentListener& l) { l.recordsChanged(changedAt); });
    changed();
    return Ok{};
}

Status CTarnSendDoc::setFolder(std::span<const Record* const> records, std::uint16_t folder) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (folder > m_data.folders.size()) {
        return noSuchFolder(folder);
    }
    auto found = positionsOf(records);
    if (!found) {
        return found.error();
    }
    std::vector<std::size_t> changedAt;
    for (std::size_t p : *found) {
        if (m_data.records[p]->folder() != folder) {
            m_data.records[p]->setFolder(folder);
            changedAt.push_back(p);
        }
    }
    if (!changedAt.empty()) {
        tell([&](DocumentListener& l) { l.recordsChanged(changedAt); });
        changed();
    }
    return Ok{};
}

Status CTarnSendDoc::setStatuses(std::span<const StatusUpdate> updates) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    return applyStatuses(updates);
}

Status CTarnSendDoc::applyStatuses(std::span<const StatusUpdate> updates) {
    std::vector<std::size_t> positions;
    positions.reserve(updates.size());
    for (const auto& u : updates) {
        const std::size_t p = positionOf(u.record);
        if (p == recordCount()) {
            return makeError("このアドレス帳にないレコードが指定されました。");
        }
        positions.push_back(p);
    }
    std::vector<std::size_t> changedAt;
    for (std::size_t i = 0; i < updates.size(); ++i) {
        Record& r = *m_data.records[positions[i]];
        if (r.status() != updates[i].status) {
            r.setStatus(updates[i].status);
            changedAt.push_back(positions[i]);
        }
    }
    if (!changedAt.empty()) {
        std::sort(changedAt.begin(), changedAt.end());
        changedAt.erase(std::unique(changedAt.begin(), changedAt.end()), changedAt.end());
        tell([&](DocumentListener& l) { l.recordsChanged(changedAt); });
        changed();
    }
    return Ok{};
}

Status CTarnSendDoc::arrangeRecords(std::span<const Record* const> inOrder) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    auto found = positionsOf(inOrder);
    if (!found) {
        return found.error();
    }
    const std::vector<std::size_t>& slots = *found;
    bool moved = false;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        moved = moved || m_data.records[slots[k]].get() != inOrder[k];
    }
    if (!moved) {
        return Ok{};
    }
    std::vector<std::unique_ptr<Record>> taken(slots.size());
    std::unordered_map<const Record*, std::size_t> at;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        at.emplace(m_data.records[slots[k]].get(), k);
        taken[k] = std::move(m_data.records[slots[k]]);
    }
    for (std::size_t k = 0; k < slots.size(); ++k) {
        m_data.records[slots[k]] = std::move(taken[at.at(inOrder[k])]);
    }
    m_positionsValid = false;
    tell([](DocumentListener& l) { l.recordsReordered(); });
    changed();
    return Ok{};
}

// --- folders

const Folder* CTarnSendDoc::folderByNumber(std::size_t n) const {
    return n >= 1 && n <= m_data.folders.size() ? &m_data.folders[n - 1] : nullptr;
}

Result<std::size_t> CTarnSendDoc::addFolder(std::string name, std::uint16_t icon) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    if (auto problem = checkFolderName(name)) {
        return makeError(*problem);
    }
    if (m_data.folders.size() >= kMaxFolders) {
        return makeError("フォルダは " + withThousands(kMaxFolders) + " 個までです。");
    }
    m_data.folders.push_back({std::move(name), icon});
    const ListChange change{ListChange::Kind::Inserted, m_data.folders.size() - 1, 0};
    tell([&](DocumentListener& l) { l.foldersChanged(change); });
    changed();
    return m_data.folders.size();
}

Status CTarnSendDoc::editFolder(std::size_t number, std::string name, std::uint16_t icon) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (folderByNumber(number) == nullptr) {
        return noSuchFolder(number);
    }
    if (auto problem = checkFolderName(name)) {
        return makeError(*problem);
    }
    Folder& f = m_data.folders[number - 1];
    if (f.name == name && f.icon == icon) {
        return Ok{};
    }
    f.name = std::move(name);
    f.icon = icon;
    const ListChange change{ListChange::Kind::Edited, number - 1, 0};
    tell([&](DocumentListener& l) { l.foldersChanged(change); });
    changed();
    return Ok{};
}

Status CTarnSendDoc::moveFolder(std::size_t number, std::size_t before) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (folderByNumber(number) == nullptr) {
        return noSuchFolder(number);
    }
    const std::size_t from = number - 1;
    const std::size_t target =
        std::min(before == 0 ? m_data.folders.size() : before - 1, m_data.folders.size());
    const std::size_t to = target > from ? target - 1 : target;
    if (to == from) {
        return Ok{};
    }
    const ListChange change{ListChange::Kind::Moved, from, to};
    Folder moving = std::move(m_data.folders[from]);
    m_data.folders.erase(m_data.folders.begin() + static_cast<std::ptrdiff_t>(from));
    m_data.folders.insert(m_data.folders.begin() + static_cast<std::ptrdiff_t>(to),
                          std::move(moving));
    renumberFolders(change);
    return Ok{};
}

Status CTarnSendDoc::removeFolder(std::size_t number) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (folderByNumber(number) == nullptr) {
        return noSuchFolder(number);
    }
    const ListChange change{ListChange::Kind::Removed, number - 1, 0};
    m_data.folders.erase(m_data.folders.begin() + static_cast<std::ptrdiff_t>(number - 1));
    renumberFolders(change);
    return Ok{};
}

void CTarnSendDoc::renumberFolders(const ListChange& change) {
    // Every record's folder number follows its folder; the records of a
    // removed folder go to 0 ("なし").
    std::vector<std::size_t> changedAt;
    for (std::size_t p = 0; p < m_data.records.size(); ++p) {
        Record& r = *m_data.records[p];
        if (r.folder() != 0) {
            const auto now = static_cast<std::uint16_t>(change.follow(r.folder() - 1U) + 1);
            if (now != r.folder()) {
                r.setFolder(now);
                changedAt.push_back(p);
            }
        }
    }
    // Saved copies hold the old folder numbers.
    clearUndo();
    tell([&](DocumentListener& l) { l.foldersChanged(change); });
    if (!changedAt.empty()) {
        tell([&](DocumentListener& l) { l.recordsChanged(changedAt); });
    }
    changed();
}

// --- groups

const Group* CTarnSendDoc::groupByIndex(std::size_t index) const {
    return index < m_data.groups.size() ? &m_data.groups[index] : nullptr;
}

Result<std::size_t> CTarnSendDoc::addGroup(std::string name, std::uint16_t icon) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    if (auto problem = checkFolderName(name)) {
        return makeError(*problem);
    }
    m_data.groups.push_back({std::move(name), icon, {}});
    const ListChange change{ListChange::Kind::Inserted, m_data.groups.size() - 1, 0};
    tell([&](DocumentListener& l) { l.groupsChanged(change); });
    changed();
    return m_data.groups.size() - 1;
}

Status CTarnSendDoc::editGroup(std::size_t index, std::string name, std::uint16_t icon) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (groupByIndex(index) == nullptr) {
        return noSuchGroup(index);
    }
    if (auto problem = checkFolderName(name)) {
        return makeError(*problem);
    }
    Group& g = m_data.groups[index];
    if (g.name == name && g.icon == icon) {
        return Ok{};
    }
    g.name = std::move(name);
    g.icon = icon;
    const ListChange change{ListChange::Kind::Edited, index, 0};
    tell([&](DocumentListener& l) { l.groupsChanged(change); });
    changed();
    return Ok{};
}

Status CTarnSendDoc::moveGroup(std::size_t index, std::size_t before) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (groupByIndex(index) == nullptr) {
        return noSuchGroup(index);
    }
    const std::size_t target = std::min(before, m_data.groups.size());
    const std::size_t to = target > index ? target - 1 : target;
    if (to == index) {
        return Ok{};
    }
    Group moving = std::move(m_data.groups[index]);
    m_data.groups.erase(m_data.groups.begin() + static_cast<std::ptrdiff_t>(index));
    m_data.groups.insert(m_data.groups.begin() + static_cast<std::ptrdiff_t>(to),
                         std::move(moving));
    dropMembershipUndo();
    const ListChange change{ListChange::Kind::Moved, index, to};
    tell([&](DocumentListener& l) { l.groupsChanged(change); });
    changed();
    return Ok{};
}

Status CTarnSendDoc::removeGroup(std::size_t index) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (groupByIndex(index) == nullptr) {
        return noSuchGroup(index);
    }
    m_data.groups.erase(m_data.groups.begin() + static_cast<std::ptrdiff_t>(index));
    dropMembershipUndo();
    const ListChange change{ListChange::Kind::Removed, index, 0};
    tell([&](DocumentListener& l) { l.groupsChanged(change); });
    changed();
    return Ok{};
}

void CTarnSendDoc::dropMembershipUndo() {
    // Delete entries remember their groups by index.
    if (std::any_of(m_data.undo.begin(), m_data.undo.end(),
                    [](const UndoEntry& e) { return !e.memberships.empty(); })) {
        clearUndo();
    }
}

bool CTarnSendDoc::isMember(std::size_t group, const Record* r) const {
    const Group* g = groupByIndex(group);
    return g != nullptr && std::find(g->members.begin(), g->members.end(), r) != g->members.end();
}

Result<std::size_t> CTarnSendDoc::addMembers(std::size_t group,
                                             std::span<const Record* const> records) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    if (groupByIndex(group) == nullptr) {
        return noSuchGroup(group);
    }
    for (const Record* r : records) {
        if (!contains(r)) {
            return makeError("このアドレス帳にないレコードが指定されました。");
        }
    }
    auto& members = m_data.groups[group].members;
    std::unordered_set<const Record*> present(members.begin(), members.end());
    std::size_t added = 0;
    for (const Record* r : records) {
        if (present.insert(r).second) {
            members.push_back(r);
            ++added;
        }
    }
    if (added > 0) {
        tell([&](DocumentListener& l) { l.membersChanged(group); });
        changed();
    }
    return added;
}

Result<std::size_t> CTarnSendDoc::removeMembers(std::size_t group,
                                                std::span<const Record* const> records) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    if (groupByIndex(group) == nullptr) {
        return noSuchGroup(group);
    }
    const std::unordered_set<const Record*> leaving(records.begin(), records.end());
    const std::size_t removed = std::erase_if(
        m_data.groups[group].members, [&](const Record* r) { return leaving.count(r) != 0; });
    if (removed > 0) {
        tell([&](DocumentListener& l) { l.membersChanged(group); });
        changed();
    }
    return removed;
}

Status CTarnSendDoc::setMemberOrder(std::size_t group, std::span<const Record* const> members) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (groupByIndex(group) == nullptr) {
        return noSuchGroup(group);
    }
    auto& current = m_data.groups[group].members;
    std::vector<const Record*> a(current.begin(), current.end());
    std::vector<const Record*> b(members.begin(), members.end());
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a != b) {
        return makeError(
            "グループのメンバーの並べ替えに、メンバーでないレコードが含まれています。");
    }
    if (std::equal(current.begin(), current.end(), members.begin(), members.end())) {
        return Ok{};
    }
    current.assign(members.begin(), members.end());
    tell([&](DocumentListener& l) { l.membersChanged(group); });
    changed();
    return Ok{};
}

// --- honorifics and titles

Result<bool> CTarnSendDoc::TouchHonorific(std::string_view text) {
    if (auto ok = editable(); !ok) {
        return ok.error();
    }
    auto& list = m_data.honorifics;
    auto it = std::find(list.begin(), list.end(), text);
    if (it == list.begin() && it != list.end()) {
        return false;
    }
    if (it == list.end()) {
        list.insert(list.begin(), std::string(text));
    } else {
        std::rotate(list.begin(), it, it + 1);
    }
    tell([](DocumentListener& l) { l.honorificsChanged(); });
    changed();
    return true;
}

Status CTarnSendDoc::setHonorifics(std::vector<std::string> honorifics) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (honorifics != m_data.honorifics) {
        m_data.honorifics = std::move(honorifics);
        tell([](DocumentListener& l) { l.honorificsChanged(); });
        changed();
    }
    return Ok{};
}

Status CTarnSendDoc::setFreeFieldTitle(std::size_t index, std::string title) {
    if (index >= kFreeFieldCount) {
        return makeError("自由使用欄 " + std::to_string(index + 1) + " はありません。");
    }
    FreeFieldTitles titles = m_data.titles;
    titles[index] = std::move(title);
    return setFreeFieldTitles(titles);
}

Status CTarnSendDoc::setFreeFieldTitles(const FreeFieldTitles& titles) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    if (titles != m_data.titles) {
        m_data.titles = titles;
        tell([](DocumentListener& l) { l.freeFieldTitlesChanged(); });
        changed();
    }
    return Ok{};
}

// --- undo

void CTarnSendDoc::clearUndo() {
    if (!m_data.undo.empty()) {
        m_data.undo.clear();
        tell([](DocumentListener& l) { l.undoChanged(); });
    }
}

void CTarnSendDoc::setUndo(std::vector<UndoEntry> entries) {
    if (entries.empty() && m_data.undo.empty()) {
        return;
    }
    m_data.undo = std::move(entries);
    tell([](DocumentListener& l) { l.undoChanged(); });
}

void CTarnSendDoc::recordUndo(UndoEntry entry) {
    m_data.undo.push_back(std::move(entry));
    tell([](DocumentListener& l) { l.undoChanged(); });
}

std::vector<UndoEntry> CTarnSendDoc::takeUndo() {
    std::vector<UndoEntry> taken = std::move(m_data.undo);
    m_data.undo.clear();
    if (!taken.empty()) {
        tell([](DocumentListener& l) { l.undoChanged(); });
    }
    return taken;
}

// --- the record editor's limits

std::optional<FieldProblem> CTarnSendDoc::checkRecord(Record& r) {
    for (Field f : {Field::Company, Field::Department, Field::Title, Field::Name, Field::Email,
                    Field::Honorific}) {
        trimTrailingBlanks(r, f);
    }
    // The editor's limits and texts: the company name allows 1024 bytes (512
    // double-byte characters), the other fields 512 bytes.
    if (r.company().size() > kMaxCompanyBytes) {
        return FieldProblem{Field::Company, "全角で" + std::to_string(kMaxCompanyBytes / 2) +
                                                "文字以内で入力してください。"};
    }
    for (Field f : {Field::Department, Field::Title, Field::Name, Field::Email}) {
        if (r.text(f).size() > kMaxFieldBytes) {
            return FieldProblem{
                f, "半角で" + std::to_string(kMaxFieldBytes) + "文字以内で入力してください。"};
        }
    }
    if (r.email().empty()) {
        return FieldProblem{Field::Email, "電子メールアドレスが登録されていません"};
    }
    return std::nullopt;
}

std::optional<std::string> CTarnSendDoc::checkFolderName(std::string_view name) {
    if (name.size() > kMaxFolderNameBytes) {
        return "全角で" + std::to_string(kMaxFolderNameBytes / 2) + "文字以内で入力してください。";
    }
    return std::nullopt;
}

// --- listeners

void CTarnSendDoc::addListener(DocumentListener* listener) {
    if (listener != nullptr &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end()) {
        m_listeners.push_back(listener);
    }
}

void CTarnSendDoc::removeListener(DocumentListener* listener) {
    std::erase(m_listeners, listener);
}

// --- the command line's walk

void CTarnSendDoc::selectFolder(std::int32_t number) {
    m_selectionKind = kSelectFolder;
    m_selectedFolder = number;
}

void CTarnSendDoc::selectGroup(std::int32_t index) {
    m_selectionKind = kSelectGroup;
    m_selectedGroup = index;
}

std::size_t CTarnSendDoc::assignViewPositions() {
    std::size_t shown = 0;
    if (m_selectionKind == kSelectGroup) {
        for (auto& r : m_data.records) {
            r->setViewPosition(0);
        }
        if (const Group* g = groupByIndex(static_cast<std::size_t>(m_selectedGroup));
            g != nullptr && m_selectedGroup >= 0) {
            for (const Record* r : g->members) {
                m_data.records[positionOf(r)]->setViewPosition(static_cast<std::uint32_t>(++shown));
            }
        }
        return shown;
    }
    for (auto& r : m_data.records) {
        const bool show = m_selectedFolder == 0 || r->folder() == m_selectedFolder;
        r->setViewPosition(show ? static_cast<std::uint32_t>(++shown) : 0);
    }
    return shown;
}

std::vector<const Record*> CTarnSendDoc::shownRecords() const {
    std::vector<const Record*> shown;
    if (m_selectionKind == kSelectGroup) {
        if (const Group* g = groupByIndex(static_cast<std::size_t>(m_selectedGroup));
            g != nullptr && m_selectedGroup >= 0) {
            for (const Record* r : g->members) {
                if (r->viewPosition() != 0) {
                    shown.push_back(r);
                }
            }
        }
        return shown;
    }
    for (const auto& r : m_data.records) {
        if (r->viewPosition() != 0) {
            shown.push_back(r.get());
        }
    }
    return shown;
}

std::size_t CTarnSendDoc::eligibleCount() const {
    return static_cast<std::size_t>(std::count_if(
        m_data.records.begin(), m_data.records.end(),
        [](const auto& r) { return r->viewPosition() != 0 && r->status() == kStatusNormal; }));
}

}  // namespace tarn::addressbook

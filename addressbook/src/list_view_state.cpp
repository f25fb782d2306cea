#include "addressbook/list_view_state.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "common/cp932.h"

namespace tarn::addressbook {

namespace {

// More separate row ranges than this are told as one reset: an item view
// handles one reset faster than thousands of removals.
constexpr std::size_t kMaxRangesBeforeReset = 16;

const std::string& noFolderText() {
    static const std::string kText = cp932::fromUtf8("なし").value();
    return kText;
}

}  // namespace

std::vector<std::uint32_t> ByteCollation::ranks(std::span<const std::string_view> texts) const {
    std::vector<std::uint32_t> order(texts.size());
    std::iota(order.begin(), order.end(), 0U);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });
    std::vector<std::uint32_t> rank(texts.size());
    std::uint32_t r = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && texts[order[i]] != texts[order[i - 1]]) {
            ++r;
        }
        rank[order[i]] = r;
    }
    return rank;
}

ListViewState::ListViewState(CTarnSendDoc& doc, const Collation* collation)
    : m_doc(doc), m_collation(collation) {
    m_doc.addListener(this);
    rebuild();
}

ListViewState::~ListViewState() {
    m_doc.removeListener(this);
}

std::int32_t ListViewState::selectedFolder() const {
    return m_selection.kind == TreeSelection::Kind::Folder
               ? static_cast<std::int32_t>(m_selection.index)
               : 0;
}

std::int32_t ListViewState::selectedGroup() const {
    return m_selection.kind == TreeSelection::Kind::Group
               ? static_cast<std::int32_t>(m_selection.index)
               : -1;
}

void ListViewState::select(const TreeSelection& selection) {
    m_selection = selection;
    // A folder or group that does not exist shows what its root shows.
    if (m_selection.kind == TreeSelection::Kind::Folder &&
        m_doc.folderByNumber(m_selection.index) == nullptr) {
        m_selection = TreeSelection::all();
    } else if (m_selection.kind == TreeSelection::Kind::Group &&
               m_doc.groupByIndex(m_selection.index) == nullptr) {
        m_selection = TreeSelection::groupRoot();
    }
    rebuild();
}

const Group* ListViewState::shownGroup() const {
    return m_selection.kind == TreeSelection::Kind::Group ? m_doc.groupByIndex(m_selection.index)
                                                          : nullptr;
}

bool ListViewState::shows(const Record& r) const {
    switch (m_selection.kind) {
        case TreeSelection::Kind::All:
            return true;
        case TreeSelection::Kind::Folder:
            return r.folder() == m_selection.index;
        case TreeSelection::Kind::GroupRoot:
        case TreeSelection::Kind::Group:
            break;
    }
    return false;
}

void ListViewState::rebuild() {
    if (m_observer != nullptr) {
        m_observer->beginReset();
    }
    m_rows.clear();
    if (const Group* g = shownGroup()) {
        m_rows.reserve(g->members.size());
        std::uint32_t n = 0;
        for (const Record* r : g->members) {
            m_rows.push_back({r, ++n});
        }
    } else if (!m_selection.groupMode()) {
        std::uint32_t n = 0;
        for (std::size_t p = 0; p < m_doc.recordCount(); ++p) {
            const Record& r = m_doc.record(p);
            if (shows(r)) {
                m_rows.push_back({&r, ++n});
            }
        }
    }
    invalidateRowIndex();
    applySort();
    if (m_observer != nullptr) {
        m_observer->endReset();
    }
}

const Record* ListViewState::recordAt(std::size_t row) const {
    return row < m_rows.size() ? m_rows[row].record : nullptr;
}

std::optional<std::size_t> ListViewState::rowOf(const Record* r) const {
    if (!m_rowOfValid) {
        m_rowOf.clear();
        m_rowOf.reserve(m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            m_rowOf.emplace(m_rows[i].record, i);
        }
        m_rowOfValid = true;
    }
    auto it = m_rowOf.find(r);
    if (it == m_rowOf.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::uint32_t ListViewState::viewPositionAt(std::size_t row) const {
    return row < m_rows.size() ? m_rows[row].viewPosition : 0;
}

std::uint32_t ListViewState::viewPosition(const Record* r) const {
    auto row = rowOf(r);
    return row ? m_rows[*row].viewPosition : 0;
}

std::string ListViewState::text(std::size_t row, ListColumn column) const {
    const Record* r = recordAt(row);
    if (r == nullptr) {
        return {};
    }
    switch (column) {
        case ListColumn::SendOrder:
            return std::to_string(m_rows[row].viewPosition);
        case ListColumn::Name:
            return std::string(r->name());
        case ListColumn::Address:
            return std::string(r->email());
        case ListColumn::Folder:
            if (const Folder* f = m_doc.folderByNumber(r->folder())) {
                return f->name;
            }
            return noFolderText();
        case ListColumn::Company:
            return std::string(r->company());
        case ListColumn::Department:
            return std::string(r->department());
        case ListColumn::Title:
            return std::string(r->title());
        case ListColumn::Honorific:
            return std::string(r->honorific());
        case ListColumn::Status:
            return std::string(statusText(r->status()));
    }
    return {};
}

std::uint16_t ListViewState::icon(std::size_t row) const {
    const Record* r = recordAt(row);
    if (r == nullptr) {
        return 0;
    }
    const Folder* f = m_doc.folderByNumber(r->folder());
    return f != nullptr ? f->icon : 1;
}

bool ListViewState::hasOverlay(std::size_t row) const {
    const Record* r = recordAt(row);
    return r != nullptr && r->status() != kStatusNormal;
}

// --- sorting

void ListViewState::sort(ListColumn column, SortOrder order) {
    if (m_observer != nullptr) {
        m_observer->beginLayoutChange();
    }
    m_sortColumn = column;
    m_sortOrder = order;
    applySort();
    if (m_observer != nullptr) {
        m_observer->endLayoutChange();
    }
}

void ListViewState::clickHeader(ListColumn column) {
    if (column == m_sortColumn) {
        sort(column,
             m_sortOrder == SortOrder::Ascending ? SortOrder::Descending : SortOrder::Ascending);
    } else {
        sort(column, SortOrder::Ascending);
    }
}

void ListViewState::applySort() {
    // One key per row, computed once: collation ranks for the texts, numbers
    // for the rest. Ties fall back to the view position, which is unique, so
    // the order is total and the same every time.
    std::vector<std::uint32_t> key(m_rows.size());
    switch (m_sortColumn) {
        case ListColumn::SendOrder:
            for (std::size_t i = 0; i < m_rows.size(); ++i) {
                key[i] = m_rows[i].viewPosition;
            }
            break;
        case ListColumn::Folder:
            for (std::size_t i = 0; i < m_rows.size(); ++i) {
                key[i] = m_rows[i].record->folder();
            }
            break;
        case ListColumn::Status:
            for (std::size_t i = 0; i < m_rows.size(); ++i) {
                // A damaged file's negative status sorts before 0, as a number.
                key[i] = static_cast<std::uint32_t>(m_rows[i].record->status()) ^ 0x8000'0000U;
            }
            break;
        default: {
            std::vector<std::string_view> views(m_rows.size());
            for (std::size_t i = 0; i < m_rows.size(); ++i) {
                const Record& r = *m_rows[i].record;
                switch (m_sortColumn) {
                    case ListColumn::Name:
                        views[i] = r.name();
                        break;
                    case ListColumn::Address:
                        views[i] = r.email();
                        break;
                    case ListColumn::Company:
                        views[i] = r.company();
                        break;
                    case ListColumn::Department:
                        views[i] = r.department();
                        break;
                    case ListColumn::Title:
                        views[i] = r.title();
                        break;
                    default:
                        views[i] = r.honorific();
                        break;
                }
            }
            static const ByteCollation kBytes;
            key = (m_collation != nullptr ? *m_collation : kBytes).ranks(views);
            break;
        }
    }
    std::vector<std::size_t> order(m_rows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const bool descending = m_sortOrder == SortOrder::Descending;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const auto ka = std::make_pair(key[a], m_rows[a].viewPosition);
        const auto kb = std::make_pair(key[b], m_rows[b].viewPosition);
        return descending ? kb < ka : ka < kb;
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (std::size_t i : order) {
        sorted.push_back(m_rows[i]);
    }
    m_rows = std::move(sorted);
    invalidateRowIndex();
}

// --- the targets

std::vector<WalkStep> ListViewState::walk() const {
    std::vector<WalkStep> steps;
    if (const Group* g = shownGroup()) {
        steps.reserve(g->members.size());
        for (const Record* r : g->members) {
            steps.push_back({r, viewPosition(r)});
        }
    } else if (!m_selection.groupMode()) {
        steps.reserve(m_doc.recordCount());
        for (std::size_t p = 0; p < m_doc.recordCount(); ++p) {
            const Record* r = &m_doc.record(p);
            steps.push_back({r, viewPosition(r)});
        }
    }
    return steps;
}

std::vector<const Record*> ListViewState::recipients() const {
    std::vector<const Record*> shown;
    shown.reserve(m_rows.size());
    for (const WalkStep& s : walk()) {
        if (s.viewPosition != 0) {
            shown.push_back(s.record);
        }
    }
    return shown;
}

std::size_t ListViewState::eligibleCount() const {
    return static_cast<std::size_t>(std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) {
        return r.record->status() == kStatusNormal;
    }));
}

// --- keeping the rows right

void ListViewState::renumber() {
    // View positions follow the walk; only the rows whose number changed are told.
    std::size_t first = m_rows.size();
    std::size_t last = 0;
    std::uint32_t n = 0;
    auto assign = [&](const Record* r) {
        auto row = rowOf(r);
        if (!row) {
            return;
        }
        ++n;
        if (m_rows[*row].viewPosition != n) {
            m_rows[*row].viewPosition = n;
            first = std::min(first, *row);
            last = std::max(last, *row);
        }
    };
    if (const Group* g = shownGroup()) {
        for (const Record* r : g->members) {
            assign(r);
        }
    } else if (!m_selection.groupMode()) {
        for (std::size_t p = 0; p < m_doc.recordCount(); ++p) {
            assign(&m_doc.record(p));
        }
    }
    if (first <= last && first < m_rows.size()) {
        changedRows(first, last);
    }
}

void ListViewState::appendRows(const std::vector<const Record*>& records) {
    if (records.empty()) {
        return;
    }
    const std::size_t first = m_rows.size();
    if (m_observer != nullptr) {
        m_observer->beginInsertRows(first, records.size());
    }
    for (const Record* r : records) {
        m_rows.push_back({r, 0});
    }
    invalidateRowIndex();
    if (m_observer != nullptr) {
        m_observer->endInsertRows();
    }
}

void ListViewState::removeRows(std::vector<std::size_t> rows) {
    if (rows.empty()) {
        return;
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // Contiguous ranges, last first, so that earlier row numbers stay right.
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // first, count
    for (std::size_t r : rows) {
        if (!ranges.empty() && ranges.back().first + ranges.back().second == r) {
            ++ranges.back().second;
        } else {
            ranges.emplace_back(r, 1);
        }
    }
    const bool reset = ranges.size() > kMaxRangesBeforeReset;
    if (reset && m_observer != nullptr) {
        m_observer->beginReset();
    }
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
        if (!reset && m_observer != nullptr) {
            m_observer->beginRemoveRows(it->first, it->second);
        }
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(it->first),
                     m_rows.begin() + static_cast<std::ptrdiff_t>(it->first + it->second));
        invalidateRowIndex();
        if (!reset && m_observer != nullptr) {
            m_observer->endRemoveRows();
        }
    }
    if (reset && m_observer != nullptr) {
        m_observer->endReset();
    }
}

void ListViewState::changedRows(std::size_t first, std::size_t last) {
    if (m_observer != nullptr && first <= last && last < m_rows.size()) {
        m_observer->rowsChanged(first, last);
    }
}

void ListViewState::allRowsChanged() {
    if (!m_rows.empty()) {
        changedRows(0, m_rows.size() - 1);
    }
}

void ListViewState::syncWithGroup() {
    const Group* g = shownGroup();
    if (g == nullptr) {
        return;
    }
    const std::unordered_set<const Record*> members(g->members.begin(), g->members.end());
    std::vector<std::size_t> leaving;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (members.count(m_rows[i].record) == 0) {
            leaving.push_back(i);
        }
    }
    removeRows(std::move(leaving));
    std::vector<const Record*> joining;
    for (const Record* r : g->members) {
        if (!rowOf(r)) {
            joining.push_back(r);
        }
    }
    appendRows(joining);
    renumber();
}

void ListViewState::documentReset() {
    m_selection = TreeSelection::all();
    rebuild();
    if (m_observer != nullptr) {
        m_observer->selectionFollowed();
    }
}

void ListViewState::recordsInserted(std::span<const std::size_t> positions) {
    if (m_selection.groupMode()) {
        return;  // new records join a group's list when they become members
    }
    std::vector<const Record*> shown;
    for (std::size_t p : positions) {
        const Record& r = m_doc.record(p);
        if (shows(r)) {
            shown.push_back(&r);
        }
    }
    appendRows(shown);
    renumber();
}

void ListViewState::recordsRemoved(std::span<const std::size_t> positions,
                                   std::span<const Record* const> records) {
    (void)positions;
    std::vector<std::size_t> rows;
    for (const Record* r : records) {
        if (auto row = rowOf(r)) {
            rows.push_back(*row);
        }
    }
    removeRows(std::move(rows));
    renumber();
}

void ListViewState::recordsChanged(std::span<const std::size_t> positions) {
    std::size_t first = m_rows.size();
    std::size_t last = 0;
    std::vector<std::size_t> leaving;
    std::vector<const Record*> joining;
    for (std::size_t p : positions) {
        const Record& r = m_doc.record(p);
        const auto row = rowOf(&r);
        const bool shown = m_selection.groupMode() ? row.has_value() : shows(r);
        if (row && !shown) {
            leaving.push_back(*row);
        } else if (!row && shown) {
            joining.push_back(&r);
        } else if (row) {
            first = std::min(first, *row);
            last = std::max(last, *row);
        }
    }
    if (first <= last && first < m_rows.size()) {
        changedRows(first, last);
    }
    if (!leaving.empty() || !joining.empty()) {
        removeRows(std::move(leaving));
        appendRows(joining);
        renumber();
    }
}

void ListViewState::recordsReordered() {
    renumber();
}

void ListViewState::foldersChanged(const ListChange& change) {
    if (m_selection.kind == TreeSelection::Kind::Folder) {
        const long long now = change.follow(m_selection.index - 1);
        if (now < 0) {
            // The folder shown is gone: show everything rather than nothing.
            m_selection = TreeSelection::all();
            rebuild();
            if (m_observer != nullptr) {
                m_observer->selectionFollowed();
            }
            return;
        }
        if (static_cast<std::size_t>(now) + 1 != m_selection.index) {
            m_selection.index = static_cast<std::size_t>(now) + 1;
            if (m_observer != nullptr) {
                m_observer->selectionFollowed();
            }
        }
    }
    // Folder names and icons show in every row.
    allRowsChanged();
}

void ListViewState::groupsChanged(const ListChange& change) {
    if (m_selection.kind != TreeSelection::Kind::Group) {
        return;
    }
    const long long now = change.follow(m_selection.index);
    if (now < 0) {
        m_selection = TreeSelection::all();
        rebuild();
    } else if (static_cast<std::size_t>(now) != m_selection.index) {
        m_selection.index = static_cast<std::size_t>(now);
    } else {
        return;
    }
    if (m_observer != nullptr) {
        m_observer->selectionFollowed();
    }
}

void ListViewState::membersChanged(std::size_t group) {
    if (m_selection.kind == TreeSelection::Kind::Group && m_selection.index == group) {
        syncWithGroup();
    }
}

// --- row placement

void ListViewState::placeRows(std::vector<std::pair<const Record*, std::size_t>> placement) {
    // Each record once (its first placement), and only records that have a row.
    std::unordered_set<const Record*> moving;
    std::erase_if(placement,
                  [&](const auto& p) { return !rowOf(p.first) || !moving.insert(p.first).second; });
    if (placement.empty()) {
        return;
    }
    std::stable_sort(placement.begin(), placement.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    if (m_observer != nullptr) {
        m_observer->beginLayoutChange();
    }
    std::vector<Row> placed;
    std::vector<Row> rest;
    rest.reserve(m_rows.size());
    for (const Row& r : m_rows) {
        if (moving.count(r.record) == 0) {
            rest.push_back(r);
        }
    }
    std::unordered_map<const Record*, std::uint32_t> numbers;
    for (const Row& r : m_rows) {
        if (moving.count(r.record) != 0) {
            numbers.emplace(r.record, r.viewPosition);
        }
    }
    for (const auto& [r, row] : placement) {
        const Row entry{r, numbers.at(r)};
        rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(std::min(row, rest.size())), entry);
    }
    m_rows = std::move(rest);
    invalidateRowIndex();
    if (m_observer != nullptr) {
        m_observer->endLayoutChange();
    }
}

void ListViewState::moveRows(std::span<const std::size_t> rows, std::size_t target) {
    std::vector<std::size_t> moving(rows.begin(), rows.end());
    std::erase_if(moving, [&](std::size_t r) { return r >= m_rows.size(); });
    if (moving.empty()) {
        return;
    }
    // Where the target row lands once the moving rows are taken out.
    const std::size_t end = std::min(target, m_rows.size());
    const auto above = static_cast<std::size_t>(
        std::count_if(moving.begin(), moving.end(), [&](std::size_t r) { return r < end; }));
    const std::size_t at = end - above;
    std::vector<std::pair<const Record*, std::size_t>> placement;
    for (std::size_t i = 0; i < moving.size(); ++i) {
        placement.emplace_back(m_rows[moving[i]].record, at + i);
    }
    placeRows(std::move(placement));
}

}  // namespace tarn::addressbook

// What one record list shows: the tree selection it follows, its rows in order
// (ending with the blank row used to create a record), its sort, and the view
// position of every shown record. The records it shows are the targets of a
// check or a send, in the order walk() gives.
//
// A ListViewState listens to its document and keeps itself right after every
// change; two states over one document can show different things. A window's
// item model reads rows through it and hears row changes as a ListViewObserver;
// the command line and the tests use it the same way without a window:
//
//   ListViewState view(doc, &collation);       // selects "すべて"
//   view.select(TreeSelection::folder(2));     // or ::all(), ::group(i), ::groupRoot()
//   view.sort(ListColumn::Name, SortOrder::Ascending);
//   for (std::size_t row = 0; row < view.recordRowCount(); ++row)
//       show(view.text(row, ListColumn::Name));
//   for (const WalkStep& s : view.walk())      // what a check or send walks
//       if (s.viewPosition != 0 && s.record->status() == kStatusNormal) ...
//   view.eligibleCount();                       // shown records with status 0
//
// View positions ("送信順", column 0) are the order in which the shown records
// are walked: record order for "すべて" and a folder, membership order for a
// group. Sorting and moving rows change only the row order; send-order
// renumbering (BookEditor) makes the walk follow the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "addressbook/document.h"

namespace tarn::addressbook {

// The tree item a list follows.
struct TreeSelection {
    enum class Kind : std::uint8_t { All, Folder, GroupRoot, Group };
    Kind kind = Kind::All;
    std::size_t index = 0;  // Folder: its number (1-based); Group: its index

    static TreeSelection all() { return {}; }
    static TreeSelection folder(std::size_t number) { return {Kind::Folder, number}; }
    static TreeSelection groupRoot() { return {Kind::GroupRoot, 0}; }
    static TreeSelection group(std::size_t index) { return {Kind::Group, index}; }
    bool groupMode() const { return kind == Kind::GroupRoot || kind == Kind::Group; }
    friend bool operator==(const TreeSelection&, const TreeSelection&) = default;
};

enum class ListColumn : std::uint8_t {
    SendOrder,
    Name,
    Address,
    Folder,
    Company,
    Department,
    Title,
    Honorific,
    Status,
};
inline constexpr std::size_t kListColumnCount = 9;
enum class SortOrder : std::uint8_t { Ascending = 0, Descending = 1 };

// Text order for sorting, supplied by the caller (the windows: Japanese
// collation; the command line and tests: ByteCollation).
class Collation {
public:
    virtual ~Collation() = default;
    // The rank of every text (Shift_JIS) in collation order; equal texts share
    // a rank.
    virtual std::vector<std::uint32_t> ranks(std::span<const std::string_view> texts) const = 0;
};

// Plain byte order.
class ByteCollation final : public Collation {
public:
    std::vector<std::uint32_t> ranks(std::span<const std::string_view> texts) const override;
};

// Row changes, told around the change like an item model wants them. Row
// numbers include the blank row, which is always the last row.
class ListViewObserver {
public:
    virtual ~ListViewObserver() = default;
    virtual void beginReset() {}
    virtual void endReset() {}
    virtual void beginInsertRows(std::size_t first, std::size_t count) {
        (void)first;
        (void)count;
    }
    virtual void endInsertRows() {}
    virtual void beginRemoveRows(std::size_t first, std::size_t count) {
        (void)first;
        (void)count;
    }
    virtual void endRemoveRows() {}
    // The same rows in a new order (sorting, moving rows).
    virtual void beginLayoutChange() {}
    virtual void endLayoutChange() {}
    // Texts or images of rows first..last may have changed.
    virtual void rowsChanged(std::size_t first, std::size_t last) {
        (void)first;
        (void)last;
    }
    // The list follows another tree item than the one last selected (its
    // folder was renumbered or removed).
    virtual void selectionFollowed() {}
};

// One step of the walk of a check or a send.
struct WalkStep {
    const Record* record = nullptr;
    std::uint32_t viewPosition = 0;  // 0: not shown in the list, so not a target
};

class ListViewState final : private DocumentListener {
public:
    // Follows "すべて"; `collation` (kept, not owned) may be null for byte order.
    explicit ListViewState(CTarnSendDoc& doc, const Collation* collation = nullptr);
    ListViewState(const ListViewState&) = delete;
    ListViewState& operator=(const ListViewState&) = delete;
    ~ListViewState() override;

    const CTarnSendDoc& document() const { return m_doc; }
    void setObserver(ListViewObserver* observer) { m_observer = observer; }
    void setCollation(const Collation* collation) { m_collation = collation; }

    // --- the tree selection; each selection rebuilds the rows and sorts them
    void select(const TreeSelection& selection);
    const TreeSelection& selection() const { return m_selection; }
    // As the document file names them: 0 = all or a folder, 1 = a group;
    // the folder number (0 = all); the group index (-1 = the group root).
    std::int32_t selectionKind() const { return m_selection.groupMode() ? 1 : 0; }
    std::int32_t selectedFolder() const;
    std::int32_t selectedGroup() const;

    // --- rows
    // The group root shows nothing, not even the blank row.
    bool hasBlankRow() const { return m_selection.kind != TreeSelection::Kind::GroupRoot; }
    std::size_t recordRowCount() const { return m_rows.size(); }
    std::size_t rowCount() const { return m_rows.size() + (hasBlankRow() ? 1 : 0); }
    bool isBlankRow(std::size_t row) const { return hasBlankRow() && row == m_rows.size(); }
    // nullptr for the blank row and past the end.
    const Record* recordAt(std::size_t row) const;
    std::optional<std::size_t> rowOf(const Record* r) const;
    std::uint32_t viewPositionAt(std::size_t row) const;
    std::uint32_t viewPosition(const Record* r) const;  // 0: not shown

    // --- what a row shows (Shift_JIS); the blank row shows nothing
    std::string text(std::size_t row, ListColumn column) const;
    // The folder's icon (1 without a folder); 0 for the blank row.
    std::uint16_t icon(std::size_t row) const;
    // A status other than 0 carries the overlay image.
    bool hasOverlay(std::size_t row) const;

    // --- sorting: by the column's key, ties by view position; descending
    // reverses the whole order; the blank row stays last.
    void sort(ListColumn column, SortOrder order);
    // The current column toggles its order; another column sorts ascending.
    void clickHeader(ListColumn column);
    ListColumn sortColumn() const { return m_sortColumn; }
    SortOrder sortOrder() const { return m_sortOrder; }

    // --- the targets
    std::vector<WalkStep> walk() const;
    // The shown records in the order they are walked.
    std::vector<const Record*> recipients() const;
    std::size_t eligibleCount() const;

    // --- row placement for the editing commands
    // Takes the rows of these records out and puts each at its row, in
    // ascending row order (rows past the end go to the end).
    void placeRows(std::vector<std::pair<const Record*, std::size_t>> placement);
    // Moves `rows` (in their order) to where row `target` is; a target past
    // the last record row moves them to the end.
    void moveRows(std::span<const std::size_t> rows, std::size_t target);

private:
    struct Row {
        const Record* record = nullptr;
        std::uint32_t viewPosition = 0;
    };

    // DocumentListener
    void documentReset() override;
    void recordsInserted(std::span<const std::size_t> positions) override;
    void recordsRemoved(std::span<const std::size_t> positions,
                        std::span<const Record* const> records) override;
    void recordsChanged(std::span<const std::size_t> positions) override;
    void recordsReordered() override;
    void foldersChanged(const ListChange& change) override;
    void groupsChanged(const ListChange& change) override;
    void membersChanged(std::size_t group) override;

    bool shows(const Record& r) const;  // folder mode only
    const Group* shownGroup() const;
    void rebuild();
    void applySort();
    void renumber();
    void appendRows(const std::vector<const Record*>& records);
    void removeRows(std::vector<std::size_t> rows);
    void syncWithGroup();
    void changedRows(std::size_t first, std::size_t last);
    void allRowsChanged();
    void invalidateRowIndex() { m_rowOfValid = false; }

    CTarnSendDoc& m_doc;
    const Collation* m_collation = nullptr;
    ListViewObserver* m_observer = nullptr;
    TreeSelection m_selection;
    std::vector<Row> m_rows;
    mutable std::unordered_map<const Record*, std::size_t> m_rowOf;
    mutable bool m_rowOfValid = false;
    ListColumn m_sortColumn = ListColumn::Address;
    SortOrder m_sortOrder = SortOrder::Ascending;
};

}  // namespace tarn::addressbook

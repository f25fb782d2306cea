// What a view hears from the address-book document.
//
// Every call that changes a CTarnSendDoc tells its listeners afterwards, once
// per call, what changed. Records are named by their positions in the record
// list; a listener that keeps records (a list view keeps its rows as record
// pointers) maps them back with CTarnSendDoc::record(position).
//
// Order within one call: folder and group list changes come before the record
// changes they cause (deleting folder 2 reports the folder first, then the
// records whose folder number went down), so that a view showing folder 3 has
// already followed it to number 2 when it looks at the records.
//
// A listener must not change the document while it is being told.
#pragma once

#include <cstddef>
#include <span>

namespace tarn::addressbook {

class Record;

// A change to the folder list or the group list. Folder number n is the entry
// at index n - 1; a group is named by its index.
struct ListChange {
    enum class Kind {
        Inserted,  // a new entry at `index`
        Removed,   // the entry at `index` is gone; later entries moved up by one
        Moved,     // the entry at `index` now sits at `to`; those between shifted by one
        Edited,    // name or icon of the entry at `index`
    };
    Kind kind = Kind::Edited;
    std::size_t index = 0;
    std::size_t to = 0;

    // Where an entry that was at `oldIndex` is now; -1 when it was removed.
    long long follow(std::size_t oldIndex) const;
};

class DocumentListener {
public:
    virtual ~DocumentListener() = default;

    // The whole document was replaced (new document, open): nothing a view
    // holds about it is valid any more.
    virtual void documentReset() {}

    // Records were inserted; `positions` are theirs in the new record list,
    // ascending.
    virtual void recordsInserted(std::span<const std::size_t> positions) { (void)positions; }
    // Records were removed: the one at positions[i] (ascending, positions
    // before the removal) was records[i]. The records are still alive while the
    // listener is told and destroyed right after; they are no longer members
    // of any group.
    virtual void recordsRemoved(std::span<const std::size_t> positions,
                                std::span<const Record* const> records) {
        (void)positions;
        (void)records;
    }
    // The data (texts, folder, status) of the records at these positions
    // changed; ascending.
    virtual void recordsChanged(std::span<const std::size_t> positions) { (void)positions; }
    // The same records are in the list in a new order (send-order renumbering).
    virtual void recordsReordered() {}

    virtual void foldersChanged(const ListChange& change) { (void)change; }
    virtual void groupsChanged(const ListChange& change) { (void)change; }
    // Members were added to or removed from group `group`, or reordered.
    virtual void membersChanged(std::size_t group) { (void)group; }

    virtual void honorificsChanged() {}
    virtual void freeFieldTitlesChanged() {}
    // The undo list changed (the Edit menu's undo text follows it).
    virtual void undoChanged() {}
    virtual void modifiedChanged(bool modified) { (void)modified; }
    // A send or check took the document (true) or gave it back (false).
    virtual void runChanged(bool running) { (void)running; }
};

}  // namespace tarn::addressbook

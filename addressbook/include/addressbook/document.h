// The address-book document: folders, groups, records, honorifics and the
// free-field titles, with its ".tn2" file.
//
// The document has no user interface of its own and knows nothing of views:
// every call that changes it tells the registered DocumentListeners what
// changed (document_listener.h), and everything that can fail comes back as a
// tarn::Status whose message is meant for the person at the keyboard. What a
// list shows, and so what a check or a send walks, is a ListViewState
// (list_view_state.h); the editing commands with their undo are BookEditor
// (book_editor.h). Records are named by pointer: a record keeps its address
// for as long as it is in the document.
//
// The document belongs to one thread (the window's, or the command line's).
// A send or a check takes it for the length of its run with beginRun(); while
// a run holds it every change is refused with kRunInProgressText, except the
// statuses the run itself applies through its DocumentRun:
//
//   auto run = doc.beginRun();                 // Result<DocumentRun>
//   if (!run) { show(run.error().message); return; }
//   std::vector<StatusUpdate> found = ...;     // records from the list view's walk
//   run->setStatuses(found);                   // on the document's thread
//   run->release();                            // or let it go out of scope
//
// A run's worker thread must not touch the document at all: it works on a
// copy of the texts it needs, and its results come back to the document's
// thread. While a run holds the document, records are neither removed nor
// moved, so record pointers taken before the run stay valid to its end.
//
// Building a document in code (tests, samples):
//
//   CTarnSendDoc doc;
//   doc.OnNewDocument(appTitles);
//   const Record* r = doc.appendRecord(std::move(record)).value();
//   doc.addMembers(0, std::span(&r, 1));
//   doc.OnSaveDocument(path);                  // temporary file + rename
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "addressbook/document_listener.h"
#include "addressbook/record.h"
#include "common/result.h"

namespace tarn::addressbook {

namespace detail {
class Tn2Source;
}

using FreeFieldTitles = std::array<std::string, kFreeFieldCount>;

// "Freefield1(&A)" ... "Freefield10(&J)": the titles until the user renames them.
FreeFieldTitles defaultFreeFieldTitles();

// The refusal of every change while a send or check holds the document (UTF-8).
inline constexpr std::string_view kRunInProgressText =
    "送信またはアドレスチェックの実行中は、アドレス帳を変更できません。"
    "終了するまでお待ちください。";

struct Folder {
    std::string name;  // Shift_JIS
    std::uint16_t icon = 0;
};

struct Group {
    std::string name;  // Shift_JIS
    std::uint16_t icon = 0;
    // Records of the same document, each at most once, in membership order.
    std::vector<const Record*> members;
};

// What an undo entry undoes. Every kind has its text in the Edit menu
// (undoMenuText); only New, Paste, Edit, Move, FolderChange and Delete are
// recorded by a command: the others name commands whose effects are not
// undoable (the command empties the undo list instead).
enum class UndoKind : std::int32_t {
    None = 0,
    New = 1,
    Cut = 2,
    Paste = 3,
    Edit = 4,
    Move = 5,
    FolderChange = 6,
    NewFolder = 7,
    DeleteFolder = 8,
    EditFolder = 9,
    MoveFolder = 10,
    SendOrder = 11,
    Import = 12,
    Delete = 13,
};

// "元に戻す(&U)" + the kind's word + "\tCtrl+Z", UTF-8.
std::string undoMenuText(UndoKind kind);

// A record's place in a group: the group's index and the record's index in
// its member list.
struct Membership {
    std::size_t group = 0;
    std::size_t index = 0;
};

// One entry of the single-level undo.
struct UndoEntry {
    UndoKind kind = UndoKind::None;
    std::size_t position = 0;  // the record's position in the record list before the command
    std::size_t row = 0;       // its row in the list view before the command
    Record saved;              // the record as it was (Edit, FolderChange, Delete)
    // The record the entry acts on (New, Paste, Edit, Move, FolderChange); a
    // deleted record is gone, so Delete entries have none.
    const Record* record = nullptr;
    // Delete: the groups the record was taken out of, to put it back.
    std::vector<Membership> memberships;
};

struct StatusUpdate {
    const Record* record = nullptr;
    std::int32_t status = kStatusNormal;
};

// New data (texts, folder, status) for a record of the document.
struct RecordUpdate {
    const Record* record = nullptr;
    Record data;
};

// A record as removeRecords() took it out: where it was, its data, and the
// groups it belonged to (ascending group index).
struct RemovedRecord {
    std::size_t position = 0;
    Record data;
    std::vector<Membership> memberships;
};

// A record to insert at `position` of the resulting record list.
struct PlacedRecord {
    std::size_t position = 0;
    Record data;
    std::vector<Membership> memberships;  // group index, index in its member list
};

// A field the record editor refuses, with its message (UTF-8).
struct FieldProblem {
    Field field;
    std::string message;
};

// What the command line's tree selection shows.
enum SelectionKind : std::int32_t { kSelectFolder = 0, kSelectGroup = 1 };

class CTarnSendDoc;

// A send or check holding a document (see the top of this file). Move-only;
// gives the document back when destroyed or released.
class DocumentRun {
public:
    DocumentRun(DocumentRun&& other) noexcept;
    DocumentRun& operator=(DocumentRun&& other) noexcept;
    DocumentRun(const DocumentRun&) = delete;
    DocumentRun& operator=(const DocumentRun&) = delete;
    ~DocumentRun();

    // The run's results (check statuses 0-3, send error 4), applied at once.
    Status setStatuses(std::span<const StatusUpdate> updates);
    void release();
    bool holding() const { return m_doc != nullptr; }

private:
    friend class CTarnSendDoc;
    explicit DocumentRun(CTarnSendDoc* doc) : m_doc(doc) {}
    CTarnSendDoc* m_doc = nullptr;
};

class CTarnSendDoc {
public:
    static constexpr std::string_view kSignature = "ORVELLO POST KIT (C)TARNWORKS LABS";
    static constexpr std::int32_t kVersion = 20;
    static constexpr std::size_t kMaxRecords = 99'999;
    static constexpr std::size_t kMaxStoredHonorifics = 15;
    // Group members are stored as 16-bit record positions.
    static constexpr std::size_t kMaxMemberPosition = 0xFFFF;
    static constexpr std::size_t kMaxCompanyBytes = 1024;
    static constexpr std::size_t kMaxFieldBytes = 512;  // department, title, name, E-Mail
    static constexpr std::size_t kMaxFolderNameBytes = 1024;

    // An empty document (no folders, groups or honorifics); see OnNewDocument.
    CTarnSendDoc() = default;
    CTarnSendDoc(const CTarnSendDoc&) = delete;
    CTarnSendDoc& operator=(const CTarnSendDoc&) = delete;
    // Moves the contents only: listeners and a run belong to the object they
    // were registered with (a moved-from document is empty).
    CTarnSendDoc(CTarnSendDoc&& other) noexcept;
    CTarnSendDoc& operator=(CTarnSendDoc&&) = delete;
    ~CTarnSendDoc();

    // Five folders, five groups, the nine honorifics, the given titles, no
    // records, no undo; not modified.
    Status OnNewDocument(const FreeFieldTitles& appTitles);

    // The .tn2 bytes of this document. Fails, writing nothing, when a group
    // member cannot be stored (a record beyond position 65,535).
    Result<std::string> Serialize() const;
    // Replaces this document with the one in `bytes`. On failure the document is
    // unchanged. appTitles are used for files older than version 20.
    Status Serialize(std::string_view bytes, const FreeFieldTitles& appTitles);

    // Reads a .tn2 file; the document is not modified afterwards. The file is
    // read readChunkBytes at a time (more when one item is larger), so that
    // opening never holds the whole file besides the records made from it.
    static constexpr std::size_t kReadChunkBytes = std::size_t{256} * 1024;
    Status OnOpenDocument(const std::filesystem::path& path, const FreeFieldTitles& appTitles,
                          std::size_t readChunkBytes = kReadChunkBytes);
    // Writes through a temporary file renamed over `path` only once complete.
    // Clears the modified flag on success only. The caller copies
    // freeFieldTitles() into the application's titles after a successful save.
    Status OnSaveDocument(const std::filesystem::path& path);

    // Signature and version as last read (or as written by this version).
    const std::string& signature() const { return m_data.signature; }
    std::int32_t version() const { return m_data.version; }

    // --- records
    std::size_t recordCount() const { return m_data.records.size(); }
    const Record& record(std::size_t position) const { return *m_data.records.at(position); }
    // The position of `r` in the record list; recordCount() when it is not there.
    std::size_t positionOf(const Record* r) const;
    bool contains(const Record* r) const { return positionOf(r) != recordCount(); }
    bool canAddRecord() const { return recordCount() < kMaxRecords; }
    // The refusal when `count` more records would pass kMaxRecords (UTF-8).
    static std::string tooManyRecordsText(std::size_t count);

    Result<const Record*> appendRecord(Record r);
    // Appends copies in order; all or nothing (refused past kMaxRecords).
    Result<std::vector<const Record*>> appendRecords(std::span<const Record> records);
    // Inserts records at their positions in the resulting list (ascending,
    // each at most the count so far) and puts them back into their groups.
    Result<std::vector<const Record*>> insertRecords(std::vector<PlacedRecord> records);
    // Removes records from every group and from the list; returns them in
    // ascending position order. Records not in the document are refused.
    Result<std::vector<RemovedRecord>> removeRecords(std::span<const Record* const> records);
    // Replaces texts, folder and status of records (the records stay where they are).
    Status updateRecords(std::span<const RecordUpdate> updates);
    Status setFolder(std::span<const Record* const> records, std::uint16_t folder);
    Status setStatuses(std::span<const StatusUpdate> updates);
    // Puts `inOrder` (distinct records of the document) into the list positions
    // these records occupy now, in the given order; every other record keeps
    // its position.
    Status arrangeRecords(std::span<const Record* const> inOrder);

    // --- folders (number n = the n-th entry) and groups (0-based index)
    const std::vector<Folder>& folders() const { return m_data.folders; }
    // Folder number n (1-based); nullptr for 0 or a number past the end.
    const Folder* folderByNumber(std::size_t n) const;
    Result<std::size_t> addFolder(std::string name, std::uint16_t icon);  // the new number
    Status editFolder(std::size_t number, std::string name, std::uint16_t icon);
    // Moves folder `number` to just before folder `before` (past the last
    // folder: to the end); every record's folder number follows.
    Status moveFolder(std::size_t number, std::size_t before);
    // Records of the folder go to 0 ("なし"), later folders' records down by one.
    Status removeFolder(std::size_t number);

    const std::vector<Group>& groups() const { return m_data.groups; }
    const Group* groupByIndex(std::size_t index) const;
    Result<std::size_t> addGroup(std::string name, std::uint16_t icon);  // the new index
    Status editGroup(std::size_t index, std::string name, std::uint16_t icon);
    // Moves group `index` to just before group `before` (past the last: to the end).
    Status moveGroup(std::size_t index, std::size_t before);
    Status removeGroup(std::size_t index);  // the records stay
    // Appends the records that are not yet members, in order; how many were added.
    Result<std::size_t> addMembers(std::size_t group, std::span<const Record* const> records);
    Result<std::size_t> removeMembers(std::size_t group, std::span<const Record* const> records);
    // The group's members in a new order: a permutation of its members.
    Status setMemberOrder(std::size_t group, std::span<const Record* const> members);
    bool isMember(std::size_t group, const Record* r) const;

    // --- honorifics and titles
    const std::vector<std::string>& honorifics() const { return m_data.honorifics; }
    // Moves `text` to the front of the honorifics (inserting it when new);
    // true when the list changed.
    Result<bool> TouchHonorific(std::string_view text);
    Status setHonorifics(std::vector<std::string> honorifics);
    const FreeFieldTitles& freeFieldTitles() const { return m_data.titles; }
    Status setFreeFieldTitle(std::size_t index, std::string title);
    Status setFreeFieldTitles(const FreeFieldTitles& titles);

    // --- the record editor's limits
    // Removes trailing blanks from the six texts, then returns the first field
    // the editor must refuse, in the editor's order, or nullopt.
    static std::optional<FieldProblem> checkRecord(Record& r);
    // nullopt when `name` fits a folder or group name.
    static std::optional<std::string> checkFolderName(std::string_view name);

    // --- undo (filled and applied by BookEditor)
    // A command that adds, removes or moves records either records its own
    // entries (setUndo) or empties the list first (clearUndo). The document
    // itself drops entries that could no longer be applied: those naming a
    // removed record, and all of them when folders or groups are renumbered.
    const std::vector<UndoEntry>& undo() const { return m_data.undo; }
    void clearUndo();
    void recordUndo(UndoEntry entry);
    void setUndo(std::vector<UndoEntry> entries);
    std::vector<UndoEntry> takeUndo();

    // --- modified flag, runs and listeners
    bool isModified() const { return m_data.modified; }
    void setModifiedFlag(bool modified = true);
    // Ok, or the refusal while a run holds the document.
    Status editable() const;
    bool runInProgress() const { return m_running; }
    // Fails when another run holds the document.
    Result<DocumentRun> beginRun();
    void addListener(DocumentListener* listener);
    void removeListener(DocumentListener* listener);

    // --- the walk of the command line's drivers
    // The tree selection and view positions below are what `tarn send` and
    // `tarn check` walk until the drivers take their walk from a
    // ListViewState; windows use ListViewState, which keeps its own.
    std::int32_t selectionKind() const { return m_selectionKind; }
    std::int32_t selectedFolder() const { return m_selectedFolder; }
    std::int32_t selectedGroup() const { return m_selectedGroup; }
    void selectAll() { selectFolder(0); }
    void selectFolder(std::int32_t number);
    void selectGroup(std::int32_t index);  // below 0: the group branch itself
    std::size_t assignViewPositions();
    std::vector<const Record*> shownRecords() const;
    std::size_t eligibleCount() const;

private:
    friend class DocumentRun;

    // Everything a new document or a read replaces at once.
    struct Content {
        std::string signature{kSignature};
        std::int32_t version = kVersion;
        std::vector<Folder> folders;
        std::vector<Group> groups;
        // unique_ptr keeps each record at one address, so group members and
        // views' rows stay valid while records are inserted, removed and
        // reordered.
        std::vector<std::unique_ptr<Record>> records;
        std::vector<std::string> honorifics;
        FreeFieldTitles titles;
        std::vector<UndoEntry> undo;
        bool modified = false;
    };

    Status read(detail::Tn2Source& in, const FreeFieldTitles& appTitles);
    void replaceContent(Content content);
    Status applyStatuses(std::span<const StatusUpdate> updates);
    // Positions of `records` (ascending, distinct), or an error naming the
    // first record that is not in the document.
    Result<std::vector<std::size_t>> positionsOf(std::span<const Record* const> records) const;
    void changed();  // marks modified (and tells)
    void dropMembershipUndo();
    // After a folder moved or went: records follow, undo is emptied, listeners told.
    void renumberFolders(const ListChange& change);
    void endRun();
    template <class F>
    void tell(F&& f);

    Content m_data;
    // record -> position; rebuilt on demand after inserts, removals and moves.
    mutable std::unordered_map<const Record*, std::size_t> m_positions;
    mutable bool m_positionsValid = false;
    bool m_running = false;
    std::vector<DocumentListener*> m_listeners;
    std::int32_t m_selectionKind = kSelectFolder;
    std::int32_t m_selectedFolder = 0;
    std::int32_t m_selectedGroup = -1;
};

}  // namespace tarn::addressbook

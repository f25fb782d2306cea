// The address-book document: folders, groups, records, honorifics and the
// free-field titles, with its ".tn2" file.
//
// The views (and the send and check drivers) work on one CTarnSendDoc. It has
// no user interface of its own: views register a DocumentListener to hear the
// update hints, and everything that can fail comes back as a tarn::Status whose
// message is meant for the person at the keyboard.
//
// A driver without views (`tarn send`, `tarn check`):
//
//   CTarnSendDoc doc;
//   doc.OnOpenDocument(path, appTitles);        // Status
//   doc.selectAll();  /  doc.selectFolder(n);  /  doc.selectGroup(i);
//   doc.assignViewPositions();                  // what the list would show
//   for (Record* r : doc.shownRecords()) { ... r->setStatus(kStatusSendError); }
//   doc.setModifiedFlag();
//   doc.OnSaveDocument(path);                   // temporary file + rename
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/record.h"
#include "common/result.h"

namespace tarn::addressbook {

namespace detail {
class Tn2Source;
}

using FreeFieldTitles = std::array<std::string, kFreeFieldCount>;

// "Freefield1(&A)" ... "Freefield10(&J)": the titles until the user renames them.
FreeFieldTitles defaultFreeFieldTitles();

struct Folder {
    std::string name;  // Shift_JIS
    std::uint16_t icon = 0;
};

struct Group {
    std::string name;  // Shift_JIS
    std::uint16_t icon = 0;
    // Records of the same document, each at most once, in membership order.
    std::vector<Record*> members;
};

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

// One entry of the single-level undo: what was done, where the record was in
// the record list and in the list view, and the record as it was.
struct UndoEntry {
    UndoKind kind = UndoKind::None;
    std::size_t position = 0;
    int row = 0;
    Record saved;
};

// What the tree selection shows.
enum SelectionKind : std::int32_t { kSelectFolder = 0, kSelectGroup = 1 };

class DocumentListener {
public:
    virtual ~DocumentListener() = default;
    virtual void onDocumentUpdate(int hint) = 0;
};

// A field the record editor refuses, with its message (UTF-8).
struct FieldProblem {
    Field field;
    std::string message;
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
    CTarnSendDoc(CTarnSendDoc&&) noexcept = default;
    CTarnSendDoc& operator=(CTarnSendDoc&&) noexcept = default;
    ~CTarnSendDoc() = default;

    // Five folders, five groups, the nine honorifics, the given titles, no
    // records, selection "すべて", no undo; not modified.
    void OnNewDocument(const FreeFieldTitles& appTitles);

    // The .tn2 bytes of this document. Fails, writing nothing, when a group
    // member cannot be stored (a record beyond position 65,535, or a record that
    // is not in this document).
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
    const std::string& signature() const { return m_signature; }
    std::int32_t version() const { return m_version; }

    // --- records
    std::size_t recordCount() const { return m_records.size(); }
    Record& record(std::size_t position) { return *m_records.at(position); }
    const Record& record(std::size_t position) const { return *m_records.at(position); }
    // The position of `r` in the record list; recordCount() when it is not there.
    std::size_t positionOf(const Record* r) const;
    bool canAddRecord() const { return m_records.size() < kMaxRecords; }
    // Appends or inserts a record (position clamped to the end); returns it.
    Record& insertRecord(std::size_t position, Record r);
    Record& appendRecord(Record r) { return insertRecord(m_records.size(), std::move(r)); }
    // Removes the record at `position` from every group and from the list.
    void removeRecord(std::size_t position);

    // --- folders and groups
    std::vector<Folder>& folders() { return m_folders; }
    const std::vector<Folder>& folders() const { return m_folders; }
    // Folder number n (1-based); nullptr for 0 or a number past the end.
    const Folder* folderByNumber(std::size_t n) const;
    std::vector<Group>& groups() { return m_groups; }
    const std::vector<Group>& groups() const { return m_groups; }
    const Group* groupByIndex(std::size_t index) const;
    // Adds `r` to group `index` unless it is already a member; true if added.
    bool addMember(std::size_t index, Record* r);
    bool removeMember(std::size_t index, const Record* r);

    // --- honorifics and titles
    std::vector<std::string>& honorifics() { return m_honorifics; }
    const std::vector<std::string>& honorifics() const { return m_honorifics; }
    // Moves `text` to the front of the honorifics (inserting it when new);
    // true when the list changed.
    bool TouchHonorific(std::string_view text);
    FreeFieldTitles& freeFieldTitles() { return m_titles; }
    const FreeFieldTitles& freeFieldTitles() const { return m_titles; }

    // --- selection and the records a view shows
    std::int32_t selectionKind() const { return m_selectionKind; }
    std::int32_t selectedFolder() const { return m_selectedFolder; }
    std::int32_t selectedGroup() const { return m_selectedGroup; }
    void selectAll() { selectFolder(0); }
    void selectFolder(std::int32_t number);
    void selectGroup(std::int32_t index);  // below 0: the group branch itself
    // Gives the records the view positions of the current selection (group:
    // member order; otherwise the shown records in record order) and returns
    // how many are shown.
    std::size_t assignViewPositions();
    // The records with a view position, in the order a check or a send walks
    // them (group members in membership order, else record order).
    std::vector<Record*> shownRecords();
    // Shown records with status 0: those a send would take.
    std::size_t eligibleCount() const;

    // --- the record editor's limits
    // Removes trailing blanks from the six texts, then returns the first field
    // the editor must refuse, in the editor's order, or nullopt.
    static std::optional<FieldProblem> checkRecord(Record& r);
    // nullopt when `name` fits a folder or group name.
    static std::optional<std::string> checkFolderName(std::string_view name);

    // --- undo, modified flag and views
    std::vector<UndoEntry>& undo() { return m_undo; }
    const std::vector<UndoEntry>& undo() const { return m_undo; }
    bool isModified() const { return m_modified; }
    void setModifiedFlag(bool modified = true) { m_modified = modified; }
    void addListener(DocumentListener* listener);
    void removeListener(DocumentListener* listener);
    void UpdateAllViews(int hint) const;

private:
    Status read(detail::Tn2Source& in, const FreeFieldTitles& appTitles);

    std::string m_signature{kSignature};
    std::int32_t m_version = kVersion;
    std::vector<Folder> m_folders;
    std::vector<Group> m_groups;
    // unique_ptr keeps each record at one address, so group members stay valid
    // while records are inserted, removed and reordered.
    std::vector<std::unique_ptr<Record>> m_records;
    std::vector<std::string> m_honorifics;
    FreeFieldTitles m_titles;
    std::int32_t m_selectionKind = kSelectFolder;
    std::int32_t m_selectedFolder = 0;
    std::int32_t m_selectedGroup = -1;
    std::vector<UndoEntry> m_undo;
    bool m_modified = false;
    std::vector<DocumentListener*> m_listeners;
};

}  // namespace tarn::addressbook

// The address book's editing commands over one list: delete, cut, copy and
// paste with the application's cut buffer, drops on the list and on the tree,
// send-order renumbering, folders and groups, and the single-level undo.
//
// A window keeps one BookEditor beside its ListViewState and calls it from its
// menus, keys and drops; the questions to ask first are here too, so that the
// window only shows them. Rows are rows of the editor's list view; records
// come from it (or from a dropped record set, record_set.h). Every change goes
// through the document, so every view hears it.
//
//   CutBuffer cut;                               // one per application
//   ListViewState view(doc, &collation);
//   BookEditor editor(doc, view, cut);
//   editor.select(TreeSelection::folder(1));      // instead of view.select()
//   if (ask(editor.deleteQuestion())) editor.deleteRows(selectedRows);
//   editor.undo();                                // what undoText() names
//
// Every command returns a Status; its message (UTF-8) is for an error box.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "addressbook/list_view_state.h"
#include "addressbook/record_set.h"

namespace tarn::addressbook {

// Questions the commands ask first (UTF-8; Yes/No).
inline constexpr std::string_view kRenumberQuestion =
    "送信順を表示順に付け直します。\nよろしいですか？";
inline constexpr std::string_view kDeleteRecordsQuestion =
    "レコードを削除します。\nよろしいですか？";
inline constexpr std::string_view kRemoveMembershipQuestion =
    "レコードをグループメンバシップより削除します。\nよろしいですか？";
// "フォルダ「%s」を削除します。\nよろしいですか？" for a folder or a group.
std::string deleteFolderQuestion(std::string_view nameSjis);

class BookEditor {
public:
    BookEditor(CTarnSendDoc& doc, ListViewState& view, CutBuffer& cutBuffer);

    CTarnSendDoc& document() { return m_doc; }
    const ListViewState& view() const { return m_view; }
    CutBuffer& cutBuffer() { return m_cut; }

    // The tree selection changed: the list follows it, and row moves can no
    // longer be undone.
    void select(const TreeSelection& selection);

    // --- undo
    bool canUndo() const { return !m_doc.undo().empty(); }
    // "元に戻す(&U)" with the kind of the last command, "\tCtrl+Z" (UTF-8).
    std::string undoText() const;
    Status undo();

    // --- records of the list
    // The records in these rows (the blank row and rows past the end are left out).
    std::vector<const Record*> recordsAt(std::span<const std::size_t> rows) const;
    // The question to ask before deleteRows (group lists remove memberships).
    std::string_view deleteQuestion() const;
    // Group list: the records leave the group and stay in the book. Otherwise
    // they are removed from the book (undoable).
    Status deleteRows(std::span<const std::size_t> rows);
    void copyRows(std::span<const std::size_t> rows);
    // Copy, then delete without asking.
    Status cutRows(std::span<const std::size_t> rows);
    // Copies of the cut buffer appended to the book, their rows from
    // `focusedRow` on (undoable). A folder list puts them into its folder, a
    // group list makes them members of its group.
    Status pasteAt(std::size_t focusedRow);
    // Paste on a tree item: "すべて" (0) keeps no folder, n puts them into
    // folder n; on a group they become its members.
    Status pasteOnFolder(std::size_t folderNumber);
    Status pasteOnGroup(std::size_t group);
    bool canPaste() const { return !m_cut.empty(); }

    // --- drops
    // Rows dropped on the list: moved to where `targetRow` is (undoable).
    Status dropRowsOnList(std::span<const std::size_t> rows, std::size_t targetRow);
    // Records dropped on "すべて" (0) or folder n (undoable; records already
    // there are left alone and recorded nowhere).
    Status dropOnFolder(std::span<const Record* const> records, std::size_t folderNumber);
    Status dropOnGroup(std::span<const Record* const> records, std::size_t group);
    // A folder dropped before folder `before` (past the last: to the end).
    Status moveFolder(std::size_t number, std::size_t before);
    Status moveGroup(std::size_t index, std::size_t before);

    // --- send order: the walk follows the rows as they are shown
    Status renumberSendOrder();

    // --- folders and groups (the editors' OK)
    Result<std::size_t> newFolder(std::string nameSjis, std::uint16_t icon);
    Status editFolder(std::size_t number, std::string nameSjis, std::uint16_t icon);
    Status deleteFolder(std::size_t number);
    Result<std::size_t> newGroup(std::string nameSjis, std::uint16_t icon);
    Status editGroup(std::size_t index, std::string nameSjis, std::uint16_t icon);
    Status deleteGroup(std::size_t index);

private:
    friend class RecordEditorSession;

    std::vector<Record> cutBufferCopies(std::optional<std::uint16_t> folder) const;
    Status pasteCopies(std::vector<Record> copies, std::optional<std::size_t> group,
                       std::optional<std::size_t> firstRow);
    std::size_t rowOrZero(const Record* r) const;

    CTarnSendDoc& m_doc;
    ListViewState& m_view;
    CutBuffer& m_cut;
};

// The record editor ("レコード編集") over one list: the record of a row as a
// draft the window fills from its fields, and leaving it with validation and
// save.
//
//   RecordEditorSession s(editor, row);
//   if (auto refused = s.arrive(row)) { error box; ... }   // a full book
//   fill the fields from s.draft(); on "次へ":
//   read the fields into s.draft();
//   if (auto problem = s.leave()) { message; focus problem->field; stay }
//   else s.arrive(s.nextRow());
class RecordEditorSession {
public:
    // What the editor edits: the record's data and the groups it belongs to.
    struct Draft {
        Record record;
        std::vector<bool> memberOf;  // per group index
    };
    // Why the record cannot be left: a field to focus (with its message), or,
    // without a field, an error box.
    struct Problem {
        std::optional<Field> field;
        std::string message;  // UTF-8
    };

    RecordEditorSession(BookEditor& editor, std::size_t row);

    std::size_t row() const { return m_row; }
    bool isNew() const { return m_record == nullptr; }
    Draft& draft() { return m_draft; }
    // "No." shows row + 1.
    bool canPrevious() const { return m_row > 0; }
    bool canNext() const { return m_row + 1 < m_editor.view().recordRowCount(); }
    bool canCreate() const { return m_record != nullptr; }
    std::size_t previousRow() const { return m_row == 0 ? 0 : m_row - 1; }
    std::size_t nextRow() const;
    std::size_t newRow() const { return m_editor.view().recordRowCount(); }

    // Shows `row` (the blank row starts a new record in the list's folder or
    // group). On a full book the blank row is refused: the message comes back
    // and the editor shows the row above, or must close when there is none
    // (closeNow()).
    std::optional<std::string> arrive(std::size_t row);
    bool closeNow() const { return m_close; }

    // Trims and checks the draft, then saves it when it differs from the
    // record (undoable: edit, or new for a new record), with its memberships.
    std::optional<Problem> leave();

private:
    void load();

    BookEditor& m_editor;
    std::size_t m_row = 0;
    const Record* m_record = nullptr;
    Draft m_draft;
    bool m_close = false;
};

}  // namespace tarn::addressbook

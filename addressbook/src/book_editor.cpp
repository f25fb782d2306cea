#include "addressbook/book_editor.h"

#include <algorithm>
#include <unordered_map>

#include "common/cp932.h"
#include "numbers.h"

namespace tarn::addressbook {

namespace {

std::string newRecordRefusedText() {
    return "アドレス帳に登録できるレコードは " + withThousands(CTarnSendDoc::kMaxRecords) +
           " 件までです。新しいレコードは作成できません。";
}

}  // namespace

std::string deleteFolderQuestion(std::string_view nameSjis) {
    return "フォルダ「" + cp932::toUtf8Lossy(nameSjis) + "」を削除します。\nよろしいですか？";
}

BookEditor::BookEditor(CTarnSendDoc& doc, ListViewState& view, CutBuffer& cutBuffer)
    : m_doc(doc), m_view(view), m_cut(cutBuffer) {}

void BookEditor::select(const TreeSelection& selection) {
    m_view.select(selection);
    // Saved rows belong to the list as it was.
    if (!m_doc.undo().empty() && m_doc.undo().back().kind == UndoKind::Move) {
        m_doc.clearUndo();
    }
}

std::size_t BookEditor::rowOrZero(const Record* r) const {
    return m_view.rowOf(r).value_or(0);
}

// --- undo

std::string BookEditor::undoText() const {
    return undoMenuText(m_doc.undo().empty() ? UndoKind::None : m_doc.undo().back().kind);
}

Status BookEditor::undo() {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    std::vector<UndoEntry> entries = m_doc.takeUndo();
    if (entries.empty()) {
        return Ok{};
    }
    // One command's entries are all of one kind; they are undone together,
    // which is the same as undoing them one by one, last first.
    auto savedRows = [&](const std::vector<const Record*>& records) {
        std::vector<std::pair<const Record*, std::size_t>> placement;
        placement.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            placement.emplace_back(records[i], entries[i].row);
        }
        return placement;
    };
    std::vector<const Record*> records;
    records.reserve(entries.size());
    for (const auto& e : entries) {
        records.push_back(e.record);
    }
    Status done = Ok{};
    switch (entries.back().kind) {
        case UndoKind::New:
        case UndoKind::Paste: {
            auto removed = m_doc.removeRecords(records);
            done = removed ? Status(Ok{}) : Status(removed.error());
            break;
        }
        case UndoKind::Edit:
        case UndoKind::FolderChange: {
            std::vector<RecordUpdate> updates;
            updates.reserve(entries.size());
            for (const auto& e : entries) {
                updates.push_back({e.record, e.saved});
            }
            done = m_doc.updateRecords(updates);
            // Records that come back into this list take their rows again.
            if (done) {
                m_view.placeRows(savedRows(records));
            }
            break;
        }
        case UndoKind::Move:
            m_view.placeRows(savedRows(records));
            break;
        case UndoKind::Delete: {
            std::sort(entries.begin(), entries.end(), [](const UndoEntry& a, const UndoEntry& b) {
                return a.position < b.position;
            });
            std::vector<PlacedRecord> placed;
            placed.reserve(entries.size());
            for (const auto& e : entries) {
                placed.push_back({e.position, e.saved, e.memberships});
            }
            auto inserted = m_doc.insertRecords(std::move(placed));
            if (!inserted) {
                done = inserted.error();
                break;
            }
            m_view.placeRows(savedRows(*inserted));
            break;
        }
        default:
            break;
    }
    if (!done) {
        m_doc.setUndo(std::move(entries));  // nothing was changed: it can be tried again
    }
    return done;
}

// --- records of the list

std::vector<const Record*> BookEditor::recordsAt(std::span<const std::size_t> rows) const {
    std::vector<const Record*> records;
    for (std::size_t row : rows) {
        if (const Record* r = m_view.recordAt(row);
            r != nullptr && std::find(records.begin(), records.end(), r) == records.end()) {
            records.push_back(r);
        }
    }
    return records;
}

std::string_view BookEditor::deleteQuestion() const {
    return m_view.selection().groupMode() ? kRemoveMembershipQuestion : kDeleteRecordsQuestion;
}

Status BookEditor::deleteRows(std::span<const std::size_t> rows) {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    const std::vector<const Record*> records = recordsAt(rows);
    if (records.empty()) {
        return Ok{};
    }
    m_doc.clearUndo();
    if (m_view.selection().groupMode()) {
        const auto group = static_cast<std::size_t>(m_view.selectedGroup());
        auto removed = m_doc.removeMembers(group, records);
        return removed ? Status(Ok{}) : Status(removed.error());
    }
    std::unordered_map<std::size_t, std::size_t> rowAt;  // position -> row
    for (const Record* r : records) {
        rowAt.emplace(m_doc.positionOf(r), rowOrZero(r));
    }
    auto removed = m_doc.removeRecords(records);
    if (!removed) {
        return removed.error();
    }
    std::vector<UndoEntry> entries;
    entries.reserve(removed->size());
    for (auto& r : *removed) {
        entries.push_back({UndoKind::Delete, r.position, rowAt.at(r.position), std::move(r.data),
                           nullptr, std::move(r.memberships)});
    }
    m_doc.setUndo(std::move(entries));
    return Ok{};
}

void BookEditor::copyRows(std::span<const std::size_t> rows) {
    std::vector<Record> copies;
    for (const Record* r : recordsAt(rows)) {
        copies.push_back(*r);
        copies.back().setViewPosition(0);
    }
    if (!copies.empty()) {
        m_cut.set(std::move(copies));
    }
}

Status BookEditor::cutRows(std::span<const std::size_t> rows) {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    copyRows(rows);
    return deleteRows(rows);
}

std::vector<Record> BookEditor::cutBufferCopies(std::optional<std::uint16_t> folder) const {
    std::vector<Record> copies = m_cut.records();
    for (Record& r : copies) {
        if (folder) {
            r.setFolder(*folder);
        } else if (m_doc.folderByNumber(r.folder()) == nullptr) {
            r.setFolder(0);  // its folder was deleted since it was copied
        }
    }
    return copies;
}

Status BookEditor::pasteCopies(std::vector<Record> copies, std::optional<std::size_t> group,
                               std::optional<std::size_t> firstRow) {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    if (copies.empty()) {
        return Ok{};
    }
    if (group && m_doc.groupByIndex(*group) == nullptr) {
        return makeError("グループ " + std::to_string(*group + 1) + " はありません。");
    }
    m_doc.clearUndo();
    auto added = m_doc.appendRecords(copies);
    if (!added) {
        return added.error();
    }
    if (group) {
        if (auto joined = m_doc.addMembers(*group, *added); !joined) {
            return joined.error();
        }
    }
    if (firstRow) {
        std::vector<std::pair<const Record*, std::size_t>> placement;
        for (std::size_t i = 0; i < added->size(); ++i) {
            placement.emplace_back((*added)[i], *firstRow + i);
        }
        m_view.placeRows(std::move(placement));
    }
    std::vector<UndoEntry> entries;
    entries.reserve(added->size());
    for (const Record* r : *added) {
        entries.push_back({UndoKind::Paste, m_doc.positionOf(r), rowOrZero(r), {}, r, {}});
    }
    m_doc.setUndo(std::move(entries));
    return Ok{};
}

Status BookEditor::pasteAt(std::size_t focusedRow) {
    const TreeSelection& s = m_view.selection();
    switch (s.kind) {
        case TreeSelection::Kind::All:
            return pasteCopies(cutBufferCopies(std::nullopt), std::nullopt, focusedRow);
        case TreeSelection::Kind::Folder:
            return pasteCopies(cutBufferCopies(static_cast<std::uint16_t>(s.index)), std::nullopt,
                               focusedRow);
        case TreeSelection::Kind::Group:
            return pasteCopies(cutBufferCopies(std::nullopt), s.index, focusedRow);
        case TreeSelection::Kind::GroupRoot:
            break;
    }
    return makeError("貼り付けるフォルダまたはグループを選択してください。");
}

Status BookEditor::pasteOnFolder(std::size_t folderNumber) {
    if (folderNumber != 0 && m_doc.folderByNumber(folderNumber) == nullptr) {
        return makeError("フォルダ " + std::to_string(folderNumber) + " はありません。");
    }
    return pasteCopies(cutBufferCopies(static_cast<std::uint16_t>(folderNumber)), std::nullopt,
                       std::nullopt);
}

Status BookEditor::pasteOnGroup(std::size_t group) {
    return pasteCopies(cutBufferCopies(std::nullopt), group, std::nullopt);
}

// --- drops

Status BookEditor::dropRowsOnList(std::span<const std::size_t> rows, std::size_t targetRow) {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    std::vector<std::size_t> moving;
    std::vector<UndoEntry> entries;
    for (std::size_t row : rows) {
        if (const Record* r = m_view.recordAt(row);
            r != nullptr && std::find(moving.begin(), moving.end(), row) == moving.end()) {
            moving.push_back(row);
            entries.push_back({UndoKind::Move, m_doc.positionOf(r), row, {}, r, {}});
        }
    }
    if (moving.empty()) {
        return Ok{};
    }
    m_doc.clearUndo();
    m_view.moveRows(moving, targetRow);
    m_doc.setUndo(std::move(entries));
    return Ok{};
}

Status BookEditor::dropOnFolder(std::span<const Record* const> records, std::size_t folderNumber) {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    if (folderNumber != 0 && m_doc.folderByNumber(folderNumber) == nullptr) {
        return makeError("フォルダ " + std::to_string(folderNumber) + " はありません。");
    }
    std::vector<const Record*> moving;
    std::vector<UndoEntry> entries;
    for (const Record* r : records) {
        if (!m_doc.contains(r)) {
            return makeError("このアドレス帳にないレコードが指定されました。");
        }
        if (r->folder() != folderNumber &&
            std::find(moving.begin(), moving.end(), r) == moving.end()) {
            moving.push_back(r);
            entries.push_back(
                {UndoKind::FolderChange, m_doc.positionOf(r), rowOrZero(r), *r, r, {}});
        }
    }
    if (moving.empty()) {
        return Ok{};  // already there: nothing changes, nothing to undo
    }
    m_doc.clearUndo();
    if (auto moved = m_doc.setFolder(moving, static_cast<std::uint16_t>(folderNumber)); !moved) {
        return moved;
    }
    m_doc.setUndo(std::move(entries));
    return Ok{};
}

Status BookEditor::dropOnGroup(std::span<const Record* const> records, std::size_t group) {
    auto added = m_doc.addMembers(group, records);
    return added ? Status(Ok{}) : Status(added.error());
}

Status BookEditor::moveFolder(std::size_t number, std::size_t before) {
    return m_doc.moveFolder(number, before);
}

Status BookEditor::moveGroup(std::size_t index, std::size_t before) {
    return m_doc.moveGroup(index, before);
}

// --- send order

Status BookEditor::renumberSendOrder() {
    if (auto ok = m_doc.editable(); !ok) {
        return ok;
    }
    std::vector<const Record*> inRowOrder;
    inRowOrder.reserve(m_view.recordRowCount());
    for (std::size_t row = 0; row < m_view.recordRowCount(); ++row) {
        inRowOrder.push_back(m_view.recordAt(row));
    }
    m_doc.clearUndo();
    switch (m_view.selection().kind) {
        case TreeSelection::Kind::Group:
            return m_doc.setMemberOrder(m_view.selection().index, inRowOrder);
        case TreeSelection::Kind::GroupRoot:
            return Ok{};
        case TreeSelection::Kind::All:
        case TreeSelection::Kind::Folder:
            break;
    }
    return m_doc.arrangeRecords(inRowOrder);
}

// --- folders and groups

Result<std::size_t> BookEditor::newFolder(std::string nameSjis, std::uint16_t icon) {
    return m_doc.addFolder(std::move(nameSjis), icon);
}

Status BookEditor::editFolder(std::size_t number, std::string nameSjis, std::uint16_t icon) {
    return m_doc.editFolder(number, std::move(nameSjis), icon);
}

Status BookEditor::deleteFolder(std::size_t number) {
    return m_doc.removeFolder(number);  // empties the undo list
}

Result<std::size_t> BookEditor::newGroup(std::string nameSjis, std::uint16_t icon) {
    return m_doc.addGroup(std::move(nameSjis), icon);
}

Status BookEditor::editGroup(std::size_t index, std::string nameSjis, std::uint16_t icon) {
    return m_doc.editGroup(index, std::move(nameSjis), icon);
}

Status BookEditor::deleteGroup(std::size_t index) {
    if (auto removed = m_doc.removeGroup(index); !removed) {
        return removed;
    }
    m_doc.clearUndo();
    return Ok{};
}

// --- the record editor

RecordEditorSession::RecordEditorSession(BookEditor& editor, std::size_t row) : m_editor(editor) {
    m_row = std::min(row, editor.view().recordRowCount());
    m_record = editor.view().recordAt(m_row);
    load();
}

void RecordEditorSession::load() {
    const CTarnSendDoc& doc = m_editor.document();
    const ListViewState& view = m_editor.view();
    m_draft = Draft{};
    m_draft.memberOf.assign(doc.groups().size(), false);
    if (m_record != nullptr) {
        m_draft.record = *m_record;
        m_draft.record.setViewPosition(0);
        for (std::size_t g = 0; g < doc.groups().size(); ++g) {
            m_draft.memberOf[g] = doc.isMember(g, m_record);
        }
        return;
    }
    // A new record belongs where the list is: its folder, or its group.
    if (view.selection().kind == TreeSelection::Kind::Folder) {
        m_draft.record.setFolder(static_cast<std::uint16_t>(view.selection().index));
    } else if (view.selection().kind == TreeSelection::Kind::Group &&
               view.selection().index < m_draft.memberOf.size()) {
        m_draft.memberOf[view.selection().index] = true;
    }
}

std::size_t RecordEditorSession::nextRow() const {
    // A record saved into another folder has left a folder's list: the next
    // record is then in the row it had.
    if (m_record != nullptr && !m_editor.view().rowOf(m_record)) {
        return m_row;
    }
    return m_row + 1;
}

std::optional<std::string> RecordEditorSession::arrive(std::size_t row) {
    const ListViewState& view = m_editor.view();
    m_close = false;
    row = std::min(row, view.recordRowCount());
    const Record* r = view.recordAt(row);
    if (r == nullptr && !view.hasBlankRow()) {
        m_close = true;
        return std::string("グループを選択してからレコードを作成してください。");
    }
    if (r == nullptr && !m_editor.document().canAddRecord()) {
        if (row == 0) {
            m_close = true;
        } else {
            m_row = row - 1;
            m_record = view.recordAt(m_row);
            load();
        }
        return newRecordRefusedText();
    }
    m_row = row;
    m_record = r;
    load();
    return std::nullopt;
}

std::optional<RecordEditorSession::Problem> RecordEditorSession::leave() {
    CTarnSendDoc& doc = m_editor.document();
    if (auto ok = doc.editable(); !ok) {
        return Problem{std::nullopt, ok.error().message};
    }
    if (auto problem = CTarnSendDoc::checkRecord(m_draft.record)) {
        return Problem{problem->field, problem->message};
    }
    m_draft.memberOf.resize(doc.groups().size(), false);
    if (m_record != nullptr && !doc.contains(m_record)) {
        return Problem{std::nullopt, "このレコードは、ほかの操作で削除されています。"};
    }
    bool membershipChanged = false;
    for (std::size_t g = 0; g < doc.groups().size(); ++g) {
        membershipChanged = membershipChanged || m_draft.memberOf[g] != (m_record != nullptr &&
                                                                         doc.isMember(g, m_record));
    }
    // Leaving a record that was not changed changes nothing (no undo entry,
    // no modified mark): a person paging through records has nothing to save.
    if (m_record != nullptr && m_record->sameData(m_draft.record) && !membershipChanged) {
        return std::nullopt;
    }
    const ListViewState& view = m_editor.view();
    doc.clearUndo();
    UndoEntry entry;
    entry.row = m_row;
    if (m_record != nullptr) {
        entry.kind = UndoKind::Edit;
        entry.position = doc.positionOf(m_record);
        entry.saved = *m_record;
        entry.record = m_record;
        if (auto saved = doc.updateRecords(std::array{RecordUpdate{m_record, m_draft.record}});
            !saved) {
            return Problem{std::nullopt, saved.error().message};
        }
    } else {
        auto added = doc.appendRecord(m_draft.record);
        if (!added) {
            return Problem{std::nullopt, added.error().message};
        }
        m_record = *added;
        entry.kind = UndoKind::New;
        entry.position = doc.positionOf(m_record);
        entry.record = m_record;
    }
    for (std::size_t g = 0; g < doc.groups().size(); ++g) {
        const std::array one{m_record};
        const bool member = doc.isMember(g, m_record);
        if (m_draft.memberOf[g] && !member) {
            static_cast<void>(doc.addMembers(g, one));  // cannot fail: checked above
        } else if (!m_draft.memberOf[g] && member) {
            static_cast<void>(doc.removeMembers(g, one));
        }
    }
    if (!m_draft.record.honorific().empty()) {
        static_cast<void>(doc.TouchHonorific(m_draft.record.honorific()));
    }
    doc.recordUndo(std::move(entry));
    if (auto row = view.rowOf(m_record)) {
        m_row = *row;
    }
    return std::nullopt;
}

}  // namespace tarn::addressbook

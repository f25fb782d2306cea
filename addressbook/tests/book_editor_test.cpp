#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "addressbook/book_editor.h"
#include "common/cp932.h"

namespace tarn::addressbook {
namespace {

std::string sj(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

Record person(const std::string& name, std::uint16_t folder = 0) {
    Record r;
    r.setText(Field::Name, name);
    r.setText(Field::Email, name + "@example.jp");
    r.setFolder(folder);
    return r;
}

// Editing over a five-record book: a, b, c in folder 1, d in 2, e without.
class BookEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
        std::array records{person("a", 1), person("b", 1), person("c", 1), person("d", 2),
                           person("e", 0)};
        ASSERT_TRUE(doc.appendRecords(records));
        doc.setModifiedFlag(false);
        view.sort(ListColumn::SendOrder, SortOrder::Ascending);
    }

    // Names in record order.
    std::string book() const {
        std::string out;
        for (std::size_t i = 0; i < doc.recordCount(); ++i) {
            out += std::string(doc.record(i).name());
        }
        return out;
    }
    // Names row by row, with the send order: "a1 b2".
    std::string list() const {
        std::string out;
        for (std::size_t row = 0; row < view.recordRowCount(); ++row) {
            out += (out.empty() ? "" : " ") + view.text(row, ListColumn::Name) +
                   view.text(row, ListColumn::SendOrder);
        }
        return out;
    }
    std::string members(std::size_t group) const {
        std::string out;
        for (const Record* r : doc.groups().at(group).members) {
            out += std::string(r->name());
        }
        return out;
    }
    const Record* named(const std::string& name) const {
        for (std::size_t i = 0; i < doc.recordCount(); ++i) {
            if (doc.record(i).name() == name) {
                return &doc.record(i);
            }
        }
        return nullptr;
    }
    std::vector<std::size_t> rowsOf(std::initializer_list<const char*> names) const {
        std::vector<std::size_t> rows;
        for (const char* n : names) {
            rows.push_back(*view.rowOf(named(n)));
        }
        return rows;
    }

    CTarnSendDoc doc;
    ListViewState view{doc};
    CutBuffer cut;
    BookEditor editor{doc, view, cut};
};

TEST_F(BookEditorTest, DeleteAndItsUndoPutEverythingBack) {
    ASSERT_TRUE(doc.addMembers(2, std::array{named("d"), named("b")}));
    view.sort(ListColumn::Name, SortOrder::Descending);  // e d c b a
    EXPECT_EQ(editor.deleteQuestion(), kDeleteRecordsQuestion);
    ASSERT_TRUE(editor.deleteRows(rowsOf({"b", "d"})));
    EXPECT_EQ(book(), "ace");
    EXPECT_EQ(list(), "e3 c2 a1");
    EXPECT_EQ(members(2), "");
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)削除\tCtrl+Z");
    EXPECT_TRUE(doc.isModified());

    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(book(), "abcde");
    EXPECT_EQ(list(), "e5 d4 c3 b2 a1");  // the rows where they were
    EXPECT_EQ(members(2), "db");          // and the memberships
    EXPECT_FALSE(editor.canUndo());
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)\tCtrl+Z");
}

TEST_F(BookEditorTest, DeleteInAGroupRemovesTheMembershipOnly) {
    ASSERT_TRUE(doc.addMembers(0, std::array{named("e"), named("a"), named("c")}));
    editor.select(TreeSelection::group(0));
    EXPECT_EQ(list(), "e1 a2 c3");
    EXPECT_EQ(editor.deleteQuestion(), kRemoveMembershipQuestion);
    ASSERT_TRUE(editor.deleteRows(rowsOf({"a"})));
    EXPECT_EQ(list(), "e1 c2");
    EXPECT_EQ(members(0), "ec");
    EXPECT_EQ(book(), "abcde");  // still in "すべて"
    EXPECT_FALSE(editor.canUndo());
}

TEST_F(BookEditorTest, CutPasteAndCopyThroughTheCutBuffer) {
    editor.select(TreeSelection::folder(1));
    EXPECT_EQ(list(), "a1 b2 c3");
    ASSERT_TRUE(editor.cutRows(rowsOf({"b"})));
    EXPECT_EQ(book(), "acde");
    EXPECT_EQ(cut.records().size(), 1u);
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)削除\tCtrl+Z");

    // pasted into folder 2's list at the focused row: the copy takes that folder
    editor.select(TreeSelection::folder(2));
    ASSERT_TRUE(editor.pasteAt(0));
    EXPECT_EQ(list(), "b2 d1");  // the row at the focus; sent after d
    EXPECT_EQ(named("b")->folder(), 2);
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)貼り付け\tCtrl+Z");
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(book(), "acde");

    // a copy leaves the book alone; paste on the "すべて" item keeps no folder,
    // on a group item makes the copies members
    editor.select(TreeSelection::all());
    editor.copyRows(rowsOf({"a", "e"}));
    EXPECT_EQ(book(), "acde");
    ASSERT_TRUE(editor.pasteOnFolder(0));
    EXPECT_EQ(book(), "acdeae");
    EXPECT_EQ(doc.record(4).folder(), 0);
    ASSERT_TRUE(editor.pasteOnGroup(4));
    EXPECT_EQ(book(), "acdeaeae");
    EXPECT_EQ(members(4), "ae");
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)貼り付け\tCtrl+Z");
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(book(), "acdeae");
    EXPECT_EQ(members(4), "");
    // the cut buffer outlives a delete (nothing cut is lost)
    ASSERT_TRUE(editor.deleteRows(rowsOf({"c"})));
    EXPECT_EQ(cut.records().size(), 2u);
    // on the group root nothing can be pasted
    editor.select(TreeSelection::groupRoot());
    EXPECT_FALSE(editor.pasteAt(0));
}

TEST_F(BookEditorTest, PasteKeepsTheRecordLimitAndAFolderThatStillExists) {
    ASSERT_TRUE(doc.setFolder(std::array{named("d")}, 5));
    editor.copyRows(rowsOf({"d"}));
    ASSERT_TRUE(editor.deleteFolder(5));
    ASSERT_TRUE(editor.pasteOnGroup(0));  // its folder was deleted: no folder
    EXPECT_EQ(doc.record(doc.recordCount() - 1).folder(), 0);
    EXPECT_EQ(members(0), "d");

    std::vector<Record> fill(CTarnSendDoc::kMaxRecords - doc.recordCount(), person("x"));
    ASSERT_TRUE(doc.appendRecords(fill));
    editor.copyRows(rowsOf({"a", "b"}));
    auto refused = editor.pasteOnFolder(0);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, CTarnSendDoc::tooManyRecordsText(2));
    EXPECT_EQ(doc.recordCount(), CTarnSendDoc::kMaxRecords);
}

TEST_F(BookEditorTest, DropsOnTheListMoveRowsOnlyAndUndoPutsThemBack) {
    ASSERT_TRUE(editor.dropRowsOnList(rowsOf({"a", "b"}), 4));  // onto e
    EXPECT_EQ(list(), "c3 d4 a1 b2 e5");
    EXPECT_EQ(book(), "abcde");
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)移動\tCtrl+Z");
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(list(), "a1 b2 c3 d4 e5");

    // another tree item: row moves can no longer be undone
    ASSERT_TRUE(editor.dropRowsOnList(rowsOf({"e"}), 0));
    editor.select(TreeSelection::folder(1));
    EXPECT_FALSE(editor.canUndo());
}

TEST_F(BookEditorTest, RecordsDroppedOnAFolderMoveThereAndBack) {
    editor.select(TreeSelection::folder(1));
    ASSERT_TRUE(editor.dropOnFolder(std::array{named("a"), named("c")}, 2));
    EXPECT_EQ(list(), "b1");  // they left this folder's list
    EXPECT_EQ(named("a")->folder(), 2);
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)ﾌｫﾙﾀﾞ変更\tCtrl+Z");

    // dropped on the folder it is in: unchanged, no undo entry, the last undo kept
    doc.setModifiedFlag(false);
    ASSERT_TRUE(editor.dropOnFolder(std::array{named("b")}, 1));
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)ﾌｫﾙﾀﾞ変更\tCtrl+Z");
    EXPECT_FALSE(doc.isModified());

    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(list(), "a1 b2 c3");  // back in their rows
    EXPECT_TRUE(doc.isModified());

    // on "すべて": no folder; on a group: members, once each
    ASSERT_TRUE(editor.dropOnFolder(std::array{named("b")}, 0));
    EXPECT_EQ(named("b")->folder(), 0);
    ASSERT_TRUE(editor.dropOnGroup(std::array{named("c"), named("a")}, 1));
    ASSERT_TRUE(editor.dropOnGroup(std::array{named("a")}, 1));
    EXPECT_EQ(members(1), "ca");
    EXPECT_FALSE(editor.dropOnFolder(std::array{named("a")}, 9));
}

TEST_F(BookEditorTest, RenumberingMakesTheSendOrderFollowTheRows) {
    // after sorting by name (descending) and renumbering, the record list
    // follows the names
    view.sort(ListColumn::Name, SortOrder::Descending);
    ASSERT_TRUE(editor.renumberSendOrder());
    EXPECT_EQ(book(), "edcba");
    EXPECT_EQ(list(), "e1 d2 c3 b4 a5");
    EXPECT_TRUE(doc.isModified());
    EXPECT_FALSE(editor.canUndo());

    // in a folder only the shown records move, within the places they hold
    editor.select(TreeSelection::folder(1));
    view.sort(ListColumn::Name, SortOrder::Ascending);
    ASSERT_TRUE(editor.renumberSendOrder());
    EXPECT_EQ(book(), "edabc");

    // in a group the membership order follows the rows
    ASSERT_TRUE(doc.addMembers(0, std::array{named("c"), named("a"), named("e")}));
    editor.select(TreeSelection::group(0));
    view.sort(ListColumn::Name, SortOrder::Ascending);
    EXPECT_EQ(list(), "a2 c1 e3");
    ASSERT_TRUE(editor.renumberSendOrder());
    EXPECT_EQ(members(0), "ace");
    EXPECT_EQ(list(), "a1 c2 e3");
    EXPECT_EQ(book(), "edabc");
}

TEST_F(BookEditorTest, DeletingAMiddleFolderRenumbersLaterRecordsAndEmptiesUndo) {
    ASSERT_TRUE(doc.setFolder(std::array{named("e")}, 3));
    ASSERT_TRUE(editor.deleteRows(rowsOf({"a"})));
    ASSERT_TRUE(editor.canUndo());
    editor.select(TreeSelection::folder(3));
    EXPECT_EQ(list(), "e1");
    EXPECT_EQ(deleteFolderQuestion(doc.folders()[1].name),
              "フォルダ「フォルダ2」を削除します。\nよろしいですか？");
    ASSERT_TRUE(editor.deleteFolder(2));
    EXPECT_EQ(named("d")->folder(), 0);
    EXPECT_EQ(named("e")->folder(), 2);
    EXPECT_EQ(named("b")->folder(), 1);
    EXPECT_FALSE(editor.canUndo());
    EXPECT_EQ(view.selection(), TreeSelection::folder(2));  // the list follows folder 3
    EXPECT_EQ(list(), "e1");

    ASSERT_TRUE(editor.deleteRows(rowsOf({"e"})));
    ASSERT_TRUE(doc.addMembers(1, std::array{named("b")}));
    ASSERT_TRUE(editor.deleteGroup(0));
    EXPECT_FALSE(editor.canUndo());
    EXPECT_EQ(members(0), "b");
}

TEST_F(BookEditorTest, FolderAndGroupEditorsKeepTheNameLimit) {
    auto n = editor.newFolder(sj("取引先"), 12);
    ASSERT_TRUE(n);
    EXPECT_EQ(*n, 6u);
    ASSERT_TRUE(editor.editFolder(6, sj("取引先（西）"), 40));
    EXPECT_EQ(doc.folders()[5].icon, 40);
    auto tooLong = editor.editGroup(0, std::string(1025, 'g'), 7);
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().message, "全角で512文字以内で入力してください。");
    EXPECT_EQ(doc.groups()[0].name, sj("グループ1"));
    EXPECT_TRUE(editor.newGroup(std::string(1024, 'g'), 7));
    // a folder dropped on the folder after it stays; moving renumbers records
    ASSERT_TRUE(editor.moveFolder(1, 2));
    EXPECT_EQ(named("a")->folder(), 1);
    ASSERT_TRUE(editor.moveFolder(1, 0));  // dropped outside any folder: to the end
    EXPECT_EQ(named("a")->folder(), 6);
    EXPECT_EQ(named("d")->folder(), 1);
}

TEST_F(BookEditorTest, TheRecordEditorChecksSavesAndUndoes) {
    ASSERT_TRUE(doc.addMembers(3, std::array{named("b")}));
    doc.setModifiedFlag(false);
    editor.select(TreeSelection::folder(1));  // a b c and the blank row
    RecordEditorSession s(editor, 1);
    EXPECT_TRUE(s.canPrevious());
    EXPECT_TRUE(s.canNext());
    EXPECT_TRUE(s.canCreate());
    EXPECT_EQ(s.draft().record.name(), "b");
    EXPECT_TRUE(s.draft().memberOf[3]);

    // paging through without a change saves nothing
    EXPECT_FALSE(s.leave());
    EXPECT_FALSE(doc.isModified());
    EXPECT_FALSE(editor.canUndo());

    // the first failing field in the editor's order, after trimming blanks
    s.draft().record.setText(Field::Email, sj("　 "));
    auto problem = s.leave();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->field, Field::Email);
    EXPECT_EQ(problem->message, "電子メールアドレスが登録されていません");
    EXPECT_EQ(named("b")->email(), "b@example.jp");

    // a change with memberships and a new honorific
    s.draft().record.setText(Field::Email, "b2@example.jp  ");
    s.draft().record.setText(Field::Honorific, sj("各位"));
    s.draft().memberOf[3] = false;
    s.draft().memberOf[0] = true;
    EXPECT_FALSE(s.leave());
    EXPECT_EQ(named("b")->email(), "b2@example.jp");
    EXPECT_EQ(members(0), "b");
    EXPECT_EQ(members(3), "");
    EXPECT_EQ(doc.honorifics().front(), sj("各位"));
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)編集\tCtrl+Z");
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(named("b")->email(), "b@example.jp");

    // moved to another folder in the editor: it leaves this list, and "next"
    // is the record that took its row
    ASSERT_FALSE(s.arrive(1));
    s.draft().record.setFolder(2);
    EXPECT_FALSE(s.leave());
    EXPECT_EQ(list(), "a1 c2");
    EXPECT_EQ(s.nextRow(), 1u);

    // the blank row: a new record in this folder, undone by deleting it again
    EXPECT_FALSE(s.arrive(s.newRow()));
    EXPECT_TRUE(s.isNew());
    EXPECT_FALSE(s.canCreate());
    EXPECT_EQ(s.draft().record.folder(), 1);
    s.draft().record.setText(Field::Email, "new@example.jp");
    s.draft().record.setText(Field::Name, "n");
    EXPECT_FALSE(s.leave());
    EXPECT_EQ(list(), "a1 c2 n3");
    EXPECT_EQ(view.rowCount(), 4u);  // a new blank row
    EXPECT_FALSE(s.isNew());
    EXPECT_EQ(s.row(), 2u);
    EXPECT_EQ(editor.undoText(), "元に戻す(&U)新規\tCtrl+Z");
    ASSERT_TRUE(editor.undo());
    EXPECT_EQ(book(), "abcde");

    // a new record in a group's list joins the group
    editor.select(TreeSelection::group(2));
    RecordEditorSession g(editor, 0);
    EXPECT_TRUE(g.isNew());
    EXPECT_TRUE(g.draft().memberOf[2]);
    g.draft().record.setText(Field::Email, "g@example.jp");
    EXPECT_FALSE(g.leave());
    EXPECT_EQ(view.recordRowCount(), 1u);
}

TEST_F(BookEditorTest, ANewRecordIsRefusedInAFullBook) {
    std::vector<Record> fill(CTarnSendDoc::kMaxRecords - doc.recordCount(), person("x", 3));
    ASSERT_TRUE(doc.appendRecords(fill));
    editor.select(TreeSelection::folder(1));
    RecordEditorSession s(editor, 2);
    auto refused = s.arrive(s.newRow());
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("99,999"), std::string::npos);
    EXPECT_EQ(s.row(), 2u);  // one row up from the blank row
    EXPECT_FALSE(s.closeNow());
    EXPECT_EQ(s.draft().record.name(), "c");

    editor.select(TreeSelection::folder(5));  // nothing but the blank row
    RecordEditorSession empty(editor, 0);
    ASSERT_TRUE(empty.arrive(0));
    EXPECT_TRUE(empty.closeNow());
}

TEST_F(BookEditorTest, EditingIsRefusedDuringARun) {
    editor.copyRows(rowsOf({"a"}));
    auto run = doc.beginRun();
    ASSERT_TRUE(run);
    for (const Status& refused :
         {editor.deleteRows(rowsOf({"a"})), editor.cutRows(rowsOf({"a"})), editor.pasteAt(0),
          editor.dropRowsOnList(rowsOf({"a"}), 3), editor.renumberSendOrder(),
          editor.dropOnFolder(std::array{named("a")}, 2), editor.undo()}) {
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().message, kRunInProgressText);
    }
    RecordEditorSession s(editor, 0);
    s.draft().record.setText(Field::Name, "changed");
    auto problem = s.leave();
    ASSERT_TRUE(problem);
    EXPECT_FALSE(problem->field);
    EXPECT_EQ(problem->message, kRunInProgressText);
    EXPECT_EQ(book(), "abcde");
    EXPECT_EQ(list(), "a1 b2 c3 d4 e5");
}

}  // namespace
}  // namespace tarn::addressbook

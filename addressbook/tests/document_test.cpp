#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "common/cp932.h"

namespace tarn::addressbook {
namespace {

std::string sj(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

Record withEmail(const std::string& email, std::uint16_t folder = 0) {
    Record r;
    r.setText(Field::Email, email);
    r.setFolder(folder);
    return r;
}

std::vector<std::string> emails(const CTarnSendDoc& doc) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < doc.recordCount(); ++i) {
        out.emplace_back(doc.record(i).email());
    }
    return out;
}

std::vector<std::string> memberEmails(const CTarnSendDoc& doc, std::size_t group) {
    std::vector<std::string> out;
    for (const Record* r : doc.groups().at(group).members) {
        out.emplace_back(r->email());
    }
    return out;
}

// A new document with records a@x ... in folders as given.
void fill(CTarnSendDoc& doc, const std::vector<std::pair<std::string, std::uint16_t>>& records) {
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    for (const auto& [email, folder] : records) {
        ASSERT_TRUE(doc.appendRecord(withEmail(email, folder)));
    }
    doc.setModifiedFlag(false);
}

TEST(Document, NewDocumentReplacesEverythingWithTheDefaults) {
    FreeFieldTitles titles = defaultFreeFieldTitles();
    EXPECT_EQ(titles[9], "Freefield10(&J)");
    titles[2] = sj("電話");
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.appendRecord(withEmail("old@example.jp")));
    doc.recordUndo({UndoKind::Delete, 0, 0, {}, nullptr, {}});
    ASSERT_TRUE(doc.OnNewDocument(titles));

    ASSERT_EQ(doc.folders().size(), 5u);
    ASSERT_EQ(doc.groups().size(), 5u);
    EXPECT_EQ(doc.folders()[4].name, sj("フォルダ5"));
    EXPECT_EQ(doc.folders()[4].icon, 6);
    EXPECT_EQ(doc.groups()[0].name, sj("グループ1"));
    EXPECT_EQ(doc.groups()[0].icon, 7);
    ASSERT_EQ(doc.honorifics().size(), 9u);
    EXPECT_EQ(doc.honorifics().front(), sj("様"));
    EXPECT_EQ(doc.honorifics().back(), sj("ちゃん"));
    EXPECT_EQ(doc.freeFieldTitles(), titles);
    EXPECT_EQ(doc.recordCount(), 0u);
    EXPECT_TRUE(doc.undo().empty());
    EXPECT_FALSE(doc.isModified());
}

TEST(Document, TouchHonorificMovesOrInsertsAtTheFront) {
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.setHonorifics({"a", "b", "c"}));
    EXPECT_FALSE(doc.TouchHonorific("a").value());
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(doc.TouchHonorific("c").value());
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_TRUE(doc.TouchHonorific("new").value());
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{"new", "c", "a", "b"}));
    CTarnSendDoc empty;
    EXPECT_TRUE(empty.TouchHonorific("x").value());
}

TEST(Document, RemovedRecordsLeaveEveryGroupAndComeBackWithTheirMemberships) {
    CTarnSendDoc doc;
    fill(doc, {{"a@x", 0}, {"b@x", 0}, {"c@x", 0}, {"d@x", 0}});
    const Record* a = &doc.record(0);
    const Record* b = &doc.record(1);
    const Record* d = &doc.record(3);
    ASSERT_EQ(doc.addMembers(0, std::array{d, b, a}).value(), 3u);
    ASSERT_EQ(doc.addMembers(0, std::array{b}).value(), 0u);  // at most once per group
    ASSERT_TRUE(doc.addMembers(2, std::array{b}));

    auto removed = doc.removeRecords(std::array{d, b});
    ASSERT_TRUE(removed);
    EXPECT_EQ(emails(doc), (std::vector<std::string>{"a@x", "c@x"}));
    EXPECT_EQ(memberEmails(doc, 0), (std::vector<std::string>{"a@x"}));
    EXPECT_TRUE(doc.groups()[2].members.empty());
    ASSERT_EQ(removed->size(), 2u);  // in position order
    EXPECT_EQ((*removed)[0].position, 1u);
    EXPECT_EQ((*removed)[0].data.email(), "b@x");
    ASSERT_EQ((*removed)[0].memberships.size(), 2u);
    EXPECT_EQ((*removed)[0].memberships[0].group, 0u);
    EXPECT_EQ((*removed)[0].memberships[0].index, 1u);
    EXPECT_EQ((*removed)[0].memberships[1].group, 2u);
    EXPECT_EQ((*removed)[1].position, 3u);

    // Put back exactly where they were, memberships included.
    std::vector<PlacedRecord> back;
    for (auto& r : *removed) {
        back.push_back({r.position, r.data, r.memberships});
    }
    ASSERT_TRUE(doc.insertRecords(std::move(back)));
    EXPECT_EQ(emails(doc), (std::vector<std::string>{"a@x", "b@x", "c@x", "d@x"}));
    EXPECT_EQ(memberEmails(doc, 0), (std::vector<std::string>{"d@x", "b@x", "a@x"}));
    EXPECT_EQ(memberEmails(doc, 2), (std::vector<std::string>{"b@x"}));

    // A record of another document, or the same record twice, is refused.
    CTarnSendDoc other;
    fill(other, {{"z@x", 0}});
    EXPECT_FALSE(doc.removeRecords(std::array{&other.record(0)}));
    EXPECT_FALSE(doc.removeRecords(std::array{&doc.record(0), &doc.record(0)}));
    EXPECT_FALSE(doc.addMembers(0, std::array{&other.record(0)}));
    EXPECT_EQ(doc.recordCount(), 4u);
}

TEST(Document, FolderMovesAndRemovalsRenumberEveryRecord) {
    CTarnSendDoc doc;
    fill(doc, {{"none", 0}, {"f1", 1}, {"f2", 2}, {"f3", 3}, {"f5", 5}});
    auto folders = [&] {
        std::vector<int> out;
        for (std::size_t i = 0; i < doc.recordCount(); ++i) {
            out.push_back(doc.record(i).folder());
        }
        return out;
    };
    // folder 1 to just before folder 4: 2 and 3 shift down
    ASSERT_TRUE(doc.moveFolder(1, 4));
    EXPECT_EQ(doc.folders()[2].name, sj("フォルダ1"));
    EXPECT_EQ(folders(), (std::vector<int>{0, 3, 1, 2, 5}));
    // onto itself and onto the folder right after it: nothing moves
    doc.setModifiedFlag(false);
    ASSERT_TRUE(doc.moveFolder(3, 3));
    ASSERT_TRUE(doc.moveFolder(3, 4));
    EXPECT_FALSE(doc.isModified());
    // past the last folder: to the end
    ASSERT_TRUE(doc.moveFolder(1, 99));
    EXPECT_EQ(folders(), (std::vector<int>{0, 2, 5, 1, 4}));
    EXPECT_EQ(doc.folders()[4].name, sj("フォルダ2"));

    // deleting a middle folder: its records go to "なし", later ones down by one
    ASSERT_TRUE(doc.removeFolder(2));
    EXPECT_EQ(folders(), (std::vector<int>{0, 0, 4, 1, 3}));
    EXPECT_EQ(doc.folders().size(), 4u);
    EXPECT_FALSE(doc.removeFolder(5));
    EXPECT_FALSE(doc.setFolder(std::array{&doc.record(0)}, 5));  // no such folder
}

TEST(Document, GroupsReorderAndTheirMembersFollowTheGivenOrder) {
    CTarnSendDoc doc;
    fill(doc, {{"a", 0}, {"b", 0}, {"c", 0}});
    const Record* a = &doc.record(0);
    const Record* b = &doc.record(1);
    const Record* c = &doc.record(2);
    ASSERT_TRUE(doc.addMembers(1, std::array{a, b}));
    ASSERT_TRUE(doc.moveGroup(1, 4));  // to just before group index 4
    EXPECT_EQ(doc.groups()[3].name, sj("グループ2"));
    EXPECT_EQ(memberEmails(doc, 3), (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(doc.setMemberOrder(3, std::array{b, a}));
    EXPECT_EQ(memberEmails(doc, 3), (std::vector<std::string>{"b", "a"}));
    EXPECT_FALSE(doc.setMemberOrder(3, std::array{b, c}));  // not the same members
    EXPECT_FALSE(doc.setMemberOrder(3, std::array{b}));
    ASSERT_TRUE(doc.removeGroup(3));
    EXPECT_EQ(doc.groups().size(), 4u);
    EXPECT_EQ(doc.recordCount(), 3u);  // the records stay
}

TEST(Document, ArrangeFillsTheSlotsTheGivenRecordsHeld) {
    CTarnSendDoc doc;
    fill(doc, {{"a", 1}, {"b", 2}, {"c", 1}, {"d", 2}, {"e", 1}});
    // the folder-1 records, reversed, into positions 0, 2 and 4
    ASSERT_TRUE(doc.arrangeRecords(std::array{&doc.record(4), &doc.record(2), &doc.record(0)}));
    EXPECT_EQ(emails(doc), (std::vector<std::string>{"e", "b", "c", "d", "a"}));
    EXPECT_EQ(doc.positionOf(&doc.record(4)), 4u);
}

TEST(Document, TheRecordLimitIsKeptByEveryWayIn) {
    CTarnSendDoc doc;
    std::vector<Record> many(CTarnSendDoc::kMaxRecords - 1, withEmail("r@x"));
    ASSERT_TRUE(doc.appendRecords(many));
    std::array two{withEmail("1@x"), withEmail("2@x")};
    auto refused = doc.appendRecords(two);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, CTarnSendDoc::tooManyRecordsText(1));
    EXPECT_EQ(refused.error().message,
              "アドレス帳に登録できるレコードは 99,999 件までです。あと 1 件は登録できません。");
    EXPECT_EQ(doc.recordCount(), CTarnSendDoc::kMaxRecords - 1);  // nothing half done
    ASSERT_TRUE(doc.appendRecord(withEmail("last@x")));
    EXPECT_FALSE(doc.canAddRecord());
    EXPECT_FALSE(doc.insertRecords({{0, withEmail("x@x"), {}}}));
}

TEST(Document, TheCommandLineWalkFollowsItsSelection) {
    CTarnSendDoc doc;
    fill(doc, {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 0}, {"4", 1}, {"5", 2}});
    ASSERT_TRUE(doc.setStatuses(std::array{StatusUpdate{&doc.record(3), kStatusInvalid}}));

    doc.selectAll();
    EXPECT_EQ(doc.assignViewPositions(), 6u);
    EXPECT_EQ(doc.record(5).viewPosition(), 6u);
    EXPECT_EQ(doc.eligibleCount(), 5u);  // record 3 has an error status

    doc.selectFolder(1);
    EXPECT_EQ(doc.assignViewPositions(), 2u);
    EXPECT_EQ(doc.shownRecords(), (std::vector<const Record*>{&doc.record(1), &doc.record(4)}));

    ASSERT_TRUE(doc.addMembers(2, std::array{&doc.record(5), &doc.record(0)}));
    doc.selectGroup(2);
    EXPECT_EQ(doc.assignViewPositions(), 2u);
    EXPECT_EQ(doc.record(5).viewPosition(), 1u);
    EXPECT_EQ(doc.record(0).viewPosition(), 2u);
    EXPECT_EQ(doc.shownRecords(), (std::vector<const Record*>{&doc.record(5), &doc.record(0)}));

    doc.selectGroup(-1);  // the group branch itself: nothing shown
    EXPECT_EQ(doc.assignViewPositions(), 0u);
    EXPECT_EQ(doc.eligibleCount(), 0u);
}

TEST(Document, RecordEditorLimits) {
    auto problem = [](Record r) { return CTarnSendDoc::checkRecord(r); };
    Record ok = withEmail("a@example.jp");
    ok.setText(Field::Company, std::string(1024, 'c'));
    ok.setText(Field::Name, std::string(512, 'n'));
    EXPECT_FALSE(problem(ok));

    Record r = ok;
    r.setText(Field::Company, std::string(1025, 'c'));
    r.setText(Field::Name, std::string(513, 'n'));  // company is reported first
    auto p = problem(r);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->field, Field::Company);
    EXPECT_EQ(p->message, "全角で512文字以内で入力してください。");

    for (Field f : {Field::Department, Field::Title, Field::Name, Field::Email}) {
        Record t = ok;
        t.setText(f, std::string(513, 'x'));
        p = problem(t);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->field, f);
        EXPECT_EQ(p->message, "半角で512文字以内で入力してください。");
    }

    // trailing blanks are removed first: a 512-byte name plus blanks fits, and
    // an address of blanks only is empty
    Record blanks = ok;
    blanks.setText(Field::Name, std::string(512, 'n') + "  \t");
    blanks.setText(Field::Email, "   ");
    p = CTarnSendDoc::checkRecord(blanks);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->field, Field::Email);
    EXPECT_EQ(p->message, "電子メールアドレスが登録されていません");
    EXPECT_EQ(blanks.name().size(), 512u);

    // full-width spaces at the end go too; "ー" (0x81 0x5B) and a trail byte
    // 0x40 inside "ァ" (0x83 0x40) are not blanks
    Record wide = ok;
    wide.setText(Field::Title, sj("課長ーァ　 　"));
    EXPECT_FALSE(CTarnSendDoc::checkRecord(wide));
    EXPECT_EQ(wide.title(), sj("課長ーァ"));

    EXPECT_FALSE(CTarnSendDoc::checkFolderName(std::string(1024, 'f')));
    EXPECT_EQ(CTarnSendDoc::checkFolderName(std::string(1025, 'f')),
              "全角で512文字以内で入力してください。");
    CTarnSendDoc doc;
    auto tooLong = doc.addFolder(std::string(1025, 'f'), 2);
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().message, "全角で512文字以内で入力してください。");
}

TEST(Document, UndoMenuTexts) {
    EXPECT_EQ(undoMenuText(UndoKind::None), "元に戻す(&U)\tCtrl+Z");
    EXPECT_EQ(undoMenuText(UndoKind::FolderChange), "元に戻す(&U)ﾌｫﾙﾀﾞ変更\tCtrl+Z");
    EXPECT_EQ(undoMenuText(UndoKind::Delete), "元に戻す(&U)削除\tCtrl+Z");
}

}  // namespace
}  // namespace tarn::addressbook

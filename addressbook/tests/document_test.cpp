#include <gtest/gtest.h>

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

TEST(Document, NewDocumentReplacesEverythingWithTheDefaults) {
    FreeFieldTitles titles = defaultFreeFieldTitles();
    EXPECT_EQ(titles[9], "Freefield10(&J)");
    titles[2] = sj("電話");
    CTarnSendDoc doc;
    doc.appendRecord(withEmail("old@example.jp"));
    doc.selectGroup(2);
    doc.undo().push_back({UndoKind::Delete, 0, 0, {}});
    doc.setModifiedFlag();
    doc.OnNewDocument(titles);

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
    EXPECT_EQ(doc.selectionKind(), kSelectFolder);
    EXPECT_EQ(doc.selectedFolder(), 0);
    EXPECT_TRUE(doc.undo().empty());
    EXPECT_FALSE(doc.isModified());
}

TEST(Document, TouchHonorificMovesOrInsertsAtTheFront) {
    CTarnSendDoc doc;
    doc.honorifics() = {"a", "b", "c"};
    EXPECT_FALSE(doc.TouchHonorific("a"));
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(doc.TouchHonorific("c"));
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_TRUE(doc.TouchHonorific("new"));
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{"new", "c", "a", "b"}));
}

TEST(Document, RemovingARecordTakesItOutOfEveryGroup) {
    CTarnSendDoc doc;
    doc.OnNewDocument(defaultFreeFieldTitles());
    doc.appendRecord(withEmail("a@x"));
    doc.appendRecord(withEmail("c@x"));
    Record* b = &doc.insertRecord(1, withEmail("b@x"));
    EXPECT_TRUE(doc.addMember(0, b));
    EXPECT_FALSE(doc.addMember(0, b));  // at most once per group
    EXPECT_TRUE(doc.addMember(1, b));
    EXPECT_TRUE(doc.addMember(1, &doc.record(0)));
    EXPECT_EQ(doc.positionOf(b), 1u);

    doc.removeRecord(1);
    EXPECT_EQ(doc.positionOf(b), 2u);  // not found: the record count
    EXPECT_TRUE(doc.groups()[0].members.empty());
    EXPECT_EQ(doc.groups()[1].members, (std::vector<Record*>{&doc.record(0)}));
}

TEST(Document, ViewPositionsFollowTheSelection) {
    CTarnSendDoc doc;
    doc.OnNewDocument(defaultFreeFieldTitles());
    for (int i = 0; i < 6; ++i) {
        doc.appendRecord(withEmail(std::to_string(i) + "@x", static_cast<std::uint16_t>(i % 3)));
    }
    doc.record(3).setStatus(kStatusInvalid);

    doc.selectAll();
    EXPECT_EQ(doc.assignViewPositions(), 6u);
    EXPECT_EQ(doc.record(5).viewPosition(), 6u);
    EXPECT_EQ(doc.eligibleCount(), 5u);  // record 3 has an error status

    doc.selectFolder(1);  // records 1 and 4
    EXPECT_EQ(doc.assignViewPositions(), 2u);
    EXPECT_EQ(doc.record(0).viewPosition(), 0u);
    EXPECT_EQ(doc.record(1).viewPosition(), 1u);
    EXPECT_EQ(doc.record(4).viewPosition(), 2u);
    EXPECT_EQ(doc.shownRecords(), (std::vector<Record*>{&doc.record(1), &doc.record(4)}));

    // a group is walked in membership order, not record order
    doc.addMember(2, &doc.record(5));
    doc.addMember(2, &doc.record(0));
    doc.selectGroup(2);
    EXPECT_EQ(doc.assignViewPositions(), 2u);
    EXPECT_EQ(doc.record(5).viewPosition(), 1u);
    EXPECT_EQ(doc.record(0).viewPosition(), 2u);
    EXPECT_EQ(doc.record(1).viewPosition(), 0u);
    EXPECT_EQ(doc.shownRecords(), (std::vector<Record*>{&doc.record(5), &doc.record(0)}));

    doc.selectGroup(-1);  // the group branch itself: nothing shown
    EXPECT_EQ(doc.assignViewPositions(), 0u);
    EXPECT_TRUE(doc.shownRecords().empty());
    EXPECT_EQ(doc.eligibleCount(), 0u);
}

TEST(Document, AFullBookShowsEveryRecordInAll) {
    // Row numbers above 65,535 must not wrap to 0 ("not shown"), or a send of
    // "すべて" would silently skip the end of a large book.
    CTarnSendDoc doc;
    for (std::size_t i = 0; i < CTarnSendDoc::kMaxRecords; ++i) {
        doc.appendRecord(withEmail("r@x"));
    }
    EXPECT_FALSE(doc.canAddRecord());
    doc.selectAll();
    EXPECT_EQ(doc.assignViewPositions(), CTarnSendDoc::kMaxRecords);
    EXPECT_EQ(doc.record(65'535).viewPosition(), 65'536u);
    EXPECT_EQ(doc.eligibleCount(), CTarnSendDoc::kMaxRecords);
    EXPECT_EQ(doc.shownRecords().size(), CTarnSendDoc::kMaxRecords);
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
}

class Recorder : public DocumentListener {
public:
    void onDocumentUpdate(int hint) override { hints.push_back(hint); }
    std::vector<int> hints;
};

TEST(Document, ListenersStayWhenANewDocumentIsMade) {
    CTarnSendDoc doc;
    Recorder a;
    doc.addListener(&a);
    doc.addListener(&a);
    doc.OnNewDocument(defaultFreeFieldTitles());
    doc.UpdateAllViews(8);
    doc.removeListener(&a);
    doc.UpdateAllViews(2);
    EXPECT_EQ(a.hints, (std::vector<int>{8}));
}

}  // namespace
}  // namespace tarn::addressbook

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "addressbook/list_view_state.h"
#include "common/cp932.h"

namespace tarn::addressbook {
namespace {

std::string sj(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

Record person(const std::string& name, const std::string& email, std::uint16_t folder = 0,
              std::int32_t status = kStatusNormal) {
    Record r;
    r.setText(Field::Name, name);
    r.setText(Field::Email, email);
    r.setFolder(folder);
    r.setStatus(status);
    return r;
}

// The names shown, row by row, with the send order: "b:2".
std::vector<std::string> rows(const ListViewState& view) {
    std::vector<std::string> out;
    for (std::size_t row = 0; row < view.recordRowCount(); ++row) {
        out.push_back(view.text(row, ListColumn::Name) + ":" +
                      view.text(row, ListColumn::SendOrder));
    }
    return out;
}

// Checks that every change is told the way an item model needs it: begin and
// end in pairs, row counts that add up, changed rows that exist.
class CheckingObserver : public ListViewObserver {
public:
    explicit CheckingObserver(const ListViewState& view) : m_view(view) {
        m_rows = view.rowCount();
    }
    int resets = 0;
    int inserts = 0;
    int removes = 0;
    int layouts = 0;
    int followed = 0;

    void beginReset() override { begin("reset"); }
    void endReset() override {
        end("reset");
        m_rows = m_view.rowCount();
        ++resets;
    }
    void beginInsertRows(std::size_t first, std::size_t count) override {
        begin("insert");
        EXPECT_EQ(m_view.rowCount(), m_rows);
        EXPECT_LE(first, m_view.recordRowCount());  // never after the blank row
        m_rows += count;
    }
    void endInsertRows() override {
        end("insert");
        EXPECT_EQ(m_view.rowCount(), m_rows);
        ++inserts;
    }
    void beginRemoveRows(std::size_t first, std::size_t count) override {
        begin("remove");
        EXPECT_EQ(m_view.rowCount(), m_rows);
        EXPECT_LE(first + count, m_view.recordRowCount());
        m_rows -= count;
    }
    void endRemoveRows() override {
        end("remove");
        EXPECT_EQ(m_view.rowCount(), m_rows);
        ++removes;
    }
    void beginLayoutChange() override { begin("layout"); }
    void endLayoutChange() override {
        end("layout");
        EXPECT_EQ(m_view.rowCount(), m_rows);
        ++layouts;
    }
    void rowsChanged(std::size_t first, std::size_t last) override {
        EXPECT_TRUE(m_open.empty());
        EXPECT_LE(first, last);
        EXPECT_LT(last, m_view.recordRowCount());
    }
    void selectionFollowed() override { ++followed; }

private:
    void begin(const std::string& what) {
        EXPECT_TRUE(m_open.empty()) << what << " inside " << m_open;
        m_open = what;
    }
    void end(const std::string& what) {
        EXPECT_EQ(m_open, what);
        m_open.clear();
    }
    const ListViewState& m_view;
    std::size_t m_rows = 0;
    std::string m_open;
};

class ListViewStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
        std::array records{person("d", "d@x", 1), person("b", "b@x", 2, kStatusInvalid),
                           person("a", "a@x", 1), person("c", "c@x", 0),
                           person("b", "b2@x", 1, kStatusSendError)};
        ASSERT_TRUE(doc.appendRecords(records));
    }
    const Record* at(std::size_t position) const { return &doc.record(position); }

    CTarnSendDoc doc;
};

TEST_F(ListViewStateTest, EachTreeItemShowsItsRecordsWithTheBlankRowLast) {
    ListViewState view(doc);
    view.sort(ListColumn::SendOrder, SortOrder::Ascending);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "b:2", "a:3", "c:4", "b:5"}));
    EXPECT_EQ(view.rowCount(), 6u);
    EXPECT_TRUE(view.isBlankRow(5));
    EXPECT_EQ(view.recordAt(5), nullptr);
    EXPECT_EQ(view.text(5, ListColumn::Name), "");
    EXPECT_EQ(view.eligibleCount(), 3u);

    view.select(TreeSelection::folder(1));
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "a:2", "b:3"}));
    EXPECT_EQ(view.selectedFolder(), 1);
    EXPECT_EQ(view.text(0, ListColumn::Folder), sj("フォルダ1"));
    EXPECT_EQ(view.icon(0), 2);
    // the walk covers every record; only the shown ones have a send order
    std::vector<std::uint32_t> walked;
    for (const WalkStep& s : view.walk()) {
        walked.push_back(s.viewPosition);
    }
    EXPECT_EQ(walked, (std::vector<std::uint32_t>{1, 0, 2, 0, 3}));
    EXPECT_EQ(view.recipients(), (std::vector<const Record*>{at(0), at(2), at(4)}));

    ASSERT_TRUE(doc.addMembers(3, std::array{at(4), at(1)}));
    view.select(TreeSelection::group(3));
    EXPECT_EQ(view.selectionKind(), 1);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"b:1", "b:2"}));
    EXPECT_EQ(view.recipients(), (std::vector<const Record*>{at(4), at(1)}));
    EXPECT_EQ(view.eligibleCount(), 0u);

    // the group root empties the list: no rows, no blank row, nothing to send
    view.select(TreeSelection::groupRoot());
    EXPECT_EQ(view.rowCount(), 0u);
    EXPECT_FALSE(view.hasBlankRow());
    EXPECT_TRUE(view.walk().empty());
    EXPECT_EQ(view.selectedGroup(), -1);

    // a folder or group that is not there shows what its root shows
    view.select(TreeSelection::folder(9));
    EXPECT_EQ(view.selection(), TreeSelection::all());
    view.select(TreeSelection::group(9));
    EXPECT_EQ(view.selection(), TreeSelection::groupRoot());
}

TEST_F(ListViewStateTest, SortingTogglesAndTiesKeepTheSendOrder) {
    ListViewState view(doc);  // the default sort: address, ascending
    EXPECT_EQ(view.sortColumn(), ListColumn::Address);
    EXPECT_EQ(view.text(0, ListColumn::Address), "a@x");

    view.clickHeader(ListColumn::Name);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"a:3", "b:2", "b:5", "c:4", "d:1"}));
    view.clickHeader(ListColumn::Name);  // same column: descending, ties reversed too
    EXPECT_EQ(view.sortOrder(), SortOrder::Descending);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "c:4", "b:5", "b:2", "a:3"}));
    EXPECT_TRUE(view.isBlankRow(5));

    // status: error rows together, ties in send order
    view.clickHeader(ListColumn::Status);
    EXPECT_EQ(view.sortOrder(), SortOrder::Ascending);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "a:3", "c:4", "b:2", "b:5"}));
    EXPECT_FALSE(view.hasOverlay(0));
    EXPECT_TRUE(view.hasOverlay(3));

    // folder: by number, "なし" first
    view.clickHeader(ListColumn::Folder);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"c:4", "d:1", "a:3", "b:5", "b:2"}));
    EXPECT_EQ(view.text(0, ListColumn::Folder), sj("なし"));
    EXPECT_EQ(view.icon(0), 1);

    // the caller's collation decides the text order
    struct Reversed : Collation {
        std::vector<std::uint32_t> ranks(std::span<const std::string_view> texts) const override {
            auto r = ByteCollation().ranks(texts);
            for (auto& x : r) {
                x = 1000 - x;
            }
            return r;
        }
    } reversed;
    view.setCollation(&reversed);
    view.sort(ListColumn::Name, SortOrder::Ascending);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "c:4", "b:2", "b:5", "a:3"}));
}

TEST_F(ListViewStateTest, TwoViewsShowDifferentThingsAndFollowEveryChange) {
    ListViewState all(doc);
    ListViewState folder(doc);
    CheckingObserver watchAll(all);
    CheckingObserver watchFolder(folder);
    all.setObserver(&watchAll);
    folder.setObserver(&watchFolder);
    all.sort(ListColumn::SendOrder, SortOrder::Ascending);
    folder.select(TreeSelection::folder(1));
    folder.sort(ListColumn::Name, SortOrder::Ascending);
    EXPECT_EQ(rows(folder), (std::vector<std::string>{"a:2", "b:3", "d:1"}));

    // a record moved out of folder 1 leaves that list only; the send order closes up
    ASSERT_TRUE(doc.setFolder(std::array{at(0)}, 2));
    EXPECT_EQ(rows(folder), (std::vector<std::string>{"a:1", "b:2"}));
    EXPECT_EQ(all.recordRowCount(), 5u);
    EXPECT_EQ(all.text(0, ListColumn::Folder), sj("フォルダ2"));
    // and one moved in joins it at the end
    ASSERT_TRUE(doc.setFolder(std::array{at(3)}, 1));
    EXPECT_EQ(rows(folder), (std::vector<std::string>{"a:1", "b:3", "c:2"}));

    // new records: shown where they belong, numbered in record order
    ASSERT_TRUE(doc.appendRecord(person("e", "e@x", 1)));
    EXPECT_EQ(rows(folder), (std::vector<std::string>{"a:1", "b:3", "c:2", "e:4"}));
    EXPECT_EQ(rows(all).back(), "e:6");

    // removed records leave every list
    ASSERT_TRUE(doc.removeRecords(std::array{at(2), at(1)}));
    EXPECT_EQ(rows(folder), (std::vector<std::string>{"b:2", "c:1", "e:3"}));
    EXPECT_EQ(rows(all), (std::vector<std::string>{"d:1", "c:2", "b:3", "e:4"}));

    // a folder moved ahead: the list follows its folder to its new number
    ASSERT_TRUE(doc.moveFolder(1, 99));
    EXPECT_EQ(folder.selection(), TreeSelection::folder(5));
    EXPECT_EQ(rows(folder), (std::vector<std::string>{"b:2", "c:1", "e:3"}));
    EXPECT_EQ(watchFolder.followed, 1);
    // and the folder removed: everything is shown rather than nothing
    ASSERT_TRUE(doc.removeFolder(5));
    EXPECT_EQ(folder.selection(), TreeSelection::all());
    EXPECT_EQ(folder.recordRowCount(), 4u);
    EXPECT_EQ(folder.text(0, ListColumn::Folder), sj("なし"));

    // a reset (new document) empties both
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    EXPECT_EQ(all.recordRowCount(), 0u);
    EXPECT_EQ(all.rowCount(), 1u);
    EXPECT_GT(watchAll.inserts, 0);
    EXPECT_GT(watchAll.removes, 0);
}

TEST_F(ListViewStateTest, AGroupListFollowsItsMembers) {
    ListViewState view(doc);
    CheckingObserver watch(view);
    view.setObserver(&watch);
    view.select(TreeSelection::group(1));
    view.sort(ListColumn::SendOrder, SortOrder::Ascending);
    EXPECT_EQ(view.rowCount(), 1u);  // the blank row only

    ASSERT_TRUE(doc.addMembers(1, std::array{at(3), at(0)}));
    EXPECT_EQ(rows(view), (std::vector<std::string>{"c:1", "d:2"}));
    ASSERT_TRUE(doc.setMemberOrder(1, std::array{at(0), at(3)}));
    EXPECT_EQ(rows(view), (std::vector<std::string>{"c:2", "d:1"}));  // rows stay, numbers follow
    ASSERT_TRUE(doc.appendRecord(person("e", "e@x")));                // not a member: not shown
    EXPECT_EQ(view.recordRowCount(), 2u);
    ASSERT_TRUE(doc.removeMembers(1, std::array{at(3)}));
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1"}));
    EXPECT_EQ(doc.recordCount(), 6u);

    // the group moves: the list follows; the group goes: "すべて"
    ASSERT_TRUE(doc.moveGroup(1, 0));
    EXPECT_EQ(view.selection(), TreeSelection::group(0));
    ASSERT_TRUE(doc.removeGroup(0));
    EXPECT_EQ(view.selection(), TreeSelection::all());
    EXPECT_EQ(view.recordRowCount(), 6u);
}

TEST_F(ListViewStateTest, RowsMoveAndComeBackToTheirPlaces) {
    ListViewState view(doc);
    CheckingObserver watch(view);
    view.setObserver(&watch);
    view.sort(ListColumn::SendOrder, SortOrder::Ascending);
    // rows 0 and 3 dropped on row 2: they land where row 2 was
    view.moveRows(std::array<std::size_t, 2>{0, 3}, 2);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"b:2", "d:1", "c:4", "a:3", "b:5"}));
    // below the last row: to the end
    view.moveRows(std::array<std::size_t, 1>{0}, 99);
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "c:4", "a:3", "b:5", "b:2"}));
    EXPECT_EQ(watch.layouts, 3);  // the sort, then the two moves
    // records put back at given rows, in row order
    view.placeRows({{at(1), 1}, {at(0), 0}});
    EXPECT_EQ(rows(view), (std::vector<std::string>{"d:1", "b:2", "c:4", "a:3", "b:5"}));
}

TEST_F(ListViewStateTest, ManyScatteredRemovalsAreToldAsOneReset) {
    std::vector<Record> more;
    for (int i = 0; i < 100; ++i) {
        more.push_back(person("n" + std::to_string(i), std::to_string(i) + "@x"));
    }
    ASSERT_TRUE(doc.appendRecords(more));
    ListViewState view(doc);
    CheckingObserver watch(view);
    view.setObserver(&watch);
    view.sort(ListColumn::SendOrder, SortOrder::Ascending);
    std::vector<const Record*> everyOther;
    for (std::size_t p = 5; p < doc.recordCount(); p += 2) {
        everyOther.push_back(at(p));
    }
    ASSERT_TRUE(doc.removeRecords(everyOther));
    EXPECT_EQ(watch.resets, 1);
    EXPECT_EQ(watch.removes, 0);
    EXPECT_EQ(view.recordRowCount(), 55u);
    EXPECT_EQ(view.text(54, ListColumn::SendOrder), "55");
}

}  // namespace
}  // namespace tarn::addressbook

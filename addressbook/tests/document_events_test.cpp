// What listeners hear: a recorded log of a sequence of edits, and the run
// guard that refuses edits while a send or check holds the document.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "addressbook/document.h"

namespace tarn::addressbook {
namespace {

Record withEmail(const std::string& email, std::uint16_t folder = 0) {
    Record r;
    r.setText(Field::Email, email);
    r.setFolder(folder);
    return r;
}

std::string list(std::span<const std::size_t> values) {
    std::string out;
    for (std::size_t v : values) {
        out += (out.empty() ? "" : ",") + std::to_string(v);
    }
    return out;
}

std::string describe(const ListChange& c) {
    switch (c.kind) {
        case ListChange::Kind::Inserted:
            return "inserted " + std::to_string(c.index);
        case ListChange::Kind::Removed:
            return "removed " + std::to_string(c.index);
        case ListChange::Kind::Moved:
            return "moved " + std::to_string(c.index) + "->" + std::to_string(c.to);
        case ListChange::Kind::Edited:
            return "edited " + std::to_string(c.index);
    }
    return "?";
}

// Writes one line per notification.
class EventLog : public DocumentListener {
public:
    std::string text;

    void documentReset() override { line("reset"); }
    void recordsInserted(std::span<const std::size_t> positions) override {
        line("records inserted " + list(positions));
    }
    void recordsRemoved(std::span<const std::size_t> positions,
                        std::span<const Record* const> records) override {
        std::string who;
        for (const Record* r : records) {
            who += std::string(who.empty() ? "" : ",") + std::string(r->email());
        }
        line("records removed " + list(positions) + " (" + who + ")");
    }
    void recordsChanged(std::span<const std::size_t> positions) override {
        line("records changed " + list(positions));
    }
    void recordsReordered() override { line("records reordered"); }
    void foldersChanged(const ListChange& c) override { line("folders " + describe(c)); }
    void groupsChanged(const ListChange& c) override { line("groups " + describe(c)); }
    void membersChanged(std::size_t group) override {
        line("members of group " + std::to_string(group));
    }
    void honorificsChanged() override { line("honorifics"); }
    void freeFieldTitlesChanged() override { line("titles"); }
    void undoChanged() override { line("undo"); }
    void modifiedChanged(bool modified) override { line(modified ? "modified" : "not modified"); }
    void runChanged(bool running) override { line(running ? "run begins" : "run ends"); }

private:
    void line(const std::string& s) { text += s + "\n"; }
};

TEST(DocumentEvents, ASequenceOfEditsIsToldInOrder) {
    CTarnSendDoc doc;
    EventLog log;
    doc.addListener(&log);
    doc.addListener(&log);  // once only

    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    std::array three{withEmail("a@x", 1), withEmail("b@x", 2), withEmail("c@x", 3)};
    ASSERT_TRUE(doc.appendRecords(three));
    const Record* a = &doc.record(0);
    const Record* b = &doc.record(1);
    const Record* c = &doc.record(2);
    ASSERT_TRUE(doc.addMembers(0, std::array{c, a}));
    ASSERT_TRUE(doc.addMembers(0, std::array{a}));  // already a member: nothing to tell
    ASSERT_TRUE(doc.setFolder(std::array{a, b}, 2));
    ASSERT_TRUE(doc.moveFolder(3, 1));
    ASSERT_TRUE(doc.removeFolder(2));
    ASSERT_TRUE(doc.setStatuses(std::array{StatusUpdate{b, kStatusDnsError}}));
    ASSERT_TRUE(doc.setStatuses(std::array{StatusUpdate{b, kStatusDnsError}}));  // unchanged
    ASSERT_TRUE(doc.arrangeRecords(std::array{c, a}));
    doc.recordUndo({UndoKind::Edit, 0, 0, *b, b, {}});
    ASSERT_TRUE(doc.removeRecords(std::array{a, b}));  // b's undo entry can no longer apply
    ASSERT_TRUE(doc.TouchHonorific("x"));
    ASSERT_TRUE(doc.setFreeFieldTitle(0, "t"));
    ASSERT_TRUE(doc.addGroup("g", 7));
    ASSERT_TRUE(doc.editGroup(5, "h", 8));
    ASSERT_TRUE(doc.removeGroup(0));
    {
        auto run = doc.beginRun();
        ASSERT_TRUE(run);
    }
    doc.removeListener(&log);
    ASSERT_TRUE(doc.appendRecord(withEmail("unheard@x")));

    EXPECT_EQ(log.text,
              "reset\n"
              "records inserted 0,1,2\n"
              "modified\n"
              "members of group 0\n"
              "records changed 0\n"   // b was in folder 2 already
              "folders moved 2->0\n"  // folder 3 first: 1, 2 become 2, 3
              "records changed 0,1,2\n"
              "folders removed 1\n"    // the old folder 1, now 2
              "records changed 0,1\n"  // a and b from 3 to 2, c stays 1
              "records changed 1\n"
              "records reordered\n"
              "undo\n"
              "undo\n"
              "members of group 0\n"
              "records removed 1,2 (b@x,a@x)\n"
              "honorifics\n"
              "titles\n"
              "groups inserted 5\n"
              "groups edited 5\n"
              "groups removed 0\n"
              "run begins\n"
              "run ends\n");
}

TEST(DocumentEvents, ARunRefusesEveryEditButItsOwnStatuses) {
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    ASSERT_TRUE(doc.appendRecord(withEmail("a@x", 1)));
    const Record* a = &doc.record(0);
    doc.setModifiedFlag(false);
    EventLog log;
    doc.addListener(&log);

    auto run = doc.beginRun();
    ASSERT_TRUE(run);
    EXPECT_TRUE(doc.runInProgress());
    EXPECT_FALSE(doc.beginRun());  // one run at a time

    const std::string refused(kRunInProgressText);
    auto expectRefused = [&](const auto& result, const char* what) {
        ASSERT_FALSE(result) << what;
        EXPECT_EQ(result.error().message, refused) << what;
    };
    expectRefused(doc.OnNewDocument(defaultFreeFieldTitles()), "new");
    expectRefused(doc.Serialize(*doc.Serialize(), defaultFreeFieldTitles()), "read");
    expectRefused(doc.OnOpenDocument("/nonexistent.tn2", defaultFreeFieldTitles()), "open");
    expectRefused(doc.appendRecord(withEmail("b@x")), "append");
    expectRefused(doc.insertRecords({{0, withEmail("b@x"), {}}}), "insert");
    expectRefused(doc.removeRecords(std::array{a}), "remove");
    expectRefused(doc.updateRecords(std::array{RecordUpdate{a, withEmail("c@x")}}), "update");
    expectRefused(doc.setFolder(std::array{a}, 0), "folder");
    expectRefused(doc.setStatuses(std::array{StatusUpdate{a, 4}}), "status");
    expectRefused(doc.arrangeRecords(std::array{a}), "arrange");
    expectRefused(doc.addFolder("f", 2), "add folder");
    expectRefused(doc.editFolder(1, "f", 2), "edit folder");
    expectRefused(doc.moveFolder(1, 3), "move folder");
    expectRefused(doc.removeFolder(1), "remove folder");
    expectRefused(doc.addGroup("g", 2), "add group");
    expectRefused(doc.editGroup(0, "g", 2), "edit group");
    expectRefused(doc.moveGroup(0, 3), "move group");
    expectRefused(doc.removeGroup(0), "remove group");
    expectRefused(doc.addMembers(0, std::array{a}), "add members");
    expectRefused(doc.removeMembers(0, std::array{a}), "remove members");
    expectRefused(doc.setMemberOrder(0, {}), "member order");
    expectRefused(doc.TouchHonorific("x"), "honorific");
    expectRefused(doc.setHonorifics({}), "honorifics");
    expectRefused(doc.setFreeFieldTitle(0, "t"), "title");
    EXPECT_EQ(doc.recordCount(), 1u);
    EXPECT_EQ(doc.record(0).email(), "a@x");
    EXPECT_EQ(doc.folders().size(), 5u);
    EXPECT_FALSE(doc.isModified());

    // The run's own results go in, on this thread.
    ASSERT_TRUE(run->setStatuses(std::array{StatusUpdate{a, kStatusSendError}}));
    EXPECT_EQ(a->status(), kStatusSendError);
    EXPECT_TRUE(doc.isModified());
    DocumentRun moved = std::move(*run);
    EXPECT_FALSE(run->holding());
    EXPECT_TRUE(doc.runInProgress());
    moved.release();
    EXPECT_FALSE(doc.runInProgress());
    EXPECT_FALSE(moved.setStatuses(std::array{StatusUpdate{a, 0}}));  // over: refused
    ASSERT_TRUE(doc.appendRecord(withEmail("b@x")));
    EXPECT_EQ(log.text,
              "run begins\n"
              "records changed 0\n"
              "modified\n"
              "run ends\n"
              "records inserted 1\n");
}

TEST(DocumentEvents, AListenerMayLeaveWhileItIsTold) {
    CTarnSendDoc doc;
    struct Leaver : DocumentListener {
        CTarnSendDoc* doc = nullptr;
        DocumentListener* other = nullptr;
        int told = 0;
        void modifiedChanged(bool) override {
            ++told;
            doc->removeListener(this);
            doc->removeListener(other);  // the other one is not told any more
        }
    };
    Leaver first;
    Leaver second;
    first.doc = second.doc = &doc;
    first.other = &second;
    doc.addListener(&first);
    doc.addListener(&second);
    doc.setModifiedFlag();
    doc.setModifiedFlag(false);
    EXPECT_EQ(first.told, 1);
    EXPECT_EQ(second.told, 0);
}

}  // namespace
}  // namespace tarn::addressbook

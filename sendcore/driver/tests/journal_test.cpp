// The send journal's file and the recipients it leaves out on a resume.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "driver/send_journal.h"
#include "scripted_doubles.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::driver;
using tarn::test::TempDir;

using tarn::driver::doubles::ScriptedRecipients;

TEST(SendJournal, WhatTheWriterRecordsReadsBackAndATornEndIsSkipped) {
    TempDir dir;
    const auto path = journalPathFor(dir / "book.tn2");
    EXPECT_EQ(path.filename(), "book.tn2.journal");
    {
        auto writer = JournalWriter::open(path);
        ASSERT_TRUE(writer.ok()) << writer.error().message;
        // An address and a reply with spaces, '%' and a line break stay whole.
        ASSERT_TRUE((*writer)->begin({1, "a b%c@example.jp"}));
        ASSERT_TRUE((*writer)->committing({1, "a b%c@example.jp"}));
        ASSERT_TRUE((*writer)->accepted({1, "a b%c@example.jp"}, "250 ok\r\nmore"));
        ASSERT_TRUE((*writer)->begin({2, "b@example.jp"}));
        ASSERT_TRUE((*writer)->refused({2, "b@example.jp"}, 550, "550 no such user"));
        ASSERT_TRUE((*writer)->begin({3, "c@example.jp"}));
        ASSERT_TRUE((*writer)->committing({3, "c@example.jp"}));
        // Begun but its "." never went out: not started, on this boot.
        ASSERT_TRUE((*writer)->begin({5, "e@example.jp"}));
        // Deferred, then begun again and cut off before its ".".
        ASSERT_TRUE((*writer)->begin({6, "f@example.jp"}));
        ASSERT_TRUE((*writer)->committing({6, "f@example.jp"}));
        ASSERT_TRUE((*writer)->deferred({6, "f@example.jp"}, 451, "451 try later"));
        ASSERT_TRUE((*writer)->begin({6, "f@example.jp"}));
    }
    // A commit after an outcome (the same recipient sent again) does not undo it.
    std::string bytes = test::readFile(path) + "B 1 a%20b%25c@example.jp\nA 4 d@exa";
    test::writeFile(path, bytes);

    auto read = readJournal(path);
    ASSERT_TRUE(read.ok()) << read.error().message;
    const JournalContents& j = *read;
    EXPECT_EQ(j.damagedLines, 1);  // the torn last line
    ASSERT_EQ(j.entries.size(), 3U);
    const JournalEntry& a = j.entries.at({1, "a b%c@example.jp"});
    EXPECT_EQ(a.outcome, JournalOutcome::kAccepted);
    EXPECT_EQ(a.reply, "250 ok\r\nmore");
    const JournalEntry& b = j.entries.at({2, "b@example.jp"});
    EXPECT_EQ(b.outcome, JournalOutcome::kRefused);
    EXPECT_EQ(b.code, 550);
    EXPECT_EQ(j.uncertainAddresses(), std::vector<std::string>{"c@example.jp"});
    EXPECT_EQ(j.count(JournalOutcome::kAccepted), 1);

    // After a restart a missing "C" proves nothing (it may have been lost
    // with the page cache): every begun message without an outcome is
    // uncertain, the deferred-then-begun one included.
    const JournalContents rebooted = parseJournal(bytes, "another-boot");
    EXPECT_EQ(rebooted.uncertainAddresses(),
              (std::vector<std::string>{"c@example.jp", "e@example.jp", "f@example.jp"}));
    EXPECT_EQ(parseJournal(bytes, "").count(JournalOutcome::kUncertain), 3);
}

TEST(SendJournal, AnEarlierAttemptWhoseEndWentOutStaysUncertain) {
    // Run 1 sent the "." and was killed; run 2 (asked to send it again) was
    // killed before its own ".": the first attempt may still have arrived.
    const std::string bytes =
        "TARNJOURNAL 1\nS boot1\nB 1 a@example.jp\nC 1 a@example.jp\n"
        "S boot1\nB 1 a@example.jp\nB 2 b@example.jp\n";
    const JournalContents j = parseJournal(bytes, "boot1");
    EXPECT_EQ(j.uncertainAddresses(), std::vector<std::string>{"a@example.jp"});
    // A journal written before a restart, continued after it: the lines
    // before the second "S" are judged by their own boot.
    const JournalContents mixed =
        parseJournal("TARNJOURNAL 1\nS old\nB 1 a@example.jp\nS now\nB 2 b@example.jp\n", "now");
    EXPECT_EQ(mixed.uncertainAddresses(), std::vector<std::string>{"a@example.jp"});
}

TEST(SendJournal, HostileLinesAreCountedNotTrusted) {
    const std::string longLine = "B 1 " + std::string(5000, 'x') + "\n";
    JournalContents j = parseJournal(
        "TARNJOURNAL 1\n"
        "B -1 a@example.jp\n"         // negative position
        "B 1\n"                       // no address
        "A 1 a@example.jp\n"          // no reply field
        "R 1 a@example.jp x reply\n"  // code not a number
        "B 1 a%4@example.jp\n"        // broken escape
        "B 1 a%zz@example.jp\n"       // not hex
        "Q 1 a@example.jp\n"          // unknown record
        "BB 1 a@example.jp\n" +
        longLine + "B 2 ok@example.jp\n");
    EXPECT_EQ(j.damagedLines, 9);
    ASSERT_EQ(j.entries.size(), 1U);
    EXPECT_EQ(j.entries.begin()->first.address, "ok@example.jp");

    TempDir dir;
    test::writeFile(dir / "x.journal", "not a journal\n");
    EXPECT_FALSE(readJournal(dir / "x.journal").ok());
    EXPECT_FALSE(readJournal(dir / "missing.journal").ok());
}

TEST(SendJournal, AResumedWalkLeavesOutWhatTheEarlierRunSettled) {
    JournalContents earlier = parseJournal(
        "TARNJOURNAL 1\n"
        "B 1 a@example.jp\nA 1 a@example.jp 250\n"
        "B 2 b@example.jp\nR 2 b@example.jp 550 550%20no\n"
        "B 3 c@example.jp\n"
        // Same address, other position: the book changed since; still sent.
        "B 9 d@example.jp\nA 9 d@example.jp 250\n");
    for (bool sendUncertain : {false, true}) {
        SCOPED_TRACE(sendUncertain);
        auto inner = std::make_unique<ScriptedRecipients>(ScriptedRecipients::addresses(
            {"a@example.jp", "b@example.jp", "c@example.jp", "d@example.jp"}));
        const auto log = inner->log;
        JournalledRecipients source(std::move(inner), earlier, sendUncertain);
        EXPECT_EQ(source.eligibleCount(), sendUncertain ? 1 : 0);
        ASSERT_TRUE(source.beginRun().ok());

        TempDir dir;
        auto writer = JournalWriter::open(dir / "j");
        ASSERT_TRUE(writer.ok());
        source.setWriter(writer->get());
        std::vector<std::string> sent;
        Recipient r;
        while (source.next(r)) {
            if (r.eligible) {
                ASSERT_TRUE(source.messageStarting(r));
                ASSERT_TRUE(source.messageCommitting(r));
                source.messageAccepted("250 ok");
                sent.push_back(r.address);
            }
        }
        EXPECT_EQ(sent, sendUncertain ? std::vector<std::string>{"c@example.jp"}
                                      : std::vector<std::string>{});
        // The refusal the earlier run could not save becomes a status now.
        EXPECT_EQ(log->refused, std::vector<std::string>{"b@example.jp"});
        auto written = readJournal(dir / "j");
        ASSERT_TRUE(written.ok());
        EXPECT_EQ(written->count(JournalOutcome::kAccepted), static_cast<int>(sent.size()));
        // A recipient sent again keeps the earlier run's key.
        EXPECT_EQ(written->entries.count({3, "c@example.jp"}), sendUncertain ? 1U : 0U);
    }
}

namespace {

// Walks `source` as a run does, appending to the journal at `path`; `outcome`
// says what becomes of each message: 'A' accepted, 'R' refused, 'U' cut off
// after its "." (the run is killed there). The addresses sent to, in order.
std::vector<std::string> runOver(JournalledRecipients& source, const std::filesystem::path& path,
                                 const std::function<char(const std::string&)>& outcome) {
    auto writer = JournalWriter::open(path);
    EXPECT_TRUE(writer.ok());
    source.setWriter(writer->get());
    EXPECT_TRUE(source.beginRun().ok());
    std::vector<std::string> sent;
    Recipient r;
    while (source.next(r)) {
        if (!r.eligible) {
            continue;
        }
        sent.push_back(r.address);
        EXPECT_TRUE(source.messageStarting(r));
        EXPECT_TRUE(source.messageCommitting(r));
        const char what = outcome(r.address);
        if (what == 'U') {
            break;
        }
        if (what == 'R') {
            source.messageRefused(550, "550 no");
            source.markSendFailed();
        } else {
            source.messageAccepted("250 ok");
        }
    }
    source.setWriter(nullptr);
    return sent;
}

std::unique_ptr<ScriptedRecipients> book(const std::vector<std::string>& order) {
    std::vector<std::string> addresses;
    for (const std::string& a : order) {
        addresses.push_back(a + "@example.jp");
    }
    return std::make_unique<ScriptedRecipients>(ScriptedRecipients::addresses(addresses));
}

std::multiset<std::string> names(const std::vector<std::string>& addresses) {
    std::multiset<std::string> out;
    for (const std::string& a : addresses) {
        out.insert(a.substr(0, a.find('@')));
    }
    return out;
}

}  // namespace

TEST(SendJournal, AResumeOverAReorderedOrEditedBookSendsNoSettledRecipientAgain) {
    const std::vector<std::string> original = {"a", "b", "c", "d", "dup", "e", "dup", "f"};
    struct Resume {
        const char* what;
        std::vector<std::string> order;
        std::multiset<std::string> left;  // what the resume sends, uncertain ones aside
    };
    const std::vector<Resume> resumes = {
        {"re-sorted", {"f", "dup", "e", "dup", "d", "c", "b", "a"}, {"dup", "f"}},
        {"a record inserted before",
         {"new", "a", "b", "c", "d", "dup", "e", "dup", "f"},
         {"new", "dup", "f"}},
        {"the first record deleted", {"b", "c", "d", "dup", "e", "dup", "f"}, {"dup", "f"}},
    };
    for (const Resume& resume : resumes) {
        for (bool sendUncertain : {false, true}) {
            SCOPED_TRACE(std::string(resume.what) + (sendUncertain ? ", uncertain sent" : ""));
            TempDir dir;
            const auto path = dir / "book.tn2.journal";
            // Killed twice in the original order: a and c accepted, b refused,
            // d cut off after its "."; then resumed, the first of the two
            // records sharing "dup" accepted, and e cut off.
            {
                JournalledRecipients first(book(original), {}, false);
                runOver(first, path, [](const std::string& a) {
                    return a[0] == 'b' ? 'R' : a[0] == 'd' ? 'U' : 'A';
                });
                auto earlier = readJournal(path);
                ASSERT_TRUE(earlier.ok());
                JournalledRecipients second(book(original), std::move(*earlier), false);
                runOver(second, path, [](const std::string& a) { return a[0] == 'e' ? 'U' : 'A'; });
            }
            auto earlier = readJournal(path);
            ASSERT_TRUE(earlier.ok());
            ASSERT_EQ(earlier->count(JournalOutcome::kAccepted), 3);  // a, c, dup
            EXPECT_EQ(earlier->uncertainAddresses(),
                      (std::vector<std::string>{"d@example.jp", "e@example.jp"}));

            std::multiset<std::string> left = resume.left;
            if (sendUncertain) {
                left.insert({"d", "e"});
            }
            auto inner = book(resume.order);
            const auto log = inner->log;
            JournalledRecipients source(std::move(inner), std::move(*earlier), sendUncertain);
            EXPECT_EQ(source.eligibleCount(), static_cast<int>(left.size()));
            EXPECT_EQ(names(runOver(source, path, [](const std::string&) { return 'A'; })), left);
            // The refusal the killed run could not save is found as well.
            EXPECT_EQ(log->refused, std::vector<std::string>{"b@example.jp"});

            // What the resume wrote is found again in the original order:
            // nobody is left to send to.
            auto after = readJournal(path);
            ASSERT_TRUE(after.ok());
            JournalledRecipients again(book(original), std::move(*after), true);
            EXPECT_EQ(again.eligibleCount(), sendUncertain ? 0 : 2);  // d and e still uncertain
        }
    }
}

// The reply reader, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reply.h"

namespace zeph {
namespace {

using Step = ReplyReader::Step;

struct ReplyRow {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<Step> steps;  // after each chunk
    int code;
};

TEST(ReplyReader, AssemblesRepliesHoweverTheyAreSplit) {
    const std::vector<ReplyRow> rows = {
        {"single line", {"220 ready\r\n"}, {Step::Complete}, 220},
        {"two-line greeting in one chunk", {"220-hello\r\n220 ready\r\n"}, {Step::Complete}, 220},
        {"InterScan greeting read on",
         {"220-InterScan VirusWall\r\n", "220 ready\r\n"},
         {Step::More, Step::Complete},
         220},
        // Any continuation line is read to the last line, or its rest would be
        // taken for the reply to the next command.
        {"plain multi-line greeting split",
         {"220-a\r\n", "220 b\r\n"},
         {Step::More, Step::Complete},
         220},
        {"EHLO reply over three chunks",
         {"250-host\r\n250-PIPEL", "INING\r\n250-AUTH LOGIN\r\n", "250 HELP\r\n"},
         {Step::More, Step::More, Step::Complete},
         250},
        {"code split", {"25", "0 OK\r\n"}, {Step::More, Step::Complete}, 250},
        {"CR and LF split", {"250 OK\r", "\n"}, {Step::More, Step::Complete}, 250},
        {"refusal", {"421 closing\r\n"}, {Step::ErrorReply}, 421},
        {"501 is let through", {"501 syntax\r\n"}, {Step::Complete}, 501},
        {"multi-line refusal read whole",
         {"550-no\r\n", "550 such user\r\n"},
         {Step::More, Step::ErrorReply},
         550},
        {"DATA go-ahead", {"354 go ahead\r\n"}, {Step::Complete}, 354},
        {"no digits", {"hello\r\n"}, {Step::Complete}, 0},
        {"overlong code bounded", {"99999999999999 x\r\n"}, {Step::ErrorReply}, 999999999},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ReplyReader r;
        r.begin();
        std::string joined;
        for (std::size_t i = 0; i < row.chunks.size(); ++i) {
            joined += row.chunks[i];
            EXPECT_EQ(r.feed(row.chunks[i]), row.steps[i]) << "after chunk " << i;
        }
        EXPECT_EQ(r.code(), row.code);
        EXPECT_EQ(r.text(), joined);
    }
}

TEST(ReplyReader, RefusesToGrowPastTheBufferAndKeepsTheTextSoFar) {
    ReplyReader r;
    r.begin();
    std::string line = "250-" + std::string(1000, 'x') + "\r\n";
    ASSERT_EQ(r.feed(line), Step::More);
    ASSERT_EQ(r.feed(std::string(ReplyReader::kChunkSize - line.size(), 'y')), Step::More);
    EXPECT_EQ(r.text().size(), ReplyReader::kChunkSize);
    EXPECT_EQ(r.feed("z"), Step::Overflow);
    EXPECT_EQ(r.text().size(), ReplyReader::kChunkSize);

    // The next reply replaces the text instead of appending to it.
    r.begin();
    EXPECT_EQ(r.feed("250 OK\r\n"), Step::Complete);
    EXPECT_EQ(r.text(), "250 OK\r\n");
}

TEST(ReplyReader, TakesPipelinedRepliesOneAtATime) {
    ReplyReader r;
    r.begin();
    // Three replies, the last cut in the middle of its second line.
    ASSERT_EQ(r.feed("250 reset\r\n550-no\r\n550 such user\r\n250-a\r\n25"), Step::Complete);
    EXPECT_EQ(r.text(), "250 reset\r\n");
    r.begin();
    EXPECT_EQ(r.next(), Step::ErrorReply);
    EXPECT_EQ(r.text(), "550-no\r\n550 such user\r\n");
    EXPECT_EQ(r.code(), 550);
    r.begin();
    EXPECT_EQ(r.next(), Step::More);
    EXPECT_EQ(r.text(), "250-a\r\n25") << "the part received so far";
    EXPECT_EQ(r.feed("0 b\r\n354 go\r\n"), Step::Complete);
    EXPECT_EQ(r.text(), "250-a\r\n250 b\r\n");
    EXPECT_TRUE(r.hasUnread());
    r.discardUnread();
    r.begin();
    EXPECT_EQ(r.next(), Step::More);
    EXPECT_EQ(r.text(), "");

    // Only the reply being read is bounded, not what follows it.
    const std::string big = "250-" + std::string(1500, 'x') + "\r\n250 end\r\n";
    r.begin();
    EXPECT_EQ(r.feed(big + big.substr(0, 1000)), Step::Complete);
    r.begin();
    EXPECT_EQ(r.feed(big.substr(1000)), Step::Complete);
    EXPECT_EQ(r.text(), big);
}

}  // namespace
}  // namespace zeph

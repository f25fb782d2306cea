#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_dns_server.h"
#include "run.h"
#include "testsupport.h"

namespace tarn::mx {
namespace {

using test::Bytes;
using test::FakeDnsServer;
using test::MessageWriter;
using test::Query;

// A batch of domains and its parameter block, run against a local port with a
// short tick so that silence costs milliseconds.
class Batch {
public:
    explicit Batch(std::vector<std::string> domains) : m_domains(std::move(domains)) {
        m_items.resize(m_domains.size());
        for (std::size_t i = 0; i < m_domains.size(); ++i) {
            m_items[i].localPart = "user";
            m_items[i].domain = m_domains[i].c_str();
        }
        m_param.server = inet_addr("127.0.0.1");
        m_param.reserved = 1;
        m_param.count = static_cast<std::int32_t>(m_items.size());
        m_param.items = m_items.data();
        m_param.stopEvent = -1;
    }
    ~Batch() { waitRun(&m_param); }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    bool start(std::uint16_t port, std::chrono::milliseconds tick = std::chrono::milliseconds(10)) {
        return startRun(&m_param, ResolverOptions{port, tick});
    }
    void runToEnd(std::uint16_t port,
                  std::chrono::milliseconds tick = std::chrono::milliseconds(10)) {
        ASSERT_TRUE(start(port, tick));
        ASSERT_TRUE(tarn::test::waitUntil([&] { return !runCounts(&m_param, nullptr, nullptr); },
                                          std::chrono::seconds(60)));
        ASSERT_TRUE(waitRun(&m_param));
    }
    std::vector<int> results() const {
        std::vector<int> r;
        for (const auto& item : m_items) {
            r.push_back(item.result);
        }
        return r;
    }
    MXVerifyParam& param() { return m_param; }
    MXVerifyItem& item(std::size_t i) { return m_items[i]; }

private:
    std::vector<std::string> m_domains;
    std::vector<MXVerifyItem> m_items;
    MXVerifyParam m_param{};
};

std::vector<std::string> queriesFor(const FakeDnsServer& server, const std::string& name) {
    std::vector<std::string> out;
    for (const Query& q : server.queries()) {
        if (q.name == name) {
            out.push_back(q.type == 15 ? "MX" : q.type == 1 ? "A" : "?");
        }
    }
    return out;
}

struct EndSeen {
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> message{0};
    std::atomic<int> socketError{-1};
    void reset() {
        calls = 0;
        message = 0;
        socketError = -1;
    }
};
EndSeen g_end;

void recordEnd(MXVerifyParam* /*param*/, std::uint32_t message, int socketError) {
    g_end.message = message;
    g_end.socketError = socketError;
    ++g_end.calls;
}

TEST(Resolver, MxThenAThenNothing) {
    FakeDnsServer server([](const Query& q) {
        return std::vector<Bytes>{test::answerFor(q, q.name == "mx.test.",
                                                  q.name == "aonly.test." || q.name == "mx.test.")};
    });
    Batch batch({"mx.test.", "aonly.test.", "none.test.", "MX.Test"});
    batch.param().notify = recordEnd;
    batch.param().notifyMessage = 7;
    g_end.reset();
    batch.runToEnd(server.port());
    EXPECT_EQ(g_end.calls.load(), 1);
    EXPECT_EQ(g_end.message.load(), 7u);
    EXPECT_EQ(g_end.socketError.load(), 0);
    EXPECT_THAT(batch.results(), testing::ElementsAre(0, 1, -3, 0));
    EXPECT_EQ(batch.param().okCount, 3);
    EXPECT_EQ(batch.param().ngCount, 1);
    EXPECT_EQ(batch.param().lastError, 0);
    EXPECT_THAT(queriesFor(server, "mx.test."), testing::ElementsAre("MX"));
    EXPECT_THAT(queriesFor(server, "aonly.test."), testing::ElementsAre("MX", "A"));
    EXPECT_THAT(queriesFor(server, "none.test."), testing::ElementsAre("MX", "A"));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(batch.item(i).stage, MXVERIFY_STAGE_DONE);
        EXPECT_EQ(batch.item(i).queryId, i);
    }
    // The query on the wire: ID, RD only, one question, uncompressed name.
    const Bytes first = server.queries().front().bytes;
    Bytes expected = MessageWriter()
                         .u16(0)
                         .u16(0x0100)
                         .u16(1)
                         .u16(0)
                         .u16(0)
                         .u16(0)
                         .question("mx.test", 15)
                         .bytes();
    EXPECT_EQ(first, expected);
}

TEST(Resolver, SilenceRetransmitsFourTimesPerItemInWavesOfSixty) {
    FakeDnsServer server([](const Query&) { return std::vector<Bytes>{}; });
    std::vector<std::string> domains;
    for (int i = 0; i < 130; ++i) {
        domains.push_back("d" + std::to_string(i) + ".test.");
    }
    Batch batch(domains);
    batch.runToEnd(server.port());
    EXPECT_EQ(batch.results(), std::vector<int>(130, -2));
    EXPECT_EQ(batch.param().ngCount, 130);
    EXPECT_EQ(batch.param().okCount, 0);

    auto queries = server.queries();
    ASSERT_EQ(queries.size(), 130u * 5);
    std::map<int, int> sends;
    for (const Query& q : queries) {
        EXPECT_EQ(q.type, 15);  // never on to the A stage
        ++sends[q.id];
    }
    for (int i = 0; i < 130; ++i) {
        EXPECT_EQ(sends[i], 5) << i;
    }
    // The first wave is items 0-59; the next 60 are new items, because
    // timed-out queries go to the back of the queue.
    for (int i = 0; i < 120; ++i) {
        EXPECT_EQ(queries[static_cast<std::size_t>(i)].id, i);
    }
    EXPECT_EQ(batch.item(0).retries, 4u);
}

TEST(Resolver, SilenceInTheAStageAlsoGetsFiveSends) {
    // The MX query is answered with NODATA after two retransmissions; the A
    // query is never answered.
    std::atomic<int> mxSeen{0};
    FakeDnsServer server([&](const Query& q) {
        if (q.type == 15 && ++mxSeen == 3) {
            return std::vector<Bytes>{test::answerFor(q, false, false)};
        }
        return std::vector<Bytes>{};
    });
    Batch batch({"slow.test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(-2));
    EXPECT_THAT(queriesFor(server, "slow.test."),
                testing::ElementsAre("MX", "MX", "MX", "A", "A", "A", "A", "A"));
}

TEST(Resolver, DuplicateLateAndStaleAnswersChangeNothing) {
    FakeDnsServer server([](const Query& q) {
        if (q.type == 1) {
            // Before the A answer comes another copy of the MX answer under the
            // same ID: it answers a question that is no longer asked.
            Query mxQuery = q;
            mxQuery.type = 15;
            return std::vector<Bytes>{test::answerFor(mxQuery, false, false),
                                      test::answerFor(q, false, true)};
        }
        bool hasMx = q.name == "mx.test.";
        Bytes reply = test::answerFor(q, hasMx, false);
        return std::vector<Bytes>{reply, reply, reply};
    });
    Batch batch({"mx.test.", "aonly.test.", "mx.test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(0, 1, 0));
    EXPECT_EQ(batch.param().okCount, 3);
    EXPECT_EQ(batch.param().ngCount, 0);
}

TEST(Resolver, AnswersWithUnknownIdsAreCountedForTheCaller) {
    FakeDnsServer server([](const Query& q) {
        Query foreign = q;
        foreign.id = 2;  // == count
        Query far = q;
        far.id = 65535;
        return std::vector<Bytes>{test::answerFor(foreign, false, false),
                                  test::answerFor(far, false, false),
                                  test::answerFor(q, true, false)};
    });
    Batch batch({"a.test.", "b.test."});
    ASSERT_TRUE(batch.start(server.port()));
    EXPECT_EQ(foreignAnswers(&batch.param()), -1);  // not while the worker runs
    ASSERT_TRUE(tarn::test::waitUntil([&] { return !runCounts(&batch.param(), nullptr, nullptr); },
                                      std::chrono::seconds(60)));
    // Two foreign answers for each of the two questions.
    EXPECT_EQ(foreignAnswers(&batch.param()), 4);
    ASSERT_TRUE(waitRun(&batch.param()));
    // Had the NODATA answers been taken for item 1, it would have gone to the A stage.
    EXPECT_THAT(batch.results(), testing::ElementsAre(0, 0));
    EXPECT_EQ(server.queryCount(), 2u);
}

TEST(Resolver, CompressedNamesAreFollowed) {
    FakeDnsServer server([](const Query& q) {
        // Owner = pointer to the question name (offset 12); exchange = "mail"
        // then a pointer to the same name; then an A record for the exchange
        // whose owner is a pointer into the MX RDATA.
        MessageWriter w;
        w.header(q.id, 1, 1, 0, 1).question(q.name, q.type);
        w.pointer(12).u16(15).u16(1).u32(60).u16(2 + 6 + 2);
        std::uint16_t exchangeAt = static_cast<std::uint16_t>(w.size() + 2);
        w.u16(5).u8(4).u8('m').u8('a').u8('i').u8('l').pointer(12);
        w.pointer(exchangeAt).u16(1).u16(1).u32(60).u16(4).u32(0x0A000002);
        return std::vector<Bytes>{w.bytes()};
    });
    Batch batch({"compressed.test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(0));
}

TEST(Resolver, RecordFromAnotherAnswerDecidesAnItem) {
    // first.test's answer carries an additional A record for second.test;
    // second.test's own MX answer is NODATA, so only the cache can give 1
    // without an A query.
    FakeDnsServer server([](const Query& q) {
        MessageWriter w;
        if (q.name == "first.test.") {
            w.header(q.id, 1, 1, 0, 1)
                .question(q.name, q.type)
                .mx(q.name, "mx.first.test")
                .a("SECOND.test", 0x0A000003);
            return std::vector<Bytes>{w.bytes()};
        }
        return std::vector<Bytes>{test::answerFor(q, false, false)};
    });
    Batch batch({"first.test.", "second.test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(0, 1));
    EXPECT_THAT(queriesFor(server, "second.test."), testing::ElementsAre("MX"));
}

TEST(Resolver, BrokenPacketsEndOnlyTheirOwnParse) {
    // Each MX answer is broken in a different way but carries a readable
    // header, so the item goes on to its A query, which is answered properly.
    FakeDnsServer server([](const Query& q) {
        MessageWriter w;
        w.header(q.id, 1, 1).question(q.name, q.type);
        if (q.type == 1) {
            return std::vector<Bytes>{test::answerFor(q, false, true)};
        }
        if (q.name == "loop.test.") {
            std::uint16_t at = static_cast<std::uint16_t>(w.size());
            w.u8(1).u8('x').pointer(at).u16(15).u16(1).u32(60).u16(0);
        } else if (q.name == "forward.test.") {
            w.pointer(static_cast<std::uint16_t>(w.size() + 2)).mx("forward.test", "mail.test");
        } else if (q.name == "longlabel.test.") {
            w.u8(0x50).u16(15).u16(1).u32(60).u16(0);
        } else if (q.name == "truncated.test.") {
            w.recordHead(q.name, 15, 20).u16(10);  // RDATA cut short
        } else if (q.name == "counts.test.") {
            w = MessageWriter();
            w.header(q.id, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF);
        } else if (q.name == "short.test.") {
            w = MessageWriter();
            w.u16(q.id).u16(0x8180).u8(0);  // not even a whole header: ignored
        }
        return std::vector<Bytes>{w.bytes()};
    });
    Batch batch({"loop.test.", "forward.test.", "longlabel.test.", "truncated.test.",
                 "counts.test.", "short.test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(1, 1, 1, 1, 1, -2));
    EXPECT_THAT(queriesFor(server, "short.test."), testing::Each(testing::Eq("MX")));
}

TEST(Resolver, SpoofedAnswerFromAnotherPortIsDropped) {
    std::atomic<FakeDnsServer*> serverPtr{nullptr};
    FakeDnsServer server([&](const Query& q) {
        if (q.type == 15) {
            // Right ID and question, but from another port: dropped.
            serverPtr.load()->sendToClient(test::answerFor(q, true, true), /*fromOtherPort=*/true);
        }
        return std::vector<Bytes>{test::answerFor(q, false, false)};
    });
    serverPtr = &server;
    Batch batch({"victim.test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(-3));
    EXPECT_THAT(queriesFor(server, "victim.test."), testing::ElementsAre("MX", "A"));
}

TEST(Resolver, OverlongLabelIsNeverSent) {
    FakeDnsServer server(
        [](const Query& q) { return std::vector<Bytes>{test::answerFor(q, true, true)}; });
    std::string label64(64, 'a');
    std::string long255;
    for (int i = 0; i < 5; ++i) {
        long255 += std::string(50, 'b') + ".";
    }
    Batch batch({label64 + ".test.", "ok.test.", long255, std::string(63, 'c') + ".test."});
    batch.runToEnd(server.port());
    EXPECT_THAT(batch.results(), testing::ElementsAre(-3, 0, -3, 0));
    EXPECT_EQ(server.queryCount(), 2u);
    EXPECT_EQ(batch.param().ngCount, 2);
}

TEST(Resolver, StopKeepsUndecidedItems) {
    FakeDnsServer server([](const Query&) { return std::vector<Bytes>{}; });
    Batch batch({"a.test.", "b.test."});
    ASSERT_TRUE(batch.start(server.port(), std::chrono::milliseconds(1000)));
    ASSERT_TRUE(tarn::test::waitUntil([&] { return server.queryCount() == 2; }));
    auto stopAt = std::chrono::steady_clock::now();
    EXPECT_TRUE(stopRun(&batch.param()));
    ASSERT_TRUE(waitRun(&batch.param()));
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(500));
    EXPECT_THAT(batch.results(), testing::ElementsAre(-1, -1));
    EXPECT_EQ(batch.param().lastError, -1);
    EXPECT_EQ(batch.param().okCount + batch.param().ngCount, 0);
    EXPECT_EQ(batch.param().thread, nullptr);
    EXPECT_EQ(batch.param().stopEvent, -1);
}

TEST(Resolver, SocketErrorEndsTheRunAndKeepsItemsUndecided) {
    // A datagram to the broadcast address without SO_BROADCAST fails at once.
    Batch batch({"a.test.", "b.test."});
    batch.param().server = inet_addr("255.255.255.255");
    batch.param().notify = recordEnd;
    batch.param().notifyMessage = 0x8001;
    g_end.reset();
    batch.runToEnd(53);
    EXPECT_EQ(batch.param().lastError, EACCES);
    EXPECT_THAT(batch.results(), testing::ElementsAre(-1, -1));
    EXPECT_EQ(g_end.calls.load(), 1);
    EXPECT_EQ(g_end.message.load(), 0x8001u);
    EXPECT_EQ(g_end.socketError.load(), 1);
}

}  // namespace
}  // namespace tarn::mx

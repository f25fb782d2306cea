// The exported interface against a real DNS server.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dnsmasq_server.h"
#include "tarnmxvrfy.h"
#include "testsupport.h"

namespace {

using tarn::mx::test::Dnsmasq;

struct Batch {
    std::vector<std::string> domains;
    std::vector<MXVerifyItem> items;
    MXVerifyParam param{};

    Batch(std::vector<std::string> d, const Dnsmasq& server) : domains(std::move(d)) {
        items.resize(domains.size());
        for (std::size_t i = 0; i < domains.size(); ++i) {
            items[i].localPart = "user";
            items[i].domain = domains[i].c_str();
        }
        param.server = MXVerifyInet_addr(server.address().c_str());
        param.reserved = 1;
        param.count = static_cast<std::int32_t>(items.size());
        param.items = items.data();
        ::setenv("TARN_DNS_PORT", std::to_string(server.port()).c_str(), 1);
    }
};

// Polls as the check driver does, then waits.
void runLikeTheDriver(Batch& b) {
    ASSERT_EQ(MXVerifyWSAStartup(), 0);
    ASSERT_EQ(MXVerify(&b.param), 1);
    std::int32_t ok = 0, ng = 0, lastSum = 0;
    ASSERT_TRUE(tarn::test::waitUntil(
        [&] {
            bool running = MXVerifyGetCounts(&b.param, &ok, &ng) != 0;
            EXPECT_GE(ok + ng, lastSum);  // progress never goes back
            lastSum = ok + ng;
            return !running;
        },
        std::chrono::seconds(60)));
    ASSERT_EQ(MXVerifyWait(&b.param), 1);
    EXPECT_EQ(MXVerifyWait(&b.param), 0);
}

TEST(MxVerifyWithDnsmasq, MxARecordsAndUnknownNames) {
    Dnsmasq server({"local=/test/", "mx-host=mx.test,mail.mx.test,10",
                    "mx-host=mx.test,mail2.mx.test,20", "host-record=mail.mx.test,10.0.0.1",
                    "host-record=aonly.test,10.0.0.2", "host-record=www.aonly.test,10.0.0.3"});
    Batch b(
        {"mx.test.", "aonly.test.", "none.test.", "www.aonly.test.", "MX.TEST.", "nothing.test."},
        server);
    runLikeTheDriver(b);
    std::vector<int> results;
    for (const auto& item : b.items) {
        results.push_back(item.result);
        EXPECT_EQ(item.stage, MXVERIFY_STAGE_DONE);
    }
    EXPECT_THAT(results, testing::ElementsAre(0, 1, -3, 1, 0, -3)) << server.output();
    EXPECT_EQ(b.param.okCount, 4);
    EXPECT_EQ(b.param.ngCount, 2);
    EXPECT_EQ(b.param.lastError, 0);
}

TEST(MxVerifyWithDnsmasq, ThousandsOfSyntheticDomains) {
    std::vector<std::string> config = {"local=/test/", "host-record=mail.test,10.0.0.1"};
    std::vector<std::string> domains;
    constexpr int kDomains = 3000;
    for (int i = 0; i < kDomains; ++i) {
        std::string name = "d" + std::to_string(i) + ".test";
        switch (i % 3) {
            case 0:
                config.push_back("mx-host=" + name + ",mail.test,10");
                break;
            case 1:
                config.push_back("host-record=" + name + ",10.1." + std::to_string(i / 256) + "." +
                                 std::to_string(i % 256));
                break;
            default:
                break;  // does not exist
        }
        domains.push_back(name + ".");
    }
    Dnsmasq server(config);
    Batch b(domains, server);
    runLikeTheDriver(b);
    int wrong = 0;
    for (int i = 0; i < kDomains; ++i) {
        int expected = i % 3 == 0 ? 0 : i % 3 == 1 ? 1 : -3;
        wrong += b.items[static_cast<std::size_t>(i)].result != expected;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(b.param.okCount, 2000);
    EXPECT_EQ(b.param.ngCount, 1000);
}

TEST(MxVerifyExports, ArgumentChecksAndCompatibilityCalls) {
    EXPECT_EQ(MXVerify(nullptr), 0);
    MXVerifyParam p{};
    p.count = -1;
    EXPECT_EQ(MXVerify(&p), 0);
    p.count = 2;  // no items
    EXPECT_EQ(MXVerify(&p), 0);
    EXPECT_EQ(MXVerifyWait(&p), 0);
    EXPECT_EQ(MXVerifyStop(&p), 0);
    EXPECT_EQ(MXVerifyGetCounts(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(MXVerifyWSACleanup(), 0);
    EXPECT_EQ(MXVerifyWSACloseEvent(nullptr), 1);
    EXPECT_EQ(MXVerifyInet_addr("127.0.0.2"), htonl(0x7F000002));
    EXPECT_EQ(MXVerifyInet_addr("not an address"), INADDR_NONE);
    EXPECT_EQ(MXVerifyInet_addr(nullptr), INADDR_NONE);
    EXPECT_EQ(MXIsValid(), 1);

    // An empty batch ends at once; a block can be used again after the wait.
    p.count = 0;
    ASSERT_EQ(MXVerify(&p), 1);
    EXPECT_EQ(MXVerify(&p), 0);  // already running (or not yet waited for)
    EXPECT_EQ(MXVerifyWait(&p), 1);
    ASSERT_EQ(MXVerify(&p), 1);
    EXPECT_EQ(MXVerifyWait(&p), 1);
    EXPECT_EQ(p.okCount + p.ngCount, 0);
}

}  // namespace

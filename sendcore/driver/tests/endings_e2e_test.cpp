// How a `tarn send` ends: the exit code and last line say whether every
// message went out, and a termination signal stops the run at once, even while
// the server has stopped answering, with the statuses saved.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>

#include "fake_smtp.h"
#include "send_fixture.h"

using namespace tarn;
using namespace tarn::test;

namespace {

std::string lastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') {
        t.pop_back();
    }
    auto lf = t.rfind('\n');
    return lf == std::string::npos ? t : t.substr(lf + 1);
}

contents::SendContents plainMessage() {
    contents::SendContents c;
    c.subject = sj("お知らせ");
    c.body = "body\r\n";
    return c;
}

}  // namespace

TEST(SendEnding, ExitCodeAndLastLineCountTheRefusedMessages) {
    RunFixture fx;
    fx.startRecorder({"--refuse", "no@example.jp"});
    fx.writeBook({{"甲", "", "", "一", "a@example.jp", "様", {}},
                  {"乙", "", "", "二", "no@example.jp", "様", {}},
                  {"丙", "", "", "三", "c@example.jp", "様", {}}});
    fx.writeContents(plainMessage());
    fx.saveSettings();

    RunResult first = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_EQ(first.exitCode, 3) << first.out << first.err;
    EXPECT_EQ(lastLine(first.out), "結果 [OK:2件 NG:1件]") << first.out;
    EXPECT_EQ(fx.readBook().record(1).status(), 4);

    // The refused recipient is no longer eligible: the next run is clean.
    RunResult second = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
    EXPECT_EQ(lastLine(second.out), "結果 [OK:2件 NG:0件]") << second.out;
}

TEST(SendEnding, TerminationSignalsStopAStalledRunAtOnceAndKeepTheStatuses) {
    using zeph::test::FakeSmtp;
    using zeph::test::Script;
    // The first message is refused at RCPT; the second one's data is never
    // answered: the server has stalled.
    const Script stalls = {
        {"", {"220 fake ESMTP\r\n"}, false},
        {"EHLO", {"250 fake\r\n"}, false},
        {"RSET", {"250 ok\r\n"}, false},
        {"MAIL", {"250 ok\r\n"}, false},
        {"RCPT", {"550 5.1.1 no such user\r\n"}, false},
        {"RSET", {"250 ok\r\n"}, false},
        {"MAIL", {"250 ok\r\n"}, false},
        {"RCPT", {"250 ok\r\n"}, false},
        {"DATA", {"354 go ahead\r\n"}, false},
    };
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        FakeSmtp server({stalls});
        RunFixture fx;
        fx.settings().defaultAccount.PortNo = server.port();
        fx.writeBook({{"甲", "", "", "一", "gone@example.jp", "様", {}},
                      {"乙", "", "", "二", "b@example.jp", "様", {}},
                      {"丙", "", "", "三", "c@example.jp", "様", {}}});
        fx.writeContents(plainMessage());
        fx.saveSettings();

        ChildProcess tarn({tarnPath(), "send", fx.path("book.tn2").string(), "--yes"}, fx.path("."),
                          fx.env());
        ASSERT_TRUE(server.waitReceived("\r\n.\r\n", 0, std::chrono::seconds(20)))
            << tarn.output() << server.received();
        const auto signalled = std::chrono::steady_clock::now();
        ASSERT_TRUE(tarn.running());
        ::kill(tarn.pid(), signal);
        ASSERT_TRUE(waitUntil([&] { return !tarn.running(); }, std::chrono::seconds(30)));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - signalled);
        // The goal is 100 ms; the bound leaves room for a loaded machine, and
        // is far below the 90 s receive time-out a QUIT would wait.
        EXPECT_LT(took.count(), 3000) << tarn.output();
        RecordProperty("stop_ms", static_cast<int>(took.count()));
        EXPECT_EQ(tarn.exitCode(), 1) << tarn.output();
        EXPECT_NE(tarn.output().find("結果 [OK:0件 NG:1件]"), std::string::npos) << tarn.output();

        // The refusal was saved; the stalled message is neither sent nor refused.
        auto book = fx.readBook();
        EXPECT_EQ(book.record(0).status(), 4);
        EXPECT_EQ(book.record(1).status(), 0);
        EXPECT_EQ(book.record(2).status(), 0);
        EXPECT_EQ(server.connections(), 1U);
    }
}

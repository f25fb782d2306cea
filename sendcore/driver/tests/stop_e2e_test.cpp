// Ctrl-C during a send on a terminal: "中止しますか？" answered No goes on with
// a fresh session, Yes ends the run with 508.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "send_fixture.h"

using namespace tarn;
using namespace tarn::test;

namespace {

// `tarn` on a pseudo-terminal, so that it asks its questions there.
class TerminalRun {
public:
    TerminalRun(const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& env) {
        m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            for (const auto& [k, v] : env) {
                ::setenv(k.c_str(), v.c_str(), 1);
            }
            std::vector<char*> args;
            for (const auto& a : argv) {
                args.push_back(const_cast<char*>(a.c_str()));
            }
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~TerminalRun() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_master);
    }

    void interrupt() { ::kill(m_pid, SIGINT); }
    void type(const std::string& text) {
        [[maybe_unused]] auto n = ::write(m_master, text.data(), text.size());
    }

    // Reads the terminal until `text` has appeared `times` times in all, or 20 s.
    bool waitFor(const std::string& text, int times) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            int seen = 0;
            for (std::size_t at = m_screen.find(text); at != std::string::npos;
                 at = m_screen.find(text, at + 1)) {
                ++seen;
            }
            if (seen >= times) {
                return true;
            }
            pump(100);
        }
        return false;
    }

    int wait() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            pump(50);
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                pump(50);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -2;
    }

    const std::string& screen() const { return m_screen; }

private:
    void pump(int ms) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, ms) == 1) {
            char buf[4096];
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                m_screen.append(buf, static_cast<std::size_t>(n));
            }
        }
    }

    int m_master = -1;
    pid_t m_pid = -1;
    std::string m_screen;
};

}  // namespace

TEST(SendStop, NoGoesOnWithAFreshSessionAndYesEndsTheRun) {
    RunFixture fx;
    fx.startRecorder();
    std::vector<BookRow> rows;
    for (int i = 1; i <= 6; ++i) {
        rows.push_back(
            {"会社", "", "", "宛先", "user" + std::to_string(i) + "@example.com", "様", {}});
    }
    fx.writeBook(rows);
    contents::SendContents c;
    c.subject = sj("お知らせ");
    c.body = "body\r\n";
    fx.writeContents(c);
    fx.settings().WaitMSec = 300;  // each accepted message holds the run a little
    fx.saveSettings();

    TerminalRun term({tarnPath(), "send", fx.path("book.tn2").string(), "--yes"}, fx.env());
    ASSERT_TRUE(waitUntil([&] { return fx.recordedCount() >= 1; })) << term.screen();
    term.interrupt();
    ASSERT_TRUE(term.waitFor("中止しますか？", 1)) << term.screen();
    const int beforeNo = fx.recordedCount();
    term.type("n\n");
    ASSERT_TRUE(waitUntil([&] { return fx.recordedCount() >= beforeNo + 1; })) << term.screen();
    term.interrupt();
    ASSERT_TRUE(term.waitFor("中止しますか？", 2)) << term.screen();
    term.type("y\n");
    EXPECT_EQ(term.wait(), 1);
    EXPECT_NE(term.screen().find("(№508)"), std::string::npos) << term.screen();

    // The message after the declined stop went out on a new connection; the run
    // ended before the last recipient.
    const int sent = fx.recordedCount();
    EXPECT_LT(sent, 6);
    auto connection = [&](int n) {
        std::string e = fx.envelope(n);
        return std::atoi(e.c_str() + e.find("\"connection\": ") + 14);
    };
    EXPECT_EQ(connection(beforeNo + 1), connection(beforeNo) + 1);
    std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(log.find("結果 [OK:" + std::to_string(sent) + "件 NG:0件]\n\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("--- 送信完了"), std::string::npos);
}

// POP before SMTP through `tarn send`: the driver logs in to POP3 first, and
// each refusal has its own send error code.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "send_fixture.h"

using namespace tarn;
using namespace tarn::test;

namespace {

// A scripted POP3 server on a free port of 127.0.0.253 (the applications use
// 110; `tarn send --pop-port` points the run here): user "op" with password
// "secret"; everything else is refused.
class ScriptedPop {
public:
    // The port listened on, or 0 when the socket could not be set up.
    int start() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x7F0000FD);
        socklen_t length = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_fd, 4) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
            return 0;
        }
        m_thread = std::thread([this] { serve(); });
        return ntohs(a.sin_port);
    }
    ~ScriptedPop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    int logins() const { return m_logins; }

private:
    void serve() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) {
                continue;
            }
            int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0) {
                continue;
            }
            session(c);
            ::close(c);
        }
    }
    void session(int c) {
        auto say = [c](const char* s) { return ::send(c, s, std::strlen(s), MSG_NOSIGNAL) > 0; };
        say("+OK scripted POP3 ready\r\n");
        std::string in;
        std::string user;
        for (;;) {
            pollfd p{c, POLLIN, 0};
            char buf[512];
            ssize_t n = ::poll(&p, 1, 5000) == 1 ? ::recv(c, buf, sizeof buf, 0) : 0;
            if (n <= 0) {
                return;
            }
            in.append(buf, static_cast<std::size_t>(n));
            for (std::size_t lf; (lf = in.find("\r\n")) != std::string::npos;) {
                std::string line = in.substr(0, lf);
                in.erase(0, lf + 2);
                if (line.rfind("USER ", 0) == 0) {
                    user = line.substr(5);
                    say(user == "op" ? "+OK\r\n" : "-ERR no such user\r\n");
                } else if (line.rfind("PASS ", 0) == 0) {
                    bool ok = user == "op" && line.substr(5) == "secret";
                    m_logins += ok ? 1 : 0;
                    say(ok ? "+OK logged in\r\n" : "-ERR invalid password\r\n");
                } else if (line == "QUIT") {
                    say("+OK bye\r\n");
                    return;
                } else {
                    say("-ERR unknown command\r\n");
                }
            }
        }
    }

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_logins{0};
    std::thread m_thread;
};

}  // namespace

TEST(SendPopBeforeSmtp, RefusedUserAndPasswordHaveTheirCodesAndALoginLetsTheSendThrough) {
    ScriptedPop pop;
    const int popPort = pop.start();
    ASSERT_NE(popPort, 0) << "cannot listen on 127.0.0.253: " << std::strerror(errno);
    RunFixture fx;
    fx.startRecorder();
    fx.writeBook({{"会社", "", "", "名前", "a@example.com", "様", {}}});
    contents::SendContents c;
    c.subject = "s";
    c.body = "body\r\n";
    fx.writeContents(c);
    AccountSettings& a = fx.settings().defaultAccount;
    a.PBSUse = 1;
    setFieldText(a.Pop3Name, "127.0.0.253");
    auto sendWith = [&](const std::string& user, const std::string& password) {
        setFieldText(a.PBSUserID, user);
        setFieldText(a.PBSPassword, password);
        fx.saveSettings();
        return fx.tarn(
            {"send", fx.path("book.tn2").string(), "--yes", "--pop-port", std::to_string(popPort)});
    };

    RunResult badUser = sendWith("nobody", "secret");
    EXPECT_EQ(badUser.exitCode, 1);
    EXPECT_NE(badUser.err.find("(№513)\nPOP3のユーザーIDが違います。"), std::string::npos)
        << badUser.err;

    RunResult badPassword = sendWith("op", "wrong");
    EXPECT_EQ(badPassword.exitCode, 1);
    EXPECT_NE(badPassword.err.find("(№514)\nPOP3のパスワードが違います。"), std::string::npos)
        << badPassword.err;
    EXPECT_EQ(fx.recordedCount(), 0) << "no SMTP connection after a refused POP login";

    RunResult ok = sendWith("op", "secret");
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(pop.logins(), 1);
    EXPECT_EQ(fx.recordedCount(), 1);
    std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(log.find("Use pop before SMTP\nPOP3Name:127.0.0.253, UserID:op\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("secret"), std::string::npos) << "the POP password is never logged";
}

TEST(SendPopBeforeSmtp, PopPortMustBeAPortNumber) {
    RunFixture fx;
    fx.writeBook({{"会社", "", "", "名前", "a@example.com", "様", {}}});
    for (const char* bad : {"0", "65536", "11O", "-110", ""}) {
        RunResult r = fx.tarn({"send", fx.path("book.tn2").string(), "--yes", "--pop-port", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("--pop-port"), std::string::npos) << r.err;
    }
}

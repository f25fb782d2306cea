// Several sessions side by side: every message once, at its own recipient,
// outcomes back in hand-out order; a server that turns sessions away.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <set>
#include <thread>

#include "session_pool.h"
#include "smtp_recorder.h"

namespace tarn::driver {
namespace {

using namespace std::chrono_literals;

std::string address(std::size_t i) {
    return "user" + std::to_string(i) + "@example.jp";
}

zeph::Message messageTo(const std::string& to) {
    zeph::Message m;
    m.setDefaultHeader();
    m.setHeader("To", to);
    m.setHeader("From", "Sender <s@example.jp>");
    m.setHeader("Subject", "report");
    m.setBody("Hello\r\n");
    return m;
}

SessionPool::Configure onPort(int port) {
    return [port](zeph::MailEngine& e) {
        e.setPort(port);
        e.setRecvTimeOutSec(30);
        e.setWaitMillSec(0, 0);
    };
}

// Hands out `count` messages as the window allows and takes every outcome.
std::vector<PooledOutcome> sendAll(SessionPool& pool, std::size_t count) {
    std::vector<PooledOutcome> outcomes;
    std::size_t handed = 0;
    while (outcomes.size() < count) {
        while (handed < count && pool.ready()) {
            EXPECT_TRUE(pool.submit(messageTo(address(handed + 1))));
            ++handed;
        }
        auto o = pool.next(30s);
        if (!o) {
            ADD_FAILURE() << "no outcome for message " << outcomes.size();
            break;
        }
        outcomes.push_back(std::move(*o));
    }
    return outcomes;
}

// The recipients of every message the recorder stored, each checked against
// its own To header; their count per address.
std::map<std::string, int> delivered(const test::SmtpRecorder& server) {
    std::map<std::string, int> seen;
    const std::regex rcpt(R"re("rcpt_tos": \["([^"]+)"\])re");
    for (int n = 1; n <= server.count(); ++n) {
        auto envelope = server.envelope(n);
        std::smatch m;
        if (!envelope || !std::regex_search(*envelope, m, rcpt)) {
            ADD_FAILURE() << "message " << n << ": " << envelope.value_or("(none)");
            continue;
        }
        EXPECT_NE(server.message(n).find("To: " + m[1].str() + "\r\n"), std::string::npos) << n;
        ++seen[m[1].str()];
    }
    return seen;
}

TEST(SessionPool, FourSessionsDeliverEachMessageOnceAndReportInOrder) {
    constexpr std::size_t kCount = 1000;
    constexpr std::size_t kRefused = 500;
    std::vector<std::vector<PooledOutcome>> runs;
    for (int sessions : {1, 4}) {
        SCOPED_TRACE(sessions);
        test::SmtpRecorder server({"--pipelining", "--refuse", address(kRefused)});
        ASSERT_NE(server.port(), 0) << server.output();
        std::atomic<int> commits{0};
        SessionPool pool({"127.0.0.1", sessions}, onPort(server.port()),
                         [&](std::size_t, int) { return ++commits, true; });
        PooledOutcome failure;
        ASSERT_TRUE(pool.open(failure)) << failure.reply;
        EXPECT_EQ(pool.sessions(), sessions);
        runs.push_back(sendAll(pool, kCount));
        pool.close();

        const auto& outcomes = runs.back();
        ASSERT_EQ(outcomes.size(), kCount);
        std::set<int> used;
        for (std::size_t i = 0; i < kCount; ++i) {
            EXPECT_EQ(outcomes[i].seq, i);
            EXPECT_EQ(outcomes[i].accepted, i + 1 != kRefused) << i;
            EXPECT_FALSE(outcomes[i].interrupted || outcomes[i].noSession) << i;
            used.insert(outcomes[i].session);
        }
        EXPECT_EQ(static_cast<int>(used.size()), sessions);
        EXPECT_EQ(outcomes[kRefused - 1].error.smtpReplyCode, 550);
        EXPECT_EQ(outcomes[kRefused - 1].reply, "550 5.1.1 Mailbox unavailable");
        EXPECT_FALSE(outcomes[kRefused - 1].committed);
        // The refused recipient's transaction never reached its ".".
        EXPECT_EQ(commits.load(), static_cast<int>(kCount - 1));

        ASSERT_EQ(server.count(), static_cast<int>(kCount - 1));
        const auto seen = delivered(server);
        EXPECT_EQ(seen.size(), kCount - 1);
        for (const auto& [to, times] : seen) {
            EXPECT_EQ(times, 1) << to;
        }
        EXPECT_EQ(seen.count(address(kRefused)), 0u);
    }
    ASSERT_EQ(runs.size(), 2u);
    for (std::size_t i = 0; i < kCount; ++i) {
        const PooledOutcome &one = runs[0][i], &four = runs[1][i];
        EXPECT_EQ(one.accepted, four.accepted) << i;
        EXPECT_EQ(one.reply, four.reply) << i;
        EXPECT_EQ(one.error.lastError, four.error.lastError) << i;
        EXPECT_EQ(one.error.socketError, four.error.socketError) << i;
        EXPECT_EQ(one.error.smtpReplyCode, four.error.smtpReplyCode) << i;
        EXPECT_EQ(one.error.errorPosition, four.error.errorPosition) << i;
    }
}

TEST(SessionPool, AStopAccountsForEveryMessageHandedOut) {
    test::SmtpRecorder server({"--pipelining"});
    ASSERT_NE(server.port(), 0) << server.output();
    SessionPool pool({"127.0.0.1", 3}, onPort(server.port()), nullptr);
    PooledOutcome failure;
    ASSERT_TRUE(pool.open(failure)) << failure.reply;
    std::size_t handed = 0;
    while (pool.ready()) {
        ASSERT_TRUE(pool.submit(messageTo(address(++handed))));
    }
    ASSERT_TRUE(pool.next(30s));
    pool.stop();
    EXPECT_FALSE(pool.ready());
    EXPECT_FALSE(pool.submit(messageTo(address(handed + 1))));
    int accepted = 1;
    std::map<int, int> uncertain;  // per session
    for (std::size_t i = 1; i < handed; ++i) {
        auto o = pool.next(30s);
        ASSERT_TRUE(o) << i;
        EXPECT_EQ(o->seq, i);
        accepted += o->accepted ? 1 : 0;
        EXPECT_TRUE(o->accepted || o->interrupted) << i;
        if (!o->accepted && o->committed) {
            ++uncertain[o->session];
        }
    }
    EXPECT_EQ(pool.pending(), 0u);
    pool.close();
    // The server holds every message called accepted, and of the others at
    // most those whose "." had gone out: one per session at most.
    int maybe = 0;
    for (const auto& [session, n] : uncertain) {
        EXPECT_LE(n, 1) << session;
        maybe += n;
    }
    EXPECT_GE(server.count(), accepted);
    EXPECT_LE(server.count(), accepted + maybe);
}

// Serves every connection at once, each on a thread of its own, and accepts
// every message; the connections listed in `refused` (from 0) get 421 at
// the greeting, as a server does past its limit for one client. With
// `closeAfter`, a connection is closed right after the reply to its
// closeAfter-th message, whatever the client has sent on.
class LimitedServer {
public:
    explicit LimitedServer(std::set<int> refused, bool pipelining = false, int closeAfter = 0)
        : m_refused(std::move(refused)), m_pipelining(pipelining), m_closeAfter(closeAfter) {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return;
        }
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~LimitedServer() {
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_acceptor.joinable()) {
            m_acceptor.join();
        }
        for (auto& t : m_clients) {
            t.join();
        }
        ::close(m_listen);
    }
    LimitedServer(const LimitedServer&) = delete;
    LimitedServer& operator=(const LimitedServer&) = delete;

    int port() const { return m_port; }
    int connections() {
        std::lock_guard lock(m_mutex);
        return m_connections;
    }
    // The messages accepted, per recipient.
    std::map<std::string, int> recipients() {
        std::lock_guard lock(m_mutex);
        return m_recipients;
    }

private:
    void acceptLoop() {
        for (int index = 0;; ++index) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            {
                std::lock_guard lock(m_mutex);
                ++m_connections;
            }
            m_clients.emplace_back([this, fd, index] { serve(fd, m_refused.count(index) != 0); });
        }
    }
    static bool say(int fd, const std::string& text) {
        return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    void serve(int fd, bool refuse) {
        if (refuse) {
            say(fd, "421 4.7.0 Too many connections from your host\r\n");
            ::close(fd);
            return;
        }
        say(fd, "220 limited ESMTP\r\n");
        std::string buffer;
        std::string rcpt;
        int accepted = 0;
        bool inData = false;
        char chunk[4096];
        for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) {
            buffer.append(chunk, static_cast<std::size_t>(n));
            for (std::size_t end;
                 (end = buffer.find(inData ? "\r\n.\r\n" : "\r\n")) != std::string::npos;) {
                const std::string line = buffer.substr(0, end);
                buffer.erase(0, end + (inData ? 5 : 2));
                if (inData) {
                    inData = false;
                    {
                        std::lock_guard lock(m_mutex);
                        ++m_recipients[rcpt];
                    }
                    say(fd, "250 2.0.0 queued\r\n");
                    if (++accepted == m_closeAfter) {
                        ::close(fd);
                        return;
                    }
                } else if (line.starts_with("EHLO")) {
                    say(fd, m_pipelining ? "250-limited\r\n250-PIPELINING\r\n250 8BITMIME\r\n"
                                         : "250-limited\r\n250 8BITMIME\r\n");
                } else if (line.starts_with("RCPT TO:<")) {
                    rcpt = line.substr(9, line.find('>') - 9);
                    say(fd, "250 2.1.5 ok\r\n");
                } else if (line == "DATA") {
                    inData = true;
                    buffer.insert(0, "\r\n");  // the "." may follow the headers' first line
                    say(fd, "354 go ahead\r\n");
                } else if (line == "QUIT") {
                    say(fd, "221 bye\r\n");
                    break;
                } else {
                    say(fd, "250 2.0.0 ok\r\n");
                }
            }
        }
        ::close(fd);
    }

    std::set<int> m_refused;
    const bool m_pipelining;
    const int m_closeAfter;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_clients;
    std::mutex m_mutex;
    int m_connections = 0;
    std::map<std::string, int> m_recipients;
};

// Every one of `count` messages accepted, and each recipient seen once.
void expectEveryMessageDeliveredOnce(const std::vector<PooledOutcome>& outcomes,
                                     const std::map<std::string, int>& seen, std::size_t count) {
    ASSERT_EQ(outcomes.size(), count);
    for (const auto& o : outcomes) {
        EXPECT_TRUE(o.accepted) << o.seq << ": " << o.reply;
    }
    EXPECT_EQ(seen.size(), count);
    for (const auto& [to, times] : seen) {
        EXPECT_EQ(times, 1) << to;
    }
}

TEST(SessionPool, AServerThatTurnsSessionsAwayLeavesTheRunFewerSessions) {
    constexpr std::size_t kCount = 40;
    {
        SCOPED_TRACE("421 to the third connection while opening");
        LimitedServer server({2});
        ASSERT_NE(server.port(), 0);
        SessionPool pool({"127.0.0.1", 4}, onPort(server.port()), nullptr);
        PooledOutcome failure;
        ASSERT_TRUE(pool.open(failure)) << failure.reply;
        EXPECT_EQ(pool.sessions(), 2);
        EXPECT_EQ(server.connections(), 3);  // no fourth try past the limit
        const auto outcomes = sendAll(pool, kCount);
        pool.close();
        expectEveryMessageDeliveredOnce(outcomes, server.recipients(), kCount);
    }
    {
        SCOPED_TRACE("421 to a reconnection after a batch");
        LimitedServer server({2});
        ASSERT_NE(server.port(), 0);
        SessionPoolOptions options{"127.0.0.1", 2};
        options.waitCount = 5;
        SessionPool pool(options, onPort(server.port()), nullptr);
        PooledOutcome failure;
        ASSERT_TRUE(pool.open(failure)) << failure.reply;
        EXPECT_EQ(pool.sessions(), 2);
        const auto outcomes = sendAll(pool, kCount);
        EXPECT_EQ(pool.sessions(), 1);
        pool.close();
        expectEveryMessageDeliveredOnce(outcomes, server.recipients(), kCount);
    }
    {
        SCOPED_TRACE("421 to the first connection");
        LimitedServer server({0});
        ASSERT_NE(server.port(), 0);
        SessionPool pool({"127.0.0.1", 4}, onPort(server.port()), nullptr);
        PooledOutcome failure;
        EXPECT_FALSE(pool.open(failure));
        EXPECT_EQ(failure.error.smtpReplyCode, 421);
        EXPECT_FALSE(pool.ready());
    }
}

TEST(SessionPool, ASessionClosedWhileTheNextMessagesCommandsWentAheadSendsNothingTwice) {
    // Each connection takes three messages and closes; with PIPELINING the
    // fourth one's commands have already gone out with the third's content.
    constexpr std::size_t kCount = 40;
    LimitedServer server({}, true, 3);
    ASSERT_NE(server.port(), 0);
    SessionPool pool({"127.0.0.1", 2}, onPort(server.port()), nullptr);
    PooledOutcome failure;
    ASSERT_TRUE(pool.open(failure)) << failure.reply;
    const auto outcomes = sendAll(pool, kCount);
    pool.close();
    ASSERT_EQ(outcomes.size(), kCount);
    const auto seen = server.recipients();
    std::size_t accepted = 0;
    for (const auto& o : outcomes) {
        const std::string to = address(o.seq + 1);
        if (o.accepted) {
            ++accepted;
            EXPECT_EQ(seen.count(to), 1u) << to;
        } else {
            // Lost with its session before its end of data: not sent, and
            // said so, so that the run tries it again.
            EXPECT_FALSE(o.committed) << to;
            EXPECT_EQ(seen.count(to), 0u) << to;
            EXPECT_NE(o.error.socketError, 0) << to;
        }
    }
    for (const auto& [to, times] : seen) {
        EXPECT_EQ(times, 1) << to;
    }
    EXPECT_EQ(seen.size(), accepted);
    EXPECT_GE(accepted, kCount / 2);
    EXPECT_GE(server.connections(), static_cast<int>(kCount / 4));
}

}  // namespace
}  // namespace tarn::driver

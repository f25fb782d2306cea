// The capture server meets whatever a client sends: several clients at once,
// over-long lines, oversized messages, dot-stuffing.
#include "driver/capture_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "testsupport.h"

using namespace tarn;
using namespace tarn::test;

namespace {

class Client {
public:
    explicit Client(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Client() { ::close(m_fd); }
    void send(const std::string& s) {
        ASSERT_EQ(::send(m_fd, s.data(), s.size(), MSG_NOSIGNAL), static_cast<ssize_t>(s.size()));
    }
    // The next reply line ("" when the server closed or said nothing for 5 s).
    std::string line() {
        while (m_buf.find('\n') == std::string::npos) {
            pollfd p{m_fd, POLLIN, 0};
            char b[4096];
            ssize_t n = ::poll(&p, 1, 5000) == 1 ? ::recv(m_fd, b, sizeof b, 0) : 0;
            if (n <= 0) {
                return {};
            }
            m_buf.append(b, static_cast<std::size_t>(n));
        }
        std::string l = m_buf.substr(0, m_buf.find('\n') + 1);
        m_buf.erase(0, l.size());
        return l;
    }
    std::string exchange(const std::string& command) {
        send(command);
        return line();
    }

private:
    int m_fd;
    std::string m_buf;
};

}  // namespace

TEST(CaptureServer, ServesClientsSideBySideAndUndoesDotStuffing) {
    TempDir dir;
    driver::CaptureServer server;
    driver::CaptureServer::Options o;
    o.dir = dir.path();
    ASSERT_TRUE(server.start(o).ok());
    Client a(server.port()), b(server.port()), c(server.port());
    for (Client* x : {&a, &b, &c}) {
        EXPECT_EQ(x->line().substr(0, 4), "220 ");
        EXPECT_EQ(x->exchange("HELO t\r\n").substr(0, 4), "250 ");
    }
    // Interleaved transactions on three open connections.
    for (Client* x : {&a, &b, &c}) {
        EXPECT_EQ(x->exchange("MAIL FROM:<s@example.jp>\r\n").substr(0, 4), "250 ");
    }
    EXPECT_EQ(b.exchange("RCPT TO:<b@example.jp>\r\n").substr(0, 4), "250 ");
    EXPECT_EQ(b.exchange("DATA\r\n").substr(0, 4), "354 ");
    EXPECT_EQ(b.exchange("Subject: x\r\n\r\n..dot\r\nbody\r\n.\r\n").substr(0, 4), "250 ");
    EXPECT_EQ(a.exchange("DATA\r\n").substr(0, 4), "503 ") << "no recipient yet";
    EXPECT_EQ(server.messageCount(), 1u);
    EXPECT_EQ(readFile(dir / "000001.eml"), "Subject: x\r\n\r\n.dot\r\nbody\r\n");
    EXPECT_EQ(readFile(dir / "index.txt"), "000001.eml\ts@example.jp\tb@example.jp\n");
    server.stop();
}

TEST(CaptureServer, RefusesOverlongLinesAndOversizedMessages) {
    TempDir dir;
    driver::CaptureServer server;
    driver::CaptureServer::Options o;
    o.dir = dir.path();
    o.maxMessageBytes = 1000;
    ASSERT_TRUE(server.start(o).ok());
    {
        Client x(server.port());
        x.line();
        x.send(std::string(5000, 'A'));
        EXPECT_EQ(x.line().substr(0, 4), "500 ");
        EXPECT_EQ(x.line(), "") << "the connection is closed";
    }
    Client y(server.port());
    y.line();
    y.exchange("HELO t\r\n");
    y.exchange("MAIL FROM:<s@example.jp>\r\n");
    y.exchange("RCPT TO:<r@example.jp>\r\n");
    y.exchange("DATA\r\n");
    std::string big;
    for (int i = 0; i < 100; ++i) {
        big += std::string(60, 'x') + "\r\n";
    }
    EXPECT_EQ(y.exchange(big + ".\r\n").substr(0, 4), "552 ");
    EXPECT_EQ(server.messageCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "000001.eml"));
    EXPECT_EQ(y.exchange("NOOP\r\n").substr(0, 4), "250 ") << "the session goes on";
}

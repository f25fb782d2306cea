#include "dnsmasq_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace tarn::mx::test {

namespace {

// True once the server answers an A query for `name` with a record.
bool answers(const std::string& address, std::uint16_t port, const std::string& name) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    std::string q("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
    std::size_t pos = 0;
    while (pos < name.size()) {
        std::size_t dot = name.find('.', pos);
        if (dot == std::string::npos) {
            dot = name.size();
        }
        q.push_back(static_cast<char>(dot - pos));
        q.append(name, pos, dot - pos);
        pos = dot + 1;
    }
    q.append("\x00\x00\x01\x00\x01", 5);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(address.c_str());
    bool ok = false;
    if (::sendto(fd, q.data(), q.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
        pollfd p{fd, POLLIN, 0};
        char buf[512];
        // ANCOUNT > 0: a server that does not know this unique name is not ours.
        ok = ::poll(&p, 1, 200) == 1 && ::recv(fd, buf, sizeof buf, 0) >= 12 && buf[0] == 0x12 &&
             (buf[6] != 0 || buf[7] != 0);
    }
    ::close(fd);
    return ok;
}

}  // namespace

Dnsmasq::Dnsmasq(const std::vector<std::string>& config) {
    const std::string readyName = "ready-" + std::to_string(::getpid()) + ".invalid";
    std::string text = "host-record=" + readyName + ",10.255.0.1\n";
    for (const auto& line : config) {
        text += line + "\n";
    }
    tarn::test::writeFile(m_dir / "dnsmasq.conf", text);
    // Port 53 first (CI runs as root); if it is taken (another test's server)
    // or not allowed, a free port, which the library is told through
    // TARN_DNS_PORT.
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto port = static_cast<std::uint16_t>(attempt == 0 ? 53 : tarn::test::freePort(true));
        m_process = std::make_unique<tarn::test::ChildProcess>(
            std::vector<std::string>{
                "/usr/sbin/dnsmasq", "--no-resolv", "--no-hosts", "--keep-in-foreground",
                "--conf-file=" + (m_dir / "dnsmasq.conf").string(), "--listen-address=127.0.0.2",
                "--bind-interfaces", "--port=" + std::to_string(port), "--pid-file=", "--user=root",
                "--log-facility=-", "--cache-size=0"},
            m_dir.path());
        bool up = tarn::test::waitUntil(
            [&] { return !m_process->running() || answers(address(), port, readyName); },
            std::chrono::seconds(20));
        if (up && m_process->running()) {
            m_port = port;
            return;
        }
        m_process->stop();
    }
    throw std::runtime_error("dnsmasq did not start: " + output());
}

}  // namespace tarn::mx::test

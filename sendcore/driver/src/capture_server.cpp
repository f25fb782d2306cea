#include "driver/capture_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/files.h"

namespace tarn::driver {
namespace {

constexpr std::size_t kMaxCommandLine = 4096;

struct Client {
    int fd = -1;
    std::string in;   // bytes received, not yet handled
    std::string out;  // replies not yet written
    bool inData = false;
    bool closing = false;
    bool tooBig = false;
    std::string from;
    std::vector<std::string> to;
    std::string data;
};

std::string upperPrefix(std::string_view line, std::size_t n) {
    std::string s(line.substr(0, n));
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

// The address between "<" and ">" of "MAIL FROM:<a>" / "RCPT TO:<a>", or the
// text after the colon when there are no brackets.
std::string pathArgument(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return {};
    }
    std::string_view rest = line.substr(colon + 1);
    std::size_t lt = rest.find('<');
    std::size_t gt = rest.find('>');
    if (lt != std::string_view::npos && gt != std::string_view::npos && gt > lt) {
        return std::string(rest.substr(lt + 1, gt - lt - 1));
    }
    while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
    }
    return std::string(rest.substr(0, rest.find(' ')));
}

}  // namespace

CaptureServer::CaptureServer() = default;

CaptureServer::~CaptureServer() {
    stop();
}

Status CaptureServer::start(const Options& options) {
    m_options = options;
    std::error_code ec;
    std::filesystem::create_directories(options.dir, ec);
    if (!std::filesystem::is_directory(options.dir)) {
        return makeError("保存先フォルダを作成できません: " + options.dir.string());
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* res = nullptr;
    std::string port = std::to_string(options.port);
    if (int rc = ::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &res); rc != 0) {
        return makeError("待ち受けアドレスが不正です: " + options.host + " (" + gai_strerror(rc) +
                         ")");
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(res, ::freeaddrinfo);
    int fd = ::socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return makeError(std::string("ソケットを作成できません: ") + std::strerror(errno));
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, res->ai_addr, res->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
        int err = errno;
        ::close(fd);
        return makeError("待ち受けできません: " + options.host + ":" + port + " (" +
                         std::strerror(err) + ")");
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    m_port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                         : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    m_listenFd = fd;
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_stop = false;
    m_thread = std::thread([this] { serve(); });
    return Ok{};
}

void CaptureServer::stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
        if (!m_options.syncEachMessage) {
            // One flush of the folder's file system for the whole run.
            int dir = ::open(m_options.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::syncfs(dir);
                ::close(dir);
            }
        }
    }
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
}

void CaptureServer::serve() {
    std::vector<Client> clients;
    auto reply = [](Client& c, const char* text) { c.out += text; };
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> index;
    AtomicWriteOptions write;
    write.mode = 0644;
    write.durable = m_options.syncEachMessage;
    write.removeStrays = false;  // every message gets a new name

    auto storeMessage = [&](Client& c) {
        std::size_t number = ++m_messages;
        char name[32];
        std::snprintf(name, sizeof name, "%06zu.eml", number);
        std::string to;
        for (const auto& r : c.to) {
            to += (to.empty() ? "" : ",") + r;
        }
        auto written = writeFileAtomically(m_options.dir / name, c.data, write);
        if (!written) {
            --m_messages;
            return false;
        }
        std::string line = std::string(name) + "\t" + c.from + "\t" + to + "\n";
        if (!index) {
            index.reset(std::fopen((m_options.dir / "index.txt").c_str(), "abe"));
        }
        if (index) {
            std::fwrite(line.data(), 1, line.size(), index.get());
            std::fflush(index.get());
        }
        return true;
    };

    auto handleCommand = [&](Client& c, std::string_view line) {
        std::string verb = upperPrefix(line, 4);
        if (verb == "HELO") {
            reply(c, "250 capture server\r\n");
        } else if (verb == "EHLO") {
            reply(c, "250-capture server\r\n250-8BITMIME\r\n250 SIZE 67108864\r\n");
        } else if (verb == "MAIL") {
            c.from = pathArgument(line);
            c.to.clear();
            reply(c, "250 OK\r\n");
        } else if (verb == "RCPT") {
            c.to.push_back(pathArgument(line));
            reply(c, "250 OK\r\n");
        } else if (verb == "DATA") {
            if (c.to.empty()) {
                reply(c, "503 need RCPT first\r\n");
            } else {
                c.inData = true;
                c.data.clear();
                c.tooBig = false;
                reply(c, "354 end data with <CR><LF>.<CR><LF>\r\n");
            }
        } else if (verb == "RSET") {
            c.from.clear();
            c.to.clear();
            reply(c, "250 OK\r\n");
        } else if (verb == "NOOP") {
            reply(c, "250 OK\r\n");
        } else if (verb == "QUIT") {
            reply(c, "221 bye\r\n");
            c.closing = true;
        } else {
            reply(c, "502 command not implemented\r\n");
        }
    };

    auto handleInput = [&](Client& c) {
        std::size_t pos = 0;
        while (!c.closing) {
            std::size_t lf = c.in.find('\n', pos);
            if (lf == std::string::npos) {
                break;
            }
            std::string_view line(c.in.data() + pos, lf + 1 - pos);
            pos = lf + 1;
            if (c.inData) {
                if (line == ".\r\n" || line == ".\n") {
                    c.inData = false;
                    if (c.tooBig) {
                        reply(c, "552 message too large\r\n");
                    } else if (storeMessage(c)) {
                        reply(c, "250 OK stored\r\n");
                    } else {
                        reply(c, "451 cannot store the message\r\n");
                    }
                    c.data.clear();
                    continue;
                }
                if (!line.empty() && line.front() == '.') {
                    line.remove_prefix(1);  // undo dot-stuffing
                }
                if (c.data.size() + line.size() > m_options.maxMessageBytes) {
                    c.tooBig = true;
                } else if (!c.tooBig) {
                    c.data.append(line);
                }
                continue;
            }
            std::string_view cmd = line;
            while (!cmd.empty() && (cmd.back() == '\n' || cmd.back() == '\r')) {
                cmd.remove_suffix(1);
            }
            handleCommand(c, cmd);
        }
        c.in.erase(0, pos);
        if (!c.inData && c.in.size() > kMaxCommandLine) {
            reply(c, "500 line too long\r\n");
            c.closing = true;
        }
        if (c.inData && c.in.size() > kMaxCommandLine * 16) {
            // One data line without LF this long: keep the bytes as data.
            if (c.data.size() + c.in.size() > m_options.maxMessageBytes) {
                c.tooBig = true;
            } else if (!c.tooBig) {
                c.data += c.in;
            }
            c.in.clear();
        }
    };

    while (!m_stop) {
        std::vector<pollfd> fds;
        fds.push_back({m_wakeFd, POLLIN, 0});
        fds.push_back({m_listenFd, POLLIN, 0});
        for (const auto& c : clients) {
            short events = POLLIN;
            if (!c.out.empty()) {
                events |= POLLOUT;
            }
            fds.push_back({c.fd, events, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        const std::size_t polled = fds.size() - 2;
        for (std::size_t i = 0; i < polled; ++i) {
            Client& c = clients[i];
            short rev = fds[i + 2].revents;
            bool dead = (rev & (POLLERR | POLLNVAL)) != 0;
            if (!dead && (rev & (POLLIN | POLLHUP)) != 0) {
                char buf[65536];
                ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
                if (n > 0) {
                    c.in.append(buf, static_cast<std::size_t>(n));
                    handleInput(c);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    dead = true;
                }
            }
            if (!dead && !c.out.empty()) {
                ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    c.out.erase(0, static_cast<std::size_t>(n));
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    dead = true;
                }
            }
            if (dead || (c.closing && c.out.empty())) {
                ::close(c.fd);
                c.fd = -1;
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
        // New clients join after the polled ones have been served: fds holds
        // entries only for the clients that were there when poll() was called.
        if ((fds[1].revents & POLLIN) != 0) {
            int cfd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (cfd >= 0) {
                if (static_cast<int>(clients.size()) >= m_options.maxClients) {
                    static const char kBusy[] = "421 too many connections\r\n";
                    [[maybe_unused]] ssize_t n = ::send(cfd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL);
                    ::close(cfd);
                } else {
                    int one = 1;
                    ::setsockopt(cfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    Client c;
                    c.fd = cfd;
                    c.out = "220 capture server ready\r\n";
                    clients.push_back(std::move(c));
                }
            }
        }
    }
    for (auto& c : clients) {
        ::close(c.fd);
    }
}

}  // namespace tarn::driver

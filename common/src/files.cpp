#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tarn {
namespace {

std::string describe(const std::filesystem::path& path, const char* what, int err) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

// Closes a descriptor on every return path.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

}  // namespace

Result<std::string> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return makeError(describe(path, "cannot open", errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return makeError(describe(path, "cannot stat", errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return makeError(path.string() + " is a folder, not a file");
    }
    std::string bytes;
    if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) <= maxBytes) {
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return makeError(describe(path, "cannot read", errno));
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            return makeError(path.string() + " is larger than " + std::to_string(maxBytes) +
                             " bytes");
        }
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           unsigned mode) {
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    // Appended piece by piece: GCC 12 at -O3 misreads "." + std::string&& as an
    // overlapping memcpy (-Wrestrict) and the Release build stops.
    std::string hidden = ".";
    hidden += path.filename().string();
    hidden += ".XXXXXX";
    std::string tmpl = (dir / hidden).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    Fd fd(::mkstemp(name.data()));
    if (fd.get() < 0) {
        return makeError(describe(path, "cannot create a temporary file beside", errno));
    }
    const std::string tmpPath(name.data());
    auto failWith = [&](const char* what) {
        int err = errno;
        ::unlink(tmpPath.c_str());
        return makeError(describe(path, what, err));
    };
    if (::fchmod(fd.get(), mode) != 0) {
        return failWith("cannot set the mode of");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failWith("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) {
        return failWith("cannot flush");
    }
    if (::close(fd.release()) != 0) {
        return failWith("cannot close");
    }
    if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
        return failWith("cannot replace");
    }
    // Make the rename itself durable.
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) {
        ::fsync(dirFd.get());
    }
    return Ok{};
}

std::vector<std::string> splitLineList(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // fgets with a 1024-byte buffer: up to 1023 bytes, or through the next LF.
        std::size_t limit = std::min<std::size_t>(bytes.size() - pos, 1023);
        std::size_t lf = bytes.substr(pos, limit).find('\n');
        std::size_t len = lf == std::string_view::npos ? limit : lf + 1;
        std::string_view piece = bytes.substr(pos, len);
        pos += len;
        if (!piece.empty() && piece.back() == '\n') {
            piece.remove_suffix(1);
        }
        if (!piece.empty() && piece.back() == '\r') {
            piece.remove_suffix(1);
        }
        if (!piece.empty() && piece.back() == '\x1A') {
            piece.remove_suffix(1);
        }
        if (piece.empty() || piece.front() == '#') {
            continue;
        }
        lines.emplace_back(piece);
    }
    return lines;
}

Result<std::vector<std::string>> readLineList(const std::filesystem::path& path) {
    auto bytes = readWholeFile(path, std::size_t{256} << 20);
    if (!bytes) {
        return bytes.error();
    }
    return splitLineList(*bytes);
}

}  // namespace tarn

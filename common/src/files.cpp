#include "common/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace tarn {
namespace {

std::string describe(const std::filesystem::path& path, const char* what, int err) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

// Closes a descriptor on every return path.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~Fd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int fd) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

constexpr std::string_view kTempAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kTempSuffixLength = 6;  // as mkstemp's XXXXXX

bool lockNow(int fd) {
    int r = 0;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// ".NAME." followed by six letters or digits: a temporary file of ours (or of
// an earlier version, which used the same names without a lock).
bool isTemporaryOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() != prefix.size() + kTempSuffixLength || !entry.starts_with(prefix)) {
        return false;
    }
    for (char c : entry.substr(prefix.size())) {
        if (kTempAlphabet.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// A writer holds an flock on its temporary file for as long as the file has a
// name; one that can be locked belongs to a writer that is gone.
void removeStrayTemporaries(const std::filesystem::path& dir, const std::string& prefix) {
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::filesystem::path entry = it->path();
        if (!isTemporaryOf(entry.filename().string(), prefix)) {
            continue;
        }
        Fd fd(::open(entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held {};
        if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
            held.st_uid != ::geteuid() || !lockNow(fd.get())) {
            continue;
        }
        struct stat named {};
        if (::lstat(entry.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            ::unlink(entry.c_str());
        }
    }
}

std::string randomSuffix() {
    thread_local std::mt19937 random{std::random_device{}()};
    std::string s;
    for (std::size_t i = 0; i < kTempSuffixLength; ++i) {
        s += kTempAlphabet[random() % kTempAlphabet.size()];
    }
    return s;
}

bool writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One temporary file being written: unnamed (O_TMPFILE) or named and locked.
// Whatever happens, no name of it outlives this object.
class TempFile {
public:
    TempFile(std::filesystem::path dir, std::string prefix)
        : m_dir(std::move(dir)), m_prefix(std::move(prefix)) {}
    ~TempFile() {
        if (!m_name.empty()) {
            ::unlink(m_name.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // useTmpFile false: straight to a named file.
    bool create(bool useTmpFile) {
        if (useTmpFile) {
            m_fd = Fd(::open(m_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
            if (m_fd.get() >= 0) {
                m_unnamed = true;
                return lockNow(m_fd.get());
            }
        }
        std::string tmpl = (m_dir / (m_prefix + "XXXXXX")).string();
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        m_fd = Fd(::mkstemp(name.data()));
        if (m_fd.get() < 0) {
            return false;
        }
        m_name = name.data();
        m_unnamed = false;
        return lockNow(m_fd.get());
    }

    int fd() const { return m_fd.get(); }
    bool unnamed() const { return m_unnamed; }

    // Gives the complete file a name (a no-op for a named one). False with
    // errno set when it cannot; ENOENT means /proc is not there to link from.
    bool name() {
        if (!m_unnamed) {
            return true;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = (m_dir / (m_prefix + randomSuffix())).string();
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                m_name = std::move(candidate);
                return true;
            }
            if (errno != EEXIST) {
                return false;
            }
        }
        return false;
    }

    // Renames the named file over target; the name is then the target's.
    bool renameOver(const std::filesystem::path& target) {
        if (::rename(m_name.c_str(), target.c_str()) != 0) {
            return false;
        }
        m_name.clear();
        return true;
    }

    bool close() { return ::close(m_fd.release()) == 0; }

private:
    std::filesystem::path m_dir;
    std::string m_prefix;
    Fd m_fd{-1};
    std::string m_name;  // while the file has a name of its own
    bool m_unnamed = false;
};

}  // namespace

Result<OpenedFile> openRegularFile(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    if (!S_ISREG(st.st_mode)) {
        return makeError(path.string() +
                         " is not a regular file (a FIFO, a device or a socket cannot be read)");
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return makeError(describe(path, "cannot read", errno));
    }
    return OpenedFile{fd.release(), st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0};
}

namespace {

// Reads a regular file up to maxBytes: a longer one is an error, or with
// `sample` its first maxBytes bytes.
Result<std::string> readRegularFile(const std::filesystem::path& path, std::size_t maxBytes,
                                    bool sample) {
    auto opened = openRegularFile(path);
    if (!opened) {
        return opened.error();
    }
    Fd fd(opened->fd);
    if (opened->size > maxBytes && !sample) {
        return makeError(path.string() + " is larger than " + std::to_string(maxBytes) + " bytes");
    }
    std::string bytes;
    bytes.reserve(std::min(opened->size, maxBytes));
    char buf[65536];
    while (bytes.size() < maxBytes || !sample) {
        const std::size_t want =
            sample ? std::min(sizeof buf, maxBytes - bytes.size()) : sizeof buf;
        ssize_t n = ::read(fd.get(), buf, want);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return makeError(describe(path, "cannot read", errno));
        }
        if (n == 0) {
            break;
        }
        // The file may grow while we read it; the cap still holds.
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            return makeError(path.string() + " is larger than " + std::to_string(maxBytes) +
                             " bytes");
        }
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}

}  // namespace

Result<std::string> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    return readRegularFile(path, maxBytes, false);
}

Result<std::string> readFileStart(const std::filesystem::path& path, std::size_t maxBytes) {
    return readRegularFile(path, maxBytes, true);
}

std::filesystem::path resolveSymlinks(const std::filesystem::path& path) {
    std::filesystem::path p = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec))) {
            return p;
        }
        std::filesystem::path link = std::filesystem::read_symlink(p, ec);
        if (ec) {
            return p;
        }
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return p;
}

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           unsigned newFileMode) {
    AtomicWriteOptions options;
    options.mode = newFileMode;
    return writeFileAtomically(path, bytes, options);
}

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           const AtomicWriteOptions& options) {
    // Through a symlink to the file it names: the link stays a link, and the
    // file every other name of it reaches gets the new bytes.
    const std::filesystem::path target = resolveSymlinks(path);
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        return makeError(describe(path, "cannot stat", errno));
    }
    if (exists && !S_ISREG(old.st_mode)) {
        return makeError(path.string() + " is not a regular file and is not replaced");
    }
    // The rename would replace a file the person made read-only; refuse it as
    // opening it for writing would. Root passes access(), so the mode counts too.
    if (exists && ((old.st_mode & S_IWUSR) == 0 || ::access(target.c_str(), W_OK) != 0)) {
        return makeError(path.string() + " is read-only and is not replaced");
    }
    const bool keep = exists && !options.forceMode;
    unsigned mode = keep ? (old.st_mode & 0777) : (options.mode & 0777);

    // Appended piece by piece: GCC 12 at -O3 misreads "." + std::string&& as an
    // overlapping memcpy (-Wrestrict) and the Release build stops.
    std::string prefix = ".";
    prefix += target.filename().string();
    prefix += ".";
    if (options.removeStrays) {
        removeStrayTemporaries(dir, prefix);
    }

    for (bool useTmpFile : {options.unnamedTemporary, false}) {
        TempFile tmp(dir, prefix);
        if (!tmp.create(useTmpFile)) {
            return makeError(describe(path, "cannot create a temporary file beside", errno));
        }
        auto failWith = [&](const char* what) { return makeError(describe(path, what, errno)); };
        if (keep) {
            const uid_t owner = ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
            if (::fchown(tmp.fd(), owner, old.st_gid) != 0) {
                mode &= ~070u;  // never hand the group bits to our own group instead
            }
        }
        if (::fchmod(tmp.fd(), mode) != 0) {
            return failWith("cannot set the mode of");
        }
        if (!writeAll(tmp.fd(), bytes)) {
            return failWith("cannot write");
        }
        if (options.durable && ::fsync(tmp.fd()) != 0) {
            return failWith("cannot flush");
        }
        if (!tmp.name()) {
            if (tmp.unnamed() && (errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP)) {
                continue;  // no /proc to link from: write a named file instead
            }
            return failWith("cannot name the temporary file beside");
        }
        if (!tmp.renameOver(target)) {
            return failWith("cannot replace");
        }
        // The lock on the temporary file is held until its name is gone.
        if (!tmp.close()) {
            return failWith("cannot close");
        }
        if (options.durable) {
            // Make the rename itself durable.
            Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (dirFd.get() >= 0) {
                ::fsync(dirFd.get());
            }
        }
        return Ok{};
    }
    return makeError(path.string() + ": no way to write a temporary file beside it");
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

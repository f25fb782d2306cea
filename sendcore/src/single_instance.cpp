#include "sendcore/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tarn {
namespace {

const char* lockName(Application app) {
    return app == Application::GroupSend ? "TarnSendV2Instance" : "TarnDBSendV2Instance";
}

// Opened read-only: flock works on any descriptor. O_NOFOLLOW: a symlink in
// the folder is not followed.
int openLockFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd;
}

std::filesystem::path fallbackFolder() {
    std::error_code ec;
    std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);  // TMPDIR, else /tmp
    return (ec ? std::filesystem::path("/tmp") : tmp) / ("tarn-" + std::to_string(::geteuid()));
}

// The folder must be ours and closed to others (the per-user fallback is made
// here); the reason (UTF-8) when it is not.
std::string unusableFolder(const std::filesystem::path& folder) {
    if (folder == fallbackFolder() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return folder.string() + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return folder.string() + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        return folder.string() +
               ": 自分のものでないか、他のユーザーが書き込めるフォルダーのため使えません";
    }
    return {};
}

bool tryLock(int fd) {
    int r = 0;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

}  // namespace

std::filesystem::path InstanceLock::lockFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    return (dir != nullptr && *dir == '/') ? std::filesystem::path(dir) : fallbackFolder();
}

InstanceLock InstanceLock::acquire(Application app, const std::filesystem::path& folder) {
    InstanceLock lock;
    Application other =
        app == Application::GroupSend ? Application::DatabaseSend : Application::GroupSend;

    if (std::string why = unusableFolder(folder); !why.empty()) {
        lock.m_message = std::move(why);
        return lock;
    }
    std::filesystem::path ownPath = folder / lockName(app);
    int own = openLockFile(ownPath);
    if (own < 0) {
        lock.m_message = ownPath.string() + ": " + std::strerror(errno);
        return lock;
    }
    if (!tryLock(own)) {
        ::close(own);
        lock.m_outcome = Outcome::SameApplication;
        lock.m_message = std::string(kAlreadyRunningText);
        return lock;
    }
    std::filesystem::path otherPath = folder / lockName(other);
    int probe = openLockFile(otherPath);
    if (probe < 0) {
        ::close(own);
        lock.m_message = otherPath.string() + ": " + std::strerror(errno);
        return lock;
    }
    bool otherRunning = !tryLock(probe);
    ::close(probe);  // also releases the probe's lock
    if (otherRunning) {
        ::close(own);
        lock.m_outcome = Outcome::OtherApplication;
        lock.m_message = std::string(kOtherApplicationRunningText);
        return lock;
    }
    lock.m_fd = own;
    lock.m_outcome = Outcome::Held;
    return lock;
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_outcome(other.m_outcome),
      m_message(std::move(other.m_message)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_outcome = other.m_outcome;
        m_message = std::move(other.m_message);
    }
    return *this;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) {
        ::close(m_fd);  // releases the lock; the file stays for the next start
    }
}

}  // namespace tarn

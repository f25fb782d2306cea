#include "common/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "common/files.h"

namespace tarn {
namespace {

using Clock = std::chrono::steady_clock;

bool tryFlock(int fd) {
    int r = 0;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// The lock file still is the one we locked: a holder that released its lock
// removes the file, and a run that opened it just before must not lock a file
// that no longer has a name.
bool stillNamed(int fd, const std::filesystem::path& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

std::filesystem::path FileLock::lockFileOf(const std::filesystem::path& path) {
    std::filesystem::path target = resolveSymlinks(path);
    std::string name = ".";
    name += target.filename().string();
    name += ".lock";
    return target.parent_path() / name;
}

FileLock FileLock::tryLock(const std::filesystem::path& path) {
    return take(path, false, std::chrono::milliseconds(0));
}

FileLock FileLock::lock(const std::filesystem::path& path, std::chrono::milliseconds limit) {
    return take(path, true, limit);
}

FileLock FileLock::take(const std::filesystem::path& path, bool wait,
                        std::chrono::milliseconds limit) {
    FileLock lock;
    lock.m_lockFile = lockFileOf(path);
    const auto deadline = Clock::now() + limit;
    // A waiting caller polls: flock has no time-out, and a holder (a registry
    // update) keeps the lock for milliseconds.
    auto delay = std::chrono::milliseconds(1);
    for (;;) {
        int fd = ::open(lock.m_lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            lock.m_message = lock.m_lockFile.string() + ": " + std::strerror(errno);
            return lock;
        }
        if (tryFlock(fd)) {
            if (stillNamed(fd, lock.m_lockFile)) {
                lock.m_fd = fd;
                lock.m_outcome = Outcome::Held;
                return lock;
            }
            ::close(fd);
            continue;  // released and removed meanwhile: take the new file
        }
        const int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK) {
            lock.m_message = lock.m_lockFile.string() + ": " + std::strerror(err);
            return lock;
        }
        if (!wait || Clock::now() >= deadline) {
            lock.m_outcome = Outcome::Busy;
            lock.m_message = lock.m_lockFile.string() + ": 別の処理が使用中です";
            return lock;
        }
        std::this_thread::sleep_for(delay);
        delay = std::min(delay * 2, std::chrono::milliseconds(20));
    }
}

FileLock::FileLock(FileLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_lockFile(std::move(other.m_lockFile)),
      m_outcome(std::exchange(other.m_outcome, Outcome::Failed)),
      m_message(std::move(other.m_message)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
        m_lockFile = std::move(other.m_lockFile);
        m_outcome = std::exchange(other.m_outcome, Outcome::Failed);
        m_message = std::move(other.m_message);
    }
    return *this;
}

FileLock::~FileLock() {
    release();
}

void FileLock::release() {
    if (m_fd < 0) {
        return;
    }
    // Removed while still locked, so that nobody locks a file about to vanish
    // (a run that opened it meanwhile sees the name gone and starts again).
    ::unlink(m_lockFile.c_str());
    ::close(m_fd);
    m_fd = -1;
    m_outcome = Outcome::Failed;
    m_message = "released";
}

}  // namespace tarn

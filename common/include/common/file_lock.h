// An exclusive lock on a user's file for as long as one run works on it: a
// send or a check on an address book, a read-modify-write of the registry.
// A second run on the same file refuses at once (tryLock) or waits a bounded
// time (lock) instead of both writing it.
//
// The lock is an flock() on a small lock file ".NAME.lock" beside the file,
// not on the file itself: a save replaces the file by a rename, and a lock on
// the old inode would no longer keep out a run that opens the new one. A
// symlink is followed first, so that two names of one file share one lock.
// The lock file is removed again when the lock is released; a run that dies
// leaves it behind, unlocked, and the next run takes it over.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace tarn {

class FileLock {
public:
    enum class Outcome {
        Held,
        Busy,    // another process holds it
        Failed,  // the lock file could not be made or locked; message() says why
    };

    // Takes the lock of `path` if nobody holds it.
    static FileLock tryLock(const std::filesystem::path& path);
    // Waits up to `limit` for the lock of `path`.
    static FileLock lock(const std::filesystem::path& path, std::chrono::milliseconds limit);
    // ".NAME.lock" beside the file that `path` names (symlinks followed).
    static std::filesystem::path lockFileOf(const std::filesystem::path& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    bool held() const { return m_outcome == Outcome::Held; }
    Outcome outcome() const { return m_outcome; }
    // Why the lock is not held (UTF-8): the lock file and the system's reason.
    const std::string& message() const { return m_message; }
    // Releases the lock now (also done by the destructor).
    void release();

private:
    FileLock() = default;
    static FileLock take(const std::filesystem::path& path, bool wait,
                         std::chrono::milliseconds limit);

    int m_fd = -1;
    std::filesystem::path m_lockFile;
    Outcome m_outcome = Outcome::Failed;
    std::string m_message;
};

}  // namespace tarn

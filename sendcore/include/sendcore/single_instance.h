// One running copy of the sending applications: the group-send application
// holds the lock file "TarnSendV2Instance", the database-send application
// "TarnDBSendV2Instance", and each refuses to start while either is held.
// Like the named mutexes they stand in for, the locks are per user: another
// user's copy on the same machine neither blocks nor is blocked.
//
// An application takes it first thing in main() and keeps it for its life:
//
//     tarn::InstanceLock instance = tarn::InstanceLock::acquire(tarn::Application::GroupSend);
//     if (!instance.held()) {
//         QMessageBox::information(nullptr, fromSjis... kInstanceTitle, instance.message());
//         return 0;
//     }
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarn {

enum class Application { GroupSend, DatabaseSend };

inline constexpr std::string_view kInstanceTitle = "ターノス - 確認";
// Refusals of a second start: of the same application, and of the other one.
inline constexpr std::string_view kAlreadyRunningText = "ターノスは複数起動することはできません。";
inline constexpr std::string_view kOtherApplicationRunningText =
    "データベース送信とグループ送信を同時に起動することはできません。";

class InstanceLock {
public:
    enum class Outcome {
        Held,                // this process is the one instance
        SameApplication,     // 32793
        OtherApplication,    // 32794
        LockFolderUnusable,  // the lock file could not be opened; message() says why
    };

    // Takes the application's lock in `folder` (default: lockFolder()). The
    // own lock is taken first and the other application's only probed, so two
    // applications starting at once can both refuse, but never both run.
    static InstanceLock acquire(Application app,
                                const std::filesystem::path& folder = lockFolder());
    // XDG_RUNTIME_DIR when set, else the folder tarn-UID in the temporary
    // folder (TMPDIR, else /tmp), made 0700 on first use. A folder that is not ours, or that others
    // may write to, is refused (LockFolderUnusable): a lock file planted there could keep us out.
    static std::filesystem::path lockFolder();

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    bool held() const { return m_outcome == Outcome::Held; }
    Outcome outcome() const { return m_outcome; }
    // UTF-8 text for the refusal box (title kInstanceTitle); empty when held.
    const std::string& message() const { return m_message; }

private:
    InstanceLock() = default;
    int m_fd = -1;
    Outcome m_outcome = Outcome::LockFolderUnusable;
    std::string m_message;
};

}  // namespace tarn

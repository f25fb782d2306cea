// The dial-up stand-in over pppd: the peer files are the phone book, and
// dialling or hanging up runs a configurable program with the entry's name.
#include "tarnras.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kDialTimeoutMs = 120'000;

std::string envOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v != nullptr && *v != '\0') ? std::string(v) : std::string(fallback);
}

// Peer names are passed to pon/poff as an argument: only the characters pppd's
// own peer files use, and never a leading '-' that a program would read as an
// option or a leading '.' (hidden files, "..").
bool validEntryName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.front() == '-' || name.front() == '.') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

struct State {
    std::mutex mutex;
    std::vector<std::string> entries;
    std::map<TarnRasConnection, std::string> connections;
    TarnRasConnection next = 1;
};

State& state() {
    static State s;
    return s;
}

// Waits for a child with a bound; the dial command of a hung modem must not
// freeze the caller for ever.
int waitChild(pid_t pid, int timeoutMs) {
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int r = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            r = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        } while (r < 0 && errno == EINTR);
        ::close(pidfd);
        if (r == 0) {
            ::kill(pid, SIGKILL);
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return (WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

// Runs `program entry` without a shell; the result is the exit code, or -1.
int runCommand(const std::string& program, const std::string& entry, int timeoutMs, bool& started) {
    started = false;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::string arg0 = program;
    std::string arg1 = entry;
    std::vector<char*> argv{arg0.data(), arg1.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    started = true;
    return waitChild(pid, timeoutMs);
}

}  // namespace

extern "C" {

int ZEPHRasDial(void* /*ownerWindow*/, const DialUpSettings* settings,
                TarnRasConnection* connection) {
    try {
        if (settings == nullptr || connection == nullptr) {
            return 1;
        }
        std::string entry(settings->EntryName,
                          strnlen(settings->EntryName, sizeof settings->EntryName));
        if (!validEntryName(entry)) {
            return 1;
        }
        bool started = false;
        int rc = runCommand(envOr("TARN_PPP_DIAL", "pon"), entry, kDialTimeoutMs, started);
        if (!started) {
            return 2;
        }
        if (rc != 0) {
            return 3;
        }
        State& s = state();
        std::lock_guard lock(s.mutex);
        TarnRasConnection id = s.next++;
        s.connections.emplace(id, entry);
        *connection = id;
        return 0;
    } catch (...) {
        return 2;
    }
}

void ZEPHRasHangUp(TarnRasConnection connection) {
    try {
        std::string entry;
        {
            State& s = state();
            std::lock_guard lock(s.mutex);
            auto it = s.connections.find(connection);
            if (it == s.connections.end()) {
                return;
            }
            entry = it->second;
            s.connections.erase(it);
        }
        bool started = false;
        runCommand(envOr("TARN_PPP_HANGUP", "poff"), entry, kDialTimeoutMs, started);
    } catch (...) {
        // Nothing to report through this export; the connection is forgotten.
    }
}

int ZEPHGetRasEntry(void) {
    try {
        fs::path folder = envOr("TARN_PPP_PEERS", "/etc/ppp/peers");
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) {
            return 1;
        }
        std::vector<std::string> names;
        for (const auto& e : it) {
            std::string name = e.path().filename().string();
            if (validEntryName(name) && e.is_regular_file(ec)) {
                names.push_back(std::move(name));
            }
        }
        std::sort(names.begin(), names.end());
        State& s = state();
        std::lock_guard lock(s.mutex);
        s.entries = std::move(names);
        return 0;
    } catch (...) {
        return 1;
    }
}

int ZEPHGetEntryCount(void) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return static_cast<int>(s.entries.size());
}

int ZEPHGetEntryName(int index, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 1;
    }
    buffer[0] = '\0';
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (index < 0 || static_cast<std::size_t>(index) >= s.entries.size()) {
        return 1;
    }
    const std::string& name = s.entries[static_cast<std::size_t>(index)];
    std::size_t n = std::min(name.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    return 0;
}

}  // extern "C"

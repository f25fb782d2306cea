// Helpers for tests only: temporary folders, child processes (real servers and
// the `tarn` command), free loopback ports and bounded waits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarn::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

struct RunResult {
    int exitCode = -1;  // -1 when killed by a signal or timed out
    std::string out;
    std::string err;
};

// Runs a program to completion, with extra environment entries, optional standard
// input, and a time limit after which it is killed.
RunResult run(const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& env = {}, const std::string& input = {},
              std::chrono::seconds limit = std::chrono::seconds(120));

// The built `tarn` command (beside the test binary).
std::string tarnPath();

// A long-running child (a server) that is stopped (SIGTERM, then SIGKILL) when
// this object goes away. Its stdout and stderr go to files in logDir.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& logDir,
                 const std::map<std::string, std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    pid_t pid() const { return m_pid; }
    bool running();
    // The exit code once running() has seen the end; -1 when killed by a signal.
    int exitCode() const { return m_exitCode; }
    std::string output() const;  // stdout + stderr so far, for failure messages
    void stop();

private:
    pid_t m_pid = -1;
    int m_exitCode = -1;
    std::filesystem::path m_out, m_err;
};

// A TCP (or UDP) port on 127.0.0.1 that was free a moment ago.
int freePort(bool udp = false);
// Waits until something accepts TCP connections on host:port, up to limit.
bool waitForTcpPort(const std::string& host, int port,
                    std::chrono::milliseconds limit = std::chrono::seconds(20));
// Waits until pred() is true, checking often, up to limit.
bool waitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace tarn::test

#include "contents/desktop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tarn::contents {
namespace {

std::vector<std::string> splitParameters(std::string_view s) {
    std::vector<std::string> out;
    std::string current;
    bool inQuotes = false;
    bool any = false;
    for (const char c : s) {
        if (c == '"') {
            inQuotes = !inQuotes;
            any = true;
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (any) {
                out.push_back(std::move(current));
                current.clear();
                any = false;
            }
        } else {
            current.push_back(c);
            any = true;
        }
    }
    if (any) {
        out.push_back(std::move(current));
    }
    return out;
}

}  // namespace

std::vector<std::string> desktopOpenCommand(std::string_view target, std::string_view parameters) {
    const std::string path(target);
    struct stat st {};
    const bool executable =
        ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
    if (executable) {
        std::vector<std::string> argv{path};
        for (auto& p : splitParameters(parameters)) {
            argv.push_back(std::move(p));
        }
        return argv;
    }
    return {"xdg-open", path};
}

bool startDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    // Everything the children need is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            const int devnull = ::open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                ::dup2(devnull, STDIN_FILENO);
            }
            ::execvp(args[0], args.data());
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec; an errno arrives when it failed.
    int err = 0;
    ssize_t n = 0;
    do {
        n = ::read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    return n == 0;
}

}  // namespace tarn::contents

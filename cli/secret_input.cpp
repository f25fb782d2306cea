#include "secret_input.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "command.h"

namespace tarn::cli {
namespace {

constexpr std::size_t kMaxSecretBytes = 64 * 1024;

// The terminal as it was before echo went off, for the signal handler.
termios g_saved{};
volatile std::sig_atomic_t g_echoOff = 0;

void restoreAndDie(int signal) {
    if (g_echoOff != 0) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Echo off for as long as the object lives; the handlers put it back on too.
class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &g_saved) != 0) {
            return;
        }
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            std::signal(s, restoreAndDie);
        }
        termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        g_echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0 ? 1 : 0;
    }
    ~EchoOff() {
        if (g_echoOff != 0) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
            g_echoOff = 0;
        }
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            std::signal(s, SIG_DFL);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return g_echoOff != 0; }
};

// One line of standard input, byte by byte so that nothing after it is taken.
Result<std::string> readLine() {
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return makeError(std::string("標準入力を読めません: ") + std::strerror(errno));
        }
        if (n == 0 || c == '\n') {
            break;
        }
        if (line.size() >= kMaxSecretBytes) {
            return makeError("標準入力の 1 行目が長すぎます (" + std::to_string(kMaxSecretBytes) +
                             " バイトまで)");
        }
        line += c;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace

Result<std::string> readSecret(std::string_view prompt) {
    if (::isatty(STDIN_FILENO) == 0) {
        return readLine();
    }
    EchoOff echoOff;
    if (!echoOff.active()) {
        return makeError("端末の表示を止められないため、パスワードを入力できません");
    }
    err(std::string(prompt) + ": ");
    auto first = readLine();
    if (!first) {
        return first;
    }
    err("もう一度入力してください: ");
    auto second = readLine();
    if (!second) {
        return second;
    }
    if (*first != *second) {
        return makeError("2 回の入力が一致しません");
    }
    return first;
}

}  // namespace tarn::cli

#include "terminal_ui.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "command.h"

namespace tarn::cli {
namespace {
std::atomic<bool> g_stopRequest{false};
std::atomic<bool> g_terminate{false};

void onInterrupt(int) {
    g_stopRequest.store(true);
}

// SIGTERM and SIGHUP (a shutdown, a closed terminal) end the run as a
// confirmed stop: nobody is there to answer the question.
void onTerminate(int) {
    g_terminate.store(true);
    g_stopRequest.store(true);
}

std::string u(std::string_view sjis) {
    return fromSjis(sjis);
}
}  // namespace

void installStopHandler() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a pending read of the answer is interrupted
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = onTerminate;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

bool terminationRequested() {
    return g_terminate.load();
}

bool takeStopRequest() {
    return g_stopRequest.exchange(false);
}

TerminalUi::TerminalUi() : m_tty(::isatty(STDERR_FILENO) != 0) {}

void TerminalUi::open(std::string_view title) {
    m_open = true;
    setTitle(title);
}

void TerminalUi::setTitle(std::string_view title) {
    if (title == m_title) {
        return;
    }
    m_title = title;
    endLine();
    err("[" + u(title) + "]\n");
}

void TerminalUi::setStatusLine(std::string_view text) {
    m_status = text;
    redraw(false);
}

void TerminalUi::setTimeLine(std::string_view text) {
    m_time = text;
    redraw(false);
}

void TerminalUi::setAddressLine(std::string_view text) {
    m_address = text;
    redraw(false);
}

void TerminalUi::setRange(std::int64_t maximum) {
    m_max = maximum;
}

void TerminalUi::setPosition(std::int64_t position) {
    m_pos = position;
}

void TerminalUi::redraw(bool force) {
    if (!m_open) {
        return;
    }
    auto now = std::chrono::steady_clock::now();
    // A terminal gets at most ten redraws a second; a log file one line a second.
    auto gap = m_tty ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000);
    if (!force && now - m_lastDraw < gap) {
        return;
    }
    m_lastDraw = now;
    std::string line;
    if (m_max > 0) {
        int pct = static_cast<int>(100 * std::min(m_pos, m_max) / m_max);
        int filled = pct / 5;
        line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(20 - filled), ' ') + "] ";
    }
    line += u(m_status);
    if (!m_time.empty()) {
        line += "  " + u(m_time);
    }
    if (!m_address.empty()) {
        line += "  " + u(m_address);
    }
    if (m_tty) {
        err("\r\033[K" + line);
        m_lineDirty = true;
    } else {
        err(line + "\n");
    }
}

void TerminalUi::endLine() {
    if (m_lineDirty) {
        err("\n");
        m_lineDirty = false;
    }
}

bool TerminalUi::cancelRequested() const {
    return g_stopRequest.load();
}

void TerminalUi::clearCancelRequest() {
    g_stopRequest.store(false);
}

bool TerminalUi::askStop() {
    endLine();
    if (g_terminate.load()) {
        err("中止します (終了の合図を受けました)\n");
        return true;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        err("中止しますか？ (端末がないため「はい」とみなします)\n");
        return true;
    }
    err("ターノス - 確認: 中止しますか？ [y/N] ");
    std::string answer;
    for (;;) {
        char c = 0;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                // A second Ctrl-C (or SIGTERM, SIGHUP) at the question means yes.
                err("\n");
                g_stopRequest.store(false);
                return true;
            }
            break;
        }
        if (c == '\n') {
            break;
        }
        answer += c;
    }
    g_stopRequest.store(false);
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "はい";
}

void TerminalUi::progress(const driver::RunProgress& progress) {
    m_ok = progress.ok;
    m_ng = progress.ng;
}

void TerminalUi::errorBox(std::string_view title, std::string_view text) {
    endLine();
    err(u(title) + "\n" + u(text) + "\n");
}

void TerminalUi::finish(std::string_view logPath, std::string_view /*viewer*/) {
    redraw(true);
    endLine();
    m_open = false;
    if (!logPath.empty()) {
        err("ログ: " + u(logPath) + "\n");
    }
}

void TerminalUi::close() {
    if (m_open && m_lineDirty) {
        endLine();
    }
    m_open = false;
}

void TerminalUi::showTimes(std::string_view planned, std::string_view now) {
    m_open = true;
    m_title = "";
    m_status = std::string(planned);
    std::string line = "送信予定時刻は " + u(planned) + "  現在の時刻は " + u(now);
    if (m_tty) {
        err("\r\033[K" + line);
        m_lineDirty = true;
    } else {
        err(line + "\n");
    }
}

}  // namespace tarn::cli

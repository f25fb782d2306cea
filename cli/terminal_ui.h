// The progress window and questions of the send and check jobs on a terminal:
// a progress line on stderr, Ctrl-C as the stop button, "中止しますか？" asked
// on the terminal (and answered Yes when there is none). Everything here runs
// on the main thread: Job::runToEnd calls it there.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "driver/progress_ui.h"
#include "driver/timed_send.h"

namespace tarn::cli {

// Installs the signal handlers that turn Ctrl-C into a stop request (asked
// on the terminal), and SIGTERM and SIGHUP into a confirmed stop.
void installStopHandler();
// True once SIGTERM or SIGHUP has arrived.
bool terminationRequested();
// True once for each Ctrl-C since the last call (for Job::requestStop).
bool takeStopRequest();

class TerminalUi : public driver::ProgressUi, public driver::TimedWaitUi {
public:
    TerminalUi();

    void open(std::string_view title) override;
    void setTitle(std::string_view title) override;
    void setStatusLine(std::string_view text) override;
    void setTimeLine(std::string_view text) override;
    void setAddressLine(std::string_view text) override;
    void setRange(std::int64_t maximum) override;
    void setPosition(std::int64_t position) override;
    void progress(const driver::RunProgress& progress) override;
    bool askStop() override;
    void errorBox(std::string_view title, std::string_view text) override;
    void finish(std::string_view logPath, std::string_view viewer) override;
    void close() override;

    void showTimes(std::string_view planned, std::string_view now) override;
    void pump() override {}
    bool startNowRequested() const override { return false; }
    bool cancelRequested() const override;
    void clearCancelRequest() override;

    // The run's counts as last reported: messages accepted and refused.
    int ok() const { return m_ok; }
    int ng() const { return m_ng; }

private:
    void redraw(bool force);
    void endLine();

    bool m_tty;
    bool m_open = false;
    bool m_lineDirty = false;
    std::string m_title, m_status, m_time, m_address;
    std::int64_t m_max = 0, m_pos = 0;
    int m_ok = 0, m_ng = 0;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace tarn::cli

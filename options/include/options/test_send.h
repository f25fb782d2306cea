// The account dialog's test send: one message to an address of the person's
// choosing, through the account being edited, exactly as a send run would reach
// the server (dial-up, POP before SMTP, connect, TLS, SMTP AUTH from
// SMTPAuth.txt). Every outcome comes back as the text of one message box.
//
// The mail engine is one per process and not re-entrant: one test send at a
// time, and not while a send run uses the engine.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "options/account_form.h"
#include "sendcore/dialup_loader.h"

namespace tarn::options {

struct TestSendRequest {
    AccountEntry account;                // as read from the account dialog
    std::string to;                      // the test address (Shift_JIS)
    std::filesystem::path smtpAuthFile;  // empty: "SMTPAuth.txt" beside the program
    DialUpLoader loadDialUp;             // empty: the real dial-up library
    int receiveTimeoutSec = 90;
};

// The step under way, for the window to show.
enum class TestSendStage { DialUp, PopBeforeSmtp, Connect, Start, Send, Disconnect };

struct TestSendOutcome {
    enum class Kind {
        Sent,       // "テストメールを送信しました。"
        NoAddress,  // nothing was tried
        Failed,     // with the spelled-out cause
        Cancelled,  // the person stopped it
    };
    Kind kind = Kind::Failed;
    std::string message;  // UTF-8, shown with the caption "ターノス - テスト送信"
};

class TestSend {
public:
    // Runs the whole test on the calling thread. onStage (optional) is called,
    // on that thread, as each step begins.
    TestSendOutcome run(const TestSendRequest& request,
                        const std::function<void(TestSendStage)>& onStage = {});
    // From any thread: ends the running step as soon as the engine can (a
    // connection, TLS or SMTP wait within milliseconds; a dial or the POP before
    // SMTP exchange when it returns). The run then reports Cancelled.
    void cancel();

private:
    bool cancelled() const { return m_cancel.load(); }
    // Polls the engine's job until it ends; a cancel stops it.
    int waitForJob();

    std::atomic<bool> m_cancel{false};
};

// A test send on a thread of its own, so that the window stays alive while it
// runs. The callbacks are called on that thread; a window posts them on to its
// own. The destructor cancels a running test and waits for it.
class BackgroundTestSend {
public:
    BackgroundTestSend() = default;
    ~BackgroundTestSend();
    BackgroundTestSend(const BackgroundTestSend&) = delete;
    BackgroundTestSend& operator=(const BackgroundTestSend&) = delete;

    // False (nothing started) while a test is still running.
    bool start(TestSendRequest request, std::function<void(TestSendStage)> onStage,
               std::function<void(const TestSendOutcome&)> onDone);
    void cancel();
    bool running() const { return m_running.load(); }
    // Waits for the running test, if any, to end.
    void wait();

private:
    std::mutex
        m_mutex;  // guards m_thread and m_test against start/cancel/wait from several threads
    std::thread m_thread;
    std::unique_ptr<TestSend> m_test;
    std::atomic<bool> m_running{false};
};

}  // namespace tarn::options

// What a send or check job shows a person and asks of them. The jobs own no
// window: the Qt applications implement this with the modeless progress window
// and message boxes, `tarn` with a progress line on the terminal, tests with a
// scripted double. All texts are Shift_JIS, as everywhere in the core.
//
// Threads. A job runs its driver on a worker thread of its own, and nothing in
// this interface is ever called there. The job queues what the driver reports
// and hands it over, in the order it was reported, on the thread that calls
// Job::dispatch: the caller's thread (the GUI thread of the applications, the
// main thread of `tarn`). askStop is asked from dispatch too; the worker waits
// for the answer. A stop request travels the other way, through
// Job::requestStop, which any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarn::driver {

// Where a run stands, reported after every recipient and at each phase.
struct RunProgress {
    int level = 0;        // a check's level (1 or 2); 0 for a send
    int total = 0;        // recipients of a send (N); records of check level 1; domains of level 2
    int done = 0;         // of those, taken (send), checked (level 1) or decided (level 2) so far
    int ok = 0;           // messages accepted / addresses passed, the run's totals
    int ng = 0;           // messages refused / addresses failed, the run's totals
    int position = 0;     // 1-based position in the walk of the current recipient
    std::string address;  // the current recipient's stored address text
};

enum class RecipientOutcome {
    kSent,     // the server accepted the message
    kRefused,  // the message failed; the recipient gets status 4
    kSkipped,  // the script wrote nothing for this recipient: no message
    kPassed,   // a check found nothing wrong (at the last level asked)
    kFailed,   // a check failed: status 1, 2 or 3 with its result code
};

// One recipient's result, reported as soon as it is known.
struct RecipientResult {
    int position = 0;     // as in RunProgress
    std::string address;  // the stored address text
    RecipientOutcome outcome = RecipientOutcome::kSent;
    int status = 0;  // the record status this result gives (0-4)
    // A check's result code (1-7, -1 to -3), or the engine's last error of a
    // refused message; 0 otherwise.
    int code = 0;
};

class ProgressUi {
public:
    virtual ~ProgressUi() = default;

    // The modeless progress window: created with a title, removed by close().
    virtual void open(std::string_view title) = 0;
    virtual void setTitle(std::string_view title) = 0;
    virtual void setStatusLine(std::string_view text) = 0;
    virtual void setTimeLine(std::string_view text) = 0;
    virtual void setAddressLine(std::string_view text) = 0;
    virtual void setRange(std::int64_t maximum) = 0;
    virtual void setPosition(std::int64_t position) = 0;

    // The structured form of the same progress, for windows that show counts
    // or per-recipient results; the texts above say the same in words.
    virtual void progress(const RunProgress& progress) { (void)progress; }
    virtual void recipientDone(const RecipientResult& result) { (void)result; }

    // "中止しますか？" under "ターノス - 確認" with Yes and No; true for Yes. May
    // run a modal loop; the job does not call dispatch's caller back meanwhile.
    virtual bool askStop() = 0;
    // A message box with the stop icon; the run goes on (or ends) after it.
    virtual void errorBox(std::string_view title, std::string_view text) = 0;

    // The run is over: show the log button (log path and viewer program, the
    // path empty when there is no log) and turn the stop button into
    // "閉じる(&C)". Returns at once; the person closes the window later.
    virtual void finish(std::string_view logPath, std::string_view viewer) = 0;
    // Removes the window of a run that did not finish (error or stop).
    virtual void close() = 0;
};

}  // namespace tarn::driver

// In-process doubles of what a send or check job talks to, for tests of the
// driver logic without a window, a terminal or a child process. They assert
// nothing themselves: they record what they were told (and any call that
// broke the threading contract) for the test to check.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "driver/progress_ui.h"
#include "driver/send_driver.h"

namespace tarn::driver::doubles {

// A progress window scripted by the test. Every call must come on the thread
// that created it (the caller's thread); the window calls are recorded in
// order as UTF-8 events ("open 接続中...", "status ...", "finish <log>").
class ScriptedProgress : public ProgressUi {
public:
    void open(std::string_view title) override;
    void setTitle(std::string_view title) override;
    void setStatusLine(std::string_view text) override;
    void setTimeLine(std::string_view text) override;
    void setAddressLine(std::string_view text) override;
    void setRange(std::int64_t maximum) override;
    void setPosition(std::int64_t position) override;
    void progress(const RunProgress& progress) override;
    void recipientDone(const RecipientResult& result) override;
    // Takes the next of `answers`; a question nobody scripted is a fault
    // (answered yes, so that the run ends).
    bool askStop() override;
    void errorBox(std::string_view title, std::string_view text) override;
    void finish(std::string_view logPath, std::string_view viewer) override;
    void close() override;

    bool saw(const std::string& event) const;

    std::deque<bool> answers;
    std::vector<std::string> events;
    std::vector<RunProgress> progressSeen;
    std::vector<RecipientResult> results;
    std::vector<std::chrono::steady_clock::time_point> askedAt;
    std::function<void(const RecipientResult&)> onResult;
    // Calls that came off the caller's thread, questions nobody scripted, and
    // progress whose count went back within one level.
    std::vector<std::string> faults;

protected:
    void note(std::string event);
    void onCallerThread(std::string_view call);

private:
    std::thread::id m_thread = std::this_thread::get_id();
};

// What a run did to its recipients, kept apart from the source so that a test
// can read it after the job that owned the source has gone.
struct RecipientLog {
    std::vector<std::string> walked;    // every entry handed out, eligible or not
    std::vector<std::string> refused;   // markSendFailed, by address
    std::vector<std::string> accepted;  // messageAccepted, by address
    std::vector<int> refusalCodes;      // messageRefused's codes, in order
    bool walkFinished = false;
    bool committed = false;
};

// The recipients of a send as a list of entries in walk order. Addresses and
// values are core text (Shift_JIS); an entry that is not eligible is walked
// but never sent to, as an address book's hidden or stopped records are.
class ScriptedRecipients : public RecipientSource {
public:
    struct Entry {
        std::string address;
        bool eligible = true;
        contents::MergeValues values = {};
    };
    explicit ScriptedRecipients(std::vector<Entry> entries);
    // Eligible entries for these addresses, 名前 left empty.
    static std::vector<Entry> addresses(const std::vector<std::string>& addresses);

    int eligibleCount() override;
    void visitEligible(const std::function<bool(const Recipient&)>& visit) override;
    Status beginRun() override;
    bool next(Recipient& recipient) override;
    void markSendFailed() override;
    void revisit(const Recipient& recipient) override;
    void messageAccepted(std::string_view reply) override;
    void messageRefused(int code, std::string_view reply) override;
    void finishWalk() override;
    void commit() override;

    // beginRun refuses with this text when it is not empty.
    std::string refuseRun;
    std::shared_ptr<RecipientLog> log = std::make_shared<RecipientLog>();

private:
    std::vector<Recipient> m_walk;
    std::size_t m_next = 0;
    std::size_t m_current = 0;  // the entry the marks concern, from 1
};

}  // namespace tarn::driver::doubles

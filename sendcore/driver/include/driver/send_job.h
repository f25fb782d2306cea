// The send command as one job, the same for `tarn send` and the windows:
//
//   SendJob job(std::make_unique<BookRecipients>(doc, listView), setup);
//   if (auto problem = job.prepare()) { show *problem; return; }
//   show job.confirmation();        // "参照" -> job.chooseContentsFile(path)
//   job.rememberContentsFile(store);
//   (a timed send waits here: timed_send.h)
//   job.start(wake);                // the run, on the job's worker thread (Status)
//   ... job.dispatch(progressUi) on every wake, until it returns true ...
//
// Everything before start() runs on the caller's thread, including the
// preview's script with its dialogs. During the run the script's dialogs are
// forwarded to the caller's thread as well (Setup::scriptHost is only ever
// called there). A result other than 0 has been shown through the
// ProgressUi's errorBox by the time dispatch() reports the end; the
// recipients' statuses have been committed to the document.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/result.h"
#include "contents/script.h"
#include "contents/send_contents.h"
#include "driver/book_sources.h"
#include "driver/job.h"
#include "driver/preflight.h"
#include "driver/send_driver.h"
#include "driver/send_journal.h"
#include "sendcore/settings.h"

namespace tarn::driver {

// Why a send or check command stops before its confirmation.
struct CommandProblem {
    int code = 0;      // a send error code (shown under sendErrorTitle), or 0
    std::string text;  // Shift_JIS: the code's text, or a message of its own
    // "ターノス - エラー  (№%d)" for a code, else "ターノス - エラー".
    std::string title() const;
};

// The first recipient's message, as the confirmation shows it: made by the
// very function the run uses for every recipient.
struct SendPreview {
    enum class State {
        kMessage,       // subject and body below
        kNoMessage,     // the script wrote nothing for every eligible recipient
        kScriptFailed,  // shown as "スクリプトエラーです。" under "ターノス - 確認"
    };
    State state = State::kMessage;
    int position = 0;     // the recipient's position in the walk
    std::string address;  // its stored address text
    std::string subject;  // merged (Shift_JIS)
    std::string body;
    std::string scriptError;  // "%s (Line=%d)" (UTF-8) when the script failed
};

// What the confirmation ("ターノス  確認") shows.
struct SendConfirmation {
    std::string contentsPath;  // the send-contents file (Shift_JIS)
    std::string subject;       // as written, before merging
    std::string sender;        // "DefName <DefEMail>"
    int recipients = 0;        // N
    SendPreview preview;
    // Every recipient's message run through once: its summaryLines() for the
    // confirmation, its detailLines() on request.
    PreflightReport preflight;
};

// "以下の内容で送信を行います。よろしいですか？", "スクリプトエラーです。" and
// the confirmation's title, in Shift_JIS.
std::string confirmationQuestion();
std::string confirmationTitle();
std::string scriptErrorText();

class SendJob : public Job {
public:
    struct Setup {
        SendSettings settings{};   // the run uses this copy
        std::string contentsPath;  // ContFileName (Shift_JIS)
        // recipientSourceName, files beside the program, CA file, dial-up
        // loader, log clock. contentsPath and scriptHost are set by the job.
        SendRunOptions options;
        // The script's person-facing calls; called on the caller's thread only.
        // Null: nobody there (boxes count as OK or No, dialogs are cancelled).
        contents::ScriptHost* scriptHost = nullptr;
        // The address book the recipients come from: its lock is held from
        // start() until the statuses are committed.
        BookFile book;
    };

    SendJob(std::unique_ptr<RecipientSource> recipients, Setup setup);
    ~SendJob() override;

    // How a send treats the journal an earlier run left behind.
    enum class EarlierRun {
        kAsk,      // ask through the ResumeUi
        kResume,   // go on from where it stopped (uncertain ones as asked)
        kRestart,  // everyone eligible is sent again; the journal goes at start()
    };
    // Before prepare(): this run keeps a journal at `path` (journal.h). When
    // an earlier run's journal is there, the send goes on from where it
    // stopped or starts afresh, as `how` says or the person answers through
    // `ui`; `sendUncertain` answers the uncertain question in advance. A
    // problem means no send (cancelled, or the journal unreadable).
    std::optional<CommandProblem> useJournal(const std::filesystem::path& path, EarlierRun how,
                                             ResumeUi& ui, std::optional<bool> sendUncertain = {});
    // The uncertain recipients the resumed run leaves out (Shift_JIS addresses).
    const std::vector<std::string>& uncertainLeftOut() const { return m_uncertainLeftOut; }
    // True when prepare() found that the earlier run had settled every
    // recipient: there is nothing to send, and the journal's statuses have
    // been committed (store them, then journalDone()).
    bool settledByJournal() const { return m_settledByJournal; }
    // After a run that went to its end (or settledByJournal) and whose
    // statuses the caller has stored: the journal has served and is removed.
    void journalDone();

    // The send command's checks, then the confirmation: no recipients (510),
    // no sender name, a send-contents file that cannot be read or has an empty
    // body. nullopt when the confirmation can be shown.
    std::optional<CommandProblem> prepare();
    const SendConfirmation& confirmation() const { return m_confirmation; }
    const contents::SendContents& contents() const { return m_contents; }

    // "参照": another .tnm file for this send. On a problem the file chosen
    // before stays.
    std::optional<CommandProblem> chooseContentsFile(const std::string& path);
    // Saves the confirmed file as ContFileName when it is not the one the
    // settings had.
    Status rememberContentsFile(const SettingsStore& store) const;

    // Starts the run; the recipients' walk is fixed from here on. Refused (no
    // run) while another run holds the document or the book's lock.
    Status start(Wake wake = {});

private:
    void commit() override;
    std::optional<CommandProblem> loadContents(const std::string& path);
    void makePreview();

    std::unique_ptr<RecipientSource> m_recipients;
    JournalledRecipients* m_journalled = nullptr;  // m_recipients, when journalled
    std::filesystem::path m_journalPath;
    bool m_restartJournal = false;  // the earlier journal goes when the run starts
    std::unique_ptr<JournalWriter> m_journalWriter;
    std::vector<std::string> m_uncertainLeftOut;
    bool m_settledByJournal = false;
    Setup m_setup;
    std::string m_initialContentsPath;
    contents::SendContents m_contents;
    SendConfirmation m_confirmation;
};

}  // namespace tarn::driver

// The bulk send driver: one individually addressed message to every eligible
// recipient, over as few SMTP sessions as the pacing rules allow, with
// progress, the send log and a status for every refused recipient.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "contents/merge.h"
#include "contents/script.h"
#include "contents/send_contents.h"
#include "driver/job.h"
#include "driver/run_clock.h"
#include "sendcore/dialup_loader.h"
#include "sendcore/send_log.h"
#include "sendcore/settings.h"

namespace tarn::driver {

// Why a send or check run ended early; its number is what the run returns
// (0 is success) and the error box shows.
enum class SendError : int {
    ReadContents = 500,
    NoContentsFile = 501,
    NoLogFileName = 502,
    LogOpen = 503,
    NoSmtpServer = 504,
    DnsAddress = 505,
    Connect = 506,
    DialUp = 507,
    Cancelled = 508,
    Attachment = 509,
    NoRecipients = 510,
    PopConnect = 511,
    PopReceive = 512,
    PopUser = 513,
    PopPassword = 514,
    Script = 803,
    // The send journal could not be written: the run stops rather than send
    // messages it cannot account for.
    Journal = 520,
    // The quota's state file could not be read or written: the run stops
    // rather than send past a limit it cannot count.
    QuotaState = 521,
};

constexpr int errorNumber(SendError e) {
    return static_cast<int>(e);
}

// "ターノス - エラー  (№N)" and the code's text (Shift_JIS); empty text for a
// code that shows nothing.
std::string sendErrorTitle(int code);
std::string sendErrorText(int code);

// One step of the recipient walk.
struct Recipient {
    int position = 0;       // 1-based position in the walk (skipped entries count)
    bool eligible = false;  // shown in the list view and status 0
    std::string address;    // the stored address text
    contents::MergeValues values;
};

// The recipients of a send. The address book gives its records as the list
// view shows them (book_sources.h); a database row source can take its place.
// Which thread calls what is part of the contract: the document is touched
// only on the caller's thread.
class RecipientSource {
public:
    virtual ~RecipientSource() = default;

    // Caller's thread, before the run: the number N a send takes, and its
    // recipients in walk order until `visit` returns false (the preview).
    virtual int eligibleCount() = 0;
    virtual void visitEligible(const std::function<bool(const Recipient&)>& visit) = 0;
    // Caller's thread, when the run starts: the walk is fixed from here on.
    // A refusal (the document is held by another run) means no run.
    virtual Status beginRun() { return Ok{}; }

    // Worker thread, during the run: the next entry of the walk, eligible or
    // not (false at the end), and "the message of the last entry was refused".
    virtual bool next(Recipient& recipient) = 0;
    virtual void markSendFailed() = 0;
    // Worker thread: the message of the last entry was accepted (a source
    // that selects its recipients by a failed status gives them back the
    // normal one).
    virtual void markSent() {}
    // Worker thread: the calls that follow (the marks and the message hooks)
    // concern `recipient`, an entry next() gave earlier, tried again.
    virtual void revisit(const Recipient& recipient) { (void)recipient; }
    // Around each message (a journal keeps them). The message to `recipient`
    // begins its transaction (false: it could not be recorded, and the run
    // must not send it), and its final "." is about to go out (false holds it
    // back). These two come from the worker thread or from an engine's
    // thread, and with several sessions from several threads at once, each
    // for a different recipient. Worker thread, for the last entry: the
    // message's outcome; a deferred message is tried again later in the run.
    virtual bool messageStarting(const Recipient& recipient) {
        (void)recipient;
        return true;
    }
    virtual bool messageCommitting(const Recipient& recipient) {
        (void)recipient;
        return true;
    }
    virtual void messageAccepted(std::string_view reply) { (void)reply; }
    virtual void messageRefused(int code, std::string_view reply) { (void)code, (void)reply; }
    virtual void messageDeferred(int code, std::string_view reply) { (void)code, (void)reply; }
    // Worker thread, when the run has taken its N recipients: the rest of the
    // walk is not sent to, but a source may still have statuses to give there.
    virtual void finishWalk() {}

    // Caller's thread, after the run (on every path): apply what the run did.
    virtual void commit() {}
};

// The dial-up step the drivers share with the options dialog's test send.
using tarn::dialIfNeeded;
using tarn::DialUpLoader;

struct SendRunOptions {
    // Shown in the log header: the address book (or database) and the .tnm path.
    std::string recipientSourceName;
    std::string contentsPath;
    // Files beside the program (overridable for tests).
    std::filesystem::path customHeaderFile;
    std::filesystem::path smtpAuthFile;
    // An extra CA certificate for the server's TLS certificate; "" takes the
    // default account's own CA file.
    std::string caFile;
    // The POP3 port of POP before SMTP: the settings hold only the server's name,
    // and the applications always use the standard port.
    int popPort = 110;
    // Loads the dial-up library when the account dials (default: the real one).
    DialUpLoader loadDialUp;
    // The script's person-facing calls, made on the worker thread; the send job
    // forwards them to the caller's thread.
    contents::ScriptHost* scriptHost = nullptr;
    // The log's clock (tests fix it).
    SendLog::Clock logClock;
    // The recipients are the rows of a table (the database-send application):
    // the subject is handed to the engine before the Message-ID, and the final
    // status line counts the messages sent and refused.
    bool databaseRows = false;
    // The clock of the run's waits (retry rounds, quota, jitter); null: the
    // system's. Tests pass one that does not sleep.
    RunClock* clock = nullptr;
    // The quota's state file (send_quota.h); empty: "send-quota" beside the
    // registry file.
    std::filesystem::path quotaStateFile;
};

// Runs a send of `contents` to `n` eligible recipients with the default
// account of `settings`, on the calling (worker) thread, reporting through
// `channel`. Returns 0 or a send error code; on 0 the progress window has been
// given its finished state. SendJob (send_job.h) is what callers use.
int runSend(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, JobChannel& channel, const SendRunOptions& options);

}  // namespace tarn::driver

// What `tarn send`, `tarn check` and `tarn demo` share: the settings, the
// address book with the list view's selection, and saving statuses back.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <memory>

#include "addressbook/document.h"
#include "addressbook/list_view_state.h"
#include "driver/check_job.h"
#include "driver/send_job.h"
#include "sendcore/settings.h"

namespace tarn::cli {

struct LoadedSettings {
    SendSettings settings{};
    std::string contFileName;  // Shift_JIS
};
LoadedSettings loadSettings();

// An address book with the list view a window would show over it.
struct OpenedBook {
    std::unique_ptr<addressbook::CTarnSendDoc> doc;
    std::unique_ptr<addressbook::ListViewState> view;
};

// Opens BOOK.tn2 and selects what the list view shows: a folder or a group by
// name (UTF-8), or every record. Prints the reason and returns nullopt on failure.
std::optional<OpenedBook> openBook(const std::filesystem::path& path,
                                   const std::optional<std::string>& folder,
                                   const std::optional<std::string>& group);

// Saves the statuses a run wrote, atomically; prints the reason on failure.
bool saveBook(addressbook::CTarnSendDoc& doc, const std::filesystem::path& path);

// Asks a yes/no question on the terminal; false without one.
bool confirmOnTerminal(const std::string& questionUtf8);

// The confirmation before a run: nothing to do with --yes; without a terminal
// to ask on, a usage error telling the person to give --yes; a declined
// question prints declinedUtf8 (when given) and fails. nullopt: go on.
std::optional<int> refuseUnconfirmed(bool yes, std::string_view command,
                                     const std::string& questionUtf8,
                                     std::string_view declinedUtf8 = {});

// Whether a window can be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set.
bool hasDisplay();

// Opens a dialog library (libTarnEdit.so, libTarnOption.so) beside this
// executable and looks up its export; prints why and returns null when either
// fails. The library stays loaded until the command ends: Qt's objects may
// outlive the call, and Qt cannot be unloaded safely.
void* dialogLibraryExport(const char* library, const char* symbol, std::string_view what);

// The error box of a send error code on stderr: title "ターノス - エラー  (№%d)"
// and the code's text (nothing for a code without one). Returns kFailure.
int showSendError(int code);

// Why a send or check stopped before its confirmation, on stderr (the error
// box of a code, else the message). Returns kFailure.
int showProblem(const driver::CommandProblem& problem);

}  // namespace tarn::cli

namespace tarn::cli {

struct SendCommandOptions {
    std::filesystem::path book;
    std::optional<std::string> contents;  // a .tnm path (UTF-8); else ContFileName
    std::optional<std::string> folder, group;
    std::optional<std::string> at;  // "YYYY-MM-DD HH:MM:SS"
    bool yes = false;
    std::optional<std::filesystem::path> dryRunDir;  // send to the capture server instead
    std::string caFile;
    bool preflight = false;  // only list what the recipients would receive other than as written
    int popPort = 110;       // POP before SMTP
    // An earlier run's journal: go on from where it stopped, or throw it away
    // (neither: ask on the terminal); whether uncertain recipients are sent.
    bool resume = false, restart = false, resendUncertain = false;
    bool journal = true;  // keep BOOK.tn2.journal for a resume
    bool onlyFailed = false;  // only the records with 送信エラー, set back to 正常 as each succeeds
};

// The journal of `job` at `path`, and the question about an earlier run's
// (the options' --resume/--restart/--resend-uncertain, else the terminal).
// An exit code when the send is not to go on.
std::optional<int> useSendJournal(driver::SendJob& job, const std::filesystem::path& path,
                                  const SendCommandOptions& options);

// The send command: checks, confirmation, timed wait, the driver, statuses
// saved back. Returns the exit code.
int runSendCommand(const SendCommandOptions& options);

// What every check command does with its prepared job: --level and --dns into
// the check settings (saved, as the check-settings dialog saves them), the
// question, then the run. An exit code when it ended before the run, else
// nothing and the run's result in runCode.
struct Command;
class Args;
std::optional<int> configureAndRunCheck(driver::CheckJob& job, const Command& command,
                                        const Args& args, int& runCode);

// What a send run did: its result (0 or a send error code) and the messages
// the server accepted and refused.
struct SendRunOutcome {
    int code = 0;
    int ok = 0;
    int ng = 0;
};

// What every send command does with its job: the checks and the confirmation
// (with extra lines of the caller's), the timed wait and the run. An exit code
// when it ended before the run (declined, a problem, --preflight), else
// nothing and what the run did in `outcome`.
std::optional<int> confirmAndRunSend(driver::SendJob& job, const SendCommandOptions& options,
                                     const std::vector<std::string>& extraLinesUtf8,
                                     SendRunOutcome& outcome);

// The end of every send command: the last line "結果 [OK:n件 NG:n件]" and the
// exit code: 0 every message went out, 3 the run went to its end but some
// were refused, 1 the run stopped early or its statuses could not be stored.
int finishSendCommand(const SendRunOutcome& outcome, bool statusesStored);

}  // namespace tarn::cli

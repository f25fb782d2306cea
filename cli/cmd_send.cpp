// `tarn send`: the send command of the group-send application on a terminal.
#include <unistd.h>

#include <charconv>

#include "command.h"
#include "common/cp932.h"
#include "common/program.h"
#include "contents/script.h"
#include "driver/book_sources.h"
#include "driver/capture_server.h"
#include "driver/send_job.h"
#include "driver/timed_send.h"
#include "run_support.h"
#include "terminal_ui.h"

namespace tarn::cli {
namespace {

// The run went to its end but the server refused some of the messages.
constexpr int kSomeRefused = 3;

int runSend(const std::vector<std::string>& argv);

const Command kSend{
    "send",
    "send BOOK.tn2 [--contents FILE.tnm] [--folder NAME | --group NAME]\n"
    "           [--at \"YYYY-MM-DD HH:MM:SS\"] [--yes] [--dry-run DIR] [--ca-file PEM]\n"
    "           [--preflight] [--pop-port PORT] [--resume | --restart] [--resend-uncertain]\n"
    "           [--no-journal] [--only-failed]\n"
    "  表示中 (--folder/--group、既定はすべて) の状態「正常」の宛先へ一通ずつ送信します。\n"
    "  設定はレジストリ (TARN_REGISTRY) の標準アカウントを使います。\n"
    "  --contents  送信内容ファイル (既定は前回の送信内容ファイル)\n"
    "  --at        指定時刻まで待ってから送信します (Ctrl-C で中止の確認)\n"
    "  --yes       送信の確認をしません (端末がないときは必須)\n"
    "  --dry-run   サーバへは送らず、内蔵の受信サーバで DIR に .eml として保存します\n"
    "  --preflight 送信せずに、宛先ごとに表示できない文字・空の差し込み項目・重複・\n"
    "              添付ファイルの有無などを一覧にします\n"
    "  --ca-file   サーバ証明書の確認に加える CA 証明書 (PEM)\n"
    "  --pop-port  POP before SMTP の POP3 ポート (既定 110)\n"
    "  --resume    前回中断された送信を続きから行います (送信済みの宛先には送りません)\n"
    "  --restart   前回の送信記録 (BOOK.tn2.journal) を捨てて最初から送信します\n"
    "  --resend-uncertain  中断のため届いたかどうかわからない宛先にも送ります\n"
    "  --no-journal  送信記録 (BOOK.tn2.journal) を残しません (中断後は続きから送信できません)\n"
    "  --only-failed 状態「送信エラー」の宛先だけに送り直します (送信できた宛先は「正常」に戻します)\n"
    "  送信中の Ctrl-C は中止ボタンです (SIGTERM と SIGHUP は確認なしの中止)。\n"
    "  送信エラーの状態は BOOK.tn2 に書き戻します。最後の行は「結果 [OK:n件 NG:n件]」です。\n"
    "  終了コード: 0 すべて送信、3 送信エラーの宛先あり、1 送信を中止・失敗、2 使い方の誤り",
    "アドレス帳の宛先へ一斉送信します", runSend};
const Registration reg(kSend);

// The script's calls during a bulk run: boxes and errors are printed, nothing
// is asked and nothing is started.
class BulkScriptHost : public contents::ScriptHost {
public:
    void ReportScriptError(int, int, std::string_view message) override {
        err(std::string(message) + "\n");
    }
    bool MsgBox(std::string_view text, int kind) override {
        err("MsgBox: " + fromSjis(text) + "\n");
        return kind != 1 && kind != 2;
    }
};

// The question about an interrupted earlier run, on the terminal. Without one
// nothing is assumed: the person says --resume or --restart.
class TerminalResumeUi : public driver::ResumeUi {
public:
    bool askResume(std::string_view title, std::string_view text) override {
        err(fromSjis(title) + "\n" + fromSjis(text) + "\n");
        if (::isatty(STDIN_FILENO) == 0) {
            err("tarn send: 端末がないため確認できません。--resume (続きから) か --restart "
                "(最初から) を指定してください。\n");
            return false;
        }
        return confirmOnTerminal("続きから送信しますか？");
    }
    bool askSendUncertain(std::string_view title, std::string_view text,
                          const std::vector<std::string>& addresses) override {
        err(fromSjis(title) + "\n" + fromSjis(text) + "\n");
        for (const auto& a : addresses) {
            err("  " + fromSjis(a) + "\n");
        }
        return confirmOnTerminal("もう一度送信しますか？");
    }
};

std::string firstLines(const std::string& utf8, int lines) {
    std::size_t pos = 0;
    for (int i = 0; i < lines && pos != std::string::npos; ++i) {
        pos = utf8.find('\n', pos == 0 ? 0 : pos + 1);
    }
    return pos == std::string::npos ? utf8 : utf8.substr(0, pos) + "\n…";
}

int runSend(const std::vector<std::string>& argv) {
    Args args(argv, {"contents", "folder", "group", "at", "dry-run", "ca-file", "pop-port"},
              {"yes", "preflight", "resume", "restart", "resend-uncertain", "no-journal", "only-failed"});
    if (!args.ok()) {
        return usageError(kSend, args.error());
    }
    if (args.positional().size() != 1) {
        return usageError(kSend, "アドレス帳 (.tn2) を一つ指定してください");
    }
    SendCommandOptions o;
    o.book = args.positional()[0];
    o.contents = args.value("contents");
    o.folder = args.value("folder");
    o.group = args.value("group");
    o.at = args.value("at");
    o.yes = args.has("yes");
    if (auto d = args.value("dry-run")) {
        o.dryRunDir = *d;
    }
    o.caFile = args.value("ca-file").value_or("");
    o.preflight = args.has("preflight");
    if (args.has("resume") && args.has("restart")) {
        return usageError(kSend, "--resume と --restart は同時に指定できません");
    }
    o.resume = args.has("resume");
    o.restart = args.has("restart");
    o.resendUncertain = args.has("resend-uncertain");
    o.journal = !args.has("no-journal");
    o.onlyFailed = args.has("only-failed");
    if (auto port = args.value("pop-port")) {
        int value = 0;
        auto [end, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
        if (ec != std::errc{} || end != port->data() + port->size() || value < 1 || value > 65535) {
            return usageError(kSend, "--pop-port は 1 から 65535 のポート番号です: " + *port);
        }
        o.popPort = value;
    }
    return runSendCommand(o);
}

}  // namespace

std::optional<int> confirmAndRunSend(driver::SendJob& job, const SendCommandOptions& o,
                                     const std::vector<std::string>& extraLinesUtf8,
                                     SendRunOutcome& outcome) {
    using namespace tarn::driver;
    // The checks and the confirmation, with the first recipient's message.
    if (auto problem = job.prepare()) {
        if (job.settledByJournal()) {
            out(fromSjis(problem->text) + "\n");
            return kSuccess;
        }
        return showProblem(*problem);
    }
    const driver::SendConfirmation& c = job.confirmation();
    if (o.preflight) {
        out(std::to_string(c.preflight.checked) + " 件の宛先を確認しました。\n");
        for (const auto& line : c.preflight.summaryLines()) {
            out("  " + fromSjis(line) + "\n");
        }
        for (const auto& line : c.preflight.detailLines()) {
            out(fromSjis(line) + "\n");
        }
        return kSuccess;
    }
    out(fromSjis(confirmationQuestion()) + "\n");
    out("  送信内容: " + fromSjis(c.contentsPath) + "\n");
    out("  件名:     " + fromSjis(c.subject) + "\n");
    out("  送信者:   " + fromSjis(c.sender) + "\n");
    out("  送信先:   " + std::to_string(c.recipients) + " 件" +
        (o.dryRunDir ? " (試験送信: " + o.dryRunDir->string() + ")" : std::string()) + "\n");
    switch (c.preview.state) {
        case SendPreview::State::kMessage: {
            std::string body = fromSjis(c.preview.body);
            std::erase(body, '\r');
            out("  ---- 本文 (" + fromSjis(c.preview.address) + ") ----\n" + firstLines(body, 8) +
                "\n  --------------\n");
            break;
        }
        case SendPreview::State::kNoMessage:
            out("  (スクリプトがどの宛先にも本文を出力しないため、送信されるメールはありません)\n");
            break;
        case SendPreview::State::kScriptFailed:
            out("  " + fromSjis(scriptErrorText()) + " " + c.preview.scriptError + "\n");
            break;
    }
    const auto findings = c.preflight.summaryLines();
    for (const auto& line : extraLinesUtf8) {
        out("  " + line + "\n");
    }
    for (const auto& line : findings) {
        out("  確認: " + fromSjis(line) + "\n");
    }
    if (!findings.empty()) {
        out("  (宛先ごとの一覧は --preflight で表示します)\n");
    }
    if (auto refused =
            refuseUnconfirmed(o.yes, "send", "送信しますか？", "送信を取りやめました。")) {
        return *refused;
    }
    if (!o.dryRunDir) {
        // The confirmed file becomes the current send-contents file.
        if (auto saved = job.rememberContentsFile(SettingsStore()); !saved) {
            err("tarn: 設定を保存できません: " + saved.error().message + "\n");
        }
    }

    installStopHandler();
    TerminalUi ui;
    // A timed send waits for its time.
    if (o.at) {
        auto planned = parsePlannedTime(*o.at);
        if (!planned) {
            return fail("時刻は \"YYYY-MM-DD HH:MM:SS\" の形で指定してください: " + *o.at);
        }
        Clock clock;
        clock.sleep = [](int ms) { ::usleep(static_cast<useconds_t>(ms) * 1000); };
        switch (waitForPlannedTime(*planned, ui, clock)) {
            case TimedWaitResult::NotInFuture:
                return kFailure;
            case TimedWaitResult::Cancelled:
                out("\n送信を中止しました。\n");
                return kFailure;
            case TimedWaitResult::Start:
                err("\n");
                break;
        }
    }

    // The run.
    if (auto started = job.start(); !started) {
        return fail(started.error().message);
    }
    outcome.code = job.runToEnd(ui, [&job] {
        if (takeStopRequest()) {
            job.requestStop();
        }
    });
    outcome.ok = ui.ok();
    outcome.ng = ui.ng();
    return std::nullopt;
}

std::optional<int> useSendJournal(driver::SendJob& job, const std::filesystem::path& path,
                                  const SendCommandOptions& o) {
    using How = driver::SendJob::EarlierRun;
    TerminalResumeUi resumeUi;
    const How how = o.resume ? How::kResume : o.restart ? How::kRestart : How::kAsk;
    if (auto problem = job.useJournal(path, how, resumeUi,
                                      o.resendUncertain ? std::optional(true) : std::nullopt)) {
        return showProblem(*problem);
    }
    for (const auto& a : job.uncertainLeftOut()) {
        out("送信結果不明のため送信しません: " + fromSjis(a) + "\n");
    }
    return std::nullopt;
}

int runSendCommand(const SendCommandOptions& o) {
    using namespace tarn::driver;
    // Held from before the book is read until its statuses are saved.
    auto bookLock = lockBook(o.book);
    if (!bookLock) {
        return fail(bookLock.error().message);
    }
    LoadedSettings loaded = loadSettings();
    SendSettings& settings = loaded.settings;
    auto book = openBook(o.book, o.folder, o.group);
    if (!book) {
        return kFailure;
    }
    std::string contentsPath = loaded.contFileName;
    if (o.contents) {
        auto p = toSjis(*o.contents, "--contents");
        if (!p) {
            return kFailure;
        }
        contentsPath = *p;
    }

    // The capture server of a dry run takes the default account's place.
    CaptureServer capture;
    if (o.dryRunDir) {
        CaptureServer::Options co;
        co.dir = *o.dryRunDir;
        co.syncEachMessage = false;  // flushed once when the run is over
        if (auto started = capture.start(co); !started) {
            return fail(started.error().message);
        }
        setFieldText(settings.defaultAccount.SMTPName, "127.0.0.1");
        settings.defaultAccount.PortNo = capture.port();
        settings.defaultAccount.PBSUse = 0;
        settings.defaultAccount.dialUp.LANConnect = 1;
        settings.defaultSecurity = kSecurityNone;
    }

    BulkScriptHost host;
    SendJob::Setup setup;
    setup.settings = settings;
    setup.contentsPath = contentsPath;
    setup.options.recipientSourceName = std::filesystem::absolute(o.book).string();
    if (auto sj = cp932::fromUtf8(setup.options.recipientSourceName)) {
        setup.options.recipientSourceName = *sj;
    }
    setup.options.customHeaderFile = besideProgram("CustmHeader.hdr");
    setup.options.smtpAuthFile = besideProgram("SMTPAuth.txt");
    setup.options.caFile = o.caFile;
    setup.options.popPort = o.popPort;
    setup.scriptHost = &host;
    setup.book = {o.book, *bookLock};
    SendJob job(std::make_unique<BookRecipients>(
                    *book->doc, *book->view,
                    o.onlyFailed ? BookSelection::kFailedOnly : BookSelection::kNormal),
                std::move(setup));
    // A dry run sends nothing a later run should know about.
    if (o.journal && !o.preflight && !o.dryRunDir) {
        if (auto stopped = useSendJournal(job, journalPathFor(o.book), o)) {
            return *stopped;
        }
    }

    SendRunOutcome outcome;
    if (auto stopped = confirmAndRunSend(job, o, {}, outcome)) {
        if (job.settledByJournal()) {
            // Nothing was left to send: the journal's statuses are stored.
            if (!saveBook(*book->doc, o.book)) {
                return kFailure;
            }
            job.journalDone();
        }
        return *stopped;
    }
    const bool saved = saveBook(*book->doc, o.book);
    if (outcome.code == 0 && saved) {
        job.journalDone();
    }
    if (outcome.code == 0 && o.dryRunDir) {
        capture.stop();
        out("保存したメール: " + std::to_string(capture.messageCount()) + " 通 (" +
            o.dryRunDir->string() + ")\n");
    }
    return finishSendCommand(outcome, saved);
}

int finishSendCommand(const SendRunOutcome& outcome, bool statusesStored) {
    // The last line says what happened, whatever the ending.
    out("結果 [OK:" + std::to_string(outcome.ok) + "件 NG:" + std::to_string(outcome.ng) + "件]\n");
    if (outcome.code != 0 || !statusesStored) {
        return kFailure;
    }
    return outcome.ng > 0 ? kSomeRefused : kSuccess;
}

}  // namespace tarn::cli

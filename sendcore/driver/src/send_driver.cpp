#include "driver/send_driver.h"

#include <chrono>
#include <cstring>
#include <optional>

#include "addressbook/record.h"
#include "common/cp932.h"
#include "common/program.h"
#include "driver/personalise.h"
#include "sendcore/smtp_auth_file.h"
#include "texts.h"
#include "zeph.h"

namespace tarn::driver {
namespace {

using Clock = std::chrono::steady_clock;

long long secondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
}

// What the engine reports for a job ended by ZEPH_Stop in its pause after an
// accepted message (zeph.h).
constexpr int kEngineStopped = -1;
constexpr int kEngineStoppedAfterMessage = 7500;
// A message held back by the commit hook.
constexpr int kEngineWithheld = -13;

// The engine's commit hook: the recipient source records the commit.
int commitHook(void* recipients) {
    return static_cast<RecipientSource*>(recipients)->messageCommitting() ? 1 : 0;
}

EngineErrorValues engineErrors() {
    EngineErrorValues e;
    e.lastError = ZEPH_GetLastError();
    e.socketError = ZEPH_GetSockLastError();
    e.smtpReplyCode = ZEPH_GetSmtpLastError();
    e.errorPosition = ZEPH_GetLastErrorPos();
    return e;
}

std::string replyLine() {
    const char* r = ZEPH_GetSMTPResult();
    return r != nullptr ? r : "";
}

// The attachment list as the engine takes it: each path followed by a TAB, a
// path with a space in double quotes.
std::string engineAttachmentList(std::string_view attachments) {
    while (!attachments.empty() && (attachments.back() == ' ' || attachments.back() == '\t')) {
        attachments.remove_suffix(1);
    }
    std::string list;
    for (const auto& path : contents::splitAttachments(attachments)) {
        if (path.find(' ') != std::string::npos) {
            list += '"' + path + '"';
        } else {
            list += path;
        }
        list += '\t';
    }
    return list;
}

// How a wait for an engine job ended.
enum class Waited {
    kDone,           // the job ended by itself
    kStopConfirmed,  // the person stopped the run ("中止しますか？" Yes)
    kStopDeclined,   // the person asked for a stop and then said No
};

// Which connection a session is opened for.
enum class SessionStart {
    kFirst,       // the run's first connection: its failures come before any message
    kAfterStop,   // a stop the person declined closed the session
    kAfterPause,  // the pause after WaitCount messages closed the session
};

// One send run on the job's worker thread. Everything it holds that must be
// released on every return path (the log, the progress window, a dialled
// connection) is released by its destructor. The phases are separate
// functions: prepare, openSession, sendOne, pause, finish (each recipient's
// message comes from personalise(), personalise.h).
class SendRun {
public:
    SendRun(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, JobChannel& ui, const SendRunOptions& options)
        : m_settings(settings),
          m_account(settings.defaultAccount),
          m_contents(contents),
          m_n(n),
          m_recipients(recipients),
          m_ui(ui),
          m_options(options),
          m_log(options.logClock),
          m_smtpName(fieldText(settings.defaultAccount.SMTPName)) {}

    ~SendRun() {
        ZEPH_SetCommitHook(nullptr, nullptr);
        if (m_windowOpen) {
            m_ui.close();
        }
        if (m_dialUp && m_dialUp->connected() && m_dialUp->hangUpOnEnd()) {
            m_dialUp->hangUp();
        }
        m_log.close();
    }

    SendRun(const SendRun&) = delete;
    SendRun& operator=(const SendRun&) = delete;

    int execute();

private:
    // Steps before the network: custom headers, the log and its header, the
    // attachments, dial-up. 0 or the code to return.
    int prepare();
    // Connects and starts an SMTP session (with POP before SMTP where the
    // account asks for it). 0, or the code that ends the run.
    int openSession(SessionStart how, Clock::time_point since);
    int popBeforeSmtp();
    // Waits for the running engine job. `since` set: the time line counts the
    // seconds from it and the bar follows (the connect wait). A stop request
    // closes the connection and asks.
    Waited awaitEngineJob(std::optional<Clock::time_point> since);
    void applySmtpAuth(bool logIt);
    // The connect or session-start job failed: the 5309 log line (then an empty
    // line, or the result line once the session had started), the 5302 box, 506.
    int sessionFailed();
    // Closes the session. With pauseAfter the engine keeps its short pause
    // after the disconnect (before a reconnect); a stop request cuts it short.
    void disconnect(bool pauseAfter);
    // Sends the personalised message to `r` (its headers and subject are set)
    // and accounts for it. 0 to go on, else the code that ends the run.
    int sendOne(const Recipient& r);
    void accountResult(const Recipient& r, bool accepted);
    // After a confirmed or declined stop: 508, or a fresh session.
    int stopAnswered(bool yes);
    int pause();
    int finish();
    // Ends the run with `code`; once the session had started, the log gets the
    // result line so that it always ends with the counts reached.
    int end(int code) {
        if (m_sessionStarted && logging()) {
            m_log.result(m_ok, m_ng);
        }
        return code;
    }
    bool logging() const { return m_settings.LogFileMode != 0 && m_log.isOpen(); }
    void reportProgress(const Recipient& r) {
        m_ui.progress(RunProgress{0, m_n, m_sent, m_ok, m_ng, r.position, r.address});
    }
    void showElapsed();

    const SendSettings& m_settings;
    const AccountSettings& m_account;
    const contents::SendContents& m_contents;
    const int m_n;
    RecipientSource& m_recipients;
    JobChannel& m_ui;
    const SendRunOptions& m_options;
    SendLog m_log;
    const std::string m_smtpName;
    std::unique_ptr<DialUpConnection> m_dialUp;
    bool m_windowOpen = false;
    bool m_sessionStarted = false;
    std::optional<contents::ScriptEngine> m_script;
    contents::ScriptHost m_silentHost;
    PersonalMessage m_message;
    int m_ok = 0;
    int m_ng = 0;
    int m_sent = 0;
    Clock::time_point m_runStart;
    long long m_shownSecond = -1;
};

int SendRun::prepare() {
    // Custom headers.
    ZEPH_ClearCustomHeader();
    if (m_settings.CustomUse == 1) {
        ZEPH_LoadCustomHeader(m_options.customHeaderFile.c_str());
    }

    // The send log and its run header.
    const std::string logFileName = fieldText(m_settings.LogFileName);
    if (m_settings.LogFileMode != 0 && logFileName.empty()) {
        return kErrNoLogFileName;
    }
    if (m_settings.LogFileMode > 0) {
        if (!m_log.open(cp932::pathFromSjis(logFileName), m_settings.LogCreateMode)) {
            return kErrLogOpen;
        }
        m_log.runHeader(m_options.recipientSourceName, m_options.contentsPath,
                        fieldText(m_account.FromName), fieldText(m_account.FromEMail),
                        m_contents.subject);
        m_log.versionLine();
        m_log.smtpServer(m_smtpName, m_account.PortNo);
        if (m_account.PBSUse == 1) {
            m_log.popBeforeSmtp(fieldText(m_account.Pop3Name), fieldText(m_account.PBSUserID));
        }
    }

    // Attachments, once per run.
    std::string attachList = engineAttachmentList(m_contents.attachments);
    if (attachList.empty()) {
        ZEPH_SetAttach("");
    } else if (ZEPH_SetAttach(attachList.c_str()) == 0) {
        return kErrAttachment;
    }

    // Dial-up when the server is not on the LAN.
    auto dialled = dialIfNeeded(m_account, m_options.loadDialUp);
    if (!dialled) {
        return kErrDialUp;
    }
    m_dialUp = std::move(*dialled);
    return 0;
}

int SendRun::popBeforeSmtp() {
    m_ui.setStatusLine(sj("Pop before SMTPを実行中..."));
    // Blocking, bounded by the engine's own POP time-outs.
    int r = ZEPH_PopBeforeSmtp(fieldText(m_account.Pop3Name).c_str(), m_options.popPort,
                               fieldText(m_account.PBSUserID).c_str(),
                               fieldText(m_account.PBSPassword).c_str(),
                               m_account.PBSAPOP == 1 ? 1 : 0);
    if (r == 0) {
        return 0;
    }
    ZEPH_Abort();
    switch (r) {
        case 1:
            return kErrPopConnect;
        case 2:
            return kErrPopReceive;
        case 3:
            return kErrPopUser;
        case 4:
            return kErrPopPassword;
        default:
            return kErrConnect;
    }
}

void SendRun::disconnect(bool pauseAfter) {
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, pauseAfter ? 500 : 0);
    if (ZEPH_Disconnect(0) != 0) {
        while (ZEPH_IsExecute() != 0) {
            if (m_ui.stopRequested()) {
                ZEPH_Stop();  // only the pause is cut short; QUIT has been answered
            }
        }
    }
    ZEPH_Abort();
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, 500);
}

Waited SendRun::awaitEngineJob(std::optional<Clock::time_point> since) {
    if (since) {
        m_ui.setRange(90);
    }
    long long shown = -1;
    while (ZEPH_IsExecute() != 0) {  // yields, and wakes as soon as the job ends
        if (m_ui.stopRequested()) {
            m_ui.clearStopRequest();
            ZEPH_Abort();  // ends the connect or the session start at once
            return m_ui.askStop() ? Waited::kStopConfirmed : Waited::kStopDeclined;
        }
        if (since) {
            if (long long s = secondsSince(*since); s != shown) {
                shown = s;
                m_ui.setTimeLine(
                    format(sj("接続応答待ち( %d 秒経過) ").c_str(), static_cast<int>(s)));
                m_ui.setPosition(s);
            }
        }
    }
    if (since) {
        m_ui.setPosition(90);
        m_ui.setTimeLine("");
    }
    return Waited::kDone;
}

void SendRun::applySmtpAuth(bool logIt) {
    SmtpAuthFile auth = readSmtpAuthFile(m_options.smtpAuthFile);
    if (!auth.usable()) {
        // Nothing from an earlier run of this process may linger in the engine.
        ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
        return;
    }
    if (logIt && logging()) {
        m_log.smtpAuth(auth.userId);
    }
    ZEPH_SetSmtpAuth(1, auth.userId.c_str(), auth.password.c_str(), auth.method);
}

int SendRun::sessionFailed() {
    if (logging()) {
        m_log.connectFailed(engineErrors());
        if (!m_sessionStarted) {
            m_log.emptyLine();
        }
    }
    m_ui.errorBox(sj("ターノス - エラー"),
                  format(sj("SMTPサーバの接続に失敗しました。 (%d)").c_str(), ZEPH_GetLastError()));
    ZEPH_Abort();
    return end(kErrConnect);
}

int SendRun::openSession(SessionStart how, Clock::time_point since) {
    if (how != SessionStart::kAfterStop && m_account.PBSUse == 1) {
        if (int r = popBeforeSmtp(); r != 0) {
            return end(r);
        }
    }
    if (how == SessionStart::kFirst) {
        m_ui.setStatusLine(sj("SMTPサーバーに接続中..."));
        ZEPH_SetWaitMillSec(m_settings.WaitMSec, 500);
        ZEPH_SetRecvTimeOutSec(90);
        ZEPH_SetEncodeType(0);
        ZEPH_SetPort(m_account.PortNo);
        ZEPH_SetSecurity(m_settings.defaultSecurity);
        const std::string caFile =
            m_options.caFile.empty() ? fieldText(m_settings.defaultCaFile) : m_options.caFile;
        ZEPH_SetCAFile(caFile.c_str());
        ZEPH_SetCharset(mailCharset(m_settings));
        ZEPH_SetHeloName(greetingName(m_settings).c_str());
        ZEPH_SetPipelining(m_settings.NoPipelining != 0 ? 0 : 1);
        ZEPH_SetCommitHook(&commitHook, &m_recipients);
    }
    // A declined stop starts the connection again from here.
    for (bool again = false;; again = true) {
        if (ZEPH_Connect(m_smtpName.c_str(), 0) == 0) {
            ZEPH_Abort();
            return end(how == SessionStart::kFirst && !again ? kErrNoSmtpServer : kErrConnect);
        }
        Waited w = awaitEngineJob(since);
        if (w == Waited::kStopConfirmed) {
            return end(kErrCancelled);
        }
        if (w == Waited::kStopDeclined) {
            continue;
        }
        if (ZEPH_GetResult() == 0) {
            return sessionFailed();
        }
        applySmtpAuth(how == SessionStart::kFirst && !again);
        if (ZEPH_SendStart(0) == 0) {
            ZEPH_Abort();
            return end(kErrConnect);
        }
        w = awaitEngineJob(std::nullopt);
        if (w == Waited::kStopConfirmed) {
            return end(kErrCancelled);
        }
        if (w == Waited::kStopDeclined) {
            continue;
        }
        if (ZEPH_GetResult() == 0) {
            return sessionFailed();
        }
        break;
    }
    m_ui.setTimeLine("");
    if (how == SessionStart::kFirst) {
        if (logging()) {
            m_log.connected(replyLine());
            m_log.sendStart();
        }
        m_sessionStarted = true;
    }
    return 0;
}

void SendRun::accountResult(const Recipient& r, bool accepted) {
    RecipientResult result{r.position, r.address, RecipientOutcome::kSent, 0, 0};
    if (accepted) {
        ++m_ok;
        if (m_settings.LogFileMode >= 2) {
            m_log.messageSent(r.position, r.address);
        }
        m_recipients.messageAccepted(replyLine());
    } else {
        ++m_ng;
        EngineErrorValues e = engineErrors();
        if (m_settings.LogFileMode != 0) {
            m_log.messageFailed(r.position, r.address, e, e.smtpReplyCode != 0 ? replyLine() : "");
        }
        m_recipients.markSendFailed();
        m_recipients.messageRefused(e.smtpReplyCode, e.smtpReplyCode != 0 ? replyLine() : "");
        result.outcome = RecipientOutcome::kRefused;
        result.status = addressbook::kStatusSendError;
        result.code = e.lastError;
    }
    m_ui.recipientDone(result);
    reportProgress(r);
}

int SendRun::sendOne(const Recipient& r) {
    ZEPH_SetBody(m_message.body().c_str());
    const int size = ZEPH_GetSendSize();
    m_ui.setRange(size);
    m_ui.setAddressLine(format(sj("送信アドレス : %s").c_str(), r.address.c_str()));

    // A stop during the message is asked at once; the message goes on meanwhile.
    bool asked = false;
    std::optional<bool> answer;
    bool interrupted = false;
    if (!m_recipients.messageStarting()) {
        disconnect(false);
        return end(kErrJournal);
    }
    if (ZEPH_Send(0) != 0) {
        while (ZEPH_IsExecute() != 0) {
            m_ui.setPosition(ZEPH_GetNowSendSize());
            if (!asked && m_ui.stopRequested()) {
                m_ui.clearStopRequest();
                m_ui.postStopQuestion();
                asked = true;
            }
            if (asked && !answer) {
                answer = m_ui.stopAnswer();
                if (answer && *answer) {
                    ZEPH_Stop();
                    interrupted = true;
                }
            }
        }
    }
    m_ui.setPosition(size);

    bool accepted = ZEPH_GetResult() != 0;
    if (!accepted && ZEPH_GetSockLastError() == kEngineWithheld) {
        // The journal could not record the commit: the message was held back.
        ZEPH_Abort();
        return end(kErrJournal);
    }
    if (interrupted && !accepted) {
        // Stopped in the pause after the message: the server had accepted it.
        accepted = ZEPH_GetSockLastError() == kEngineStopped &&
                   ZEPH_GetLastErrorPos() == kEngineStoppedAfterMessage;
    }
    if (!interrupted || accepted) {
        accountResult(r, accepted);
    }
    // Otherwise the message was cut off by the person: not sent, not refused.

    if (asked) {
        const bool yes = answer ? *answer : m_ui.awaitStopAnswer();
        if (yes || interrupted) {
            // The person wants out, or the transaction was cut off: a QUIT to a
            // server that may have stalled would hold the stop for the whole
            // receive time-out, so the connection is simply closed.
            ZEPH_Abort();
        } else {
            disconnect(false);
        }
        return stopAnswered(yes);
    }
    if (m_ui.stopRequested()) {
        m_ui.clearStopRequest();
        disconnect(false);
        return stopAnswered(m_ui.askStop());
    }
    return 0;
}

int SendRun::stopAnswered(bool yes) {
    if (yes) {
        return end(kErrCancelled);
    }
    return openSession(SessionStart::kAfterStop, Clock::now());
}

int SendRun::pause() {
    const auto pauseStart = Clock::now();
    m_ui.setStatusLine(
        format(sj("%d 秒ウエイト中(%d 件ごと)").c_str(), m_settings.WaitSec, m_settings.WaitCount));
    disconnect(true);
    const auto until =
        pauseStart +
        std::chrono::milliseconds(static_cast<long long>(std::max(0, m_settings.WaitSec)) * 1000);
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        if (m_ui.waitForStop(std::chrono::duration_cast<std::chrono::milliseconds>(until - now) +
                             std::chrono::milliseconds(1))) {
            m_ui.clearStopRequest();
            if (m_ui.askStop()) {
                return end(kErrCancelled);
            }
        }
    }
    return openSession(SessionStart::kAfterPause, pauseStart);
}

void SendRun::showElapsed() {
    if (long long s = secondsSince(m_runStart); s != m_shownSecond) {
        m_shownSecond = s;
        m_ui.setTimeLine(format(sj("送信中( %s 経過) ").c_str(), elapsedText(s).c_str()));
    }
}

int SendRun::finish() {
    if (m_dialUp && m_dialUp->connected() && m_account.dialUp.AutoCut == 1) {
        m_dialUp->hangUp();
    }
    m_ui.setTimeLine(
        format(sj("送信完了( %s ) ").c_str(), elapsedText(secondsSince(m_runStart)).c_str()));
    // The pause after a disconnect keeps reconnects polite; nothing follows
    // this one, so the run does not wait for it.
    disconnect(false);
    if (logging()) {
        m_log.sendEnd();
        m_log.result(m_ok, m_ng);
    }
    m_log.close();
    m_ui.setTitle(sj("送信完了"));
    m_ui.setAddressLine(format(sj("結果 [OK:%d件 NG:%d件]").c_str(), m_ok, m_ng));
    m_ui.setStatusLine(format(sj("%d 件の送信が完了しました。").c_str(),
                              m_options.databaseRows ? m_ok + m_ng : m_n));
    m_ui.finish(m_settings.LogFileMode != 0 ? fieldText(m_settings.LogFileName) : std::string(),
                fieldText(m_settings.LogOpenExeName));
    m_windowOpen = false;  // the person closes the finished window
    return kSendOk;
}

int SendRun::execute() {
    if (int r = prepare(); r != 0) {
        return r;
    }
    m_ui.open(sj("接続中..."));
    m_windowOpen = true;
    if (int r = openSession(SessionStart::kFirst, Clock::now()); r != 0) {
        return r;
    }

    m_ui.setTitle(sj("送信中..."));
    if (m_settings.ScriptUse == 1) {
        m_script.emplace(m_options.scriptHost != nullptr ? *m_options.scriptHost : m_silentHost);
        // A script that does not compile would send its first lines alone to
        // every recipient; the run stops before the first message instead.
        if (m_script->LoadScript(m_contents.body) == 0) {
            disconnect(false);
            return end(kErrScript);
        }
    }

    m_runStart = Clock::now();
    const std::string from =
        fieldText(m_account.FromName) + " <" + fieldText(m_account.FromEMail) + ">";
    const std::string fromEMail = fieldText(m_account.FromEMail);
    int batch = 0;
    Recipient r;
    while (m_sent < m_n && m_recipients.next(r)) {
        if (!r.eligible) {
            continue;
        }
        ++m_sent;
        m_ui.setStatusLine(
            format(sj("%d人中 %d人目のメッセージを送信中です。").c_str(), m_n, m_sent));
        m_ui.setAddressLine(r.address);
        reportProgress(r);

        const Personalised p =
            personalise(m_contents, m_script ? &*m_script : nullptr, r.values, m_message);
        if (p == Personalised::kScriptFailed) {
            disconnect(false);
            return end(kErrScript);
        }
        if (p == Personalised::kSkipped) {
            // No message for this recipient; counted towards N, not as failed.
            m_ui.recipientDone({r.position, r.address, RecipientOutcome::kSkipped, 0, 0});
            continue;
        }

        ZEPH_SetDefaultHeader();
        ZEPH_SetTo(r.address.c_str());
        ZEPH_SetCc(m_contents.cc.c_str());
        ZEPH_SetBcc(m_contents.bcc.c_str());
        ZEPH_SetFrom(from.c_str());
        if (m_options.databaseRows) {
            ZEPH_SetSubject(m_message.subject().c_str());
        }
        ZEPH_SetMessageID(m_account.UseFQDN == 1 ? fromEMail.c_str() : nullptr);
        if (!m_options.databaseRows) {
            ZEPH_SetSubject(m_message.subject().c_str());
        }
        if (int rc = sendOne(r); rc != 0) {
            return rc;
        }
        showElapsed();

        ++batch;
        if (m_settings.WaitCount >= 1 && batch == m_settings.WaitCount && m_sent < m_n) {
            batch = 0;
            if (int rc = pause(); rc != 0) {
                return rc;
            }
        }
    }
    m_recipients.finishWalk();
    return finish();
}

}  // namespace

std::string sendErrorTitle(int code) {
    return format(sj("ターノス - エラー  (№%d)").c_str(), code);
}

std::string sendErrorText(int code) {
    switch (code) {
        case 500:
            return sj("送信内容の読み込みに失敗しました。");
        case 501:
            return sj("送信内容ファイルを作成してください。");
        case 502:
            return sj("ログファイル名が未入力です。");
        case 503:
            return sj("ログファイルオープンエラー。");
        case 504:
            return sj("SMTPサーバー名が未入力です。");
        case 505:
            return sj("DNSアドレスエラー。");
        case 506:
            return sj("コネクトできません。");
        case 507:
            return sj("ダイヤルアップ接続に失敗しました。");
        case 508:
            return sj("キャンセルボタンが選択されました。");
        case 509:
            return sj("添付ファイルが見つかりません。");
        case 510:
            return sj("送信レコードがありません。");
        case 511:
            return sj("POP3へのコネクトに失敗しました。");
        case 512:
            return sj("POP3の受信に失敗しました。");
        case 513:
            return sj("POP3のユーザーIDが違います。");
        case 514:
            return sj("POP3のパスワードが違います。");
        case 803:
            return sj("スクリプトエラーです。");
        case 520:
            return sj("送信記録ファイルに書き込めません。送信を中止しました。");
        default:
            return {};
    }
}

int runSend(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, JobChannel& channel, const SendRunOptions& options) {
    SendRun run(settings, contents, n, recipients, channel, options);
    return run.execute();
}

}  // namespace tarn::driver

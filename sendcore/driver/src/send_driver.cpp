#include "driver/send_driver.h"

#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "addressbook/document.h"
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

void sleepOneMs() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

// Everything a run holds that must be released on every return path: the log,
// the progress window and a dialled connection.
class Run {
public:
    Run(const SendSettings& settings, const contents::SendContents& contents, int n,
        RecipientSource& recipients, ProgressUi& ui, const SendRunOptions& options)
        : m_settings(settings),
          m_account(settings.defaultAccount),
          m_contents(contents),
          m_n(n),
          m_recipients(recipients),
          m_ui(ui),
          m_options(options),
          m_log(options.logClock) {}

    ~Run() {
        if (m_windowOpen) {
            m_ui.close();
        }
        if (m_dialUp && m_dialUp->connected() && m_dialUp->hangUpOnEnd()) {
            m_dialUp->hangUp();
        }
        m_log.close();
    }

    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    int execute();

private:
    bool logging() const { return m_settings.LogFileMode != 0 && m_log.isOpen(); }
    // The connect or session-start job failed: the 5309 log line (then an empty
    // line, or the result line on a reconnect), the 5302 box, 506.
    int sessionFailed(bool reconnecting);
    int popBeforeSmtp();
    // Waits for the connect job, showing the seconds since `since`.
    // With stop handling (the first connection only) a confirmed stop gives 508
    // and a declined one reconnects; returns 0 when the job has ended.
    int waitForConnect(Clock::time_point since, bool handleStop);
    void applySmtpAuth(bool logIt);
    int waitForJob();
    // Closes nothing: connects, starts the session and checks both results, as
    // after a pause or a declined stop. Returns 0 or 506.
    int reconnect(Clock::time_point since);
    int pause();
    int resultAndReturn(int code) {
        if (logging()) {
            m_log.result(m_ok, m_ng);
        }
        return code;
    }

    const SendSettings& m_settings;
    const AccountSettings& m_account;
    const contents::SendContents& m_contents;
    const int m_n;
    RecipientSource& m_recipients;
    ProgressUi& m_ui;
    const SendRunOptions& m_options;
    SendLog m_log;
    std::unique_ptr<DialUpConnection> m_dialUp;
    bool m_windowOpen = false;
    int m_ok = 0;
    int m_ng = 0;
    Clock::time_point m_runStart;
    long long m_shownSecond = -1;
};

int Run::sessionFailed(bool reconnecting) {
    if (logging()) {
        m_log.connectFailed(engineErrors());
        if (reconnecting) {
            m_log.result(m_ok, m_ng);  // the log ends with the counts reached
        } else {
            m_log.emptyLine();
        }
    }
    m_ui.errorBox(sj("ターノス - エラー"),
                  format(sj("SMTPサーバの接続に失敗しました。 (%d)").c_str(), ZEPH_GetLastError()));
    ZEPH_Abort();
    return kErrConnect;
}

int Run::popBeforeSmtp() {
    m_ui.setStatusLine(sj("Pop before SMTPを実行中..."));
    m_ui.pump();
    int r = ZEPH_PopBeforeSmtp(fieldText(m_account.Pop3Name).c_str(), m_options.popPort,
                               fieldText(m_account.PBSUserID).c_str(),
                               fieldText(m_account.PBSPassword).c_str(),
                               m_account.PBSAPOP == 1 ? 1 : 0);
    m_ui.pump();
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

int Run::waitForConnect(Clock::time_point since, bool handleStop) {
    m_ui.setRange(90);
    long long shown = -1;
    while (ZEPH_IsExecute() != 0) {
        m_ui.pump();
        if (handleStop && m_ui.stopRequested()) {
            m_ui.clearStopRequest();
            ZEPH_Disconnect(1);
            ZEPH_Abort();
            if (m_ui.askStop()) {
                return kErrCancelled;
            }
            if (ZEPH_Connect(fieldText(m_account.SMTPName).c_str(), 0) == 0) {
                ZEPH_Abort();
                return kErrConnect;
            }
        }
        long long s = secondsSince(since);
        if (s != shown) {
            shown = s;
            m_ui.setTimeLine(format(sj("接続応答待ち( %d 秒経過) ").c_str(), static_cast<int>(s)));
            m_ui.setPosition(s);
        }
    }
    m_ui.setPosition(90);
    m_ui.setTimeLine("");
    return 0;
}

void Run::applySmtpAuth(bool logIt) {
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

int Run::waitForJob() {
    while (ZEPH_IsExecute() != 0) {
        // ZEPH_IsExecute itself yields (and wakes as soon as the job ends).
    }
    return ZEPH_GetResult();
}

int Run::reconnect(Clock::time_point since) {
    if (ZEPH_Connect(fieldText(m_account.SMTPName).c_str(), 0) == 0) {
        ZEPH_Abort();
        return resultAndReturn(kErrConnect);
    }
    waitForConnect(since, false);
    if (ZEPH_GetResult() == 0) {
        return sessionFailed(true);
    }
    applySmtpAuth(false);
    if (ZEPH_SendStart(0) == 0) {
        ZEPH_Abort();
        return resultAndReturn(kErrConnect);
    }
    if (waitForJob() == 0) {
        return sessionFailed(true);
    }
    m_ui.setTimeLine("");
    return 0;
}

int Run::pause() {
    const auto pauseStart = Clock::now();
    m_ui.setStatusLine(
        format(sj("%d 秒ウエイト中(%d 件ごと)").c_str(), m_settings.WaitSec, m_settings.WaitCount));
    ZEPH_Disconnect(1);
    ZEPH_Abort();
    const auto until =
        pauseStart +
        std::chrono::milliseconds(static_cast<long long>(std::max(0, m_settings.WaitSec)) * 1000);
    while (Clock::now() < until) {
        m_ui.pump();
        if (m_ui.stopRequested()) {
            m_ui.clearStopRequest();
            if (m_ui.askStop()) {
                return resultAndReturn(kErrCancelled);
            }
        }
        sleepOneMs();
    }
    if (m_account.PBSUse == 1) {
        if (int r = popBeforeSmtp(); r != 0) {
            return r;
        }
    }
    return reconnect(pauseStart);
}

int Run::execute() {
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
        if (!m_log.open(logFileName, m_settings.LogCreateMode)) {
            return kErrLogOpen;
        }
        m_log.runHeader(m_options.recipientSourceName, m_options.contentsPath,
                        fieldText(m_account.FromName), fieldText(m_account.FromEMail),
                        m_contents.subject);
        m_log.versionLine();
        m_log.smtpServer(fieldText(m_account.SMTPName), m_account.PortNo);
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

    // The progress window.
    m_ui.open(sj("接続中..."));
    m_windowOpen = true;

    // POP before SMTP.
    if (m_account.PBSUse == 1) {
        if (int r = popBeforeSmtp(); r != 0) {
            return r;
        }
    }

    // Connect.
    m_ui.setStatusLine(sj("SMTPサーバーに接続中..."));
    m_ui.pump();
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
    const std::string smtpName = fieldText(m_account.SMTPName);
    if (ZEPH_Connect(smtpName.c_str(), 0) == 0) {
        ZEPH_Abort();
        return kErrNoSmtpServer;
    }
    if (int r = waitForConnect(Clock::now(), true); r != 0) {
        return r;
    }
    if (ZEPH_GetResult() == 0) {
        return sessionFailed(false);
    }

    // SMTP AUTH and the session start.
    applySmtpAuth(true);
    if (ZEPH_SendStart(0) == 0) {
        ZEPH_Abort();
        return kErrConnect;
    }
    if (waitForJob() == 0) {
        return sessionFailed(false);
    }

    // The session is open.
    m_ui.setTimeLine("");
    if (logging()) {
        m_log.connected(replyLine());
        m_log.sendStart();
    }
    m_ui.setTitle(sj("送信中..."));
    std::optional<contents::ScriptEngine> script;
    contents::ScriptHost silentHost;
    if (m_settings.ScriptUse == 1) {
        script.emplace(m_options.scriptHost != nullptr ? *m_options.scriptHost : silentHost);
        // A script that does not compile would send its first lines alone to
        // every recipient; the run stops before the first message instead.
        if (script->LoadScript(m_contents.body) == 0) {
            ZEPH_Disconnect(1);
            ZEPH_Abort();
            return resultAndReturn(kErrScript);
        }
    }

    // The recipients.
    m_runStart = Clock::now();
    const std::string from =
        fieldText(m_account.FromName) + " <" + fieldText(m_account.FromEMail) + ">";
    const std::string fromEMail = fieldText(m_account.FromEMail);
    int sent = 0;
    int batch = 0;
    Recipient r;
    PersonalMessage message;
    while (sent < m_n && m_recipients.next(r)) {
        if (!r.eligible) {
            continue;
        }
        ++sent;
        m_ui.setStatusLine(
            format(sj("%d人中 %d人目のメッセージを送信中です。").c_str(), m_n, sent));
        m_ui.setAddressLine(r.address);

        ZEPH_SetDefaultHeader();
        ZEPH_SetTo(r.address.c_str());
        ZEPH_SetCc(m_contents.cc.c_str());
        ZEPH_SetBcc(m_contents.bcc.c_str());
        ZEPH_SetFrom(from.c_str());
        ZEPH_SetMessageID(m_account.UseFQDN == 1 ? fromEMail.c_str() : nullptr);

        const Personalised personalised =
            personalise(m_contents, script ? &*script : nullptr, r.values, message);
        if (personalised == Personalised::kScriptFailed) {
            ZEPH_Disconnect(1);
            ZEPH_Abort();
            return resultAndReturn(kErrScript);
        }
        if (personalised == Personalised::kSkipped) {
            continue;  // no message for this recipient, and not counted as failed
        }
        ZEPH_SetSubject(message.subject().c_str());
        ZEPH_SetBody(message.body().c_str());

        const int size = ZEPH_GetSendSize();
        m_ui.setRange(size);
        m_ui.setAddressLine(format(sj("送信アドレス : %s").c_str(), r.address.c_str()));
        bool stop = false;
        if (ZEPH_Send(0) != 0) {
            while (ZEPH_IsExecute() != 0) {
                m_ui.setPosition(ZEPH_GetNowSendSize());
                m_ui.pump();
                stop = stop || m_ui.stopRequested();
            }
        }
        m_ui.setPosition(size);

        if (ZEPH_GetResult() != 0) {
            ++m_ok;
            if (m_settings.LogFileMode >= 2) {
                m_log.messageSent(r.position, r.address);
            }
        } else {
            ++m_ng;
            if (m_settings.LogFileMode != 0) {
                EngineErrorValues e = engineErrors();
                m_log.messageFailed(r.position, r.address, e,
                                    e.smtpReplyCode != 0 ? replyLine() : "");
            }
            m_recipients.markSendFailed();
        }

        m_ui.pump();
        if (stop || m_ui.stopRequested()) {
            m_ui.clearStopRequest();
            ZEPH_Disconnect(1);
            ZEPH_Abort();
            if (m_ui.askStop()) {
                return resultAndReturn(kErrCancelled);
            }
            if (int rc = reconnect(Clock::now()); rc != 0) {
                return rc;
            }
        }

        if (long long s = secondsSince(m_runStart); s != m_shownSecond) {
            m_shownSecond = s;
            m_ui.setTimeLine(format(sj("送信中( %s 経過) ").c_str(), elapsedText(s).c_str()));
        }

        ++batch;
        if (m_settings.WaitCount >= 1 && batch == m_settings.WaitCount && sent < m_n) {
            batch = 0;
            if (int rc = pause(); rc != 0) {
                return rc;
            }
        }
    }

    // The end of the run.
    if (m_dialUp && m_dialUp->connected() && m_account.dialUp.AutoCut == 1) {
        m_dialUp->hangUp();
    }
    m_ui.setTimeLine(
        format(sj("送信完了( %s ) ").c_str(), elapsedText(secondsSince(m_runStart)).c_str()));
    // The pause after a disconnect keeps reconnects polite; nothing follows
    // this one, so the run does not wait for it.
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, 0);
    ZEPH_Disconnect(1);
    ZEPH_Abort();
    if (logging()) {
        m_log.sendEnd();
        m_log.result(m_ok, m_ng);
    }
    m_log.close();
    m_ui.setTitle(sj("送信完了"));
    m_ui.setAddressLine(format(sj("結果 [OK:%d件 NG:%d件]").c_str(), m_ok, m_ng));
    m_ui.setStatusLine(format(sj("%d 件の送信が完了しました。").c_str(), m_n));
    std::string viewer = fieldText(m_settings.LogOpenExeName);
    m_ui.finish(m_settings.LogFileMode != 0 ? logFileName : std::string(), viewer);
    return kSendOk;
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
        default:
            return {};
    }
}

BookRecipients::BookRecipients(addressbook::CTarnSendDoc& doc) : m_doc(doc) {}

bool BookRecipients::next(Recipient& recipient) {
    using addressbook::Record;
    const Record* record = nullptr;
    if (m_doc.selectionKind() == addressbook::kSelectGroup) {
        const auto* group =
            m_doc.groupByIndex(static_cast<std::size_t>(std::max(0, m_doc.selectedGroup())));
        if (group == nullptr || m_doc.selectedGroup() < 0 || m_index >= group->members.size()) {
            return false;
        }
        record = group->members[m_index];
    } else {
        if (m_index >= m_doc.recordCount()) {
            return false;
        }
        record = &m_doc.record(m_index);
    }
    ++m_index;
    m_current = record;
    recipient.position = static_cast<int>(m_index);
    recipient.eligible =
        record->viewPosition() != 0 && record->status() == addressbook::kStatusNormal;
    recipient.address = std::string(record->email());
    recipient.values[0] = record->company();
    recipient.values[1] = record->department();
    recipient.values[2] = record->title();
    recipient.values[3] = record->name();
    recipient.values[4] = record->honorific();
    for (std::size_t i = 0; i < addressbook::kFreeFieldCount; ++i) {
        recipient.values[5 + i] = record->freeFieldText(i);
    }
    return true;
}

void BookRecipients::markSendFailed() {
    if (m_current != nullptr) {
        // Refused only while a run holds the document, which this walk never takes.
        static_cast<void>(m_doc.setStatuses(
            std::array{addressbook::StatusUpdate{m_current, addressbook::kStatusSendError}}));
    }
}

int runSend(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, ProgressUi& ui, const SendRunOptions& options) {
    Run run(settings, contents, n, recipients, ui, options);
    return run.execute();
}

}  // namespace tarn::driver

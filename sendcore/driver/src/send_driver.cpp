#include "driver/send_driver.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>

#include "addressbook/record.h"
#include "common/address.h"
#include "common/cp932.h"
#include "common/program.h"
#include "driver/personalise.h"
#include "driver/retry_queue.h"
#include "driver/run_clock.h"
#include "driver/send_quota.h"
#include "send_run.h"
#include "sendcore/registry.h"
#include "sendcore/smtp_auth_file.h"
#include "texts.h"
#include "zeph.h"

namespace tarn::driver::run {
namespace {

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

}  // namespace

SendRun::~SendRun() {
    m_pool.reset();  // its sessions call back into this run
    ZEPH_SetCommitHook(nullptr, nullptr);
    if (m_windowOpen) {
        m_ui.close();
    }
    if (m_dialUp && m_dialUp->connected() && m_dialUp->hangUpOnEnd()) {
        m_dialUp->hangUp();
    }
    m_log.close();
}

int SendRun::prepare() {
    // Custom headers.
    ZEPH_ClearCustomHeader();
    if (m_settings.CustomUse == 1) {
        ZEPH_LoadCustomHeader(m_options.customHeaderFile.c_str());
    }

    // The send log and its run header.
    const std::string logFileName = fieldText(m_settings.LogFileName);
    if (m_settings.LogFileMode != 0 && logFileName.empty()) {
        return errorNumber(SendError::NoLogFileName);
    }
    if (m_settings.LogFileMode > 0) {
        if (auto opened = m_log.open(cp932::pathFromSjis(logFileName), m_settings.LogCreateMode);
            !opened) {
            m_ui.errorBox(sjisText("ターノス - エラー"),
                          cp932::fromUtf8Named(opened.error().message));
            return errorNumber(SendError::LogOpen);
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
        return errorNumber(SendError::Attachment);
    }
    if (m_parallel) {
        // The sessions' engines share no message with the one above.
        if (m_settings.CustomUse == 1) {
            m_template.loadCustomHeader(m_options.customHeaderFile.c_str());
        }
        int attachError = 0;
        if (!attachList.empty() && m_template.setAttach(attachList.c_str(), &attachError) == 0) {
            return errorNumber(SendError::Attachment);
        }
        m_template.setCharsetMode(static_cast<int>(mailCharset(m_settings)));
        m_template.setEncodeType(0);
    }

    // Dial-up when the server is not on the LAN.
    auto dialled = dialIfNeeded(m_account, m_options.loadDialUp);
    if (!dialled) {
        return errorNumber(SendError::DialUp);
    }
    m_dialUp = std::move(*dialled);
    return 0;
}

int SendRun::popBeforeSmtp() {
    m_ui.setStatusLine(sjisText("Pop before SMTPを実行中..."));
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
            return errorNumber(SendError::PopConnect);
        case 2:
            return errorNumber(SendError::PopReceive);
        case 3:
            return errorNumber(SendError::PopUser);
        case 4:
            return errorNumber(SendError::PopPassword);
        default:
            return errorNumber(SendError::Connect);
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

void SendRun::showConnectWait(Clock::time_point since, long long& shown) {
    if (long long s = secondsSince(since); s != shown) {
        shown = s;
        m_ui.setTimeLine(sjisFormat("接続応答待ち( {} 秒経過) ", static_cast<int>(s)));
        m_ui.setPosition(s);
    }
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
            showConnectWait(*since, shown);
        }
    }
    if (since) {
        m_ui.setPosition(90);
        m_ui.setTimeLine("");
    }
    return Waited::kDone;
}

int SendRun::refuseRun(const std::string& reason) {
    m_ui.errorBox(sjisText("ターノス - エラー"), reason);
    return errorNumber(SendError::Connect);
}

int SendRun::applySmtpAuth(bool logIt) {
    auto auth = readSmtpAuthFile(m_options.smtpAuthFile);
    m_smtpAuth.reset();
    if (!auth || !auth->usable()) {
        // Nothing from an earlier run of this process may linger in the engine.
        ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
    }
    if (!auth) {
        const std::string reason = cp932::fromUtf8Named(auth.error().message);
        if (logging()) {
            m_log.note(reason);
            if (!m_sessionStarted) {
                m_log.emptyLine();
            }
        }
        ZEPH_Disconnect(1);
        ZEPH_Abort();
        m_ui.errorBox(sjisText("ターノス - エラー"), reason);
        return end(SendError::Connect);
    }
    if (!auth->usable()) {
        return 0;
    }
    if (logIt && logging()) {
        m_log.smtpAuth(auth->userId);
    }
    ZEPH_SetSmtpAuth(1, auth->userId.c_str(), auth->password.c_str(), auth->method);
    m_smtpAuth = *auth;
    return 0;
}

int SendRun::sessionFailed(const EngineErrorValues& e, const std::string& reply) {
    // The codes alone do not say what went wrong with TLS (an untrusted
    // certificate, a name that does not match, no STARTTLS, an unreadable CA
    // file); the engine's text does.
    const bool tls = e.socketError == kSockErrTlsHandshake ||
                     e.socketError == kSockErrTlsCertificate || e.socketError == kSockErrStartTls;
    const std::string reason = tls ? reply : std::string();
    if (logging()) {
        m_log.connectFailed(e);
        if (!reason.empty()) {
            m_log.note(reason);
        }
        if (!m_sessionStarted) {
            m_log.emptyLine();
        }
    }
    m_ui.errorBox(sjisText("ターノス - エラー"),
                  sjisFormat("SMTPサーバの接続に失敗しました。 ({})", e.lastError) +
                      (reason.empty() ? std::string() : "\n" + reason));
    ZEPH_Abort();
    return end(SendError::Connect);
}

int SendRun::setUpEngine() {
    m_ui.setStatusLine(sjisText("SMTPサーバーに接続中..."));
    ZEPH_SetWaitMillSec(m_settings.WaitMSec, 500);
    ZEPH_SetRecvTimeOutSec(m_settings.RecvTimeOutSec > 0 ? m_settings.RecvTimeOutSec : 90);
    ZEPH_SetEncodeType(0);
    ZEPH_SetPort(m_account.PortNo);
    if (ZEPH_SetSecurity(m_settings.defaultSecurity) == 0) {
        ZEPH_Abort();
        return refuseRun(cp932::fromUtf8Named("接続の保護の値 " +
                                              std::to_string(m_settings.defaultSecurity) +
                                              " をメールエンジンが受け付けません。"));
    }
    const std::string caFile =
        m_options.caFile.empty() ? fieldText(m_settings.defaultCaFile) : m_options.caFile;
    ZEPH_SetCAFile(caFile.c_str());
    ZEPH_SetCharset(mailCharset(m_settings));
    ZEPH_SetHeloName(greetingName(m_settings).c_str());
    ZEPH_SetPipelining(m_settings.NoPipelining != 0 ? 0 : 1);
    ZEPH_SetCommitHook(&SendRun::commitHook, this);
    return 0;
}

int SendRun::beforeConnecting(SessionStart how) {
    if (how != SessionStart::kAfterStop && m_account.PBSUse == 1) {
        if (int r = popBeforeSmtp(); r != 0) {
            return end(r);
        }
    }
    return how == SessionStart::kFirst ? setUpEngine() : 0;
}

int SendRun::openSession(SessionStart how, Clock::time_point since) {
    if (int r = beforeConnecting(how); r != 0) {
        return r;
    }
    // A declined stop starts the connection again from here.
    for (bool again = false;; again = true) {
        if (ZEPH_Connect(m_smtpName.c_str(), 0) == 0) {
            ZEPH_Abort();
            return end(how == SessionStart::kFirst && !again ? SendError::NoSmtpServer
                                                             : SendError::Connect);
        }
        Waited w = awaitEngineJob(since);
        if (w == Waited::kStopConfirmed) {
            return end(SendError::Cancelled);
        }
        if (w == Waited::kStopDeclined) {
            continue;
        }
        if (ZEPH_GetResult() == 0) {
            return sessionFailed(engineErrors(), replyLine());
        }
        if (int r = applySmtpAuth(how == SessionStart::kFirst && !again); r != 0) {
            return r;
        }
        if (ZEPH_SendStart(0) == 0) {
            ZEPH_Abort();
            return end(SendError::Connect);
        }
        w = awaitEngineJob(std::nullopt);
        if (w == Waited::kStopConfirmed) {
            return end(SendError::Cancelled);
        }
        if (w == Waited::kStopDeclined) {
            continue;
        }
        if (ZEPH_GetResult() == 0) {
            return sessionFailed(engineErrors(), replyLine());
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

int SendRun::commitHook(void* run) {
    auto* self = static_cast<SendRun*>(run);
    self->m_committed.store(true);
    return self->m_sending == nullptr || self->m_recipients.messageCommitting(*self->m_sending) ? 1
                                                                                                : 0;
}

void SendRun::accountResult(const Recipient& r, bool accepted, const EngineErrorValues& e,
                            const std::string& reply) {
    RecipientResult result{r.position, r.address, RecipientOutcome::kSent, 0, 0};
    if (accepted) {
        ++m_ok;
        if (m_settings.LogFileMode >= 2) {
            m_log.messageSent(r.position, r.address);
        }
        m_recipients.markSent();
        m_recipients.messageAccepted(reply);
    } else {
        ++m_ng;
        if (m_settings.LogFileMode != 0) {
            m_log.messageFailed(r.position, r.address, e, e.smtpReplyCode != 0 ? reply : "");
            if (e.smtpReplyCode == 0 && e.lastError == kEngineNotAnAddress) {
                m_log.note(reply);  // which header value and why
            }
        }
        m_recipients.markSendFailed();
        m_recipients.messageRefused(e.smtpReplyCode, e.smtpReplyCode != 0 ? reply : "");
        result.outcome = RecipientOutcome::kRefused;
        result.status = addressbook::kStatusSendError;
        result.code = e.lastError;
    }
    m_ui.recipientDone(result);
    reportProgress(r);
}

void SendRun::refuseAddress(const Recipient& r, const address::FieldCheck& field) {
    ++m_ng;
    const std::string reason = address::describe(field);
    if (m_settings.LogFileMode != 0) {
        m_log.messageFailed(r.position, r.address, EngineErrorValues{}, "");
        m_log.note(reason);
    }
    m_recipients.markSendFailed();
    m_recipients.messageRefused(0, reason);
    m_ui.recipientDone(
        {r.position, r.address, RecipientOutcome::kRefused, addressbook::kStatusSendError, 0});
    reportProgress(r);
}

void SendRun::setHeaders(const Recipient& r, const std::string& subject, const std::string& body) {
    ZEPH_SetDefaultHeader();
    ZEPH_SetTo(r.address.c_str());
    ZEPH_SetCc(m_contents.cc.c_str());
    ZEPH_SetBcc(m_contents.bcc.c_str());
    ZEPH_SetFrom(m_from.c_str());
    if (m_options.databaseRows) {
        ZEPH_SetSubject(subject.c_str());
    }
    ZEPH_SetMessageID(m_account.UseFQDN == 1 ? m_fromEMail.c_str() : nullptr);
    if (!m_options.databaseRows) {
        ZEPH_SetSubject(subject.c_str());
    }
    ZEPH_SetBody(body.c_str());
}

int SendRun::sendTo(const Recipient& r) {
    const Personalised p =
        personalise(m_contents, m_script ? &*m_script : nullptr, r.values, m_message);
    if (p == Personalised::kScriptFailed) {
        disconnect(false);
        return end(SendError::Script);
    }
    if (p == Personalised::kSkipped) {
        // No message for this recipient; counted towards N, not as failed.
        m_ui.recipientDone({r.position, r.address, RecipientOutcome::kSkipped, 0, 0});
        return 0;
    }
    // A field with a control character or with text that is no address
    // never reaches the envelope: the recipient fails, and the log says why.
    if (const address::FieldCheck envelope = address::checkField(r.address); !envelope.ok()) {
        refuseAddress(r, envelope);
        return 0;
    }
    return sendOne(r, 0, m_message.subject(), m_message.body());
}

void SendRun::settle(const Recipient& r, int tries, const Attempt& attempt,
                     const std::string& subject, const std::string& body) {
    const EngineErrorValues& e = attempt.error;
    const std::string& reply = attempt.reply;
    if (attempt.committed && m_quotaLimits.any()) {
        // The server may count it, so the quota does: the "." went out.
        if (auto recorded = m_quota.record(m_quotaAccount, m_clock.now()); !recorded) {
            logNote(recorded.error().message);
        }
    }
    if (attempt.accepted) {
        accountResult(r, true, e, reply);
        return;
    }
    if (attempt.interrupted) {
        return;  // cut off by the person: not sent, not refused
    }
    if (!m_parallel && needsFreshSession(e, attempt.committed)) {
        // The next message gets a fresh session instead of failing at once on
        // a closed connection (or waiting out the time-out on a dead one).
        ZEPH_Abort();
        m_sessionLost = true;
    }
    if (classifyFailure(e, attempt.committed) == FailureKind::kTemporary && m_retry.enabled()) {
        m_recipients.messageDeferred(e.smtpReplyCode, e.smtpReplyCode != 0 ? reply : "");
        logNote(sjisFormat("({}) {} : 一時的なエラーのため後で再送信します。 {}", r.position,
                           r.address, e.smtpReplyCode != 0 ? reply : sjisText("(応答なし)")));
        m_retry.defer({r, e, reply, tries + 1, subject, body});
        return;
    }
    accountResult(r, false, e, reply);
}

int SendRun::sendOne(const Recipient& r, int tries, const std::string& subject,
                     const std::string& body) {
    if (int rc = beforeMessage(); rc != 0) {
        return rc;
    }
    setHeaders(r, subject, body);
    if (m_sessionLost) {
        m_sessionLost = false;
        if (int rc = openSession(SessionStart::kAfterLoss, Clock::now()); rc != 0) {
            return rc;
        }
    }
    const int size = ZEPH_GetSendSize();
    m_ui.setRange(size);
    m_ui.setAddressLine(sjisFormat("送信アドレス : {}", logText(r.address)));

    // A stop during the message is asked at once; the message goes on meanwhile.
    bool asked = false;
    std::optional<bool> answer;
    bool interrupted = false;
    if (!m_recipients.messageStarting(r)) {
        disconnect(false);
        return end(SendError::Journal);
    }
    m_committed.store(false);
    m_sending = &r;
    ++m_messages;
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
    m_sending = nullptr;

    if (ZEPH_GetResult() == 0 && ZEPH_GetSockLastError() == kEngineWithheld) {
        // The journal could not record the commit: the message was held back.
        ZEPH_Abort();
        return end(SendError::Journal);
    }
    Attempt attempt{ZEPH_GetResult() != 0, interrupted, m_committed.load(), engineErrors(),
                    replyLine()};
    if (interrupted && !attempt.accepted) {
        // Stopped in the pause after the message: the server had accepted it.
        attempt.accepted = attempt.error.socketError == kEngineStopped &&
                           attempt.error.errorPosition == kEngineStoppedAfterMessage;
    }
    settle(r, tries, attempt, subject, body);

    if (asked) {
        const bool yes = answer ? *answer : m_ui.awaitStopAnswer();
        if (yes || interrupted) {
            // The person wants out, or the transaction was cut off: a QUIT to a
            // server that may have stalled would hold the stop for the whole
            // receive time-out, so the connection is simply closed.
            ZEPH_Abort();
        } else if (!m_sessionLost) {
            disconnect(false);
        }
        m_sessionLost = false;
        return stopAnswered(yes);
    }
    if (m_ui.stopRequested()) {
        m_ui.clearStopRequest();
        if (!m_sessionLost) {
            disconnect(false);
        }
        m_sessionLost = false;
        return stopAnswered(m_ui.askStop());
    }
    return 0;
}

bool SendRun::waitOrStop(RunClock::TimePoint until, const std::string& text) {
    m_ui.setStatusLine(text);
    for (;;) {
        const bool stopped = m_clock.waitUntil(
            until, [this](std::chrono::milliseconds limit) { return m_ui.waitForStop(limit); },
            [this, until](RunClock::TimePoint now) {
                const auto left = std::chrono::ceil<std::chrono::seconds>(until - now).count();
                m_ui.setTimeLine(sjisFormat("待機中( 残り {} ) ", elapsedText(left)));
            });
        if (!stopped) {
            return false;
        }
        m_ui.clearStopRequest();
        if (m_ui.askStop()) {
            return true;
        }
        m_ui.setStatusLine(text);
    }
}

int SendRun::waitUntil(RunClock::TimePoint until, const std::string& text) {
    if (!waitOrStop(until, text)) {
        return 0;
    }
    if (m_parallel) {
        return endParallel(errorNumber(SendError::Cancelled), true);
    }
    if (!m_sessionLost) {
        disconnect(false);
    }
    return end(SendError::Cancelled);
}

int SendRun::beforeMessage() {
    if (m_settings.JitterMSec > 0 && m_messages > 0) {
        std::uniform_int_distribution<int> jitter(0, m_settings.JitterMSec);
        const auto until = m_clock.now() + std::chrono::milliseconds(jitter(m_random));
        if (int rc = waitUntil(until, sjisText("送信間隔を調整中...")); rc != 0) {
            return rc;
        }
    }
    if (!m_quotaLimits.any()) {
        return 0;
    }
    if (m_parallel) {
        if (int rc = quotaBeforePooled(); rc != 0) {
            return rc;
        }
    }
    auto next = m_quota.nextAllowed(m_quotaAccount, m_quotaLimits, m_clock.now());
    if (!next) {
        logNote(next.error().message);
        if (m_parallel) {
            return endParallel(errorNumber(SendError::QuotaState), false);
        }
        if (!m_sessionLost) {
            disconnect(false);
        }
        return end(SendError::QuotaState);
    }
    if (*next <= m_clock.now()) {
        return 0;
    }
    // The session would time out meanwhile: closed now, opened again after.
    if (m_parallel) {
        closePool();  // quotaBeforePooled has accounted for what was in flight
    } else if (m_sessionStarted && !m_sessionLost) {
        disconnect(false);
        m_sessionLost = true;
    }
    const std::time_t at = RunClock::Clock::to_time_t(*next);
    std::tm local{};
    localtime_r(&at, &local);
    const std::string text =
        sjisFormat("送信数の上限に達しました。{}/{} {:02d}:{:02d} に送信を再開します。",
                   local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    logNote(text);
    return waitUntil(*next, text);
}

int SendRun::retryDeferred() {
    while (m_retry.roundDue()) {
        const auto pause = m_retry.nextPause();
        if (pause.count() > 0) {
            // Minutes of silence would end the session anyway.
            if (m_parallel) {
                closePool();
            } else if (!m_sessionLost) {
                disconnect(false);
                m_sessionLost = true;
            }
            const std::string text = sjisFormat(
                "一時的なエラーの {} 件を再送信します ({}/{} 回目)。",
                static_cast<int>(m_retry.waiting()), m_retry.nextRound(), m_retry.rounds());
            if (int rc = waitUntil(m_clock.now() + pause, text); rc != 0) {
                return rc;
            }
        }
        if (m_parallel) {
            std::vector<DeferredRecipient> round = m_retry.takeRound();
            std::size_t i = 0;
            const int rc = pump([&]() -> int {
                if (i == round.size()) {
                    return kNoMore;
                }
                DeferredRecipient& d = round[i++];
                m_ui.setStatusLine(sjisFormat("{} に再送信中です。", d.recipient.address));
                return handOut({Outgoing::Kind::kPooled,
                                std::move(d.recipient),
                                d.tries,
                                std::move(d.subject),
                                std::move(d.body),
                                {}});
            });
            if (rc != 0) {
                return rc;
            }
            continue;
        }
        for (DeferredRecipient& d : m_retry.takeRound()) {
            m_ui.setStatusLine(sjisFormat("{} に再送信中です。", d.recipient.address));
            m_recipients.revisit(d.recipient);
            if (int rc = sendOne(d.recipient, d.tries, d.subject, d.body); rc != 0) {
                return rc;
            }
        }
    }
    // Still deferred after the last try: a send error, with the last reply.
    for (const DeferredRecipient& d : m_retry.takeGivenUp()) {
        m_recipients.revisit(d.recipient);
        accountResult(d.recipient, false, d.error, d.reply);
    }
    return 0;
}

int SendRun::stopAnswered(bool yes) {
    if (yes) {
        return end(SendError::Cancelled);
    }
    return openSession(SessionStart::kAfterStop, Clock::now());
}

int SendRun::pause() {
    const auto pauseStart = Clock::now();
    m_ui.setStatusLine(
        sjisFormat("{} 秒ウエイト中({} 件ごと)", m_settings.WaitSec, m_settings.WaitCount));
    disconnect(true);
    const auto until =
        pauseStart +
        std::chrono::milliseconds(static_cast<long long>(std::max(0, m_settings.WaitSec)) * 1000);
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        if (m_ui.waitForStop(std::chrono::duration_cast<std::chrono::milliseconds>(until - now) +
                             std::chrono::milliseconds(1))) {
            m_ui.clearStopRequest();
            if (m_ui.askStop()) {
                return end(SendError::Cancelled);
            }
        }
    }
    m_sessionLost = false;
    return openSession(SessionStart::kAfterPause, pauseStart);
}

void SendRun::showElapsed() {
    if (long long s = secondsSince(m_runStart); s != m_shownSecond) {
        m_shownSecond = s;
        m_ui.setTimeLine(sjisFormat("送信中( {} 経過) ", elapsedText(s)));
    }
}

int SendRun::finish() {
    if (m_dialUp && m_dialUp->connected() && m_account.dialUp.AutoCut == 1) {
        m_dialUp->hangUp();
    }
    m_ui.setTimeLine(sjisFormat("送信完了( {} ) ", elapsedText(secondsSince(m_runStart))));
    // The pause after a disconnect keeps reconnects polite; nothing follows
    // this one, so the run does not wait for it.
    if (m_parallel) {
        closePool();
    } else {
        disconnect(false);
    }
    if (logging()) {
        m_log.sendEnd();
        m_log.result(m_ok, m_ng);
    }
    m_log.close();
    m_ui.setTitle(sjisText("送信完了"));
    m_ui.setAddressLine(sjisFormat("結果 [OK:{}件 NG:{}件]", m_ok, m_ng));
    m_ui.setStatusLine(sjisFormat("{} 件の送信が完了しました。",
                                  m_options.databaseRows ? m_ok + m_ng : m_recipientCount));
    m_ui.finish(m_settings.LogFileMode != 0 ? fieldText(m_settings.LogFileName) : std::string(),
                fieldText(m_settings.LogOpenExeName));
    m_windowOpen = false;  // the person closes the finished window
    return 0;
}

int SendRun::execute() {
    // Settings that cannot be used stop the run before anything is opened or
    // sent: never a plain connection in place of a protected one, never a send
    // without the authentication the person set up.
    if (auto security = checkDefaultSecurity(m_settings); !security) {
        return refuseRun(cp932::fromUtf8Named(security.error().message));
    }
    if (auto auth = readSmtpAuthFile(m_options.smtpAuthFile); !auth) {
        return refuseRun(cp932::fromUtf8Named(auth.error().message));
    }
    // Cc and Bcc go into every message's envelope: junk there would fail (or
    // mail) every recipient.
    for (const auto& [name, value] :
         {std::pair{"Cc: ", &m_contents.cc}, std::pair{"Bcc: ", &m_contents.bcc}}) {
        const address::FieldCheck field = address::checkField(*value);
        if (!field.ok() && field.problem != address::FieldCheck::Problem::NoAddress) {
            return refuseRun(name + address::describe(field));
        }
    }
    if (int r = prepare(); r != 0) {
        return r;
    }
    m_ui.open(sjisText("接続中..."));
    m_windowOpen = true;
    if (int r = m_parallel ? openPool(SessionStart::kFirst, Clock::now())
                           : openSession(SessionStart::kFirst, Clock::now());
        r != 0) {
        return r;
    }

    m_ui.setTitle(sjisText("送信中..."));
    if (m_settings.ScriptUse == 1) {
        m_script.emplace(m_options.scriptHost != nullptr ? *m_options.scriptHost : m_silentHost);
        // A script that does not compile would send its first lines alone to
        // every recipient; the run stops before the first message instead.
        if (m_script->LoadScript(m_contents.body) == 0) {
            if (m_parallel) {
                return endParallel(errorNumber(SendError::Script), false);
            }
            disconnect(false);
            return end(SendError::Script);
        }
    }

    m_runStart = Clock::now();
    m_from = fieldText(m_account.FromName) + " <" + fieldText(m_account.FromEMail) + ">";
    m_fromEMail = fieldText(m_account.FromEMail);
    if (m_parallel) {
        const int rc = pump([this]() -> int {
            Recipient next;
            do {
                if (m_sent >= m_recipientCount || !m_recipients.next(next)) {
                    return kNoMore;
                }
            } while (!next.eligible);
            ++m_sent;
            m_ui.setStatusLine(
                sjisFormat("{}人中 {}人目のメッセージを送信中です。", m_recipientCount, m_sent));
            m_ui.setAddressLine(logText(next.address));
            reportProgress(next);
            return queueFor(next);
        });
        if (rc != 0) {
            return rc;
        }
        if (int retried = retryDeferred(); retried != 0) {
            return retried;
        }
        m_recipients.finishWalk();
        return finish();
    }
    int batch = 0;
    Recipient r;
    while (m_sent < m_recipientCount && m_recipients.next(r)) {
        if (!r.eligible) {
            continue;
        }
        ++m_sent;
        m_ui.setStatusLine(
            sjisFormat("{}人中 {}人目のメッセージを送信中です。", m_recipientCount, m_sent));
        m_ui.setAddressLine(logText(r.address));
        reportProgress(r);
        if (int rc = sendTo(r); rc != 0) {
            return rc;
        }
        showElapsed();

        ++batch;
        if (m_settings.WaitCount >= 1 && batch == m_settings.WaitCount &&
            m_sent < m_recipientCount) {
            batch = 0;
            if (int rc = pause(); rc != 0) {
                return rc;
            }
        }
    }
    if (int rc = retryDeferred(); rc != 0) {
        return rc;
    }
    m_recipients.finishWalk();
    return finish();
}

}  // namespace tarn::driver::run

namespace tarn::driver {

std::string sendErrorTitle(int code) {
    return sjisFormat("ターノス - エラー  (№{})", code);
}

std::string sendErrorText(int code) {
    switch (code) {
        case 500:
            return sjisText("送信内容の読み込みに失敗しました。");
        case 501:
            return sjisText("送信内容ファイルを作成してください。");
        case 502:
            return sjisText("ログファイル名が未入力です。");
        case 503:
            return sjisText("ログファイルオープンエラー。");
        case 504:
            return sjisText("SMTPサーバー名が未入力です。");
        case 505:
            return sjisText("DNSアドレスエラー。");
        case 506:
            return sjisText("コネクトできません。");
        case 507:
            return sjisText("ダイヤルアップ接続に失敗しました。");
        case 508:
            return sjisText("キャンセルボタンが選択されました。");
        case 509:
            return sjisText("添付ファイルが見つかりません。");
        case 510:
            return sjisText("送信レコードがありません。");
        case 511:
            return sjisText("POP3へのコネクトに失敗しました。");
        case 512:
            return sjisText("POP3の受信に失敗しました。");
        case 513:
            return sjisText("POP3のユーザーIDが違います。");
        case 514:
            return sjisText("POP3のパスワードが違います。");
        case 803:
            return sjisText("スクリプトエラーです。");
        case 520:
            return sjisText("送信記録ファイルに書き込めません。送信を中止しました。");
        case 521:
            return sjisText("送信数の記録ファイルを読み書きできません。送信を中止しました。");
        default:
            return {};
    }
}

int runSend(const SendSettings& settings, const contents::SendContents& contents, int n,
            RecipientSource& recipients, JobChannel& channel, const SendRunOptions& options) {
    run::SendRun run(settings, contents, n, recipients, channel, options);
    return run.execute();
}

}  // namespace tarn::driver

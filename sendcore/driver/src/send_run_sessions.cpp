#include <future>

#include "send_run.h"
#include "texts.h"

namespace tarn::driver::run {

std::shared_ptr<const Recipient> SendRun::recipientOfSeq(std::size_t seq) {
    std::lock_guard lock(m_bySeqMutex);
    const auto at = m_bySeq.find(seq);
    return at != m_bySeq.end() ? at->second : nullptr;
}

SessionPool::Configure SendRun::poolConfiguration() const {
    const std::string caFile =
        m_options.caFile.empty() ? fieldText(m_settings.defaultCaFile) : m_options.caFile;
    return [port = m_account.PortNo,
            timeout = m_settings.RecvTimeOutSec > 0 ? m_settings.RecvTimeOutSec : 90,
            wait = m_settings.WaitMSec, security = m_settings.defaultSecurity, caFile,
            greeting = greetingName(m_settings), pipelining = m_settings.NoPipelining == 0,
            auth = m_smtpAuth](zeph::MailEngine& engine) {
        engine.setPort(port);
        engine.setRecvTimeOutSec(timeout);
        engine.setWaitMillSec(wait, 500);
        engine.setSecurity(security);  // setUpEngine has refused a value it cannot take
        engine.setCaFile(caFile.c_str());
        engine.setHeloName(greeting.c_str());
        engine.setPipelining(pipelining);
        if (auth) {
            engine.setSmtpAuth(1, auth->userId.c_str(), auth->password.c_str(), auth->method);
        } else {
            engine.setSmtpAuth(0, nullptr, nullptr, 0);
        }
    };
}

int SendRun::openPool(SessionStart how, Clock::time_point since) {
    if (int r = beforeConnecting(how); r != 0) {
        return r;
    }
    SessionPoolOptions options;
    options.host = m_smtpName;
    options.sessions = smtpSessionCount(m_settings);
    options.waitCount = std::max(0, m_settings.WaitCount);
    options.batchPause = std::chrono::seconds(std::max(0, m_settings.WaitSec));
    options.queueAhead = m_settings.WaitMSec <= 0;
    // A declined stop starts the connections again from here.
    for (bool again = false;; again = true) {
        if (int r = applySmtpAuth(how == SessionStart::kFirst && !again); r != 0) {
            return r;
        }
        auto pool = std::make_unique<SessionPool>(
            options, poolConfiguration(),
            [this](std::size_t seq, int) {
                const auto r = recipientOfSeq(seq);
                return r && m_recipients.messageCommitting(*r);
            },
            [this](std::size_t seq, int) {
                const auto r = recipientOfSeq(seq);
                return r && m_recipients.messageStarting(*r);
            });
        PooledOutcome failure;
        SessionPool& opening = *pool;
        auto opened = std::async(std::launch::async, [&] { return opening.open(failure); });
        m_ui.setRange(90);
        bool stopped = false;
        long long shown = -1;
        while (opened.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
            if (!stopped && m_ui.stopRequested()) {
                m_ui.clearStopRequest();
                stopped = true;
            }
            if (stopped) {
                opening.stop();  // again until it takes: a connection may just be starting
            }
            showConnectWait(since, shown);
        }
        const bool ok = opened.get();
        m_ui.setPosition(90);
        m_ui.setTimeLine("");
        if (stopped) {
            pool.reset();
            if (m_ui.askStop()) {
                return end(SendError::Cancelled);
            }
            continue;
        }
        if (!ok) {
            return sessionFailed(failure.error, failure.reply);
        }
        m_pool = std::move(pool);
        m_poolSeq = 0;
        break;
    }
    if (how == SessionStart::kFirst) {
        if (logging()) {
            m_log.connected(m_pool->firstReply());
            m_log.sendStart();
        }
        m_sessionStarted = true;
    }
    if (const int open = m_pool->sessions(); open < options.sessions) {
        logNote(sjisFormat(
            "SMTPサーバーが {} 本目の同時接続を受け付けないため、{} 本の接続で送信します。",
            open + 1, open));
    }
    m_ui.setRange(m_recipientCount);
    return 0;
}

zeph::Message SendRun::messageFor(const Recipient& r, const std::string& subject,
                                  const std::string& body) const {
    // The same steps, in the same order, as setHeaders through the exports.
    zeph::Message m = m_template;
    m.setDefaultHeader();
    m.setHeader("To", r.address);
    m.setHeader("Cc", m_contents.cc);
    m.setHeader("Bcc", m_contents.bcc);
    m.setHeader("From", m_from);
    if (m_options.databaseRows) {
        m.setHeader("Subject", subject);
    }
    m.setMessageId(m_account.UseFQDN == 1 ? m_fromEMail.c_str() : nullptr);
    if (!m_options.databaseRows) {
        m.setHeader("Subject", subject);
    }
    m.setBody(body.c_str());
    return m;
}

int SendRun::queueFor(const Recipient& r) {
    const Personalised p =
        personalise(m_contents, m_script ? &*m_script : nullptr, r.values, m_message);
    if (p == Personalised::kScriptFailed) {
        return endParallel(errorNumber(SendError::Script), false);
    }
    if (p == Personalised::kSkipped) {
        m_inFlight.push_back({Outgoing::Kind::kSkipped, r, 0, {}, {}, {}});
        return 0;
    }
    if (address::FieldCheck envelope = address::checkField(r.address); !envelope.ok()) {
        m_inFlight.push_back({Outgoing::Kind::kBadAddress, r, 0, {}, {}, std::move(envelope)});
        return 0;
    }
    return handOut({Outgoing::Kind::kPooled, r, 0, m_message.subject(), m_message.body(), {}});
}

int SendRun::handOut(Outgoing o) {
    if (int rc = beforeMessage(); rc != 0) {
        return rc;
    }
    if (!m_pool) {
        drainInFlight();  // only entries that never needed a session are left
        if (int rc = openPool(SessionStart::kAfterPause, Clock::now()); rc != 0) {
            return rc;
        }
    }
    const std::size_t seq = m_poolSeq;
    {
        std::lock_guard lock(m_bySeqMutex);
        m_bySeq[seq] = std::make_shared<const Recipient>(o.recipient);
    }
    if (!m_pool->submit(messageFor(o.recipient, o.subject, o.body))) {
        // The last session has just gone; the outcomes in flight say why.
        std::lock_guard lock(m_bySeqMutex);
        m_bySeq.erase(seq);
        if (m_endCode == 0) {
            m_endCode = errorNumber(SendError::Connect);
        }
        return 0;
    }
    ++m_poolSeq;
    ++m_messages;
    o.kind = Outgoing::Kind::kPooled;
    m_inFlight.push_back(std::move(o));
    return 0;
}

int SendRun::quotaBeforePooled() {
    // The messages in flight count as sent: the limits left for this one are
    // theirs less what is in flight. When those say wait, the run first
    // learns what became of the messages in flight.
    const int inFlight = static_cast<int>(m_pool ? m_pool->pending() : 0);
    if (inFlight == 0) {
        return 0;
    }
    auto left = [inFlight](int limit) { return limit > 0 ? limit - inFlight : 0; };
    const QuotaLimits tighter{left(m_quotaLimits.perHour), left(m_quotaLimits.perDay)};
    bool wait = (m_quotaLimits.perHour > 0 && tighter.perHour <= 0) ||
                (m_quotaLimits.perDay > 0 && tighter.perDay <= 0);
    if (!wait) {
        auto next = m_quota.nextAllowed(m_quotaAccount, tighter, m_clock.now());
        wait = !next || *next > m_clock.now();
    }
    if (!wait) {
        return 0;
    }
    drainInFlight();
    return m_endCode != 0 ? endGivenUp() : 0;
}

void SendRun::settleFront() {
    Outgoing& o = m_inFlight.front();
    if (o.kind == Outgoing::Kind::kPooled) {
        auto outcome = m_pool->next(std::chrono::milliseconds(100));
        if (!outcome) {
            return;
        }
        {
            std::lock_guard lock(m_bySeqMutex);
            m_bySeq.erase(outcome->seq);
        }
        m_recipients.revisit(o.recipient);
        settlePooled(o, *outcome);
        m_ui.setPosition(m_ok + m_ng);
    } else {
        m_recipients.revisit(o.recipient);
        if (o.kind == Outgoing::Kind::kSkipped) {
            m_ui.recipientDone(
                {o.recipient.position, o.recipient.address, RecipientOutcome::kSkipped, 0, 0});
        } else {
            refuseAddress(o.recipient, o.field);
        }
    }
    m_inFlight.pop_front();
}

void SendRun::settlePooled(const Outgoing& o, const PooledOutcome& outcome) {
    if (outcome.noSession) {
        // Not sent: no session could be opened again to send it.
        if (!outcome.interrupted && !m_sessionFailure) {
            m_sessionFailure = outcome;
            giveUp(errorNumber(SendError::Connect), true);
        }
        return;
    }
    if (!outcome.accepted && !outcome.interrupted && outcome.error.socketError == kEngineWithheld) {
        // The journal could not record the message: held back, and the run ends.
        giveUp(errorNumber(SendError::Journal), true);
        return;
    }
    settle(o.recipient, o.tries,
           {outcome.accepted, outcome.interrupted, outcome.committed, outcome.error, outcome.reply},
           o.subject, o.body);
}

void SendRun::drainInFlight() {
    while (!m_inFlight.empty()) {
        settleFront();
    }
}

void SendRun::watchStop() {
    if (m_endCode != 0) {
        return;
    }
    if (!m_stopAsked && m_ui.stopRequested()) {
        m_ui.clearStopRequest();
        m_ui.postStopQuestion();
        m_stopAsked = true;
    }
    if (m_stopAsked) {
        if (const std::optional<bool> answer = m_ui.stopAnswer()) {
            m_stopAsked = false;
            if (*answer) {
                giveUp(errorNumber(SendError::Cancelled), true);
            }
        }
    }
}

void SendRun::giveUp(int code, bool cut) {
    if (m_endCode == 0) {
        m_endCode = code;
    }
    if (cut && m_pool) {
        m_pool->stop();
    }
}

int SendRun::endGivenUp() {
    drainInFlight();
    closePool();
    if (m_sessionFailure && m_endCode == errorNumber(SendError::Connect)) {
        return sessionFailed(m_sessionFailure->error, m_sessionFailure->reply);
    }
    return end(m_endCode);
}

void SendRun::closePool() {
    if (m_pool) {
        m_pool->close();
        m_pool.reset();
    }
}

int SendRun::pump(const std::function<int()>& produce) {
    bool more = true;
    for (;;) {
        watchStop();
        const bool handingOut = more && m_endCode == 0 && !m_stopAsked;
        if (handingOut && (!m_pool || m_pool->ready())) {
            if (const int rc = produce(); rc == kNoMore) {
                more = false;
            } else if (rc != 0) {
                return rc;
            }
            continue;
        }
        if (!m_inFlight.empty()) {
            settleFront();
            continue;
        }
        if (m_endCode != 0) {
            return endGivenUp();
        }
        if (m_stopAsked) {
            // Nothing in flight: the run waits for the answer.
            m_stopAsked = false;
            if (m_ui.awaitStopAnswer()) {
                return endParallel(errorNumber(SendError::Cancelled), true);
            }
            continue;
        }
        if (!more) {
            return 0;
        }
        // Nothing in flight, yet the pool takes nothing: no session is left.
        giveUp(errorNumber(SendError::Connect), true);
    }
}

}  // namespace tarn::driver::run

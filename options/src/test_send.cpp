#include "options/test_send.h"

#include <memory>
#include <optional>
#include <utility>

#include "common/cp932.h"
#include "common/program.h"
#include "options/failure_cause.h"
#include "options/texts.h"
#include "sendcore/smtp_auth_file.h"
#include "zeph.h"

namespace tarn::options {
namespace {

using Kind = TestSendOutcome::Kind;

std::string sjisText(std::string_view utf8) {
    auto converted = cp932::fromUtf8(utf8);
    return converted ? *converted : std::string(utf8);
}

EngineErrors readErrors() {
    EngineErrors e;
    e.lastError = ZEPH_GetLastError();
    e.sockError = ZEPH_GetSockLastError();
    e.replyCode = ZEPH_GetSmtpLastError();
    e.errorPos = ZEPH_GetLastErrorPos();
    const char* reply = ZEPH_GetSMTPResult();
    e.replyLine = reply != nullptr ? reply : "";
    return e;
}

std::string bracketed(const EngineErrors& e, std::string_view open, std::string_view separator,
                      std::string_view close) {
    std::string s(open);
    s += std::to_string(e.lastError);
    s += separator;
    s += std::to_string(e.sockError);
    s += separator;
    s += std::to_string(e.replyCode);
    s += separator;
    s += std::to_string(e.errorPos);
    s += close;
    return s;
}

TestSendOutcome outcome(Kind kind, std::string message) {
    return TestSendOutcome{kind, std::move(message)};
}

std::string_view popMessage(int result) {
    switch (result) {
        case 1:
            return text::kPopConnectFailed;
        case 2:
            return text::kPopReceiveFailed;
        case 3:
            return text::kPopUserRefused;
        default:
            return text::kPopPasswordRefused;
    }
}

}  // namespace

void TestSend::cancel() {
    m_cancel.store(true);
    ZEPH_Stop();
}

int TestSend::waitForJob() {
    bool stopped = false;
    while (ZEPH_IsExecute() != 0) {
        if (!stopped && cancelled()) {
            ZEPH_Stop();  // again: a cancel that came before the job began was cleared by it
            stopped = true;
        }
    }
    return ZEPH_GetResult();
}

TestSendOutcome TestSend::run(const TestSendRequest& request,
                              const std::function<void(TestSendStage)>& onStage) {
    auto stage = [&](TestSendStage s) {
        if (onStage) {
            onStage(s);
        }
    };
    auto cancelledOutcome = [] {
        return outcome(Kind::Cancelled, std::string(text::kTestCancelled));
    };
    const AccountSettings& account = request.account.settings;

    // The address.
    if (request.to.empty()) {
        return outcome(Kind::NoAddress, std::string(text::kNoTestAddress));
    }

    // What would make the test unsafe stops it before anything is dialled
    // or connected: a security value the engine refuses (the connection would
    // stay plain and the password go out readable) and an SMTPAuth.txt that
    // exists but cannot be used (never a quiet unauthenticated test).
    if (ZEPH_SetSecurity(request.account.security) == 0) {
        return outcome(Kind::Failed, "接続の保護の値 " + std::to_string(request.account.security) +
                                         " は使えません。保護なしの接続にはしません。");
    }
    const auto auth =
        request.smtpAuthFile.empty() ? readSmtpAuthFile() : readSmtpAuthFile(request.smtpAuthFile);
    if (!auth) {
        return outcome(Kind::Failed, auth.error().message);
    }

    // Dial-up, hung up when this run ends if the account's AutoCut says so.
    std::unique_ptr<DialUpConnection> dialUp;
    if (account.dialUp.LANConnect == 0) {
        stage(TestSendStage::DialUp);
        auto dialled = dialIfNeeded(account, request.loadDialUp);
        if (!dialled) {
            return outcome(Kind::Failed, std::string(text::kDialUpFailed));
        }
        dialUp = std::move(*dialled);
    }
    if (cancelled()) {
        return cancelledOutcome();
    }

    // POP before SMTP.
    if (account.PBSUse == 1) {
        stage(TestSendStage::PopBeforeSmtp);
        const std::string pop3 = fieldText(account.Pop3Name);
        const std::string user = fieldText(account.PBSUserID);
        const std::string password = fieldText(account.PBSPassword);
        const int r = ZEPH_PopBeforeSmtp(pop3.c_str(), 110, user.c_str(), password.c_str(),
                                         account.PBSAPOP == 1 ? 1 : 0);
        if (r != 0) {
            ZEPH_Abort();
            return outcome(Kind::Failed, std::string(popMessage(r)));
        }
        if (cancelled()) {
            return cancelledOutcome();
        }
    }

    // Connect.
    stage(TestSendStage::Connect);
    const std::string host = fieldText(account.SMTPName);
    ConnectionFacts facts{host, account.PortNo, request.account.security, request.account.caFile,
                          false};
    ZEPH_SetWaitMillSec(50, 500);
    ZEPH_SetRecvTimeOutSec(request.receiveTimeoutSec);
    ZEPH_SetEncodeType(0);
    ZEPH_SetPort(account.PortNo);
    ZEPH_SetCAFile(request.account.caFile.c_str());
    // Greet as a send with this account would (never with a bare host name,
    // which receiving servers score as spam).
    ZEPH_SetHeloName(greetingName(std::string(), fieldText(account.FromEMail)).c_str());
    auto handOverRefused = [] {
        const int lastError = ZEPH_GetLastError();
        ZEPH_Abort();
        return outcome(Kind::Failed,
                       "SMTPサーバの接続に失敗しました。 (" + std::to_string(lastError) + ")");
    };
    auto connectFailed = [&](FailedJob job) {
        const EngineErrors e = readErrors();
        ZEPH_Abort();
        if (cancelled()) {
            return cancelledOutcome();
        }
        return outcome(Kind::Failed, "SMTPサーバへの接続に失敗しました。" +
                                         bracketed(e, "\n[", "]\n[", "]") + "\n\n" +
                                         explainFailure(job, e, facts));
    };
    if (ZEPH_Connect(host.c_str(), 0) == 0) {
        return handOverRefused();
    }
    if (waitForJob() != 1) {
        return connectFailed(FailedJob::Connect);
    }

    // The session, with SMTP AUTH when SMTPAuth.txt is usable. Authentication
    // is switched off otherwise, so that no earlier run's credentials linger.
    stage(TestSendStage::Start);
    if (auth->usable()) {
        ZEPH_SetSmtpAuth(1, auth->userId.c_str(), auth->password.c_str(), auth->method);
        facts.authenticated = true;
    } else {
        ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
    }
    if (ZEPH_SendStart(0) == 0) {
        return handOverRefused();
    }
    if (waitForJob() != 1) {
        return connectFailed(FailedJob::Start);
    }

    // 5a. The test message. Custom headers and attachments that a send run
    // left in the engine do not belong to it.
    stage(TestSendStage::Send);
    const std::string fromEMail = fieldText(account.FromEMail);
    const std::string from = fieldText(account.FromName) + " <" + fromEMail + ">";
    const std::string subject = sjisText(text::kTestSubject);
    const std::string body = sjisText(text::kTestBody);
    ZEPH_ClearCustomHeader();
    ZEPH_SetAttach("");
    ZEPH_SetDefaultHeader();
    ZEPH_SetTo(request.to.c_str());
    ZEPH_SetFrom(from.c_str());
    ZEPH_SetSubject(subject.c_str());
    ZEPH_SetMessageID(account.UseFQDN == 1 ? fromEMail.c_str() : nullptr);
    ZEPH_SetBody(body.c_str());

    // 5b. Send it.
    std::optional<TestSendOutcome> result;
    if (ZEPH_Send(0) == 0) {
        const EngineErrors e = readErrors();
        result = outcome(Kind::Failed, "送信に失敗しました。" + bracketed(e, " [", ", ", "]"));
    } else if (waitForJob() == 1) {
        result = outcome(Kind::Sent, std::string(text::kTestSent));
    } else {
        const EngineErrors e = readErrors();
        result = cancelled() ? cancelledOutcome()
                             : outcome(Kind::Failed, "送信に失敗しました。" +
                                                         bracketed(e, " [", ", ", "]") + "\n\n" +
                                                         explainFailure(FailedJob::Send, e, facts));
    }

    // 5c. Leave the server and close the socket, whatever happened.
    stage(TestSendStage::Disconnect);
    ZEPH_Disconnect(1);
    ZEPH_Abort();
    return *result;
}

BackgroundTestSend::~BackgroundTestSend() {
    cancel();
    wait();
}

bool BackgroundTestSend::start(TestSendRequest request, std::function<void(TestSendStage)> onStage,
                               std::function<void(const TestSendOutcome&)> onDone) {
    std::lock_guard lock(m_mutex);
    if (m_running.load()) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();  // the previous test has ended; collect its thread
    }
    m_test = std::make_unique<TestSend>();
    m_running.store(true);
    m_thread = std::thread([this, test = m_test.get(), request = std::move(request),
                            onStage = std::move(onStage), onDone = std::move(onDone)] {
        TestSendOutcome result = test->run(request, onStage);
        m_running.store(false);
        if (onDone) {
            onDone(result);
        }
    });
    return true;
}

void BackgroundTestSend::cancel() {
    std::lock_guard lock(m_mutex);
    if (m_running.load() && m_test) {
        m_test->cancel();
    }
}

void BackgroundTestSend::wait() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace tarn::options

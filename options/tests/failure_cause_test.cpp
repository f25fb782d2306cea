// Causes the live tests cannot stage quickly: a greeting that never comes
// because the port wants TLS, names that do not resolve, certificates out of
// date, and refusals after the session started. The values are the engine's
// own for each (zeph.h).
#include <gtest/gtest.h>

#include <string>

#include "options/failure_cause.h"

using namespace tarn::options;

namespace {

// The cause is named, and the evidence is kept: the server's words, or the TLS library's.
void expectCause(const char* what, FailedJob job, const EngineErrors& errors,
                 const ConnectionFacts& facts, const char* cause) {
    const std::string text = explainFailure(job, errors, facts);
    EXPECT_NE(text.find(cause), std::string::npos) << what << ": " << text;
    if (!errors.replyLine.empty()) {
        EXPECT_NE(text.find(errors.replyLine), std::string::npos) << what;
    }
}

TEST(FailureCause, NamesTheLikelyCause) {
    const ConnectionFacts plain465{"mail.example.jp", 465, 0, "", false};
    const ConnectionFacts starttls{"mail.example.jp", 587, 1, "", false};
    const ConnectionFacts smtps{"mail.example.jp", 465, 2, "", false};
    const ConnectionFacts authenticated{"mail.example.jp", 587, 1, "", true};
    expectCause("no greeting on 465 without TLS", FailedJob::Connect, {0, -11, 0, 3000, ""},
                plain465, "ポート 465 は通常 SSL/TLS 用のポートです。");
    expectCause("name not resolved", FailedJob::Connect, {0, -3, 0, 1030, ""}, starttls,
                "SMTPサーバー「mail.example.jp」が見つかりません");
    expectCause("expired certificate", FailedJob::Connect,
                {0, -21, 0, 1041, "the server certificate was refused: certificate has expired"},
                smtps, "有効期限が切れています。");
    expectCause("AUTH only over TLS", FailedJob::Start,
                {0, -2, 538, 9000, "538 5.7.11 Encryption required"}, authenticated,
                "暗号化した接続でしか認証を受け付けません。");
    expectCause("temporary refusal of the message", FailedJob::Send,
                {0, -2, 451, 9000, "451 4.3.0 try later"}, starttls,
                "一時的にメールを受け付けませんでした。");
}

}  // namespace

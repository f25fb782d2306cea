// Causes the live tests cannot stage quickly: a greeting that never comes
// because the port wants TLS, names that do not resolve, certificates out of
// date, and refusals after the session started. The values are the engine's
// own for each (zeph.h).
#include <gtest/gtest.h>

#include <string>

#include "options/failure_cause.h"

using namespace tarn::options;

namespace {

TEST(FailureCause, NamesTheLikelyCause) {
    ConnectionFacts plain465{"mail.example.jp", 465, 0, "", false};
    ConnectionFacts starttls{"mail.example.jp", 587, 1, "", false};
    ConnectionFacts smtps{"mail.example.jp", 465, 2, "", false};
    ConnectionFacts authenticated{"mail.example.jp", 587, 1, "", true};
    struct Row {
        const char* what;
        FailedJob job;
        EngineErrors errors;
        ConnectionFacts facts;
        const char* cause;
    };
    const Row rows[] = {
        {"no greeting on 465 without TLS",
         FailedJob::Connect,
         {0, -11, 0, 3000, ""},
         plain465,
         "ポート 465 は通常 SSL/TLS 用のポートです。"},
        {"the server closed on 465 with STARTTLS",
         FailedJob::Connect,
         {0, -12, 0, 3001, ""},
         ConnectionFacts{"mail.example.jp", 465, 1, "", false},
         "ポート 465 は通常 SSL/TLS 用のポートです。"},
        {"name not resolved",
         FailedJob::Connect,
         {0, -3, 0, 1030, ""},
         starttls,
         "SMTPサーバー「mail.example.jp」が見つかりません"},
        {"host unreachable", FailedJob::Connect, {0, 113, 0, 1031, ""}, starttls, "に届きません。"},
        {"expired certificate",
         FailedJob::Connect,
         {0, -21, 0, 1041, "the server certificate was refused: certificate has expired"},
         smtps,
         "有効期限が切れています。"},
        {"greeting refused",
         FailedJob::Connect,
         {0, -2, 554, 9000, "554 no service"},
         starttls,
         "が接続を断りました。"},
        {"AUTH only over TLS",
         FailedJob::Start,
         {0, -2, 538, 9000, "538 5.7.11 Encryption required"},
         authenticated,
         "暗号化した接続でしか認証を受け付けません。"},
        {"greeting name refused",
         FailedJob::Start,
         {0, -2, 550, 9000, "550 ABNORMAL CMD::[HELO host]"},
         starttls,
         "最初の挨拶（HELO/EHLO）を断りました。"},
        {"temporary refusal of the message",
         FailedJob::Send,
         {0, -2, 451, 9000, "451 4.3.0 try later"},
         starttls,
         "一時的にメールを受け付けませんでした。"},
        {"recipient refused",
         FailedJob::Send,
         {0, -2, 550, 9000, "550 5.1.1 unknown user"},
         starttls,
         "送信者と送信先のアドレスを確認して下さい。"},
    };
    for (const Row& row : rows) {
        const std::string text = explainFailure(row.job, row.errors, row.facts);
        EXPECT_NE(text.find(row.cause), std::string::npos) << row.what << ": " << text;
        if (!row.errors.replyLine.empty()) {
            // The evidence is kept: the server's words, or the TLS library's.
            EXPECT_NE(text.find(row.errors.replyLine), std::string::npos) << row.what;
        }
    }
}

}  // namespace

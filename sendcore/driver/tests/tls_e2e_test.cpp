// A send over STARTTLS to a server whose certificate comes from a private CA:
// the default account's own CA file is what makes it trusted.
#include <gtest/gtest.h>

#include "send_fixture.h"
#include "smtp_recorder.h"

using namespace tarn;
using namespace tarn::test;

TEST(TlsSend, TheDefaultAccountsCaFileIsTrusted) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    RunFixture fx;
    fx.startRecorder({"--cert", certs.cert("server"), "--key", certs.key("server")});
    fx.writeBook({{"", "", "", "佐藤 一郎", "ichiro@example.jp", "様", {}}});
    contents::SendContents message;
    message.subject = sj("ご案内");
    message.body = sj("本文\n");
    fx.writeContents(message);
    fx.settings().defaultSecurity = kSecurityStartTls;

    // Without it the certificate is refused and nothing is sent.
    fx.saveSettings();
    RunResult refused = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_NE(refused.exitCode, 0) << refused.out << refused.err;
    EXPECT_EQ(fx.recordedCount(), 0);

    setFieldText(fx.settings().defaultCaFile, certs.ca());
    fx.saveSettings();
    RunResult sent = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    ASSERT_EQ(fx.recordedCount(), 1);
    EXPECT_NE(fx.envelope(1).find("\"tls\": true"), std::string::npos) << fx.envelope(1);
}

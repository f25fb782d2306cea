// End to end: the corpus sent through the exported interface to the aiosmtpd
// recorder, and what the server stored read back by Python's email package.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "compose_interop.h"
#include "testsupport.h"
#include "zeph.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::ChildProcess;
using tarn::test::TempDir;

class ComposeSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ChildProcess>(
            std::vector<std::string>{TARN_TEST_PYTHON,
                                     TARN_SOURCE_DIR "/common/testsupport/smtp_recorder.py",
                                     "--dir", (m_dir / "mail").string()},
            m_dir.path());
        ASSERT_TRUE(tarn::test::waitUntil([&] {
            const std::string out = m_server->output();
            const auto at = out.find("READY ");
            if (at == std::string::npos || out.find('\n', at) == std::string::npos) {
                return !m_server->running();
            }
            m_port = std::stoi(out.substr(at + 6));
            return true;
        }));
        ASSERT_NE(m_port, 0) << m_server->output();
        ZEPH_SetRecvTimeOutSec(10);
        ZEPH_SetWaitMillSec(0, 0);
        ZEPH_SetPort(m_port);
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1) << m_server->output();
        ASSERT_EQ(ZEPH_SendStart(1), 1) << ZEPH_GetSMTPResult();
    }
    void TearDown() override {
        ZEPH_Disconnect(1);
        ZEPH_Abort();
        ZEPH_SetEncodeType(0);
        ZEPH_SetAttach("");
    }
    std::filesystem::path stored(int n) const {
        return m_dir / "mail" / (std::to_string(n) + ".eml");
    }
    bool complete(int n) const {
        return tarn::test::waitUntil(
            [&] { return std::filesystem::exists(m_dir / "mail" / (std::to_string(n) + ".json")); },
            5s);
    }

    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_server;
    int m_port = 0;
};

TEST_F(ComposeSendTest, CorpusArrivesAsWritten) {
    int n = 0;
    for (int encodeType : {0, 1}) {
        ASSERT_EQ(ZEPH_SetEncodeType(encodeType), 1);
        for (const auto& sample : compose_interop::corpus()) {
            SCOPED_TRACE(sample.subject + (encodeType == 0 ? " (base64)" : " (x-uuencode)"));
            const auto in = compose_interop::prepare(sample, m_dir.path());
            ZEPH_SetDefaultHeader();
            ZEPH_SetTo(in.to.c_str());
            ZEPH_SetCc(in.cc.c_str());
            ZEPH_SetBcc("audit@example.jp");
            ZEPH_SetFrom(in.from.c_str());
            ZEPH_SetMessageID("from@example.jp");
            ZEPH_SetSubject(in.subject.c_str());
            ZEPH_SetBody(in.body.c_str());
            if (in.attachList.empty()) {
                ZEPH_SetAttach("");
            } else {
                ASSERT_EQ(ZEPH_SetAttach(in.attachList.c_str()), 1);
            }
            const int size = ZEPH_GetSendSize();
            ASSERT_EQ(ZEPH_Send(1), 1) << ZEPH_GetSMTPResult();
            // The progress total is exactly what went out, attachments included.
            EXPECT_EQ(ZEPH_GetNowSendSize(), size);
            ASSERT_TRUE(complete(++n)) << m_server->output();
            EXPECT_NE(tarn::test::readFile(m_dir / "mail" / (std::to_string(n) + ".json"))
                          .find("audit@example.jp"),
                      std::string::npos);
            EXPECT_EQ(tarn::test::readFile(stored(n)).find("audit@"), std::string::npos);
            compose_interop::expectDecodedAsWritten(stored(n), /*unstuff=*/false, sample);
        }
    }
}

}  // namespace

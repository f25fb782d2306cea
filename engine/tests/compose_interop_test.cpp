// What we compose, read back by an independent MIME implementation (Python's
// email package): headers, body and attachments must come back as written.
#include <gtest/gtest.h>

#include <string>

#include "compose_interop.h"
#include "message.h"
#include "testsupport.h"

namespace {

using tarn::test::TempDir;

class FileSink : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        bytes_.append(bytes);
        return true;
    }
    std::string bytes_;
};

class ComposeInteropTest : public ::testing::TestWithParam<int> {};

TEST_P(ComposeInteropTest, PythonReadsBackEveryField) {
    const int encodeType = GetParam();
    TempDir dir;
    for (const auto& sample : compose_interop::corpus()) {
        SCOPED_TRACE(sample.subject);
        const auto in = compose_interop::prepare(sample, dir.path());
        zeph::Message m;
        m.setDefaultHeader();
        m.setHeader("To", in.to.c_str());
        m.setHeader("Cc", in.cc.c_str());
        m.setHeader("From", in.from.c_str());
        m.setMessageId("from@example.jp");
        m.setHeader("Subject", in.subject.c_str());
        m.setBody(in.body.c_str());
        int lastError = 0;
        if (!in.attachList.empty()) {
            ASSERT_EQ(m.setAttach(in.attachList.c_str(), &lastError), 1) << in.attachList;
        }
        ASSERT_EQ(m.setEncodeType(encodeType), 1);
        FileSink sink;
        ASSERT_TRUE(m.write(sink));
        const auto path = dir / "message.eml";
        tarn::test::writeFile(path, sink.bytes_);
        compose_interop::expectDecodedAsWritten(path, /*unstuff=*/true, sample);
    }
}

INSTANTIATE_TEST_SUITE_P(Base64AndUuencode, ComposeInteropTest, ::testing::Values(0, 1));

}  // namespace

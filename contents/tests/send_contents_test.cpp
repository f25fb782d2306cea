#include "contents/send_contents.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include "testsupport.h"

using namespace tarn::contents;
using tarn::test::readFile;
using tarn::test::TempDir;
using tarn::test::writeFile;

namespace {

const std::string kSig = "\x18ZEPH2.0.0.0SEND_CONTENTS";

std::string str8(const std::string& s) {
    return std::string(1, static_cast<char>(s.size())) + s;
}

}  // namespace

TEST(SendContentsFile, EmptyRecordIsThirtyBytes) {
    TempDir dir;
    ASSERT_EQ(SaveSendContents(dir / "a.tnm", SendContents{}), 0);
    const std::string bytes = readFile(dir / "a.tnm");
    EXPECT_EQ(bytes, kSig + std::string(5, '\0'));
    EXPECT_EQ(bytes.size(), 30u);
}

TEST(SendContentsFile, PrefixFormsAtTheirBoundaries) {
    SendContents r;
    r.body = std::string(254, 'x');
    std::string bytes = encodeSendContents(r);
    EXPECT_EQ(bytes.substr(25 + 2, 1), std::string("\xFE", 1));
    EXPECT_EQ(bytes.size(), 30u + 254u);

    r.body = std::string(255, 'x');
    bytes = encodeSendContents(r);
    EXPECT_EQ(bytes.substr(25 + 2, 3), std::string("\xFF\xFF\x00", 3));

    r.body = std::string(65534, 'x');  // the 32-bit form
    bytes = encodeSendContents(r);
    EXPECT_EQ(bytes.substr(25 + 2, 7), std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7));
    SendContents back;
    ASSERT_EQ(decodeSendContents(bytes, back), 0);
    EXPECT_EQ(back.body, r.body);
}

TEST(SendContentsFile, ReaderAcceptsLongerPrefixForms) {
    // A writer must use the shortest form, but a reader takes all three.
    std::string bytes = kSig + str8("S") + str8("") + std::string("\xFF\x02\x00", 3) + "hi" +
                        std::string("\xFF\xFF\xFF\x01\x00\x00\x00", 7) + "c" + str8("");
    SendContents r;
    ASSERT_EQ(decodeSendContents(bytes, r), 0);
    EXPECT_EQ(r.body, "hi");
    EXPECT_EQ(r.cc, "c");
}

TEST(SendContentsFile, EarlierLayoutKeepsCallersCcAndBcc) {
    TempDir dir;
    // Earlier files hold four strings; bytes after the last string read are ignored.
    writeFile(dir / "old.tnm", str8("ZEPH1.0SEND") + str8("Subj") + str8("a\tb") +
                                   str8("Body\r\n") + "trailing junk");
    SendContents r;
    r.cc = "keep-cc";
    r.bcc = "keep-bcc";
    SendContentsLayout layout = SendContentsLayout::Current;
    ASSERT_EQ(LoadSendContents(dir / "old.tnm", r, &layout), 0);
    EXPECT_EQ(layout, SendContentsLayout::Earlier);
    EXPECT_EQ(r.subject, "Subj");
    EXPECT_EQ(r.attachments, "a\tb");
    EXPECT_EQ(r.body, "Body\r\n");
    EXPECT_EQ(r.cc, "keep-cc");
    EXPECT_EQ(r.bcc, "keep-bcc");

    // The signature is compared byte for byte, case-sensitively.
    writeFile(dir / "case.tnm", str8("zeph2.0.0.0send_contents") + str8("S") + str8("") +
                                    str8("B") + str8("cc") + str8("bcc"));
    SendContents r2;
    ASSERT_EQ(LoadSendContents(dir / "case.tnm", r2, &layout), 0);
    EXPECT_EQ(layout, SendContentsLayout::Earlier);
    EXPECT_EQ(r2.cc, "");
}

TEST(SendContentsFile, TruncatedAndCorruptFilesFailAndLeaveRecordUntouched) {
    TempDir dir;
    SendContents original;
    original.subject = "before";
    original.body = "old body";
    const std::string full = kSig + str8("S") + str8("") + str8("B") + str8("C") + str8("D");
    const std::vector<std::string> bad = {
        "",                                                   // empty file
        kSig + str8("S") + str8("") + str8("B"),              // signature and four strings
        kSig + str8("S") + str8("") + str8("B") + str8("C"),  // no bcc
        full.substr(0, full.size() - 1),                      // ends inside bcc
        kSig + str8("S") + std::string("\xFF\x10", 2),        // prefix cut off
        kSig + str8("S") + std::string("\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 7) + "x",  // 2 GiB claimed
        str8("old") + str8("S") + str8(""),  // earlier layout without a body
    };
    for (const auto& bytes : bad) {
        writeFile(dir / "bad.tnm", bytes);
        SendContents r = original;
        EXPECT_EQ(LoadSendContents(dir / "bad.tnm", r), -8) << bytes.size() << " bytes";
        EXPECT_EQ(r.subject, "before");
        EXPECT_EQ(r.body, "old body");
    }
}

TEST(SendContentsFile, OpenFailuresHaveTheirCodes) {
    TempDir dir;
    SendContents r;
    EXPECT_EQ(LoadSendContents(dir / "missing.tnm", r), -6);
    EXPECT_EQ(LoadSendContents(dir / "no-folder" / "x.tnm", r), -6);
    EXPECT_EQ(LoadSendContents(dir.path(), r), -5);  // a folder
    EXPECT_EQ(SaveSendContents(dir.path(), r), -5);
    EXPECT_EQ(SaveSendContents(dir / "no-folder" / "x.tnm", r), -5);
}

TEST(SendContentsFile, RoundTripIsByteExact) {
    TempDir dir;
    SendContents r;
    r.subject = "\x82\xa0\x82\xa2 &[\x89\xef\x8e\xd0\x96\xbc]";  // あい &[会社名]
    r.attachments = joinAttachments({"/a/one.pdf", "/b/two words.txt", "/c/3"});
    r.body = std::string(300, 'b') + "\r\n#If x Then\r\n";
    r.cc = "cc@example.com";
    r.bcc = "bcc@example.jp";
    ASSERT_EQ(SaveSendContents(dir / "a.tnm", r), 0);
    const std::string first = readFile(dir / "a.tnm");
    EXPECT_EQ(first.substr(0, 25), kSig);
    SendContents loaded;
    SendContentsLayout layout = SendContentsLayout::Earlier;
    ASSERT_EQ(LoadSendContents(dir / "a.tnm", loaded, &layout), 0);
    EXPECT_EQ(layout, SendContentsLayout::Current);
    ASSERT_EQ(SaveSendContents(dir / "b.tnm", loaded), 0);
    EXPECT_EQ(readFile(dir / "b.tnm"), first);
    EXPECT_EQ(loaded.attachments, "/a/one.pdf\t/b/two words.txt\t/c/3");
}

TEST(SendContentsFile, FailedSaveKeepsThePreviousFile) {
    TempDir dir;
    SendContents r;
    r.subject = "first";
    ASSERT_EQ(SaveSendContents(dir / "a.tnm", r), 0);
    const std::string before = readFile(dir / "a.tnm");
    {
        // A file-size limit makes the write fail part-way, also for root.
        struct sigaction ignore {};
        struct sigaction old {};
        ignore.sa_handler = SIG_IGN;
        ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        r.body = std::string(5000, 'x');
        const int code = SaveSendContents(dir / "a.tnm", r);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::sigaction(SIGXFSZ, &old, nullptr);
        EXPECT_EQ(code, -8);
    }
    EXPECT_EQ(readFile(dir / "a.tnm"), before);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SendContentsFile, ReadOnlyFileIsNotReplacedAndModeIsKept) {
    TempDir dir;
    SendContents r;
    r.subject = "first";
    ASSERT_EQ(SaveSendContents(dir / "a.tnm", r), 0);
    ASSERT_EQ(::chmod((dir / "a.tnm").c_str(), 0600), 0);
    r.subject = "second";
    ASSERT_EQ(SaveSendContents(dir / "a.tnm", r), 0);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a.tnm").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod((dir / "a.tnm").c_str(), 0400), 0);
        r.subject = "third";
        EXPECT_EQ(SaveSendContents(dir / "a.tnm", r), -3);
        SendContents back;
        ASSERT_EQ(LoadSendContents(dir / "a.tnm", back), 0);
        EXPECT_EQ(back.subject, "second");
    }
}

TEST(SendContentsFile, BodyLineEndNormalisation) {
    EXPECT_EQ(normaliseBodyLineEnds("one\ntwo\r\nthree"), "one\r\ntwo\r\nthree");
    EXPECT_EQ(normaliseBodyLineEnds("\n\n"), "\r\n\r\n");
    const std::string clean = "a\r\nb\rc\x01\x01";  // no bare LF: byte for byte
    EXPECT_EQ(normaliseBodyLineEnds(clean), clean);
    // Bytes 0x01 0x01 in a body are data, not a line end.
    EXPECT_EQ(normaliseBodyLineEnds("x\x01\x01y\n"), "x\x01\x01y\r\n");
}

TEST(SendContentsFile, AttachmentListSplitAndJoin) {
    EXPECT_EQ(joinAttachments({}), "");
    EXPECT_EQ(joinAttachments({"a", "b", "c"}), "a\tb\tc");
    EXPECT_EQ(splitAttachments("\ta\t\tb\t"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(splitAttachments("").empty());
}

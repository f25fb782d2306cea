#include "sendcore/send_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "common/cp932.h"
#include "common/program.h"
#include "testsupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;

std::string sj(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

// A clock that starts at 2026-12-06 10:20:30 and moves one second per reading,
// so that the expected files show which line took a fresh timestamp.
SendLog::Clock steppingClock() {
    return [second = 30]() mutable {
        std::tm t{};
        t.tm_year = 2026 - 1900;
        t.tm_mon = 11;
        t.tm_mday = 6;
        t.tm_hour = 10;
        t.tm_min = 20;
        t.tm_sec = second++;
        return t;
    };
}

// The expected files carry @VERSION@ where the compiled-in version goes.
std::string expected(const std::string& name) {
    std::string text = readFile(fs::path(SENDCORE_TEST_DATA) / name);
    Version v = programVersion();
    char version[64];
    std::snprintf(version, sizeof version, " %d. %d. %d. %d", v.major, v.minor, v.patch, v.tweak);
    for (std::size_t at; (at = text.find("@VERSION@")) != std::string::npos;) {
        text.replace(at, 9, version);
    }
    return text;
}

struct RunInfo {
    std::string source = sj("/home/user/顧客.tn2");
    std::string contents = sj("/home/user/案内.tnm");
    std::string fromName = sj("山田 太郎");
    std::string fromEMail = "yamada@example.jp";
};

void header(SendLog& log, const RunInfo& r, std::string_view subject, int port) {
    log.runHeader(r.source, r.contents, r.fromName, r.fromEMail, subject);
    log.versionLine();
    log.smtpServer("mail.example.jp", port);
}

// A run that logs every message: POP before SMTP, SMTP AUTH, two accepted and
// two refused messages (one without a reply code), normal end.
void fullRun(SendLog& log) {
    RunInfo r;
    header(log, r, sj("&[名前]様へのご案内"), 587);
    log.popBeforeSmtp("pop.example.jp", "popuser");
    log.smtpAuth("authuser");
    log.connected("220 mail.example.jp ESMTP ready");
    log.sendStart();
    log.messageSent(1, "a@example.jp");
    log.messageFailed(2, "b@example.jp", {2, 0, 550, 5}, "550 5.1.1 <b@example.jp>: User unknown");
    log.messageFailed(4, "c@example.jp", {3, 104, 0, 7}, "ignored without a reply code");
    log.messageSent(5, "d@example.jp");
    log.sendEnd();
    log.result(2, 2);
}

TEST(SendLog, WholeRunMatchesTheExpectedFileByteForByte) {
    TempDir dir;
    fs::path path = dir / "send.log";
    test::writeFile(path, "the previous run's log\r\n");
    SendLog log(steppingClock());
    ASSERT_TRUE(log.open(path, 0).ok());  // create mode 0: the old log goes
    fullRun(log);
    log.close();
    EXPECT_EQ(readFile(path), expected("send_run.log"));
}

TEST(SendLog, AppendModeKeepsEveryRunsBlock) {
    TempDir dir;
    fs::path path = dir / "send.log";
    SendLog log(steppingClock());
    ASSERT_TRUE(log.open(path, 0).ok());
    fullRun(log);
    RunInfo r;
    // Errors-only logging, a refused message, then the reconnect after a pause fails.
    ASSERT_TRUE(log.open(path, 1).ok());
    header(log, r, sj("お知らせ"), 25);
    log.connected("220 ok");
    log.sendStart();
    log.messageFailed(3, "e@example.jp", {2, 0, 452, 5}, "452 4.5.3 Too many recipients");
    log.connectFailed({1, 111, 0, 1});
    log.result(1, 1);
    // A third run that cannot connect at all.
    ASSERT_TRUE(log.open(path, 1).ok());
    header(log, r, sj("お知らせ"), 25);
    log.connectFailed({1, 111, 0, 1});
    log.emptyLine();
    log.close();
    EXPECT_EQ(readFile(path), expected("send_runs_appended.log"));
}

TEST(SendLog, CheckLogLinesOfBothApplications) {
    TempDir dir;
    fs::path path = dir / "check.log";
    SendLog log(steppingClock());
    ASSERT_TRUE(log.open(path, 0).ok());
    log.checkHeader(sj("顧客リスト"));
    log.levelStart(1);
    log.addressFailed(1, 7, sj("二重登録エラーです。"), "a@example.jp");
    log.addressFailed(2, 1, sj("無効な文字が含まれています。"), "b@@example.jp");
    log.levelEnd(1, 1, 2);
    log.levelStart(2);
    log.addressPassed(3, "c@example.jp");
    log.addressFailed(12, -3, sj("ホストに関する情報が見つかりません。"), "d@nowhere.example");
    log.levelEnd(2, 1, 3);
    log.checkHeader("/data/list.mdb");
    log.levelStart(1);
    log.addressPassed(1, "f@example.jp");
    log.levelEnd(1, 1, 0, CheckLogStyle::DatabaseSend);
    log.close();
    EXPECT_EQ(readFile(path), expected("check_run.log"));
}

TEST(SendLog, WithoutAnOpenFileNothingIsWritten) {
    TempDir dir;
    SendLog log(steppingClock());
    EXPECT_FALSE(log.write("x\n"));
    EXPECT_FALSE(log.result(0, 0));
    EXPECT_EQ(log.timestamp(), "2026-12-06 10:20:30");
    auto opened = log.open(dir / "missing" / "send.log", 0);
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().message.find("missing"), std::string::npos);
    EXPECT_FALSE(log.isOpen());
    EXPECT_FALSE(log.sendStart());
}

TEST(SendLog, EveryLineFeedBecomesCrLf) {
    TempDir dir;
    SendLog log(steppingClock());
    ASSERT_TRUE(log.open(dir / "a.log", 0).ok());
    // A subject with a line break of its own is written as text mode would.
    log.write("a\nb\r\n");
    log.close();
    EXPECT_EQ(readFile(dir / "a.log"), "a\r\nb\r\r\n");
}

// Values from records, .tnm files and servers cannot forge a line or close a
// quoted field: every record stays one line, readable by a CSV reader.
TEST(SendLog, RecordValuesCannotForgeLines) {
    TempDir dir;
    SendLog log(steppingClock());
    ASSERT_TRUE(log.open(dir / "forged.log", 0).ok());
    const std::string forged = "r@example.jp\r\n\"00002\",\"victim@evil.test\",\"";
    log.runHeader(std::string("/books/a\nb.tn2", 14), "c.tnm", "n", "f@example.jp",
                  std::string("subject\0\x1B[2J", 12));
    log.messageSent(1, forged);
    log.messageFailed(2, forged, {0, -2, 550, 9000}, "550 \"no\"\r\n250 OK");
    log.note(sj("宛先に改行 (CR LF) が含まれています"));
    log.addressFailed(3, 1, sj("無効な文字が含まれています。"), forged);
    log.close();
    const std::string text = readFile(dir / "forged.log");
    const std::string escaped = "r@example.jp\\r\\n\"\"00002\"\",\"\"victim@evil.test\"\",\"\"";
    EXPECT_NE(text.find("\"00001\",\"" + escaped + "\",\"" + sj("送信完了") + "\"\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t\"550 \"\"no\"\"\\r\\n250 OK\"\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[/books/a\\nb.tn2]"), std::string::npos) << text;
    EXPECT_NE(text.find("subject\\0\\x1B[2J]"), std::string::npos) << text;
    // Every line begins as one of ours: no line starts with a forged position.
    EXPECT_EQ(text.find("\n\"00002\",\"victim"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10) << text;
}

}  // namespace
}  // namespace tarn

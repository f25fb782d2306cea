#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <filesystem>

#include "addressbook/document.h"
#include "common/cp932.h"
#include "testsupport.h"

namespace tarn::addressbook {
namespace {

using test::run;
using test::tarnPath;
using test::TempDir;

std::string sj(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

std::string writeSmallBook(const TempDir& dir) {
    CTarnSendDoc doc;
    EXPECT_TRUE(doc.addFolder(sj("取引先"), 2));
    EXPECT_TRUE(doc.addGroup(sj("展示会\"2024\""), 7));
    Record r;
    r.setFolder(1);
    r.setText(Field::Company, sj("株式会社みどり商事"));
    r.setText(Field::Name, sj("佐藤 一郎"));
    r.setText(Field::Email, "ichiro@example.co.jp");
    r.setText(Field::Honorific, sj("様"));
    r.setText(freeField(0), sj("東京都\n港区"));
    r.setStatus(kStatusSendError);
    EXPECT_TRUE(doc.appendRecord(std::move(r)));
    Record second;
    second.setText(Field::Email, "b@example.jp");
    EXPECT_TRUE(doc.appendRecord(std::move(second)));
    EXPECT_TRUE(doc.addMembers(0, std::array{&doc.record(1)}));
    EXPECT_TRUE(doc.addMembers(0, std::array{&doc.record(0)}));
    EXPECT_TRUE(doc.setHonorifics({sj("様")}));
    EXPECT_TRUE(doc.setFreeFieldTitles(defaultFreeFieldTitles()));
    EXPECT_TRUE(doc.setFreeFieldTitle(0, sj("住所")));
    auto path = (dir / "顧客.tn2").string();
    EXPECT_TRUE(doc.OnSaveDocument(path));
    return path;
}

TEST(BookShow, PrintsJson) {
    TempDir dir;
    const auto path = writeSmallBook(dir);
    auto r = run({tarnPath(), "book", "show", path, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string empty9 = R"J("","","","","","","","","")J";
    const std::string expected =
        R"J({"version":20,"folders":[{"name":"取引先","icon":2}],)J"
        R"J("groups":[{"name":"展示会\"2024\"","icon":7,"members":[1,0]}],"records":[)J"
        R"J({"folder":1,"company":"株式会社みどり商事","department":"","title":"",)J"
        R"J("name":"佐藤 一郎","email":"ichiro@example.co.jp","honorific":"様",)J"
        R"J("free":["東京都\n港区",)J" +
        empty9 +
        R"J(],"status":4},{"folder":0,"company":"","department":"","title":"","name":"",)J"
        R"J("email":"b@example.jp","honorific":"","free":["",)J" +
        empty9 +
        R"J(],"status":0}],"honorifics":["様"],)J"
        R"J("titles":["住所","Freefield2(&B)","Freefield3(&C)","Freefield4(&D)",)J"
        R"J("Freefield5(&E)","Freefield6(&F)","Freefield7(&G)","Freefield8(&H)",)J"
        R"J("Freefield9(&I)","Freefield10(&J)"]})J"
        "\n";
    EXPECT_EQ(r.out, expected);
}

TEST(BookShow, PrintsTextForAPerson) {
    TempDir dir;
    const auto path = writeSmallBook(dir);
    auto r = run({tarnPath(), "book", "show", path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"レコード: 2\n", "  No.1  フォルダ: 取引先  状態: 送信エラー\n",
                             "    会社名: 株式会社みどり商事\n", "    住所: 東京都\n港区\n",
                             "  No.2  フォルダ: なし  状態: 正常\n", "メンバー 2 件: 2 1\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
}

TEST(BookShow, ReportsDamagedFilesAndUsage) {
    TempDir dir;
    test::writeFile(dir / "bad.tn2", std::string("\x03"
                                                 "abc",
                                                 4));
    auto r = run({tarnPath(), "book", "show", (dir / "bad.tn2").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("bad.tn2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("版数"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());

    r = run({tarnPath(), "book", "show", (dir / "missing.tn2").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(run({tarnPath(), "book", "show"}).exitCode, 2);
    EXPECT_EQ(run({tarnPath(), "book", "show", "a.tn2", "--xml"}).exitCode, 2);
}

// Paths that are no saved file: refused at once, without reading 2 GiB of
// /dev/urandom or waiting for ever on a FIFO.
TEST(BookShow, RefusesDevicesAndFifosAtOnce) {
    TempDir dir;
    const auto fifo = dir / "pipe.tn2";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto fifoTnm = dir / "pipe.tnm";
    ASSERT_EQ(::mkfifo(fifoTnm.c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> commands = {
        {tarnPath(), "book", "show", "/dev/urandom"},
        {tarnPath(), "book", "show", fifo.string()},
        {tarnPath(), "contents", "show", fifoTnm.string()},
    };
    for (const auto& command : commands) {
        const auto start = std::chrono::steady_clock::now();
        auto r = run(command, {}, {}, std::chrono::seconds(20));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << command[3];
        EXPECT_EQ(r.exitCode, 1) << command[3] << r.err;
        EXPECT_FALSE(r.err.empty()) << command[3];
    }
}

// Saving keeps what the person set on the file: its mode, its read-only
// state, and a symlink stays a link to the file that gets the statuses.
TEST(Tn2Save, KeepsModeRefusesReadOnlyAndWritesThroughLinks) {
    TempDir dir;
    const auto path = writeSmallBook(dir);
    ::chmod(path.c_str(), 0600);
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path, defaultFreeFieldTitles()));
    const StatusUpdate normal{&doc.record(0), kStatusNormal};
    ASSERT_TRUE(doc.setStatuses({&normal, 1}));
    ASSERT_TRUE(doc.OnSaveDocument(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a private book stays private";

    ::chmod(path.c_str(), 0400);
    const std::string before = test::readFile(path);
    const StatusUpdate failed{&doc.record(0), kStatusSendError};
    ASSERT_TRUE(doc.setStatuses({&failed, 1}));
    auto refused = doc.OnSaveDocument(path);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("read-only"), std::string::npos);
    EXPECT_EQ(test::readFile(path), before);
    ::chmod(path.c_str(), 0600);

    const auto link = dir / "link.tn2";
    std::filesystem::create_symlink(path, link);
    ASSERT_TRUE(doc.OnSaveDocument(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    CTarnSendDoc back;
    ASSERT_TRUE(back.OnOpenDocument(path, defaultFreeFieldTitles()));
    EXPECT_EQ(back.record(0).status(), kStatusSendError) << "the link's target has the statuses";
}

}  // namespace
}  // namespace tarn::addressbook

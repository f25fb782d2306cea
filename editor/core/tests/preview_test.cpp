#include "editor/preview.h"

#include <gtest/gtest.h>

#include "common/cp932.h"

using namespace tarn::editor;
using tarn::contents::ScriptHost;
using tarn::contents::SendContents;

namespace {

std::string sj(std::string_view utf8) {
    return *tarn::cp932::fromUtf8(utf8);
}
std::string utf8(std::string_view sjis) {
    return *tarn::cp932::toUtf8(sjis);
}

class RecordingHost : public ScriptHost {
public:
    void ReportScriptError(int number, int line, std::string_view) override {
        errors.emplace_back(number, line);
    }
    std::vector<std::pair<int, int>> errors;
};

}  // namespace

TEST(Preview, HeaderAndBodyWithTheSampleValues) {
    SendContents m;
    m.subject = sj("&[会社名] &[名前]&[敬称]へのご案内");
    m.body = sj("&[会社名]\r\n&[部署名] &[役職]\r\n&[名前]&[敬称]\r\n&[Freefield1]/&[Freefield10]");
    m.cc = "cc@example.jp";
    m.bcc = "bcc@example.jp";
    m.attachments = sj("/home/資料/a.pdf\t/tmp/b.txt");
    RecordingHost host;
    const std::string text = previewText(sj("山田"), "yamada@example.jp", m, host);
    EXPECT_EQ(utf8(text),
              "From : 山田 <yamada@example.jp>\n"
              "Subject : ○○○○○○○株式会社 ○△□太郎様へのご案内\n"
              "CC : cc@example.jp\n"
              "BCC : bcc@example.jp\n"
              "Attach : /home/資料/a.pdf;\n         /tmp/b.txt;\n        \n\n"
              "Body :\n"
              "○○○○○○○株式会社\r\n□□課 △△マネージャー\r\n○△□太郎様\r\n"
              "--フリーフィールド１--/--フリーフィールド１０--\r\n");
    EXPECT_TRUE(host.errors.empty());
}

TEST(Preview, AScriptErrorIsReportedAndLeavesTheBodyEmpty) {
    SendContents m;
    m.subject = "S";
    m.body = "line one\r\n#x = 1 +\r\nline three";  // error 12 when run
    RecordingHost host;
    EXPECT_EQ(previewText("a", "b", m, host), "From : a <b>\nSubject : S\n\n\nBody :\n");
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], std::make_pair(12, 2));

    // One that does not even compile shows nothing either, not the half that did.
    host.errors.clear();
    m.body = "line one\r\n#Print \"open";  // error 3 at load
    EXPECT_EQ(previewText("a", "b", m, host), "From : a <b>\nSubject : S\n\n\nBody :\n");
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], std::make_pair(3, 2));
}

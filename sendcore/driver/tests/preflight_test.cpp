#include "driver/preflight.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

#include "common/cp932.h"
#include "scripted_doubles.h"
#include "testsupport.h"

namespace tarn::driver {
namespace {

using doubles::ScriptedRecipients;

std::string sj(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

std::string utf8(std::string_view sjis) {
    return cp932::toUtf8Lossy(sjis);
}

// Recipients from a list (UTF-8); an entry with an empty address is not eligible.
struct Named {
    std::string address;
    std::string name;  // the 名前 field
    std::string free1 = {};
};

ScriptedRecipients walkOf(const std::vector<Named>& list) {
    std::vector<ScriptedRecipients::Entry> entries;
    for (const Named& n : list) {
        ScriptedRecipients::Entry e{sj(n.address), !n.address.empty()};
        e.values[3] = sj(n.name);
        e.values[5] = sj(n.free1);
        entries.push_back(std::move(e));
    }
    return ScriptedRecipients(std::move(entries));
}

SendSettings settingsWith(MailCharsetMode charset, bool script = false) {
    SendSettings s;
    std::memset(&s, 0, sizeof s);
    s.MailCharset = charset;
    s.ScriptUse = script ? 1 : 0;
    setFieldText(s.defaultAccount.FromName, sj("ターノス事務局"));
    setFieldText(s.defaultAccount.FromEMail, "office@example.jp");
    return s;
}

contents::SendContents message(const std::string& subject, const std::string& body) {
    contents::SendContents c;
    c.subject = sj(subject);
    c.body = sj(body);
    return c;
}

std::vector<std::string> inUtf8(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    out.reserve(lines.size());
    for (const auto& l : lines) {
        out.push_back(utf8(l));
    }
    return out;
}

const std::vector<Named> kNames = {
    {"a@example.jp", "山田"}, {"b@example.jp", "㈱ひかり通信"}, {"", "not shown"},
    {"c@example.jp", "髙橋"}, {"d@example.jp", "佐藤"},         {"e@example.jp", "第Ⅱ営業部 ①"},
};

TEST(Preflight, ExtensionCharactersPerRecipientAndTheirOneLineSummary) {
    ScriptedRecipients walk = walkOf(kNames);
    const auto c = message("&[名前]様へのご案内", "&[名前]様\r\n");
    const PreflightReport r = runPreflight(settingsWith(kMailCharsetIso2022Jp), c, 5, walk);
    EXPECT_EQ(r.checked, 5);
    EXPECT_EQ(inUtf8(r.summaryLines()),
              (std::vector<std::string>{
                  "3 件の宛先に一部のメールソフトで表示できない文字があります: ㈱髙Ⅱ①"}));
    ASSERT_EQ(r.recipients.size(), 3U);
    EXPECT_EQ(r.recipients[0].position, 2);
    EXPECT_EQ(r.recipients[1].position, 4);  // the one not shown counts in the walk
    EXPECT_EQ(inUtf8(r.detailLines())[2], "6 件目 e@example.jp: 表示できない文字: Ⅱ(→II) ①(→(1))");

    // Automatic: those recipients get UTF-8 instead, the rest ISO-2022-JP.
    ScriptedRecipients again = walkOf(kNames);
    const PreflightReport a = runPreflight(settingsWith(kMailCharsetAutomatic), c, 5, again);
    EXPECT_EQ(inUtf8(a.summaryLines()),
              (std::vector<std::string>{"3 件の宛先へは、一部のメールソフトで表示できない文字を含む"
                                        "ため UTF-8 で送信します: ㈱髙Ⅱ①"}));
    // UTF-8: every reader shows them; nothing to say.
    ScriptedRecipients third = walkOf(kNames);
    EXPECT_TRUE(runPreflight(settingsWith(kMailCharsetUtf8), c, 5, third).clean());
}

TEST(Preflight, SharedTextCountsForEveryRecipientAndMissingFilesAreNamed) {
    test::TempDir dir;
    test::writeFile(dir / "here.txt", "x");
    ScriptedRecipients walk = walkOf({{"a@example.jp", "山田"}, {"b@example.jp", "佐藤"}});
    auto c = message("ご案内", "本文\r\n");
    c.cc = sj("㈲経理 <cc@example.jp>");
    c.attachments = sj((dir / "here.txt").string()) + "\t" + sj((dir / "①資料.pdf").string());
    const PreflightReport r = runPreflight(settingsWith(kMailCharsetIso2022Jp), c, 2, walk);
    EXPECT_EQ(r.extensionCount, 2);
    EXPECT_EQ(utf8(r.extensionChars), "㈲①");
    EXPECT_EQ(r.missingAttachments, (std::vector<std::string>{sj((dir / "①資料.pdf").string())}));
    EXPECT_EQ(utf8(r.summaryLines().back()),
              "添付ファイルが見つかりません: " + (dir / "①資料.pdf").string());
}

TEST(Preflight, EmptyFieldsDuplicatesLongLinesAndCharactersWithoutACode) {
    std::string longLine;
    for (int i = 0; i < 931; ++i) {
        longLine += "語";
    }
    ScriptedRecipients walk = walkOf({{"Taro <T@Example.jp>", "山田"},
                                      {"t@example.jp", ""},
                                      {"u@example.jp", "外字\xEE\x80\x80", "x"}});
    // The user-defined character U+E000 is 0xF040 in code page 932.
    const auto c = message("ご案内", "&[名前]様 &[Freefield1]\r\n" + longLine + "\r\n");
    const PreflightReport r = runPreflight(settingsWith(kMailCharsetIso2022Jp), c, 3, walk);
    EXPECT_EQ(r.duplicateCount, 1);
    EXPECT_EQ(r.emptyFieldCount, 2);
    EXPECT_EQ(r.brokenLineCount, 3);
    EXPECT_EQ(r.noCodeCount, 1);
    const auto details = inUtf8(r.detailLines());
    ASSERT_EQ(details.size(), 3U);
    EXPECT_EQ(details[0],
              "1 件目 Taro <T@Example.jp>: 空の差し込み項目: &[Freefield1] / 折り返す行: 1");
    EXPECT_EQ(details[1],
              "2 件目 t@example.jp: 空の差し込み項目: &[名前] &[Freefield1] / 折り返す行: 1 / 1 "
              "件目と同じ宛先");
    EXPECT_EQ(details[2], "3 件目 u@example.jp: 〓 になる文字: \xEE\x80\x80 / 折り返す行: 1");
    // A UTF-8 body is base64: its lines never need breaking.
    ScriptedRecipients again = walkOf({{"a@example.jp", "山田"}});
    EXPECT_EQ(runPreflight(settingsWith(kMailCharsetUtf8), c, 1, again).brokenLineCount, 0);
}

TEST(Preflight, TheScriptRunsAsInTheSendWithoutAskingOrStartingAnything) {
    // Skips recipients without a name, fails on "stop", asks a question and
    // starts a program on the way; a tag used only in a condition is no
    // merge field of the message.
    const auto c = message("ご案内",
                           "#If &[Freefield1] = \"\" Then\r\n#Exit Sub\r\n#End If\r\n"
                           "#If &[Freefield1] = \"stop\" Then\r\n#End\r\n#End If\r\n"
                           "#x = MsgBox(\"続けますか\", 2)\r\n"
                           "#Execute \"notify-send\"\r\n"
                           "&[名前]様 (&[Freefield1])\r\n");
    ScriptedRecipients walk = walkOf({{"a@example.jp", "山田", "会員"},
                                      {"b@example.jp", "佐藤", ""},
                                      {"c@example.jp", "", "会員"},
                                      {"d@example.jp", "鈴木", "stop"},
                                      {"e@example.jp", "伊藤", "会員"}});
    const PreflightReport r = runPreflight(settingsWith(kMailCharsetIso2022Jp, true), c, 5, walk);
    EXPECT_EQ(r.checked, 4);  // the send stops at the failing recipient
    EXPECT_EQ(r.skippedCount, 1);
    EXPECT_EQ(inUtf8(r.detailLines()),
              (std::vector<std::string>{"2 件目 b@example.jp: スクリプトの出力が空 (送信しません)",
                                        "3 件目 c@example.jp: 空の差し込み項目: &[名前]",
                                        "4 件目 d@example.jp: スクリプトエラー"}));
    EXPECT_EQ(utf8(r.summaryLines().back()),
              "4 件目の宛先でスクリプトエラーになり、送信はそこで止まります。");

    ScriptedRecipients none = walkOf({{"a@example.jp", "山田"}});
    const auto broken = message("x", "#x = \"open\r\n");
    const PreflightReport b =
        runPreflight(settingsWith(kMailCharsetIso2022Jp, true), broken, 1, none);
    EXPECT_TRUE(b.scriptDoesNotCompile);
    EXPECT_EQ(b.checked, 0);
    EXPECT_FALSE(b.clean());
}

}  // namespace
}  // namespace tarn::driver

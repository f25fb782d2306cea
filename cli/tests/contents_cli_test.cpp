// `tarn contents show/new` and `tarn script run`, end to end.
#include <gtest/gtest.h>

#include "testsupport.h"

using namespace tarn::test;

namespace {

RunResult runTarn(std::vector<std::string> args) {
    args.insert(args.begin(), tarnPath());
    return run(args);
}

// Writes a .tnm file with `tarn contents new` and returns its path.
std::string makeMessage(const TempDir& dir, const std::string& bodyUtf8,
                        const std::string& subject = "s") {
    writeFile(dir / "body.txt", bodyUtf8);
    const std::string file = (dir / "m.tnm").string();
    auto made = runTarn({"contents", "new", file, "--subject", subject, "--body-file",
                         (dir / "body.txt").string()});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return file;
}

}  // namespace

TEST(ContentsCommand, NewThenShowInTextAndJson) {
    TempDir dir;
    writeFile(dir / "body.txt", "\xEF\xBB\xBF拝啓 &[名前] 様\nご案内です。\r\n");
    const std::string file = (dir / "m.tnm").string();
    auto made = runTarn({"contents", "new", file, "--subject", "ご案内", "--body-file",
                         (dir / "body.txt").string(), "--attach", "/tmp/a b.pdf", "--attach",
                         "/tmp/c.txt", "--cc", "cc@example.com"});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    auto json = runTarn({"contents", "show", file, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"subject\":\"ご案内\",\"attachments\":[\"/tmp/a b.pdf\",\"/tmp/c.txt\"],"
              "\"body\":\"拝啓 &[名前] 様\\r\\nご案内です。\\r\\n\",\"cc\":\"cc@example.com\","
              "\"bcc\":\"\",\"layout\":\"current\"}\n");

    auto text = runTarn({"contents", "show", file});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("件名: ご案内\n"), std::string::npos);
    EXPECT_NE(text.out.find("本文:\n拝啓 &[名前] 様\nご案内です。\n"), std::string::npos);
}

TEST(ContentsCommand, RefusesWhatShiftJisCannotHoldAndReportsLoadFailures) {
    TempDir dir;
    writeFile(dir / "body.txt", "sushi 🍣\n");
    const std::string file = (dir / "m.tnm").string();
    auto bad = runTarn(
        {"contents", "new", file, "--subject", "x", "--body-file", (dir / "body.txt").string()});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("🍣"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file));

    auto missing = runTarn({"contents", "show", file});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("-6"), std::string::npos);
    EXPECT_EQ(runTarn({"contents", "new", file, "--subject", "x"}).exitCode, 2);
}

TEST(ScriptCommand, RunsTheBodyForOneRecipient) {
    TempDir dir;
    const std::string file =
        makeMessage(dir,
                    "#If &[敬称] = \"御中\" Then\n&[会社名] 御中\n#Else\n&[名前] &[敬称]\n#End If\n"
                    "#x = StrInputDialog(\"?\")\n#Print \"answer=\"; x\n",
                    "&[名前]様へ");
    auto company = runTarn({"script", "run", file, "--var", "会社名=ACME", "--var", "&[敬称]=御中",
                            "--answer", "はい"});
    ASSERT_EQ(company.exitCode, 0) << company.err;
    EXPECT_EQ(company.out, "&[会社名] 御中\nanswer=はい\n");

    auto merged =
        runTarn({"script", "run", file, "--var", "名前=鈴木", "--var", "敬称=様", "--merge"});
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
    EXPECT_EQ(merged.out, "件名: 鈴木様へ\n\n鈴木 様\nanswer=\n");
    EXPECT_NE(merged.err.find("--answer"), std::string::npos);

    EXPECT_EQ(runTarn({"script", "run", file, "--var", "住所=x"}).exitCode, 2);
}

TEST(ScriptCommand, ErrorsAndRefusedExecute) {
    TempDir dir;
    const std::string file = makeMessage(dir, "first\n\n#x = 1 / 0\n");
    auto failed = runTarn({"script", "run", file});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "0 で除算しました。 (Line=3)\n");
    EXPECT_EQ(failed.out, "first\n\n");

    makeMessage(dir, "ok\n#x = \"open\nnever\n");  // same path, new contents
    auto loadError = runTarn({"script", "run", file});
    EXPECT_EQ(loadError.exitCode, 1);
    EXPECT_EQ(loadError.out, "ok\n");  // the lines before the error still run, as in a send
    EXPECT_EQ(loadError.err, "文字列の最後の \" がありません。 (Line=2)\n");

    makeMessage(dir, "#Execute \"/bin/true\"\n");
    auto refused = runTarn({"script", "run", file});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("ShellExecute()で失敗しました。 (Line=1)"), std::string::npos);
    auto allowed = runTarn({"script", "run", file, "--allow-execute"});
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    EXPECT_NE(allowed.err.find("出力が空です"), std::string::npos);
}

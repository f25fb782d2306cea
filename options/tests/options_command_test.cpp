// `tarn options`: the Qt-free command loads libTarnOption.so and shows the
// dialog on a real X server (Xvfb); keys pressed as a person would (xdotool)
// confirm or cancel it.
#include <gtest/gtest.h>

#include <string>

#include "sendcore/registry.h"
#include "sendcore/settings.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::test;

namespace {

// A registry with a default account and nothing else.
void writeRegistry(const std::filesystem::path& path) {
    RegistryFile reg = RegistryFile::load(path);
    const std::string def = std::string(kSettingsRoot) + "\\Option\\DefAccount";
    const std::string one = std::string(kSettingsRoot) + "\\Option\\Account1";
    for (const auto& [key, prefix, suffix] :
         {std::tuple{def, "Def", ""}, std::tuple{one, "", "1"}}) {
        const std::string p = prefix, n = suffix;
        reg.setString(key, (p.empty() ? "FromName" : "DefName") + n, "Taro");
        reg.setString(key, (p.empty() ? "FromEMail" : "DefEMail") + n, "taro@example.jp");
        reg.setString(key, p + "SMTPName" + n, "smtp.example.jp");
        reg.setDword(key, p + "PortNo" + n, 25);
    }
    ASSERT_TRUE(reg.save().ok());
}

// Runs `tarn options` under Xvfb and presses `key` in its window.
RunResult optionsWithKey(const std::filesystem::path& registry, const std::string& key) {
    const std::string script =
        "\"$TARN\" options > \"$OUT/out\" 2> \"$OUT/err\" &\n"
        "pid=$!\n"
        "w=$(timeout 60 xdotool search --sync --onlyvisible --class tarn | head -n 1)\n"
        "[ -n \"$w\" ] || { kill $pid; echo 'no window' >&2; exit 3; }\n"
        "xdotool windowfocus --sync \"$w\"\n"
        "xdotool key --clearmodifiers " +
        key +
        "\n"
        "wait $pid; rc=$?\n"
        "cat \"$OUT/out\"; cat \"$OUT/err\" >&2\n"
        "exit $rc\n";
    return run({"xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "sh", "-c", script},
               {{"TARN", tarnPath()},
                {"OUT", registry.parent_path().string()},
                {"TARN_REGISTRY", registry.string()},
                {"TARN_HOME", registry.parent_path().string()},
                {"QT_QPA_PLATFORM", "xcb"},
                {"LANG", "C.UTF-8"},
                // The sanitizer build: libdbus keeps a buffer for the process's life.
                {"LSAN_OPTIONS",
                 "suppressions=" + std::string(TARN_SOURCE_DIR) + "/cmake/lsan_suppressions.txt"}},
               {}, std::chrono::seconds(120));
}

TEST(OptionsCommand, EscapeChangesNothingAndReturnSavesTheSettings) {
    TempDir dir;
    const auto registry = dir / "registry";
    writeRegistry(registry);
    const std::string before = readFile(registry);

    RunResult cancelled = optionsWithKey(registry, "Escape");
    ASSERT_EQ(cancelled.exitCode, 0) << cancelled.out << cancelled.err;
    EXPECT_NE(cancelled.out.find("設定は変更しませんでした。"), std::string::npos) << cancelled.out;
    EXPECT_EQ(readFile(registry), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "CustmHeader.hdr"));

    RunResult saved = optionsWithKey(registry, "Return");
    ASSERT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    EXPECT_NE(saved.out.find("設定を保存しました"), std::string::npos) << saved.out;
    // OK wrote the whole Option key, and the (empty) custom header list.
    const std::string after = readFile(registry);
    EXPECT_NE(after.find("\"WaitMSec\"=dword:00000000"), std::string::npos) << after;
    EXPECT_NE(after.find("\"DefCAFile\"=\"\""), std::string::npos) << after;
    EXPECT_TRUE(std::filesystem::exists(dir / "CustmHeader.hdr"));
}

TEST(OptionsCommand, WithoutADisplayItSaysSo) {
    TempDir dir;
    RunResult r = run({tarnPath(), "options"}, {{"DISPLAY", ""},
                                                {"WAYLAND_DISPLAY", ""},
                                                {"QT_QPA_PLATFORM", ""},
                                                {"TARN_REGISTRY", (dir / "registry").string()}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("画面がありません"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "registry"));
}

}  // namespace

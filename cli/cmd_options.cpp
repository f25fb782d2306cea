// `tarn options`: the applications' options dialog, from a terminal session
// that has a display. The dialog is Qt and this command is not: it loads
// libTarnOption.so from its own folder at run time and hands it the settings.
#include <string>
#include <vector>

#include "command.h"
#include "run_support.h"
#include "sendcore/settings.h"
#include "zephoption.h"

namespace tarn::cli {
namespace {

const Command& optionsCommand();

int runOptions(const std::vector<std::string>& args) {
    Args a(args, {}, {});
    if (!a.ok()) {
        return usageError(optionsCommand(), a.error());
    }
    if (!a.positional().empty()) {
        return usageError(optionsCommand(), "引数は取りません");
    }
    if (!hasDisplay()) {
        return fail(
            "画面がありません（DISPLAY が設定されていません）。"
            "デスクトップの端末から実行するか、「tarn config」で設定して下さい。");
    }
    auto zephOption = reinterpret_cast<ZEPHOptionFunction>(
        dialogLibraryExport(kOptionLibraryName, "ZEPHOption", "オプション設定のライブラリ"));
    if (zephOption == nullptr) {
        return kFailure;
    }

    LoadedSettings loaded = loadSettings();
    if (zephOption(nullptr, &loaded.settings) != 1) {
        out("設定は変更しませんでした。\n");
        return kSuccess;
    }
    SettingsStore store;
    if (Status saved = store.saveOption(loaded.settings); !saved) {
        return fail("設定を保存できません: " + saved.error().message);
    }
    out("設定を保存しました: " + store.path().string() + "\n");
    return kSuccess;
}

const Command kOptions{"options", "options", "オプション設定の画面を開きます（画面のある端末で）",
                       runOptions};

const Command& optionsCommand() {
    return kOptions;
}

const Registration kRegisterOptions(kOptions);

}  // namespace
}  // namespace tarn::cli

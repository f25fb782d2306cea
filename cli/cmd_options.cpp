// `tarn options`: the applications' options dialog, from a terminal session
// that has a display. The dialog is Qt and this command is not: it loads
// libTarnOption.so from its own folder at run time and hands it the settings.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "command.h"
#include "run_support.h"
#include "sendcore/settings.h"
#include "zephoption.h"

namespace tarn::cli {
namespace {

bool hasEnv(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// The folder of this executable (not TARN_HOME, which moves the data files
// only): the library is built and installed beside the command.
std::filesystem::path executableFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

const Command& optionsCommand();

int runOptions(const std::vector<std::string>& args) {
    Args a(args, {}, {});
    if (!a.ok()) {
        return usageError(optionsCommand(), a.error());
    }
    if (!a.positional().empty()) {
        return usageError(optionsCommand(), "引数は取りません");
    }
    if (!hasEnv("DISPLAY") && !hasEnv("WAYLAND_DISPLAY") && !hasEnv("QT_QPA_PLATFORM")) {
        return fail(
            "画面がありません（DISPLAY が設定されていません）。"
            "デスクトップの端末から実行するか、「tarn config」で設定して下さい。");
    }
    const std::filesystem::path library = executableFolder() / kOptionLibraryName;
    // Kept loaded until the command ends: Qt cannot be unloaded safely.
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return fail("オプション設定のライブラリを読み込めません: " + std::string(::dlerror()));
    }
    auto zephOption = reinterpret_cast<ZEPHOptionFunction>(::dlsym(handle, "ZEPHOption"));
    if (zephOption == nullptr) {
        return fail("オプション設定のライブラリに ZEPHOption がありません: " + library.string());
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

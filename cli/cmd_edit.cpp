// tarn edit: the message editor window (libTarnEdit.so beside this program,
// loaded at run time so that the command itself needs no window system).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "run_support.h"
#include "sendcore/settings.h"
#include "tarnedit.h"

namespace tarn::cli {
namespace {

int runEdit(const std::vector<std::string>& args);

const Command kEdit{
    "edit",
    "edit [FILE.tnm]\n"
    "  送信メッセージ作成ウィンドウで FILE を開きます (画面が必要です)。\n"
    "  FILE を省略すると設定の送信内容ファイルを開き、終了時に保存先を設定に記録します。",
    "送信メッセージ作成ウィンドウを開きます", runEdit};
const Registration kEditRegistration(kEdit);

using EditFn = int (*)(void*, const char*, const char*, char*);

int runEdit(const std::vector<std::string>& args) {
    Args a(args, {}, {});
    if (!a.ok()) {
        return usageError(kEdit, a.error());
    }
    if (a.positional().size() > 1) {
        return usageError(kEdit, "ファイルは一つだけ指定してください");
    }
    if (!hasDisplay()) {
        return fail("ウィンドウを表示する画面がありません (DISPLAY が設定されていません)。");
    }
    const LoadedSettings loaded = loadSettings();
    std::string path = loaded.contFileName;
    const bool ownFile = !a.positional().empty();
    if (ownFile) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(a.positional()[0], ec);
        auto sjis = toSjis(ec ? a.positional()[0] : absolute.string(), "FILE");
        if (!sjis) {
            return kFailure;
        }
        path = std::move(*sjis);
    }
    if (path.size() >= ZEPHEDIT_PATH_SIZE) {
        return fail("ファイルのパスが長すぎます (" + std::to_string(path.size()) + " バイト。" +
                    std::to_string(ZEPHEDIT_PATH_SIZE - 1) + " バイトまで)。");
    }

    auto edit = reinterpret_cast<EditFn>(
        dialogLibraryExport("libTarnEdit.so", "ZEPHEdit", "送信メッセージ作成ライブラリ"));
    if (edit == nullptr) {
        return kFailure;
    }
    char buffer[ZEPHEDIT_PATH_SIZE] = {};  // the path fits with its NUL (checked above)
    std::copy(path.begin(), path.end(), buffer);
    const auto& account = loaded.settings.defaultAccount;
    const std::string name = fieldText(account.FromName);
    const std::string address = fieldText(account.FromEMail);
    const int end = edit(nullptr, name.c_str(), address.c_str(), buffer);
    if (end == 0) {
        return fail("送信メッセージ作成ウィンドウを表示できませんでした。");
    }
    const std::string final(buffer, ::strnlen(buffer, sizeof buffer));
    if (end == ZEPHEDIT_END_DISCARDED) {
        out("変更を保存せずに終了しました。\n");
    } else {
        out((end == ZEPHEDIT_END_SAVED ? "保存しました: " : "送信内容ファイル: ") +
            (final.empty() ? std::string("(なし)") : fromSjis(final)) + "\n");
    }
    if (!ownFile) {
        if (auto saved = SettingsStore().saveCommon(final); !saved) {
            return fail("設定に記録できません: " + saved.error().message);
        }
    }
    return kSuccess;
}

}  // namespace
}  // namespace tarn::cli

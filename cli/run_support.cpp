#include "run_support.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <system_error>

#include "command.h"
#include "driver/send_driver.h"

namespace tarn::cli {

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0') {
            return true;
        }
    }
    return false;
}

void* dialogLibraryExport(const char* library, const char* symbol, std::string_view what) {
    // Beside the executable itself (TARN_HOME moves the data files only).
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / library;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        fail(std::string(what) +
             "を読み込めません: " + std::string(why != nullptr ? why : path.string()));
        return nullptr;
    }
    void* function = ::dlsym(handle, symbol);
    if (function == nullptr) {
        fail(path.string() + " に " + symbol + " がありません");
    }
    return function;
}

LoadedSettings loadSettings() {
    LoadedSettings s;
    SettingsStore store;
    SettingsLoadResult r = store.load(s.settings, s.contFileName);
    if (r.imported) {
        err(std::string(kImportNoticeText) + "\n");
    }
    for (const auto& w : r.warnings) {
        err("警告: " + w + "\n");
    }
    return s;
}

std::optional<OpenedBook> openBook(const std::filesystem::path& path,
                                   const std::optional<std::string>& folder,
                                   const std::optional<std::string>& group) {
    using addressbook::TreeSelection;
    OpenedBook book;
    book.doc = std::make_unique<addressbook::CTarnSendDoc>();
    if (auto opened = book.doc->OnOpenDocument(path, addressbook::defaultFreeFieldTitles());
        !opened) {
        fail("アドレス帳を開けません: " + path.string() + ": " + opened.error().message);
        return std::nullopt;
    }
    if (folder && group) {
        fail("--folder と --group は同時に指定できません");
        return std::nullopt;
    }
    TreeSelection selection = TreeSelection::all();
    if (folder || group) {
        auto name = toSjis(folder ? *folder : *group, folder ? "--folder" : "--group");
        if (!name) {
            return std::nullopt;
        }
        auto index = [&name](const auto& list) -> std::optional<std::size_t> {
            for (std::size_t i = 0; i < list.size(); ++i) {
                if (list[i].name == *name) {
                    return i;
                }
            }
            return std::nullopt;
        };
        if (folder) {
            auto i = index(book.doc->folders());
            if (!i) {
                fail("フォルダが見つかりません: " + *folder);
                return std::nullopt;
            }
            selection = TreeSelection::folder(*i + 1);
        } else {
            auto i = index(book.doc->groups());
            if (!i) {
                fail("グループが見つかりません: " + *group);
                return std::nullopt;
            }
            selection = TreeSelection::group(*i);
        }
    }
    book.view = std::make_unique<addressbook::ListViewState>(*book.doc);
    book.view->select(selection);
    return book;
}

bool saveBook(addressbook::CTarnSendDoc& doc, const std::filesystem::path& path) {
    if (!doc.isModified()) {
        return true;
    }
    if (auto saved = doc.OnSaveDocument(path); !saved) {
        fail("アドレス帳を保存できません (状態は書き戻されていません): " + path.string() + ": " +
             saved.error().message);
        return false;
    }
    return true;
}

bool confirmOnTerminal(const std::string& questionUtf8) {
    if (::isatty(STDIN_FILENO) == 0) {
        return false;
    }
    err(questionUtf8 + " [y/N] ");
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "はい";
}

std::optional<int> refuseUnconfirmed(bool yes, std::string_view command,
                                     const std::string& questionUtf8,
                                     std::string_view declinedUtf8) {
    if (yes) {
        return std::nullopt;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        err("tarn " + std::string(command) +
            ": 端末がないため確認できません。--yes を指定してください。\n");
        return kUsage;
    }
    if (!confirmOnTerminal(questionUtf8)) {
        if (!declinedUtf8.empty()) {
            out(std::string(declinedUtf8) + "\n");
        }
        return kFailure;
    }
    return std::nullopt;
}

int showSendError(int code) {
    std::string text = driver::sendErrorText(code);
    if (!text.empty()) {
        err(fromSjis(driver::sendErrorTitle(code)) + "\n" + fromSjis(text) + "\n");
    }
    return kFailure;
}

int showProblem(const driver::CommandProblem& problem) {
    if (problem.code != 0) {
        return showSendError(problem.code);
    }
    return fail(fromSjis(problem.text));
}

}  // namespace tarn::cli

#include "driver/log_viewer.h"

#include <filesystem>
#include <system_error>

#include "common/cp932.h"

namespace tarn::driver {
namespace {

// Blank-separated words; a double-quoted stretch is one word without its quotes.
std::vector<std::string> splitWords(std::string_view s) {
    std::vector<std::string> words;
    std::string current;
    bool quoted = false;
    bool inWord = false;
    for (const char c : s) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(std::move(current));
                current.clear();
                inWord = false;
            }
        } else {
            current.push_back(c);
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(current));
    }
    return words;
}

}  // namespace

std::vector<std::string> logViewerCommand(std::string_view viewer, std::string_view logPath) {
    if (logPath.empty()) {
        return {};
    }
    const std::string path = cp932::pathFromSjis(logPath).string();
    const std::string program = cp932::pathFromSjis(viewer).string();
    std::vector<std::string> argv;
    std::error_code ec;
    if (program.find_first_not_of(" \t") == std::string::npos) {
        argv = {"xdg-open"};
    } else if (std::filesystem::is_regular_file(program, ec)) {
        argv = {program};
    } else {
        argv = splitWords(program);
    }
    argv.push_back(path);
    return argv;
}

}  // namespace tarn::driver

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "common/program.h"

using namespace tarn::cli;

namespace {

void printHelp() {
    out("使い方: tarn <コマンド> "
        "[引数...]\n\n日本語一斉メール送信システムのコマンドラインです。\n\nコマンド:\n");
    std::size_t width = 0;
    for (const auto& c : commands()) {
        width = std::max(width, std::strlen(c.name));
    }
    for (const auto& c : commands()) {
        std::string line = "  ";
        line += c.name;
        line.append(width + 2 - std::strlen(c.name), ' ');
        line += c.summary;
        line += '\n';
        out(line);
    }
    out("\n  --help      この説明を表示します\n  --version   バージョンを表示します\n\n"
        "終了コード: 0 成功、1 失敗、2 使い方の誤り\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        printHelp();
        return kUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp();
        return kSuccess;
    }
    if (args[0] == "--version") {
        out("tarn " + tarn::programVersionText() + "\n");
        return kSuccess;
    }
    // Two-word commands ("book show") win over one-word ones.
    const Command* match = nullptr;
    std::size_t used = 0;
    for (const auto& c : commands()) {
        std::string_view name = c.name;
        std::size_t space = name.find(' ');
        if (space == std::string_view::npos) {
            if (used < 1 && args[0] == name) {
                match = &c;
                used = 1;
            }
        } else if (args.size() >= 2 && args[0] == name.substr(0, space) &&
                   args[1] == name.substr(space + 1)) {
            match = &c;
            used = 2;
        }
    }
    if (match == nullptr) {
        err("tarn: 不明なコマンドです: " + args[0] + "\n「tarn --help」で一覧を表示します。\n");
        return kUsage;
    }
    std::vector<std::string> rest(args.begin() + static_cast<long>(used), args.end());
    for (const auto& a : rest) {
        if (a == "--help" || a == "-h") {
            out(std::string("使い方: tarn ") + match->usage + "\n" + match->summary + "\n");
            return kSuccess;
        }
        if (a == "--") {
            break;
        }
    }
    return match->run(rest);
}

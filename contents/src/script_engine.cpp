#include <cstdio>
#include <string>

#include "script_internal.h"

namespace tarn::contents {
namespace {

// A host for callers that have nobody to ask: every default of ScriptHost.
ScriptHost& silentHost() {
    static ScriptHost host;
    return host;
}

// The error table, by number (UTF-8). 18-23 are never raised by any statement
// but keep their numbers; 24 and 25 are this implementation's limits.
constexpr std::string_view kErrorTexts[] = {
    "",
    "１行が長すぎます。",
    "トークンが多すぎます。",
    "文字列の最後の \" がありません。",
    "文法が間違っています。",
    "Do に対応する Loop ｽﾃｰﾄﾒﾝﾄがありません。",
    "If に対応する End If ｽﾃｰﾄﾒﾝﾄがありません。",
    "条件式がまちがっています。",
    "( がありません。",
    ") がありません。",
    "未定義の変数または関数です。",
    "許されない文字列があります。",
    "演算子の位置が不正です。",
    "左辺と右辺の種類が違います。",
    "文字列の - * / は定義されていません。",
    "0 で除算しました。",
    "関数の引数が違います。",
    "ShellExecute()で失敗しました。",
    "手続き名が違います。",
    "ファイル番号が違います。",
    "ファイル名が違います。",
    "ファイルがオープンできません。",
    "ファイルに書き込めません。",
    "命令の順序が違います。",
    "出力が大きすぎます。",
    "実行が長すぎます。",
};
static_assert(std::size(kErrorTexts) == errorNumber(ScriptErrorNumber::TooManySteps) + 1,
              "every error number has its text");

}  // namespace

std::string_view scriptErrorText(int number) {
    if (number < 0 || static_cast<std::size_t>(number) >= std::size(kErrorTexts)) {
        return {};
    }
    return kErrorTexts[number];
}

std::string formatScriptError(int number, int line) {
    return std::string(scriptErrorText(number)) + " (Line=" + std::to_string(line) + ")";
}

std::vector<ScriptVariable> makeMergeVariables(const MergeValues& values) {
    std::vector<ScriptVariable> vars;
    vars.reserve(kMergeFieldCount);
    for (std::size_t k = 0; k < kMergeFieldCount; ++k) {
        vars.push_back({std::string(MergeTagTable[k]), ScriptValue::ofString(values[k])});
    }
    return vars;
}

ScriptEngine::ScriptEngine() : ScriptEngine(silentHost()) {}

void ScriptEngine::report(ScriptErrorNumber error, int line) {
    const int number = errorNumber(error);
    m_lastError = ScriptError{number, line};
    m_host->ReportScriptError(number, line, formatScriptError(number, line));
}

}  // namespace tarn::contents

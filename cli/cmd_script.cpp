// tarn script run: runs a message body as a script for one recipient.
#include <deque>
#include <string>
#include <vector>

#include "command.h"
#include "common/sjis.h"
#include "contents/desktop.h"
#include "contents/merge.h"
#include "contents/script.h"
#include "contents/send_contents.h"

namespace tarn::cli {
namespace {

using namespace tarn::contents;

int runScriptCommand(const std::vector<std::string>& args);

const Command kRun{
    "script run",
    "script run FILE.tnm [--var 'TAG=VALUE']... [--merge] [--answer TEXT]... [--msgbox yes|no]\n"
    "           [--allow-execute]\n"
    "  本文をスクリプトとして一人分実行し、その出力を表示します。\n"
    "  --var      差し込み値 (TAG は 会社名 部署名 役職 名前 敬称 Freefield1..10、\n"
    "             &[会社名] の形でも可)。値は 255 バイトまでに切り詰めます。\n"
    "  --merge    出力に差し込みを行い、件名も差し込んで先頭に表示します。\n"
    "  MsgBox     本文を標準エラーに表示します。OK/キャンセル・はい/いいえの箱は\n"
    "             --msgbox の答え (既定は no = キャンセル/いいえ) を返します。\n"
    "  ファイル選択・StrInputDialog  --answer の値を順に返します。尽きたらキャンセル\n"
    "             (空文字列) として扱い、その旨を標準エラーに表示します。\n"
    "  Execute    既定では起動せず失敗 (エラー 17) とします。--allow-execute で\n"
    "             xdg-open (実行ファイルはそのまま) により起動します。\n"
    "  スクリプトエラーは \"%s (Line=%d)\" を標準エラーに表示し、終了コード 1 です。",
    "送信内容の本文をスクリプトとして一人分実行します", runScriptCommand};
const Registration kRunRegistration(kRun);

std::string forTerminal(std::string_view sjis) {
    std::string utf8 = fromSjis(sjis);
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (!(utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')) {
            out.push_back(utf8[i]);
        }
    }
    return out;
}

// Answers the script's questions from the command line's options.
class TerminalHost : public ScriptHost {
public:
    TerminalHost(std::deque<std::string> answers, bool boxAnswer, bool allowExecute)
        : m_answers(std::move(answers)), m_boxAnswer(boxAnswer), m_allowExecute(allowExecute) {}

    void ReportScriptError(int, int, std::string_view message) override {
        err(std::string(message) + "\n");
    }
    bool MsgBox(std::string_view text, int kind) override {
        const bool asks = kind == 1 || kind == 2;
        err("MsgBox: " + forTerminal(text) +
            (asks ? std::string(" → ") + (m_boxAnswer ? "yes" : "no") : std::string()) + "\n");
        return asks ? m_boxAnswer : true;
    }
    bool Execute(std::string_view program, std::string_view parameters) override {
        const std::string p = fromSjis(program);
        const std::string params = fromSjis(parameters);
        if (!m_allowExecute) {
            err("Execute: " + p + " " + params + " (起動しません: --allow-execute がありません)\n");
            return false;
        }
        return startDetached(desktopOpenCommand(p, params));
    }
    std::string OutputFileDialog(std::string_view title, std::string_view) override {
        return answer("OutputFileDialog", title);
    }
    std::string InputFileDialog(std::string_view title, std::string_view) override {
        return answer("InputFileDialog", title);
    }
    std::string StrInputDialog(const std::vector<std::string>& arguments) override {
        return answer("StrInputDialog", arguments.empty() ? std::string() : arguments[0]);
    }

private:
    std::string answer(std::string_view what, std::string_view prompt) {
        if (m_answers.empty()) {
            err(std::string(what) + " " + forTerminal(prompt) +
                ": --answer がないためキャンセルとして扱います\n");
            return {};
        }
        std::string a = std::move(m_answers.front());
        m_answers.pop_front();
        return a;
    }

    std::deque<std::string> m_answers;
    bool m_boxAnswer;
    bool m_allowExecute;
};

// The merge index a --var tag names, or -1.
int tagIndex(const std::string& tagSjis) {
    for (std::size_t k = 0; k < kMergeFieldCount; ++k) {
        const std::string_view tag = MergeTagTable[k];
        if (tagSjis == tag || tagSjis == tag.substr(2, tag.size() - 3)) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

int runScriptCommand(const std::vector<std::string>& args) {
    Args a(args, {"var", "answer", "msgbox"}, {"merge", "allow-execute"});
    if (!a.ok()) {
        return usageError(kRun, a.error());
    }
    if (a.positional().size() != 1) {
        return usageError(kRun, "ファイルを一つ指定してください");
    }
    const std::string box = a.value("msgbox").value_or("no");
    if (box != "yes" && box != "no") {
        return usageError(kRun, "--msgbox は yes か no です");
    }
    MergeValues values;
    for (const auto& v : a.values("var")) {
        const std::size_t eq = v.find('=');
        if (eq == std::string::npos) {
            return usageError(kRun, "--var は TAG=VALUE の形です: " + v);
        }
        auto tag = toSjis(v.substr(0, eq), "--var");
        auto value = toSjis(v.substr(eq + 1), "--var");
        if (!tag || !value) {
            return kFailure;
        }
        const int k = tagIndex(*tag);
        if (k < 0) {
            return usageError(kRun, "差し込み項目がありません: " + v.substr(0, eq));
        }
        // As a send does, but never leaving half a character behind.
        values[static_cast<std::size_t>(k)] = std::string(sjis::truncate(*value, 255));
    }
    std::deque<std::string> answers;
    for (const auto& s : a.values("answer")) {
        auto sjisAnswer = toSjis(s, "--answer");
        if (!sjisAnswer) {
            return kFailure;
        }
        answers.push_back(std::move(*sjisAnswer));
    }

    const std::string& path = a.positional()[0];
    SendContents record;
    if (const int code = LoadSendContents(path, record); code != 0) {
        return fail(path + ": 送信内容の読み込みに失敗しました。(" + std::to_string(code) + ": " +
                    describeSendContentsResult(code) + ")");
    }
    TerminalHost host(std::move(answers), box == "yes", a.has("allow-execute"));
    ScriptEngine engine(host);
    std::string output;
    const bool loaded = engine.LoadScript(record.body) == 1;
    // A load error leaves the lines before it runnable, as a send would run them;
    // the error has been reported, so the command fails either way.
    const int result = engine.RunScript(output, makeMergeVariables(values));
    if (!loaded || result != 1) {
        out(forTerminal(output));
        if (loaded && !engine.lastError()) {
            err("スクリプトが End で終了しました。\n");
        }
        return kFailure;
    }
    if (output.empty()) {
        err("出力が空です: この宛先には送信されません。\n");
        return kSuccess;
    }
    if (!a.has("merge")) {
        out(forTerminal(output));
        return kSuccess;
    }
    MergeRequest request;
    request.subjectTemplate = record.subject;
    request.bodyTemplate = output;
    request.values = values;
    ApplyMergeFields(request);
    out("件名: " + forTerminal(request.subject) + "\n\n" + forTerminal(request.body));
    return kSuccess;
}

}  // namespace
}  // namespace tarn::cli

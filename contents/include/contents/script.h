// The mail script: a line-oriented language in which a message body is
// written. Text lines are mail text; lines that begin with "#" are statements.
// A script is compiled once (LoadScript) and run once per recipient
// (RunScript).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contents/merge.h"

namespace tarn::contents {

enum class ScriptValueType : std::uint8_t { Number = 1, String = 2 };

struct ScriptValue {
    ScriptValueType type = ScriptValueType::Number;
    std::int32_t number = 0;
    std::string text;  // Shift_JIS

    static ScriptValue ofNumber(std::int32_t n) { return {ScriptValueType::Number, n, {}}; }
    static ScriptValue ofString(std::string s) {
        return {ScriptValueType::String, 0, std::move(s)};
    }
    bool isNumber() const { return type == ScriptValueType::Number; }
};

struct ScriptVariable {
    std::string name;  // matched without regard to ASCII letter case
    ScriptValue value;
};

// The fifteen caller variables of a send: one string variable per merge tag,
// named by the tag itself ("&[会社名]"), holding the recipient's value.
std::vector<ScriptVariable> makeMergeVariables(const MergeValues& values);

// Error numbers, as the error box and the log show them. 1-3 are found while
// compiling, the rest while running.
enum class ScriptErrorNumber : int {
    None = 0,
    LineTooLong = 1,
    TooManyTokens = 2,
    UnclosedString = 3,
    Syntax = 4,
    NoLoop = 5,
    NoEndIf = 6,
    BadCondition = 7,
    NoOpenParen = 8,
    NoCloseParen = 9,
    Undefined = 10,
    BadToken = 11,
    OperatorPosition = 12,
    TypeMismatch = 13,
    StringOperator = 14,
    DivideByZero = 15,
    Arguments = 16,
    ExecuteFailed = 17,
    // Limits of this implementation: a run may not grow its output or its
    // running time without bound (a loop that never ends would hang a send).
    OutputTooLarge = 24,
    TooManySteps = 25,
};

constexpr int errorNumber(ScriptErrorNumber e) {
    return static_cast<int>(e);
}

// The table text of an error number (UTF-8), empty for an unknown number.
std::string_view scriptErrorText(int number);
// "%s (Line=%d)" of the table text and the line number (UTF-8).
std::string formatScriptError(int number, int line);

// Everything the script needs from a person. The Qt applications show real
// dialogs, the command line prints or answers from its options, tests script
// the answers. Texts passed in and returned are Shift_JIS. The defaults
// behave as if nobody were there: nothing is shown, an OK-only box counts as
// OK and a question as Cancel/No, dialogs are cancelled, programs are not
// started (Execute then fails with error 17). A host that does start programs
// uses desktopOpenCommand and startDetached (contents/desktop.h).
class ScriptHost {
public:
    virtual ~ScriptHost() = default;

    // Called once per error, with the table number, the source line (from 1)
    // and the ready-made UTF-8 text "%s (Line=%d)".
    virtual void ReportScriptError(int number, int line, std::string_view message) {
        (void)number, (void)line, (void)message;
    }
    // kind 1: OK and Cancel, 2: Yes and No, otherwise OK only. True when OK or
    // Yes was chosen.
    virtual bool MsgBox(std::string_view text, int kind) {
        (void)text;
        return kind != 1 && kind != 2;
    }
    // Opens a program or document with the desktop's default action. False when
    // it could not be started.
    virtual bool Execute(std::string_view program, std::string_view parameters) {
        (void)program, (void)parameters;
        return false;
    }
    // The chosen full path, or empty when cancelled.
    virtual std::string OutputFileDialog(std::string_view title, std::string_view folder) {
        (void)title, (void)folder;
        return {};
    }
    virtual std::string InputFileDialog(std::string_view title, std::string_view folder) {
        (void)title, (void)folder;
        return {};
    }
    // Three to six strings; the script receives the number returned.
    virtual std::int32_t SelectDialog(const std::vector<std::string>& items) {
        (void)items;
        return 0;
    }
    // Any arguments, each as its text (numbers in decimal); the typed answer.
    virtual std::string StrInputDialog(const std::vector<std::string>& arguments) {
        (void)arguments;
        return {};
    }
};

struct ScriptError {
    int number = 0;
    int line = 0;
};

struct ScriptToken;  // compiled form, private to the engine
struct ScriptLine;
struct CompiledExpr;
struct CompiledCall;

class ScriptEngine {
public:
    // Output beyond this many bytes in one run is refused with error 24.
    static constexpr std::size_t kDefaultOutputLimit = std::size_t{8} << 20;
    // Statement lines executed in one run before error 25.
    static constexpr std::uint64_t kDefaultStepLimit = 20'000'000;

    ScriptEngine();
    explicit ScriptEngine(ScriptHost& host);
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Compiles a Shift_JIS script. 1 when every line compiled; 0 after the first
    // error was reported (the lines before it stay compiled and can be run).
    int LoadScript(std::string_view script);

    // Runs the compiled script for one recipient. The output is replaced by
    // what the run produced (also on failure: what came before the error).
    // 1 when the script ended normally, 0 after an error or an `End` statement.
    int RunScript(std::string& output, const std::vector<ScriptVariable>& variables);

    // The last error reported by LoadScript or RunScript, if the last call
    // reported one.
    const std::optional<ScriptError>& lastError() const { return m_lastError; }

    void setOutputLimit(std::size_t bytes) { m_outputLimit = bytes; }
    void setStepLimit(std::uint64_t steps) { m_stepLimit = steps; }
    // The clock variables come from this time (local time when unset).
    void setClock(std::function<std::tm()> clock) { m_clock = std::move(clock); }

    // Compiled form, for tests and diagnostics: the tokens of each compiled
    // line as stored ("MailText", then a quote and the text, for a text line).
    std::vector<std::vector<std::string>> compiledLines() const;

private:
    class Run;
    friend class Run;
    struct RunState;  // variables, frames and scratch space kept between runs

    void report(ScriptErrorNumber number, int line);
    void buildBlockTables();

    ScriptHost* m_host;
    std::vector<ScriptToken> m_tokens;
    std::vector<ScriptLine> m_lines;
    // Expressions and statement calls read once, on their first run, by the
    // index of their first token (a call: of its name).
    std::vector<std::unique_ptr<CompiledExpr>> m_expressions;
    std::vector<std::unique_ptr<CompiledCall>> m_calls;
    std::optional<ScriptError> m_lastError;
    std::size_t m_outputLimit = kDefaultOutputLimit;
    std::uint64_t m_stepLimit = kDefaultStepLimit;
    std::function<std::tm()> m_clock;
    std::unique_ptr<RunState> m_state;
};

}  // namespace tarn::contents

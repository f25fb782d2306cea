// Compiled form of a script and the built-in functions, shared by the
// compiler, the evaluator and the tests of the text functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "contents/script.h"

namespace tarn::contents {

enum class TokenKind : std::uint8_t { Word, Number, String, Punct };

enum class Keyword : std::uint8_t {
    None,
    If,
    Then,
    Else,
    End,
    Do,
    While,
    Loop,
    Exit,
    Sub,
    Print,
    MailText,
    And,
    Or,
    MsgBox,
    Execute,
    Jump,
    UpdateDataBase,
    CloseDataBase,
};

enum class Builtin : std::uint8_t {
    None,
    Str,
    Val,
    Space,
    Tab,
    Chr,
    Trim,
    GetWord,
    Format,
    ResTitle,
    MonthName,
    WeekName,
    JweekName,
    GetDriveName,
    GetFolderName,
    GetBaseName,
    GetExtentName,
    IsExist,
    MsgBox,
    Execute,
    OutputFileDialog,
    InputFileDialog,
    SelectDialog,
    StrInputDialog,
};

struct ScriptToken {
    std::string text;   // as stored: a string token keeps its opening quote
    std::string lower;  // words: ASCII letters folded, for case-free lookups
    std::size_t lowerHash = 0;
    TokenKind kind = TokenKind::Punct;
    Keyword keyword = Keyword::None;
    Builtin builtin = Builtin::None;
    std::int32_t number = 0;  // number tokens
    char punct = 0;           // punctuation tokens
    ScriptValue literal;      // number and string tokens: their value, made once

    std::string_view stringValue() const { return std::string_view(text).substr(1); }
    bool is(char c) const { return kind == TokenKind::Punct && punct == c; }
};

inline constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

struct ScriptLine {
    int sourceLine = 0;
    std::size_t first = 0;
    std::size_t count = 0;
    // Block structure, found once after compiling by matching the lines that
    // open and close blocks (the same pairs a forward scan that counts levels
    // finds). Whether a match lies inside the range being run is decided when
    // the block is reached.
    std::size_t match = kNoLine;     // If: its End If; Do: its Loop
    std::size_t elseLine = kNoLine;  // If: its Else
    std::size_t badElse = kNoLine;   // If: first Else line at its level that is not allowed
};

// An expression in the form it runs in, read from its tokens once and kept
// with the script. The operands are listed in the order the text gives them:
// a run looks variables up and calls functions in that order, then works
// through the postfix steps. A fault found while reading the text (a
// character that is no operator, a parenthesis without its pair) is kept as
// readError and raised when the expression runs, after the operands before it,
// so that a script fails at the same point and after the same dialogs as it
// would if the text were read on every run.
enum class Op : std::uint8_t { LParen, Mul, Div, Add, Sub, Eq, Lt, Gt, Le, Ge, Ne, And, Or };

struct ExprOperand {
    enum class Kind : std::uint8_t { Literal, Variable, Call };
    Kind kind = Kind::Literal;
    std::size_t token = 0;  // the literal, the variable's name or the function's name
    std::size_t call = 0;   // Call: its index in CompiledExpr::calls
};

struct PostfixStep {
    bool isOperator = false;
    Op op = Op::LParen;
    std::size_t operand = 0;  // an operand step: its index in CompiledExpr::operands
};

struct CompiledCall;

struct CompiledExpr {
    std::size_t end = 0;  // the token after the expression
    std::vector<ExprOperand> operands;
    std::vector<CompiledCall> calls;
    std::vector<PostfixStep> postfix;
    ScriptErrorNumber readError = ScriptErrorNumber::None;
};

struct CompiledCall {
    Builtin builtin = Builtin::None;  // None: error 10 when called
    // An empty or an eleventh argument: raised before any is run.
    ScriptErrorNumber argumentError = ScriptErrorNumber::None;
    std::vector<CompiledExpr> arguments;
};

std::string decimal(std::int32_t n);
inline std::int32_t truth(bool b) {
    return b ? -1 : 0;
}

// A built-in function's value, or the error number it fails with.
struct BuiltinResult {
    ScriptValue value;
    ScriptErrorNumber error = ScriptErrorNumber::None;
};
// Checks the arguments and runs the function; the arguments may be moved from.
BuiltinResult runBuiltin(Builtin which, std::vector<ScriptValue>& args, ScriptHost& host);

// Built-in text functions (Shift_JIS in and out).
std::int32_t japaneseNumeralValue(std::string_view text);
std::string trimBlanks(std::string_view text);
std::string getWord(std::string_view text, std::int32_t index, std::string_view delimiters);
std::string formatPicture(std::int32_t number, std::string_view picture);
std::string replyTitle(std::string_view subject);

struct PathParts {
    std::string drive, folder, base, extension;
};
// Splits a path into drive ("C:"), folder (ending in its separator), base name
// and extension (with its dot). Both "\" and "/" separate folders. Each part
// is cut, never inside a double-byte character, to the size the script
// language gives it (3 bytes for the drive, 255 for the others).
PathParts splitPath(std::string_view path);

}  // namespace tarn::contents

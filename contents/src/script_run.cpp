// Running a compiled script for one recipient: blocks, statements and
// expressions. A fault ends the run through return values (the error number is
// kept in the run); the built-in functions are in script_builtins.cpp.
#include <ctime>
#include <deque>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/sjis.h"
#include "script_internal.h"

namespace tarn::contents {
namespace {

constexpr std::size_t kMaxArguments = 10;

int precedence(Op op) {
    switch (op) {
        case Op::Mul:
        case Op::Div:
            return 4;
        case Op::Add:
        case Op::Sub:
            return 3;
        case Op::And:
        case Op::Or:
            return 1;
        case Op::LParen:
            return 0;
        default:
            return 2;
    }
}

// 32-bit arithmetic with wrap-around, without signed overflow.
std::int32_t wrap(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}
std::uint32_t bits(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}

// The matching ")" of the "(" at `open`, before e; kNoLine when there is none.
std::size_t closingParen(const std::vector<ScriptToken>& tokens, std::size_t open, std::size_t e) {
    int depth = 0;
    for (std::size_t i = open; i < e; ++i) {
        if (tokens[i].is('(')) {
            ++depth;
        } else if (tokens[i].is(')') && --depth == 0) {
            return i;
        }
    }
    return kNoLine;
}

CompiledExpr compileExpr(const std::vector<ScriptToken>& tokens, std::size_t b, std::size_t e);

// A call of `name` with the arguments between b and e: split at the commas
// outside parentheses; an empty argument and an eleventh one are refused.
CompiledCall compileCall(const std::vector<ScriptToken>& tokens, const ScriptToken& name,
                         std::size_t b, std::size_t e) {
    CompiledCall c;
    c.builtin = name.builtin;
    if (c.builtin == Builtin::None || b >= e) {
        return c;
    }
    std::size_t start = b;
    int depth = 0;
    for (std::size_t i = b; i <= e; ++i) {
        if (i < e) {
            if (tokens[i].is('(')) {
                ++depth;
            } else if (tokens[i].is(')')) {
                --depth;
            }
            if (depth != 0 || !tokens[i].is(',')) {
                continue;
            }
        }
        if (i == start || c.arguments.size() == kMaxArguments) {
            c.arguments.clear();
            c.argumentError = ScriptErrorNumber::Arguments;
            return c;
        }
        c.arguments.push_back(compileExpr(tokens, start, i));
        start = i + 1;
    }
    return c;
}

// Operator precedence to postfix, once.
CompiledExpr compileExpr(const std::vector<ScriptToken>& tokens, std::size_t b, std::size_t e) {
    CompiledExpr x;
    x.end = e;
    std::vector<Op> ops;
    auto operand = [&](ExprOperand::Kind kind, std::size_t token, std::size_t call = 0) {
        x.postfix.push_back({false, Op::LParen, x.operands.size()});
        x.operands.push_back({kind, token, call});
    };
    auto operatorStep = [&](Op op) { x.postfix.push_back({true, op, 0}); };
    auto pushOperator = [&](Op op) {
        while (!ops.empty() && ops.back() != Op::LParen &&
               precedence(ops.back()) >= precedence(op)) {
            operatorStep(ops.back());
            ops.pop_back();
        }
        ops.push_back(op);
    };
    auto failed = [&](ScriptErrorNumber error) {
        x.readError = error;
        x.postfix.clear();
        return x;
    };
    for (std::size_t i = b; i < e; ++i) {
        const ScriptToken& t = tokens[i];
        switch (t.kind) {
            case TokenKind::Number:
            case TokenKind::String:
                operand(ExprOperand::Kind::Literal, i);
                break;
            case TokenKind::Word:
                if (t.keyword == Keyword::And || t.keyword == Keyword::Or) {
                    pushOperator(t.keyword == Keyword::And ? Op::And : Op::Or);
                } else if (i + 1 < e && tokens[i + 1].is('(')) {
                    const std::size_t close = closingParen(tokens, i + 1, e);
                    if (close == kNoLine) {
                        return failed(ScriptErrorNumber::NoCloseParen);
                    }
                    x.calls.push_back(compileCall(tokens, t, i + 2, close));
                    operand(ExprOperand::Kind::Call, i, x.calls.size() - 1);
                    i = close;
                } else {
                    operand(ExprOperand::Kind::Variable, i);
                }
                break;
            case TokenKind::Punct:
                switch (t.punct) {
                    case '(':
                        ops.push_back(Op::LParen);
                        break;
                    case ')':
                        while (!ops.empty() && ops.back() != Op::LParen) {
                            operatorStep(ops.back());
                            ops.pop_back();
                        }
                        if (ops.empty()) {
                            return failed(ScriptErrorNumber::NoOpenParen);
                        }
                        ops.pop_back();
                        break;
                    case '*':
                        pushOperator(Op::Mul);
                        break;
                    case '/':
                        pushOperator(Op::Div);
                        break;
                    case '+':
                        pushOperator(Op::Add);
                        break;
                    case '-':
                        pushOperator(Op::Sub);
                        break;
                    case '=':
                        pushOperator(Op::Eq);
                        break;
                    case '<':
                        if (i + 1 < e && tokens[i + 1].is('=')) {
                            ++i;
                            pushOperator(Op::Le);
                        } else if (i + 1 < e && tokens[i + 1].is('>')) {
                            ++i;
                            pushOperator(Op::Ne);
                        } else {
                            pushOperator(Op::Lt);
                        }
                        break;
                    case '>':
                        if (i + 1 < e && tokens[i + 1].is('=')) {
                            ++i;
                            pushOperator(Op::Ge);
                        } else {
                            pushOperator(Op::Gt);
                        }
                        break;
                    default:
                        return failed(ScriptErrorNumber::BadToken);
                }
                break;
        }
    }
    while (!ops.empty()) {
        if (ops.back() == Op::LParen) {
            return failed(ScriptErrorNumber::NoCloseParen);
        }
        operatorStep(ops.back());
        ops.pop_back();
    }
    return x;
}

struct Variable {
    std::string name;
    std::string lower;
    std::size_t lowerHash = 0;  // looked at before the names are compared
    ScriptValue value;
};

// An operand while an expression runs. Variables and constants are referred
// to, not copied: nothing can change them while an expression is evaluated
// (assignment happens after it).
struct Item {
    const ScriptValue* ref = nullptr;
    ScriptValue own;

    const ScriptValue& value() const { return ref != nullptr ? *ref : own; }
};

// Buffers of one nesting level of expressions (function arguments nest).
struct Scratch {
    std::vector<Item> operands;
    std::vector<Item> stack;
};

struct Frame {
    std::size_t pc;
    std::size_t end;
    std::size_t doLine;  // kNoLine for a plain range, else the loop's Do line
};

std::tm localTime() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

}  // namespace

// Kept between runs so that a send does not allocate the same tables again
// for every recipient; its contents are reset at the start of each run.
struct ScriptEngine::RunState {
    std::vector<Variable> vars;  // the first `varCount` are live
    std::size_t varCount = 0;
    std::vector<Frame> frames;
    std::deque<Scratch> scratch;  // by nesting depth; a deque keeps references valid
};

ScriptEngine::ScriptEngine(ScriptHost& host)
    : m_host(&host), m_state(std::make_unique<RunState>()) {}
ScriptEngine::~ScriptEngine() = default;

// One run: the variable table, the output and the block frames.
class ScriptEngine::Run {
public:
    static constexpr int kFailed = -1;

    Run(ScriptEngine& engine, std::string& output)
        : m_e(engine), m_out(output), m_state(*engine.m_state) {
        m_state.varCount = 0;
        m_state.frames.clear();
    }

    void setVariables(const std::vector<ScriptVariable>& callers) {
        const std::tm now = m_e.m_clock ? m_e.m_clock() : localTime();
        setVariable("True", ScriptValue::ofNumber(-1));
        setVariable("False", ScriptValue::ofNumber(0));
        setVariable("Null", ScriptValue::ofString({}));
        setVariable("Yar", ScriptValue::ofNumber(now.tm_year + 1900));
        setVariable("Month", ScriptValue::ofNumber(now.tm_mon + 1));
        setVariable("Day", ScriptValue::ofNumber(now.tm_mday));
        setVariable("Week", ScriptValue::ofNumber(now.tm_wday));
        setVariable("Hour", ScriptValue::ofNumber(now.tm_hour));
        setVariable("Minute", ScriptValue::ofNumber(now.tm_min));
        for (const auto& v : callers) {
            setVariable(v.name, v.value);
        }
    }

    // 1 for a normal end, 0 for `End`, kFailed after an error (see error()).
    int execute();

    ScriptErrorNumber error() const { return m_error; }
    int currentLine() const { return m_line; }

private:
    enum class Outcome { Next, ExitSub, ExitDo, Stop, Failed };

    const ScriptToken& tok(std::size_t i) const { return m_e.m_tokens[i]; }

    // Appends a variable to the table, reusing the slot (and its storage) of
    // the previous run when there is one.
    void setVariable(std::string_view name, const ScriptValue& value,
                     const ScriptToken* token = nullptr) {
        auto& vars = m_state.vars;
        if (m_state.varCount == vars.size()) {
            vars.emplace_back();
        }
        Variable& v = vars[m_state.varCount++];
        if (v.name != name) {
            v.name.assign(name);
            v.lower = token != nullptr ? token->lower : sjis::asciiLower(name);
            v.lowerHash = token != nullptr ? token->lowerHash : std::hash<std::string>{}(v.lower);
        }
        v.value.type = value.type;
        v.value.number = value.number;
        v.value.text.assign(value.text);
    }
    Variable* findVariable(const ScriptToken& word) {
        for (std::size_t i = 0; i < m_state.varCount; ++i) {
            if (m_state.vars[i].lowerHash == word.lowerHash &&
                m_state.vars[i].lower == word.lower) {
                return &m_state.vars[i];
            }
        }
        return nullptr;
    }

    // Records the error that ends the run; false, for `return fail(...)`.
    bool fail(ScriptErrorNumber number) {
        m_error = number;
        return false;
    }
    int failedRun(ScriptErrorNumber number) {
        m_error = number;
        return kFailed;
    }
    Outcome failed(ScriptErrorNumber number) {
        m_error = number;
        return Outcome::Failed;
    }

    bool append(std::string_view bytes) {
        if (m_out.size() + bytes.size() > m_e.m_outputLimit) {
            return fail(ScriptErrorNumber::OutputTooLarge);
        }
        m_out.append(bytes);
        return true;
    }

    bool countStep() {
        return ++m_steps <= m_e.m_stepLimit || fail(ScriptErrorNumber::TooManySteps);
    }

    // The condition between b and e; false when it could not be evaluated.
    bool condition(std::size_t b, std::size_t e, bool& holds) {
        ScriptValue v;
        if (!evaluate(b, e, v)) {
            return false;
        }
        if (!v.isNumber()) {
            return fail(ScriptErrorNumber::BadCondition);
        }
        holds = v.number != 0;
        return true;
    }

    const CompiledExpr& expression(std::size_t b, std::size_t e);
    const CompiledCall& statementCall(std::size_t name, std::size_t b, std::size_t e);

    Outcome statement(const ScriptLine& line);
    bool print(std::size_t b, std::size_t e, bool lineEnd);
    bool mailText(std::size_t b, std::size_t e);
    bool evaluate(std::size_t b, std::size_t e, ScriptValue& result) {
        return run(expression(b, e), result);
    }
    bool run(const CompiledExpr& x, ScriptValue& result);
    bool operate(Op op, Item& lhsItem, const ScriptValue& rhs);
    bool call(const CompiledCall& c, ScriptValue& result);

    ScriptEngine& m_e;
    std::string& m_out;
    RunState& m_state;
    std::vector<Frame>& m_frames = m_state.frames;
    std::size_t m_depth = 0;
    std::uint64_t m_steps = 0;
    int m_line = 0;
    ScriptErrorNumber m_error = ScriptErrorNumber::None;
};

// The expression between b and e, read on its first run.
const CompiledExpr& ScriptEngine::Run::expression(std::size_t b, std::size_t e) {
    auto& cache = m_e.m_expressions;
    if (cache.size() <= b) {
        cache.resize(m_e.m_tokens.size() + 1);
    }
    auto& slot = cache[b];
    if (!slot || slot->end != e) {
        slot = std::make_unique<CompiledExpr>(compileExpr(m_e.m_tokens, b, e));
    }
    return *slot;
}

// The call of a statement ("MsgBox ..." or "name(...)"), read on its first run.
const CompiledCall& ScriptEngine::Run::statementCall(std::size_t name, std::size_t b,
                                                     std::size_t e) {
    auto& cache = m_e.m_calls;
    if (cache.size() <= name) {
        cache.resize(m_e.m_tokens.size());
    }
    auto& slot = cache[name];
    if (!slot) {
        slot = std::make_unique<CompiledCall>(compileCall(m_e.m_tokens, tok(name), b, e));
    }
    return *slot;
}

int ScriptEngine::Run::execute() {
    const auto& lines = m_e.m_lines;
    m_frames.push_back({0, lines.size(), kNoLine});
    while (!m_frames.empty()) {
        Frame& f = m_frames.back();
        if (f.pc >= f.end) {
            if (f.doLine == kNoLine) {
                m_frames.pop_back();
                continue;
            }
            // End of a loop body: test the Do line's condition again.
            if (!countStep()) {
                return kFailed;
            }
            const ScriptLine& head = lines[f.doLine];
            m_line = head.sourceLine;
            bool again = false;
            if (!condition(head.first + 2, head.first + head.count, again)) {
                return kFailed;
            }
            if (again) {
                f.pc = f.doLine + 1;
            } else {
                m_frames.pop_back();
            }
            continue;
        }
        if (!countStep()) {
            return kFailed;
        }
        const std::size_t at = f.pc;
        const ScriptLine& line = lines[at];
        m_line = line.sourceLine;
        const ScriptToken& head = tok(line.first);
        const std::size_t end = line.first + line.count;
        if (head.keyword == Keyword::Do) {
            if (line.count < 3 || tok(line.first + 1).keyword != Keyword::While) {
                return failedRun(ScriptErrorNumber::Syntax);
            }
            if (line.match == kNoLine || line.match >= f.end) {
                return failedRun(ScriptErrorNumber::NoLoop);
            }
            f.pc = line.match + 1;
            const std::size_t bodyEnd = line.match;
            bool enter = false;
            if (!condition(line.first + 2, end, enter)) {
                return kFailed;
            }
            if (enter) {
                m_frames.push_back({at + 1, bodyEnd, at});
            }
            continue;
        }
        if (head.keyword == Keyword::If) {
            if (line.count < 3 || tok(end - 1).keyword != Keyword::Then) {
                return failedRun(ScriptErrorNumber::Syntax);
            }
            if (line.badElse != kNoLine && line.badElse < f.end) {
                m_line = lines[line.badElse].sourceLine;
                return failedRun(ScriptErrorNumber::Syntax);
            }
            if (line.match == kNoLine || line.match >= f.end) {
                return failedRun(ScriptErrorNumber::NoEndIf);
            }
            f.pc = line.match + 1;
            const std::size_t match = line.match;
            const std::size_t elseLine = line.elseLine;
            bool holds = false;
            if (!condition(line.first + 1, end - 1, holds)) {
                return kFailed;
            }
            if (holds) {
                m_frames.push_back({at + 1, elseLine != kNoLine ? elseLine : match, kNoLine});
            } else if (elseLine != kNoLine) {
                m_frames.push_back({elseLine + 1, match, kNoLine});
            }
            continue;
        }
        ++f.pc;
        switch (statement(line)) {
            case Outcome::Next:
                break;
            case Outcome::ExitSub:
                return 1;
            case Outcome::Stop:
                return 0;
            case Outcome::Failed:
                return kFailed;
            case Outcome::ExitDo: {
                bool leftLoop = false;
                while (!m_frames.empty() && !leftLoop) {
                    leftLoop = m_frames.back().doLine != kNoLine;
                    m_frames.pop_back();
                }
                if (!leftLoop) {
                    return 1;  // an Exit Do outside any loop ends the script normally
                }
                break;
            }
        }
    }
    return 1;
}

ScriptEngine::Run::Outcome ScriptEngine::Run::statement(const ScriptLine& line) {
    const std::size_t b = line.first;
    const std::size_t e = b + line.count;
    const ScriptToken& head = tok(b);
    if (head.kind != TokenKind::Word || head.text[0] == '_' || head.keyword == Keyword::And ||
        head.keyword == Keyword::Or) {
        return failed(ScriptErrorNumber::Syntax);
    }
    if (line.count == 1) {
        if (head.keyword == Keyword::End) {
            return Outcome::Stop;
        }
        if (head.keyword == Keyword::Print) {
            return append("\r\n") ? Outcome::Next : Outcome::Failed;
        }
        return failed(ScriptErrorNumber::Syntax);
    }
    const ScriptToken& second = tok(b + 1);
    if (line.count == 2 && head.keyword == Keyword::Exit) {
        if (second.keyword == Keyword::Sub) {
            return Outcome::ExitSub;
        }
        if (second.keyword == Keyword::Do) {
            return Outcome::ExitDo;
        }
    }
    auto done = [](bool ok) { return ok ? Outcome::Next : Outcome::Failed; };
    ScriptValue ignored;
    if (second.is('(')) {
        const std::size_t close = closingParen(m_e.m_tokens, b + 1, e);
        if (close == kNoLine) {
            return failed(ScriptErrorNumber::NoCloseParen);
        }
        if (close != e - 1) {
            return failed(ScriptErrorNumber::Syntax);
        }
        return done(call(statementCall(b, b + 2, close), ignored));
    }
    if (!second.is('=')) {
        switch (head.keyword) {
            case Keyword::Print:
                return done(print(b + 1, e, !tok(e - 1).is(';')));
            case Keyword::MailText:
                return done(mailText(b + 1, e));
            case Keyword::MsgBox:
            case Keyword::Execute:
                return done(call(statementCall(b, b + 1, e), ignored));
            case Keyword::Jump:
            case Keyword::UpdateDataBase:
            case Keyword::CloseDataBase:
                return failed(ScriptErrorNumber::Undefined);
            default:
                return failed(ScriptErrorNumber::Syntax);
        }
    }
    if (line.count < 3) {
        return failed(ScriptErrorNumber::Syntax);
    }
    ScriptValue value;
    if (!evaluate(b + 2, e, value)) {
        return Outcome::Failed;
    }
    if (Variable* v = findVariable(head)) {
        v->name = head.text;
        v->value = std::move(value);
    } else {
        setVariable(head.text, value, &head);
    }
    return Outcome::Next;
}

bool ScriptEngine::Run::print(std::size_t b, std::size_t e, bool lineEnd) {
    // A final ";" only keeps the line open; it does not start an empty item.
    const std::size_t itemsEnd = lineEnd ? e : e - 1;
    std::size_t start = b;
    int depth = 0;
    for (std::size_t i = b; i <= itemsEnd; ++i) {
        if (i < itemsEnd) {
            const ScriptToken& t = tok(i);
            if (t.is('(')) {
                ++depth;
            } else if (t.is(')')) {
                --depth;
            }
            if (depth > 0 || !(t.is(';') || t.is(','))) {
                continue;
            }
        } else if (depth > 0) {
            return fail(ScriptErrorNumber::NoCloseParen);
        }
        if (i == start) {
            return fail(ScriptErrorNumber::OperatorPosition);  // an empty item
        }
        ScriptValue v;
        if (!evaluate(start, i, v) || !append(v.isNumber() ? std::string_view(decimal(v.number))
                                                           : std::string_view(v.text))) {
            return false;
        }
        start = i + 1;
    }
    return !lineEnd || append("\r\n");
}

bool ScriptEngine::Run::mailText(std::size_t b, std::size_t e) {
    if (e - b != 1 || tok(b).kind != TokenKind::String) {
        return fail(ScriptErrorNumber::Syntax);
    }
    const std::string_view text = tok(b).stringValue();
    std::size_t copied = 0;  // text before this position is already in the output
    for (std::size_t i = 0; i < text.size(); i += sjis::charLength(text, i)) {
        if (text[i] != '&' || i + 1 >= text.size() || text[i + 1] != '[') {
            continue;
        }
        const std::string_view rest = text.substr(i + 2);
        for (std::size_t k = 0; k < m_state.varCount; ++k) {
            const Variable& v = m_state.vars[k];
            const std::size_t n = v.name.size();
            if (rest.size() <= n || rest[n] != ']' ||
                !sjis::equalsIgnoreCase(rest.substr(0, n), v.name)) {
                continue;
            }
            if (v.value.isNumber()) {
                return fail(ScriptErrorNumber::TypeMismatch);
            }
            if (!append(text.substr(copied, i - copied)) || !append(v.value.text)) {
                return false;
            }
            copied = i + 2 + n + 1;
            i = copied - 1;  // the loop steps one byte on ("]" is a single byte)
            break;
        }
    }
    return append(text.substr(copied)) && append("\r\n");
}

bool ScriptEngine::Run::run(const CompiledExpr& x, ScriptValue& result) {
    if (m_depth == m_state.scratch.size()) {
        m_state.scratch.emplace_back();
    }
    Scratch& scratch = m_state.scratch[m_depth];
    struct DepthGuard {
        std::size_t& depth;
        ~DepthGuard() { --depth; }
    } guard{++m_depth};

    // The operands, in the order the text gives them.
    std::vector<Item>& operands = scratch.operands;
    if (operands.size() < x.operands.size()) {
        operands.resize(x.operands.size());
    }
    for (std::size_t k = 0; k < x.operands.size(); ++k) {
        const ExprOperand& o = x.operands[k];
        Item& item = operands[k];
        switch (o.kind) {
            case ExprOperand::Kind::Literal:
                item.ref = &tok(o.token).literal;
                break;
            case ExprOperand::Kind::Variable: {
                const Variable* v = findVariable(tok(o.token));
                if (v == nullptr) {
                    return fail(ScriptErrorNumber::Undefined);
                }
                item.ref = &v->value;
                break;
            }
            case ExprOperand::Kind::Call:
                item.ref = nullptr;
                if (!call(x.calls[o.call], item.own)) {
                    return false;
                }
                break;
        }
    }
    if (x.readError != ScriptErrorNumber::None) {
        return fail(x.readError);
    }

    std::vector<Item>& stack = scratch.stack;
    stack.clear();
    for (const PostfixStep& step : x.postfix) {
        if (!step.isOperator) {
            stack.push_back(std::move(operands[step.operand]));
            continue;
        }
        if (stack.size() < 2) {
            return fail(ScriptErrorNumber::OperatorPosition);
        }
        if (!operate(step.op, stack[stack.size() - 2], stack.back().value())) {
            return false;
        }
        stack.pop_back();
    }
    if (stack.size() != 1) {
        return fail(ScriptErrorNumber::OperatorPosition);
    }
    Item& last = stack.back();
    if (last.ref != nullptr) {
        result = *last.ref;
    } else {
        result = std::move(last.own);
    }
    return true;
}

// lhs op rhs, into the left-hand item.
bool ScriptEngine::Run::operate(Op op, Item& lhsItem, const ScriptValue& rhs) {
    const ScriptValue& lhs = lhsItem.value();
    if (lhs.type != rhs.type) {
        return fail(ScriptErrorNumber::TypeMismatch);
    }
    const bool numbers = lhs.isNumber();
    int order = 0;  // comparisons
    if (numbers) {
        order = lhs.number < rhs.number ? -1 : lhs.number > rhs.number ? 1 : 0;
    } else {
        const int c = lhs.text.compare(rhs.text);
        order = c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    std::int32_t result = 0;
    switch (op) {
        case Op::Eq:
            result = truth(order == 0);
            break;
        case Op::Ne:
            result = truth(order != 0);
            break;
        case Op::Lt:
            result = truth(order < 0);
            break;
        case Op::Gt:
            result = truth(order > 0);
            break;
        case Op::Le:
            result = truth(order <= 0);
            break;
        case Op::Ge:
            result = truth(order >= 0);
            break;
        case Op::Add:
            if (!numbers) {
                if (lhsItem.ref != nullptr) {
                    lhsItem.own = *lhsItem.ref;
                    lhsItem.ref = nullptr;
                }
                lhsItem.own.text += rhs.text;
                return true;
            }
            result = wrap(bits(lhs.number) + bits(rhs.number));
            break;
        default:
            if (!numbers) {
                return fail(ScriptErrorNumber::StringOperator);
            }
            switch (op) {
                case Op::Sub:
                    result = wrap(bits(lhs.number) - bits(rhs.number));
                    break;
                case Op::Mul:
                    result = wrap(bits(lhs.number) * bits(rhs.number));
                    break;
                case Op::Div:
                    if (rhs.number == 0) {
                        return fail(ScriptErrorNumber::DivideByZero);
                    }
                    // The one quotient that does not fit wraps like the rest.
                    result =
                        rhs.number == -1 ? wrap(0U - bits(lhs.number)) : lhs.number / rhs.number;
                    break;
                case Op::And:
                    result = wrap(bits(lhs.number) & bits(rhs.number));
                    break;
                default:  // Or
                    result = wrap(bits(lhs.number) | bits(rhs.number));
                    break;
            }
    }
    lhsItem.ref = nullptr;
    lhsItem.own.type = ScriptValueType::Number;
    lhsItem.own.number = result;
    return true;
}

bool ScriptEngine::Run::call(const CompiledCall& c, ScriptValue& result) {
    if (c.builtin == Builtin::None) {
        return fail(ScriptErrorNumber::Undefined);
    }
    if (c.argumentError != ScriptErrorNumber::None) {
        return fail(c.argumentError);
    }
    std::vector<ScriptValue> args(c.arguments.size());
    for (std::size_t k = 0; k < args.size(); ++k) {
        if (!run(c.arguments[k], args[k])) {
            return false;
        }
    }
    BuiltinResult r = runBuiltin(c.builtin, args, *m_e.m_host);
    if (r.error != ScriptErrorNumber::None) {
        return fail(r.error);
    }
    result = std::move(r.value);
    return true;
}

int ScriptEngine::RunScript(std::string& output, const std::vector<ScriptVariable>& variables) {
    output.clear();
    m_lastError.reset();
    Run run(*this, output);
    try {
        run.setVariables(variables);
        const int end = run.execute();
        if (end != Run::kFailed) {
            return end;
        }
        report(run.error(), run.currentLine());
    } catch (const std::bad_alloc&) {
        report(ScriptErrorNumber::OutputTooLarge, run.currentLine());
    }
    return 0;
}

}  // namespace tarn::contents

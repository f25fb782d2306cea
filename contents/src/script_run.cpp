// Running a compiled script for one recipient: blocks, statements,
// expressions and the built-in functions.
#include <charconv>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cp932.h"
#include "common/sjis.h"
#include "script_internal.h"

namespace tarn::contents {
namespace {

// Raised inside a run and caught by RunScript, which reports it once.
struct ScriptFailure {
    int number;
};

[[noreturn]] void fail(int number) {
    throw ScriptFailure{number};
}

constexpr std::size_t kMaxArguments = 10;

enum class Op : std::uint8_t { LParen, Mul, Div, Add, Sub, Eq, Lt, Gt, Le, Ge, Ne, And, Or };

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

std::string decimal(std::int32_t n) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    return {buf, r.ptr};
}

std::int32_t truth(bool b) {
    return b ? -1 : 0;
}

constexpr std::string_view kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view kWeekNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kJapaneseWeekNames[] = {
    "\x93\xfa",  // 日
    "\x8c\x8e",  // 月
    "\x89\xce",  // 火
    "\x90\x85",  // 水
    "\x96\xd8",  // 木
    "\x8b\xe0",  // 金
    "\x93\x79",  // 土
};
constexpr std::string_view kDefaultWordDelimiters = " \x81\x40,";  // space, "　", comma

struct Variable {
    std::string name;
    std::string lower;
    std::size_t lowerHash = 0;  // looked at before the names are compared
    ScriptValue value;
};

// An operand or operator of the postfix sequence. Operands that are variables
// or constants are referred to, not copied: nothing can change them while an
// expression is evaluated (assignment happens after it).
struct Item {
    bool isOp = false;
    Op op = Op::LParen;
    const ScriptValue* ref = nullptr;
    ScriptValue own;

    const ScriptValue& value() const { return ref != nullptr ? *ref : own; }
};

// Buffers of one nesting level of expressions (function arguments nest).
struct Scratch {
    std::vector<Item> postfix;
    std::vector<Op> ops;
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

    // Returns 1 for a normal end, 0 for `End`; throws ScriptFailure.
    int execute();

    int currentLine() const { return m_line; }

private:
    enum class Outcome { Next, ExitSub, ExitDo, Stop };

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

    void append(std::string_view bytes) {
        if (m_out.size() + bytes.size() > m_e.m_outputLimit) {
            fail(kErrOutputTooLarge);
        }
        m_out.append(bytes);
    }

    void countStep() {
        if (++m_steps > m_e.m_stepLimit) {
            fail(kErrTooManySteps);
        }
    }

    bool condition(std::size_t b, std::size_t e) {
        const ScriptValue v = evaluate(b, e);
        if (!v.isNumber()) {
            fail(kErrBadCondition);
        }
        return v.number != 0;
    }

    Outcome statement(const ScriptLine& line);
    void print(std::size_t b, std::size_t e, bool lineEnd);
    void mailText(std::size_t b, std::size_t e);
    std::size_t closingParen(std::size_t open, std::size_t e) const;
    ScriptValue evaluate(std::size_t b, std::size_t e);
    ScriptValue call(const ScriptToken& name, std::size_t b, std::size_t e);
    ScriptValue callBuiltin(Builtin which, std::vector<ScriptValue>& args);

    ScriptEngine& m_e;
    std::string& m_out;
    RunState& m_state;
    std::vector<Frame>& m_frames = m_state.frames;
    std::size_t m_depth = 0;
    std::uint64_t m_steps = 0;
    int m_line = 0;
};

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
            countStep();
            const ScriptLine& head = lines[f.doLine];
            m_line = head.sourceLine;
            if (condition(head.first + 2, head.first + head.count)) {
                f.pc = f.doLine + 1;
            } else {
                m_frames.pop_back();
            }
            continue;
        }
        countStep();
        const std::size_t at = f.pc;
        const ScriptLine& line = lines[at];
        m_line = line.sourceLine;
        const ScriptToken& head = tok(line.first);
        const std::size_t end = line.first + line.count;
        if (head.keyword == Keyword::Do) {
            if (line.count < 3 || tok(line.first + 1).keyword != Keyword::While) {
                fail(kErrSyntax);
            }
            if (line.match == kNoLine || line.match >= f.end) {
                fail(kErrNoLoop);
            }
            f.pc = line.match + 1;
            const std::size_t bodyEnd = line.match;
            if (condition(line.first + 2, end)) {
                m_frames.push_back({at + 1, bodyEnd, at});
            }
            continue;
        }
        if (head.keyword == Keyword::If) {
            if (line.count < 3 || tok(end - 1).keyword != Keyword::Then) {
                fail(kErrSyntax);
            }
            if (line.badElse != kNoLine && line.badElse < f.end) {
                m_line = lines[line.badElse].sourceLine;
                fail(kErrSyntax);
            }
            if (line.match == kNoLine || line.match >= f.end) {
                fail(kErrNoEndIf);
            }
            f.pc = line.match + 1;
            const std::size_t match = line.match;
            const std::size_t elseLine = line.elseLine;
            if (condition(line.first + 1, end - 1)) {
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
        fail(kErrSyntax);
    }
    if (line.count == 1) {
        if (head.keyword == Keyword::End) {
            return Outcome::Stop;
        }
        if (head.keyword == Keyword::Print) {
            append("\r\n");
            return Outcome::Next;
        }
        fail(kErrSyntax);
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
    if (second.is('(')) {
        const std::size_t close = closingParen(b + 1, e);
        if (close != e - 1) {
            fail(kErrSyntax);
        }
        (void)call(head, b + 2, close);
        return Outcome::Next;
    }
    if (!second.is('=')) {
        switch (head.keyword) {
            case Keyword::Print:
                print(b + 1, e, !tok(e - 1).is(';'));
                return Outcome::Next;
            case Keyword::MailText:
                mailText(b + 1, e);
                return Outcome::Next;
            case Keyword::MsgBox:
            case Keyword::Execute:
                (void)call(head, b + 1, e);
                return Outcome::Next;
            case Keyword::Jump:
            case Keyword::UpdateDataBase:
            case Keyword::CloseDataBase:
                fail(kErrUndefined);
            default:
                fail(kErrSyntax);
        }
    }
    if (line.count < 3) {
        fail(kErrSyntax);
    }
    ScriptValue value = evaluate(b + 2, e);
    if (Variable* v = findVariable(head)) {
        v->name = head.text;
        v->value = std::move(value);
    } else {
        setVariable(head.text, value, &head);
    }
    return Outcome::Next;
}

// The matching ")" of the "(" at `open`, before e; error 9 when there is none.
std::size_t ScriptEngine::Run::closingParen(std::size_t open, std::size_t e) const {
    int depth = 0;
    for (std::size_t i = open; i < e; ++i) {
        if (tok(i).is('(')) {
            ++depth;
        } else if (tok(i).is(')') && --depth == 0) {
            return i;
        }
    }
    fail(kErrNoCloseParen);
}

void ScriptEngine::Run::print(std::size_t b, std::size_t e, bool lineEnd) {
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
            fail(kErrNoCloseParen);
        }
        if (i == start) {
            fail(kErrOperatorPosition);  // an empty item
        }
        const ScriptValue v = evaluate(start, i);
        append(v.isNumber() ? std::string_view(decimal(v.number)) : std::string_view(v.text));
        start = i + 1;
    }
    if (lineEnd) {
        append("\r\n");
    }
}

void ScriptEngine::Run::mailText(std::size_t b, std::size_t e) {
    if (e - b != 1 || tok(b).kind != TokenKind::String) {
        fail(kErrSyntax);
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
                fail(kErrTypeMismatch);
            }
            append(text.substr(copied, i - copied));
            append(v.value.text);
            copied = i + 2 + n + 1;
            i = copied - 1;  // the loop steps one byte on ("]" is a single byte)
            break;
        }
    }
    append(text.substr(copied));
    append("\r\n");
}

ScriptValue ScriptEngine::Run::evaluate(std::size_t b, std::size_t e) {
    // Operator precedence to postfix; operands (variables, function results)
    // are read as they are met, then the postfix sequence is evaluated.
    if (m_depth == m_state.scratch.size()) {
        m_state.scratch.emplace_back();
    }
    Scratch& scratch = m_state.scratch[m_depth];
    struct DepthGuard {
        std::size_t& depth;
        ~DepthGuard() { --depth; }
    } guard{++m_depth};
    std::vector<Item>& postfix = scratch.postfix;
    std::vector<Op>& ops = scratch.ops;
    postfix.clear();
    ops.clear();
    auto operand = [&](const ScriptValue* ref) {
        postfix.emplace_back();
        postfix.back().ref = ref;
        return &postfix.back();
    };
    auto operatorItem = [&](Op op) {
        postfix.emplace_back();
        postfix.back().isOp = true;
        postfix.back().op = op;
    };
    auto pushOperator = [&](Op op) {
        while (!ops.empty() && ops.back() != Op::LParen &&
               precedence(ops.back()) >= precedence(op)) {
            operatorItem(ops.back());
            ops.pop_back();
        }
        ops.push_back(op);
    };
    for (std::size_t i = b; i < e; ++i) {
        const ScriptToken& t = tok(i);
        switch (t.kind) {
            case TokenKind::Number:
            case TokenKind::String:
                operand(&t.literal);
                break;
            case TokenKind::Word:
                if (t.keyword == Keyword::And || t.keyword == Keyword::Or) {
                    pushOperator(t.keyword == Keyword::And ? Op::And : Op::Or);
                } else if (i + 1 < e && tok(i + 1).is('(')) {
                    const std::size_t close = closingParen(i + 1, e);
                    ScriptValue result = call(t, i + 2, close);
                    operand(nullptr)->own = std::move(result);
                    i = close;
                } else if (const Variable* v = findVariable(t)) {
                    operand(&v->value);
                } else {
                    fail(kErrUndefined);
                }
                break;
            case TokenKind::Punct:
                switch (t.punct) {
                    case '(':
                        ops.push_back(Op::LParen);
                        break;
                    case ')':
                        while (!ops.empty() && ops.back() != Op::LParen) {
                            operatorItem(ops.back());
                            ops.pop_back();
                        }
                        if (ops.empty()) {
                            fail(kErrNoOpenParen);
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
                        if (i + 1 < e && tok(i + 1).is('=')) {
                            ++i;
                            pushOperator(Op::Le);
                        } else if (i + 1 < e && tok(i + 1).is('>')) {
                            ++i;
                            pushOperator(Op::Ne);
                        } else {
                            pushOperator(Op::Lt);
                        }
                        break;
                    case '>':
                        if (i + 1 < e && tok(i + 1).is('=')) {
                            ++i;
                            pushOperator(Op::Ge);
                        } else {
                            pushOperator(Op::Gt);
                        }
                        break;
                    default:
                        fail(kErrBadToken);
                }
                break;
        }
    }
    while (!ops.empty()) {
        if (ops.back() == Op::LParen) {
            fail(kErrNoCloseParen);
        }
        operatorItem(ops.back());
        ops.pop_back();
    }

    std::vector<Item>& stack = scratch.stack;
    stack.clear();
    for (auto& item : postfix) {
        if (!item.isOp) {
            stack.push_back(std::move(item));
            continue;
        }
        if (stack.size() < 2) {
            fail(kErrOperatorPosition);
        }
        Item& lhsItem = stack[stack.size() - 2];
        const ScriptValue& lhs = lhsItem.value();
        const ScriptValue& rhs = stack.back().value();
        if (lhs.type != rhs.type) {
            fail(kErrTypeMismatch);
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
        switch (item.op) {
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
                    stack.pop_back();
                    continue;
                }
                result = wrap(bits(lhs.number) + bits(rhs.number));
                break;
            default:
                if (!numbers) {
                    fail(kErrStringOperator);
                }
                switch (item.op) {
                    case Op::Sub:
                        result = wrap(bits(lhs.number) - bits(rhs.number));
                        break;
                    case Op::Mul:
                        result = wrap(bits(lhs.number) * bits(rhs.number));
                        break;
                    case Op::Div:
                        if (rhs.number == 0) {
                            fail(kErrDivideByZero);
                        }
                        // The one quotient that does not fit wraps like the rest.
                        result = rhs.number == -1 ? wrap(0U - bits(lhs.number))
                                                  : lhs.number / rhs.number;
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
        stack.pop_back();
    }
    if (stack.size() != 1) {
        fail(kErrOperatorPosition);
    }
    Item& last = stack.back();
    if (last.ref != nullptr) {
        return *last.ref;
    }
    return std::move(last.own);
}

ScriptValue ScriptEngine::Run::call(const ScriptToken& name, std::size_t b, std::size_t e) {
    if (name.builtin == Builtin::None) {
        fail(kErrUndefined);
    }
    // Arguments: split at top-level commas; an empty argument is refused, and
    // so is an eleventh one, before anything is evaluated.
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    if (b < e) {
        std::size_t start = b;
        int depth = 0;
        for (std::size_t i = b; i <= e; ++i) {
            if (i < e) {
                if (tok(i).is('(')) {
                    ++depth;
                } else if (tok(i).is(')')) {
                    --depth;
                }
                if (depth != 0 || !tok(i).is(',')) {
                    continue;
                }
            }
            if (i == start || ranges.size() == kMaxArguments) {
                fail(kErrArguments);
            }
            ranges.emplace_back(start, i);
            start = i + 1;
        }
    }
    std::vector<ScriptValue> args;
    args.reserve(ranges.size());
    for (const auto& [from, to] : ranges) {
        args.push_back(evaluate(from, to));
    }
    return callBuiltin(name.builtin, args);
}

ScriptValue ScriptEngine::Run::callBuiltin(Builtin which, std::vector<ScriptValue>& args) {
    const std::size_t n = args.size();
    auto isNum = [&](std::size_t k) { return k < n && args[k].isNumber(); };
    auto isStr = [&](std::size_t k) { return k < n && !args[k].isNumber(); };
    auto need = [&](bool ok) {
        if (!ok) {
            fail(kErrArguments);
        }
    };
    auto numberIn = [&](std::int32_t lo, std::int32_t hi) {
        need(n == 1 && isNum(0) && args[0].number >= lo && args[0].number <= hi);
        return args[0].number;
    };
    auto oneString = [&]() -> std::string& {
        need(n == 1 && isStr(0));
        return args[0].text;
    };
    auto str = [](std::string s) { return ScriptValue::ofString(std::move(s)); };
    auto num = [](std::int32_t v) { return ScriptValue::ofNumber(v); };
    auto dialogText = [&](std::size_t k) {
        return isStr(k) ? std::string_view(args[k].text) : std::string_view();
    };
    ScriptHost& host = *m_e.m_host;

    switch (which) {
        case Builtin::Str:
            need(n == 1 && isNum(0));
            return str(decimal(args[0].number));
        case Builtin::Val:
            return num(japaneseNumeralValue(oneString()));
        case Builtin::Space:
            return str(std::string(static_cast<std::size_t>(numberIn(1, 255)), ' '));
        case Builtin::Tab:
            return str(std::string(static_cast<std::size_t>(numberIn(1, 255)), '\t'));
        case Builtin::Chr: {
            const std::int32_t c = numberIn(0, 255);
            return str(c == 0 ? std::string() : std::string(1, static_cast<char>(c)));
        }
        case Builtin::Trim:
            return str(trimBlanks(oneString()));
        case Builtin::GetWord:
            need((n == 2 || n == 3) && isStr(0) && isNum(1) && (n == 2 || isStr(2)));
            need(n == 2 || !args[2].text.empty());
            return str(getWord(args[0].text, args[1].number,
                               n == 3 ? std::string_view(args[2].text) : kDefaultWordDelimiters));
        case Builtin::Format:
            need(n == 2 && isNum(0) && isStr(1));
            return str(formatPicture(args[0].number, args[1].text));
        case Builtin::ResTitle:
            return str(replyTitle(oneString()));
        case Builtin::MonthName:
            return str(std::string(kMonthNames[numberIn(1, 12) - 1]));
        case Builtin::WeekName:
            return str(std::string(kWeekNames[numberIn(0, 6)]));
        case Builtin::JweekName:
            return str(std::string(kJapaneseWeekNames[numberIn(0, 6)]));
        case Builtin::GetDriveName:
            return str(splitPath(oneString()).drive);
        case Builtin::GetFolderName:
            return str(splitPath(oneString()).folder);
        case Builtin::GetBaseName:
            return str(splitPath(oneString()).base);
        case Builtin::GetExtentName:
            return str(splitPath(oneString()).extension);
        case Builtin::IsExist: {
            const std::string& path = oneString();
            // Script text is Shift_JIS; the file system's names are UTF-8.
            auto utf8 = cp932::toUtf8(path);
            std::error_code ec;
            return num(truth(!path.empty() && utf8.ok() &&
                             std::filesystem::exists(std::filesystem::path(*utf8), ec)));
        }
        case Builtin::MsgBox:
            need((n == 1 || n == 2) && isStr(0) && (n == 1 || isNum(1)));
            return num(truth(host.MsgBox(args[0].text, n == 2 ? args[1].number : 0)));
        case Builtin::Execute:
            need((n == 1 || n == 2) && isStr(0) && (n == 1 || isStr(1)));
            if (!host.Execute(args[0].text, n == 2 ? std::string_view(args[1].text) : "")) {
                fail(kErrExecuteFailed);
            }
            return num(-1);
        case Builtin::OutputFileDialog:
            need(n <= 2);
            return str(host.OutputFileDialog(dialogText(0), dialogText(1)));
        case Builtin::InputFileDialog:
            need(n <= 2);
            return str(host.InputFileDialog(dialogText(0), dialogText(1)));
        case Builtin::SelectDialog: {
            need(n >= 3 && n <= 6);
            std::vector<std::string> items;
            for (std::size_t k = 0; k < n; ++k) {
                need(isStr(k));
                items.push_back(args[k].text);
            }
            return num(host.SelectDialog(items));
        }
        case Builtin::StrInputDialog: {
            std::vector<std::string> texts;
            texts.reserve(n);
            for (const auto& a : args) {
                texts.push_back(a.isNumber() ? decimal(a.number) : a.text);
            }
            return str(host.StrInputDialog(texts));
        }
        case Builtin::None:
            break;
    }
    fail(kErrUndefined);
}

int ScriptEngine::RunScript(std::string& output, const std::vector<ScriptVariable>& variables) {
    output.clear();
    m_lastError.reset();
    Run run(*this, output);
    try {
        run.setVariables(variables);
        return run.execute();
    } catch (const ScriptFailure& failure) {
        report(failure.number, run.currentLine());
    } catch (const std::bad_alloc&) {
        report(kErrOutputTooLarge, run.currentLine());
    }
    return 0;
}

}  // namespace tarn::contents

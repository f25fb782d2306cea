// Compiling a script: line splitting, line kinds, the tokenizer and the
// block tables.
#include <charconv>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "common/sjis.h"
#include "script_internal.h"

namespace tarn::contents {
namespace {

constexpr std::size_t kMaxStatementBytes = 256;  // counting the "#"
constexpr std::size_t kMaxTokens = 100;

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isWordStart(unsigned char c) {
    return isLetter(c) || c == '&' || c == '[' || c == ']' || c == '_' || sjis::isLeadByte(c);
}
bool isWordByte(unsigned char c) {
    return isWordStart(c) || isDigit(c);
}

struct NamedKeyword {
    std::string_view lower;
    Keyword keyword;
};
constexpr NamedKeyword kKeywords[] = {
    {"if", Keyword::If},
    {"then", Keyword::Then},
    {"else", Keyword::Else},
    {"end", Keyword::End},
    {"do", Keyword::Do},
    {"while", Keyword::While},
    {"loop", Keyword::Loop},
    {"exit", Keyword::Exit},
    {"sub", Keyword::Sub},
    {"print", Keyword::Print},
    {"mailtext", Keyword::MailText},
    {"and", Keyword::And},
    {"or", Keyword::Or},
    {"msgbox", Keyword::MsgBox},
    {"execute", Keyword::Execute},
    {"jump", Keyword::Jump},
    {"updatedatabase", Keyword::UpdateDataBase},
    {"closedatabase", Keyword::CloseDataBase},
};

struct NamedBuiltin {
    std::string_view lower;
    Builtin builtin;
};
constexpr NamedBuiltin kBuiltins[] = {
    {"str", Builtin::Str},
    {"val", Builtin::Val},
    {"space", Builtin::Space},
    {"tab", Builtin::Tab},
    {"chr", Builtin::Chr},
    {"trim", Builtin::Trim},
    {"getword", Builtin::GetWord},
    {"format", Builtin::Format},
    {"restitle", Builtin::ResTitle},
    {"monthname", Builtin::MonthName},
    {"weekname", Builtin::WeekName},
    {"jweekname", Builtin::JweekName},
    {"getdrivename", Builtin::GetDriveName},
    {"getfoldername", Builtin::GetFolderName},
    {"getbasename", Builtin::GetBaseName},
    {"getextentname", Builtin::GetExtentName},
    {"isexist", Builtin::IsExist},
    {"msgbox", Builtin::MsgBox},
    {"execute", Builtin::Execute},
    {"outputfiledialog", Builtin::OutputFileDialog},
    {"inputfiledialog", Builtin::InputFileDialog},
    {"selectdialog", Builtin::SelectDialog},
    {"strinputdialog", Builtin::StrInputDialog},
};

ScriptToken makeWord(std::string_view text) {
    ScriptToken t;
    t.kind = TokenKind::Word;
    t.text = std::string(text);
    t.lower = sjis::asciiLower(text);
    t.lowerHash = std::hash<std::string>{}(t.lower);
    for (const auto& k : kKeywords) {
        if (t.lower == k.lower) {
            t.keyword = k.keyword;
        }
    }
    for (const auto& b : kBuiltins) {
        if (t.lower == b.lower) {
            t.builtin = b.builtin;
        }
    }
    return t;
}

ScriptToken makeString(std::string_view content) {
    ScriptToken t;
    t.kind = TokenKind::String;
    t.text.reserve(content.size() + 1);
    t.text.push_back('"');
    t.text.append(content);
    t.literal = ScriptValue::ofString(std::string(content));
    return t;
}

ScriptToken makeNumber(std::string_view digits) {
    ScriptToken t;
    t.kind = TokenKind::Number;
    t.text = std::string(digits);
    // A constant too large for 32 bits is read as the largest one, as the C
    // library's conversion would, instead of overflowing.
    int value = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    (void)ptr;
    t.number = ec == std::errc() ? value : std::numeric_limits<std::int32_t>::max();
    t.literal = ScriptValue::ofNumber(t.number);
    return t;
}

ScriptToken makePunct(char c) {
    ScriptToken t;
    t.kind = TokenKind::Punct;
    t.text = std::string(1, c);
    t.punct = c;
    return t;
}

// Tokenizes a statement line (the bytes after its "#"). Returns None or the
// error found.
ScriptErrorNumber tokenize(std::string_view line, std::vector<ScriptToken>& out) {
    std::size_t i = 0;
    std::size_t count = 0;
    const std::size_t n = line.size();
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(line[k]); };
    // A lead byte takes its trail byte with it, but never past the line's end.
    auto step = [&](std::size_t k) { return sjis::charLength(line, k); };
    for (;;) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i >= n || line[i] == '\'' || line[i] == '\r' || line[i] == '\n') {
            return ScriptErrorNumber::None;
        }
        if (count == kMaxTokens) {
            return ScriptErrorNumber::TooManyTokens;
        }
        const std::size_t start = i;
        const unsigned char c = byte(i);
        if (isWordStart(c)) {
            while (i < n && isWordByte(byte(i))) {
                i += step(i);
            }
            out.push_back(makeWord(line.substr(start, i - start)));
        } else if (isDigit(c)) {
            while (i < n && isDigit(byte(i))) {
                ++i;
            }
            out.push_back(makeNumber(line.substr(start, i - start)));
        } else if (c == '"') {
            ++i;
            while (i < n && line[i] != '"') {
                i += step(i);
            }
            if (i >= n) {
                return ScriptErrorNumber::UnclosedString;
            }
            out.push_back(makeString(line.substr(start + 1, i - start - 1)));
            ++i;
        } else {
            out.push_back(makePunct(line[i]));
            ++i;
        }
        ++count;
    }
}

}  // namespace

int ScriptEngine::LoadScript(std::string_view script) {
    m_tokens.clear();
    m_lines.clear();
    m_expressions.clear();
    m_calls.clear();
    m_lastError.reset();
    int lineNumber = 0;
    std::size_t pos = 0;
    ScriptErrorNumber error = ScriptErrorNumber::None;
    std::vector<ScriptToken> lineTokens;
    while (pos < script.size()) {
        if (script[pos] == '\n') {
            ++pos;
            continue;
        }
        ++lineNumber;
        std::size_t end = script.find('\r', pos);
        if (end == std::string_view::npos) {
            end = script.size();
        }
        std::string_view line = script.substr(pos, end - pos);
        pos = end < script.size() ? end + 1 : end;

        ScriptLine entry;
        entry.sourceLine = lineNumber;
        entry.first = m_tokens.size();
        if (line.empty()) {
            m_tokens.push_back(makeWord("Print"));
            entry.count = 1;
            m_lines.push_back(entry);
            continue;
        }
        if (line[0] != '#' || (line.size() >= 2 && line[1] == '#')) {
            if (line[0] == '#') {
                line.remove_prefix(1);
            }
            m_tokens.push_back(makeWord("MailText"));
            m_tokens.push_back(makeString(line));
            entry.count = 2;
            m_lines.push_back(entry);
            continue;
        }
        if (line.size() > kMaxStatementBytes) {
            error = ScriptErrorNumber::LineTooLong;
            break;
        }
        lineTokens.clear();
        error = tokenize(line.substr(1), lineTokens);
        if (error != ScriptErrorNumber::None) {
            break;
        }
        if (!lineTokens.empty()) {
            entry.count = lineTokens.size();
            for (auto& t : lineTokens) {
                m_tokens.push_back(std::move(t));
            }
            m_lines.push_back(entry);
        }
    }
    buildBlockTables();
    if (error != ScriptErrorNumber::None) {
        report(error, lineNumber);
        return 0;
    }
    return 1;
}

void ScriptEngine::buildBlockTables() {
    // Bracket matching by stacks pairs each If with the End If (and each Do
    // with the Loop) at which a forward scan counting nested levels returns to
    // zero; an Else belongs to the innermost If still open.
    std::vector<std::size_t> ifs;
    std::vector<std::size_t> dos;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        ScriptLine& line = m_lines[i];
        const ScriptToken& head = m_tokens[line.first];
        switch (head.keyword) {
            case Keyword::If:
                ifs.push_back(i);
                break;
            case Keyword::Else:
                if (!ifs.empty()) {
                    ScriptLine& owner = m_lines[ifs.back()];
                    if (line.count == 1 && owner.elseLine == kNoLine) {
                        owner.elseLine = i;
                    } else if (owner.badElse == kNoLine) {
                        owner.badElse = i;
                    }
                }
                break;
            case Keyword::End:
                if (line.count >= 2 && m_tokens[line.first + 1].keyword == Keyword::If &&
                    !ifs.empty()) {
                    m_lines[ifs.back()].match = i;
                    ifs.pop_back();
                }
                break;
            case Keyword::Do:
                dos.push_back(i);
                break;
            case Keyword::Loop:
                if (!dos.empty()) {
                    m_lines[dos.back()].match = i;
                    dos.pop_back();
                }
                break;
            default:
                break;
        }
    }
}

std::vector<std::vector<std::string>> ScriptEngine::compiledLines() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& line : m_lines) {
        std::vector<std::string> tokens;
        for (std::size_t k = 0; k < line.count; ++k) {
            tokens.push_back(m_tokens[line.first + k].text);
        }
        out.push_back(std::move(tokens));
    }
    return out;
}

}  // namespace tarn::contents

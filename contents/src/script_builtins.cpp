// The built-in functions of the mail script: argument checks, then the text
// functions of script_text.cpp or the host's dialogs.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/cp932.h"
#include "script_internal.h"

namespace tarn::contents {
namespace {

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

BuiltinResult text(std::string s) {
    return {ScriptValue::ofString(std::move(s)), ScriptErrorNumber::None};
}
BuiltinResult number(std::int32_t v) {
    return {ScriptValue::ofNumber(v), ScriptErrorNumber::None};
}
}  // namespace

std::string decimal(std::int32_t n) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    return {buf, r.ptr};
}

BuiltinResult runBuiltin(Builtin which, std::vector<ScriptValue>& args, ScriptHost& host) {
    const std::size_t n = args.size();
    auto isNum = [&](std::size_t k) { return k < n && args[k].isNumber(); };
    auto isStr = [&](std::size_t k) { return k < n && !args[k].isNumber(); };
    // The one argument, when it is a number in [lo, hi].
    auto numberIn = [&](std::int32_t lo, std::int32_t hi) -> std::optional<std::int32_t> {
        if (n == 1 && isNum(0) && args[0].number >= lo && args[0].number <= hi) {
            return args[0].number;
        }
        return std::nullopt;
    };
    // The one argument, when it is a string.
    auto oneString = [&]() -> const std::string* {
        return n == 1 && isStr(0) ? &args[0].text : nullptr;
    };
    auto dialogText = [&](std::size_t k) {
        return isStr(k) ? std::string_view(args[k].text) : std::string_view();
    };
    auto bad = [] { return BuiltinResult{{}, ScriptErrorNumber::Arguments}; };

    switch (which) {
        case Builtin::Str:
            return n == 1 && isNum(0) ? text(decimal(args[0].number)) : bad();
        case Builtin::Val:
            if (const std::string* s = oneString()) {
                return number(japaneseNumeralValue(*s));
            }
            return bad();
        case Builtin::Space:
        case Builtin::Tab:
            if (const auto count = numberIn(1, 255)) {
                return text(std::string(static_cast<std::size_t>(*count),
                                        which == Builtin::Space ? ' ' : '\t'));
            }
            return bad();
        case Builtin::Chr:
            if (const auto c = numberIn(0, 255)) {
                return text(*c == 0 ? std::string() : std::string(1, static_cast<char>(*c)));
            }
            return bad();
        case Builtin::Trim:
            if (const std::string* s = oneString()) {
                return text(trimBlanks(*s));
            }
            return bad();
        case Builtin::GetWord:
            if (!((n == 2 || n == 3) && isStr(0) && isNum(1) && (n == 2 || isStr(2))) ||
                (n == 3 && args[2].text.empty())) {
                return bad();
            }
            return text(getWord(args[0].text, args[1].number,
                                n == 3 ? std::string_view(args[2].text) : kDefaultWordDelimiters));
        case Builtin::Format:
            return n == 2 && isNum(0) && isStr(1)
                       ? text(formatPicture(args[0].number, args[1].text))
                       : bad();
        case Builtin::ResTitle:
            if (const std::string* s = oneString()) {
                return text(replyTitle(*s));
            }
            return bad();
        case Builtin::MonthName:
            if (const auto month = numberIn(1, 12)) {
                return text(std::string(kMonthNames[*month - 1]));
            }
            return bad();
        case Builtin::WeekName:
        case Builtin::JweekName:
            if (const auto day = numberIn(0, 6)) {
                return text(std::string(which == Builtin::WeekName ? kWeekNames[*day]
                                                                   : kJapaneseWeekNames[*day]));
            }
            return bad();
        case Builtin::GetDriveName:
        case Builtin::GetFolderName:
        case Builtin::GetBaseName:
        case Builtin::GetExtentName: {
            const std::string* s = oneString();
            if (s == nullptr) {
                return bad();
            }
            PathParts parts = splitPath(*s);
            return text(std::move(which == Builtin::GetDriveName    ? parts.drive
                                  : which == Builtin::GetFolderName ? parts.folder
                                  : which == Builtin::GetBaseName   ? parts.base
                                                                    : parts.extension));
        }
        case Builtin::IsExist: {
            const std::string* path = oneString();
            if (path == nullptr) {
                return bad();
            }
            // Script text is Shift_JIS; the file system's names are UTF-8.
            auto utf8 = cp932::toUtf8(*path);
            std::error_code ec;
            return number(truth(!path->empty() && utf8.ok() &&
                                std::filesystem::exists(std::filesystem::path(*utf8), ec)));
        }
        case Builtin::MsgBox:
            if (!((n == 1 || n == 2) && isStr(0) && (n == 1 || isNum(1)))) {
                return bad();
            }
            return number(truth(host.MsgBox(args[0].text, n == 2 ? args[1].number : 0)));
        case Builtin::Execute:
            if (!((n == 1 || n == 2) && isStr(0) && (n == 1 || isStr(1)))) {
                return bad();
            }
            if (!host.Execute(args[0].text, n == 2 ? std::string_view(args[1].text) : "")) {
                return {{}, ScriptErrorNumber::ExecuteFailed};
            }
            return number(-1);
        case Builtin::OutputFileDialog:
            return n <= 2 ? text(host.OutputFileDialog(dialogText(0), dialogText(1))) : bad();
        case Builtin::InputFileDialog:
            return n <= 2 ? text(host.InputFileDialog(dialogText(0), dialogText(1))) : bad();
        case Builtin::SelectDialog: {
            if (n < 3 || n > 6) {
                return bad();
            }
            std::vector<std::string> items;
            for (std::size_t k = 0; k < n; ++k) {
                if (!isStr(k)) {
                    return bad();
                }
                items.push_back(args[k].text);
            }
            return number(host.SelectDialog(items));
        }
        case Builtin::StrInputDialog: {
            std::vector<std::string> texts;
            texts.reserve(n);
            for (const auto& a : args) {
                texts.push_back(a.isNumber() ? decimal(a.number) : a.text);
            }
            return text(host.StrInputDialog(texts));
        }
        case Builtin::None:
            break;
    }
    return {{}, ScriptErrorNumber::Undefined};
}

}  // namespace tarn::contents

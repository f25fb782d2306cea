#include "editor/rewrap.h"

#include "common/sjis.h"
#include "contents/merge.h"

namespace tarn::editor {

// !%),.:;?]}￠°’”‰′\″℃、。々〉》」』】〕゛゜ゝゞ・ヽヾ！％），．：；？］｝｡｣､･ﾞﾟ￠
// The backslash is kept as the table has always held it (a yen sign in
// Japanese fonts).
const std::string_view kMayNotBeginLine =
    "!%),.:;?]}"
    "\x81\x91\x81\x8b\x81\x66\x81\x68\x81\xf1\x81\x8c"
    "\\"
    "\x81\x8d\x81\x8e\x81\x41\x81\x42\x81\x58\x81\x72\x81\x74\x81\x76\x81\x78\x81\x7a\x81\x6c"
    "\x81\x4a\x81\x4b\x81\x54\x81\x55\x81\x45\x81\x52\x81\x53"
    "\x81\x49\x81\x93\x81\x6a\x81\x43\x81\x44\x81\x46\x81\x47\x81\x48\x81\x6e\x81\x70"
    "\xa1\xa3\xa4\xa5\xde\xdf"
    "\x81\x91";

// $([\{￡‘“〈《「『【〔＄（［｛｢￡￥
const std::string_view kMayNotEndLine =
    "$([\\{"
    "\x81\x92\x81\x65\x81\x67\x81\x71\x81\x73\x81\x75\x81\x77\x81\x79\x81\x6b"
    "\x81\x90\x81\x69\x81\x6d\x81\x6f"
    "\xa2"
    "\x81\x92\x81\x8f";

namespace {

bool tableHolds(std::string_view table, std::string_view ch) {
    for (std::size_t i = 0; i < table.size();) {
        const std::size_t n = sjis::charLength(table, i);
        if (table.substr(i, n) == ch) {
            return true;
        }
        i += n;
    }
    return false;
}

// The merge tag that starts at text[i], or an empty view.
std::string_view tagAt(std::string_view text, std::size_t i) {
    if (text[i] != '&') {
        return {};
    }
    for (std::string_view tag : contents::MergeTagTable) {
        if (text.substr(i, tag.size()) == tag) {
            return tag;
        }
    }
    return {};
}

bool isStatementLine(std::string_view text, std::size_t lineStart) {
    return text.substr(lineStart, 1) == "#" && text.substr(lineStart, 2) != "##";
}

}  // namespace

bool mayNotBeginLine(std::string_view ch) {
    return tableHolds(kMayNotBeginLine, ch);
}

bool mayNotEndLine(std::string_view ch) {
    return tableHolds(kMayNotEndLine, ch);
}

std::string rewrapBody(std::string_view body, int columns) {
    if (columns < 1) {
        return std::string(body);
    }
    const auto n = static_cast<std::size_t>(columns);
    std::string out;
    out.reserve(body.size() + body.size() / n * 2 + 2);
    std::size_t column = 0;
    bool lineStart = true;
    std::size_t i = 0;
    while (i < body.size()) {
        if (body[i] == '\r' || body[i] == '\n') {
            out.push_back(body[i++]);
            column = 0;
            lineStart = true;
            continue;
        }
        if (lineStart && isStatementLine(body, i)) {
            const std::size_t lineEnd = body.find_first_of("\r\n", i);
            const std::size_t stop = lineEnd == std::string_view::npos ? body.size() : lineEnd;
            out.append(body, i, stop - i);
            i = stop;
            continue;
        }
        bool breakBefore = false;
        std::size_t width = 0;
        if (const std::string_view tag = tagAt(body, i); !tag.empty()) {
            width = tag.size();  // tags are ASCII and double-byte text: bytes are columns
            breakBefore = column + width > n;
        } else {
            width = sjis::charLength(body, i);
            const std::string_view ch = body.substr(i, width);
            const std::size_t end = column + width;
            const std::size_t hang = width == 2 ? 3 : 1;
            breakBefore = (end >= n && mayNotEndLine(ch)) || (end > n && !mayNotBeginLine(ch)) ||
                          end > n + hang;
            // A "#" moved to the start of a line would turn mail text into a
            // script statement (or lose itself as "##"): it stays where it is.
            breakBefore = breakBefore && body[i] != '#';
        }
        lineStart = false;
        if (breakBefore && column > 0) {
            out += "\r\n";
            column = 0;
        }
        out.append(body, i, width);
        column += width;
        i += width;
    }
    return out;
}

}  // namespace tarn::editor

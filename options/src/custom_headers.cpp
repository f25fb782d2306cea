#include "options/custom_headers.h"

#include <system_error>
#include <utility>

#include "common/files.h"
#include "common/sjis.h"
#include "options/texts.h"

namespace tarn::options {
namespace {

// The blanks the engine strips from both sides of an item and a value.
std::string_view trimBlanks(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool hasControl(std::string_view s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<HeaderRow> parseCustomHeaders(std::string_view bytes) {
    std::vector<HeaderRow> rows;
    for (const std::string& line : splitLineList(bytes)) {
        const std::string_view text = line;
        const std::size_t colon = sjis::find(text, ':');
        if (colon == std::string_view::npos) {
            rows.push_back({std::string(trimBlanks(text)), {}});
        } else {
            rows.push_back({std::string(trimBlanks(text.substr(0, colon))),
                            std::string(trimBlanks(text.substr(colon + 1)))});
        }
    }
    return rows;
}

std::string serializeCustomHeaders(const std::vector<HeaderRow>& rows) {
    std::string out;
    for (const HeaderRow& row : rows) {
        // A hand-written " #X: v" is a header to the engine, but "#X : v" would
        // be a comment: the blank keeps it a header.
        if (!row.item.empty() && row.item.front() == '#') {
            out += ' ';
        }
        out += row.item;
        out += " : ";
        out += row.value;
        out += '\n';
    }
    return out;
}

CustomHeaderFile readCustomHeaderFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        return {};
    }
    Result<std::string> bytes = readWholeFile(path, kCustomHeaderFileLimit);
    if (!bytes) {
        return {{}, bytes.error().message};
    }
    return {parseCustomHeaders(*bytes), std::nullopt};
}

Status writeCustomHeaderFile(const std::filesystem::path& path,
                             const std::vector<HeaderRow>& rows) {
    return writeFileAtomically(path, serializeCustomHeaders(rows));
}

std::optional<HeaderRowProblem> headerRowProblem(std::string_view item, std::string_view value) {
    if (item.empty()) {
        return HeaderRowProblem{false, std::string(text::kNoHeaderItem)};
    }
    if (value.empty()) {
        return HeaderRowProblem{true, std::string(text::kNoHeaderValue)};
    }
    for (char c : item) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == ':') {
            return HeaderRowProblem{
                false, "項目には、「:」と空白を除く半角の英数字と記号だけが使えます。"};
        }
    }
    // The file's reader skips a line that begins with "#".
    if (item.front() == '#') {
        return HeaderRowProblem{false, "項目の先頭に「#」は使えません。"};
    }
    if (hasControl(value)) {
        return HeaderRowProblem{true, "内容に改行や制御文字は使えません。"};
    }
    return std::nullopt;
}

bool moveRowUp(std::vector<HeaderRow>& rows, int row) {
    if (row <= 0 || row >= static_cast<int>(rows.size())) {
        return false;
    }
    std::swap(rows[static_cast<std::size_t>(row)], rows[static_cast<std::size_t>(row - 1)]);
    return true;
}

bool moveRowDown(std::vector<HeaderRow>& rows, int row) {
    return row >= 0 && moveRowUp(rows, row + 1);
}

}  // namespace tarn::options

// The custom header file ("CustmHeader.hdr" beside the program) as the options
// dialog lists and rewrites it: one (item, value) row per header line.
//
// Lines are read as the mail engine reads them (the line-list rules: empty
// lines and lines beginning with "#" are skipped), split at the first ":" and
// stripped of blanks; a line without ":" is an item with an empty value. Rows
// are written back as "item : value\n", which reads back as the same rows.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tarn::options {

inline constexpr std::string_view kCustomHeaderFileName = "CustmHeader.hdr";
// A custom header file is a few lines; the engine reads no more than this.
inline constexpr std::size_t kCustomHeaderFileLimit = std::size_t{4} << 20;

struct HeaderRow {
    std::string item;   // Shift_JIS
    std::string value;  // Shift_JIS
    bool operator==(const HeaderRow&) const = default;
};

std::vector<HeaderRow> parseCustomHeaders(std::string_view bytes);
std::string serializeCustomHeaders(const std::vector<HeaderRow>& rows);

struct CustomHeaderFile {
    std::vector<HeaderRow> rows;
    // Set when the file exists but could not be read (UTF-8). The dialog then
    // leaves the file alone unless the person edits the list.
    std::optional<std::string> problem;
};

// A missing file is an empty list.
CustomHeaderFile readCustomHeaderFile(const std::filesystem::path& path);
// Replaces the file atomically, so that a failed write keeps the old one.
Status writeCustomHeaderFile(const std::filesystem::path& path, const std::vector<HeaderRow>& rows);

// Why the item dialog refuses a pair (UTF-8), or nullopt. The item is a header
// field name (visible ASCII without ":"), and neither side may hold a line
// break or another control character, which would start a header of its own.
struct HeaderRowProblem {
    bool aboutValue;      // else about the item
    std::string message;  // UTF-8, caption "ターノス - カスタムヘッダ追加・編集"
};
std::optional<HeaderRowProblem> headerRowProblem(std::string_view item, std::string_view value);

// "↑" / "↓": swaps the row with its neighbour; false (nothing moved) on the
// first row, the last row, or a row outside the list.
bool moveRowUp(std::vector<HeaderRow>& rows, int row);
bool moveRowDown(std::vector<HeaderRow>& rows, int row);

}  // namespace tarn::options

// Re-wrapping a message body to a chosen number of columns with the Japanese
// line-breaking rules (kinsoku): closing brackets and punctuation may hang past
// the margin instead of starting a line, and opening brackets move to the next
// line instead of ending one.
#pragma once

#include <string>
#include <string_view>

namespace tarn::editor {

// The kinsoku tables as Shift_JIS strings, searched character by character: a
// double-byte character matches only a whole double-byte entry, so the trail
// byte 0x5C of "ソ" is never taken for the backslash entry.
extern const std::string_view kMayNotBeginLine;
extern const std::string_view kMayNotEndLine;

// `ch` is one Shift_JIS character (one byte, or a lead byte and its trail byte).
bool mayNotBeginLine(std::string_view ch);
bool mayNotEndLine(std::string_view ch);

// Re-wraps a Shift_JIS body to `columns` columns (a double-byte character takes
// two, any other byte one) by inserting CR LF. Existing line ends stay and
// nothing is joined. With fewer than one column the body comes back unchanged.
//
// Per character, with `end` the column it would end at and `hang` 3 for a
// double-byte character and 1 otherwise, a line break goes in before it when
//   end >= columns and it may not end a line, or
//   end >  columns and it may begin a line, or
//   end >  columns + hang.
// What a break would damage is left alone: no break at a line's first column
// (that would only add an empty line), none inside a merge tag such as
// "&[会社名]" (split, it would reach the recipient as literal text), none in a
// script statement line (one that starts with a single "#": its tail would
// become mail text), and none before a "#" (it would start a statement).
std::string rewrapBody(std::string_view body, int columns);

}  // namespace tarn::editor

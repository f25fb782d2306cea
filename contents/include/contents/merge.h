// Merge fields: the fifteen per-recipient values and their substitution into
// subject and body.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarn::contents {

inline constexpr std::size_t kMergeFieldCount = 15;

// The tags in their fixed order; the index is the value's position in every
// fifteen-value list (merge request, script variables, editor samples).
// Shift_JIS bytes.
inline constexpr std::array<std::string_view, kMergeFieldCount> MergeTagTable = {
    "&[\x89\xef\x8e\xd0\x96\xbc]",  // &[会社名]
    "&[\x95\x94\x8f\x90\x96\xbc]",  // &[部署名]
    "&[\x96\xf0\x90\x45]",          // &[役職]
    "&[\x96\xbc\x91\x4f]",          // &[名前]
    "&[\x8c\x68\x8f\xcc]",          // &[敬称]
    "&[Freefield1]",
    "&[Freefield2]",
    "&[Freefield3]",
    "&[Freefield4]",
    "&[Freefield5]",
    "&[Freefield6]",
    "&[Freefield7]",
    "&[Freefield8]",
    "&[Freefield9]",
    "&[Freefield10]",
};

// One recipient's values in table order (Shift_JIS; a missing value is empty).
using MergeValues = std::array<std::string, kMergeFieldCount>;

struct MergeRequest {
    std::string subject;          // out
    std::string subjectTemplate;  // in
    std::string body;             // out
    std::string bodyTemplate;     // in
    MergeValues values;           // in
};

// Fills subject and body from the templates. For each tag in table order, every
// occurrence in the text as it stood before that tag's pass is replaced; an
// inserted value is not rescanned for the same tag, but later (higher-index)
// tags do see it. Always returns 1.
int ApplyMergeFields(MergeRequest& request);

// One replacement pass, exposed for callers that merge other texts.
void replaceAll(std::string& text, std::string_view tag, std::string_view value);

}  // namespace tarn::contents

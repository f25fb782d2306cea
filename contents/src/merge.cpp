#include "contents/merge.h"

namespace tarn::contents {

void replaceAll(std::string& text, std::string_view tag, std::string_view value) {
    // A plain byte search is enough: every tag starts with "&", which is never
    // the trail byte of a double-byte character.
    std::size_t hit = text.find(tag);
    if (hit == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(text.size() + value.size());
    std::size_t from = 0;
    while (hit != std::string::npos) {
        out.append(text, from, hit - from);
        out.append(value);
        from = hit + tag.size();
        hit = text.find(tag, from);
    }
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

int ApplyMergeFields(MergeRequest& request) {
    request.subject = request.subjectTemplate;
    request.body = request.bodyTemplate;
    for (std::size_t k = 0; k < kMergeFieldCount; ++k) {
        replaceAll(request.subject, MergeTagTable[k], request.values[k]);
        replaceAll(request.body, MergeTagTable[k], request.values[k]);
    }
    return 1;
}

}  // namespace tarn::contents

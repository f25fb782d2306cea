// Writes the editor's templates: each UTF-8 source (first line the subject, an
// empty line, then the body) becomes a Shift_JIS .tnm file of the same name in
// OUTPUT_DIR. Run by the build; fails on a character CP932 cannot hold.
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/cp932.h"
#include "common/files.h"
#include "contents/send_contents.h"

namespace {

bool fail(const std::filesystem::path& source, const std::string& why) {
    std::fprintf(stderr, "tarn_make_templates: %s: %s\n", source.c_str(), why.c_str());
    return false;
}

bool makeTemplate(const std::filesystem::path& source, const std::filesystem::path& outputDir) {
    auto text = tarn::readWholeFile(source, std::size_t{1} << 20);
    if (!text) {
        return fail(source, text.error().message);
    }
    const std::size_t subjectEnd = text->find('\n');
    if (subjectEnd == std::string::npos || text->compare(subjectEnd, 2, "\n\n") != 0) {
        return fail(source, "the subject line must be followed by an empty line");
    }
    auto subject = tarn::cp932::fromUtf8(std::string_view(*text).substr(0, subjectEnd));
    auto body = tarn::cp932::fromUtf8(std::string_view(*text).substr(subjectEnd + 2));
    if (!subject || !body) {
        return fail(source, (subject ? body : subject).error().message);
    }
    tarn::contents::SendContents message;
    message.subject = std::move(*subject);
    message.body = tarn::contents::normaliseBodyLineEnds(*body);
    const auto target = outputDir / source.filename().replace_extension(".tnm");
    if (const int code = tarn::contents::SaveSendContents(target, message); code != 0) {
        return fail(target, tarn::contents::describeSendContentsResult(code));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: tarn_make_templates OUTPUT_DIR SOURCE.txt...\n");
        return 2;
    }
    const std::filesystem::path outputDir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(outputDir, ec);
    bool ok = !ec;
    for (int i = 2; i < argc; ++i) {
        ok = makeTemplate(argv[i], outputDir) && ok;
    }
    return ok ? 0 : 1;
}

#include "editor/files.h"

#include <dlfcn.h>

#include <algorithm>

#include "common/cp932.h"
#include "common/program.h"
#include "common/utf8.h"

namespace tarn::editor {

std::filesystem::path pathFromSjis(std::string_view sjis) {
    auto utf8 = cp932::toUtf8(sjis);
    return {utf8 ? *utf8 : std::string(sjis)};
}

Result<std::string> handBackPath(const std::filesystem::path& path) {
    auto sjis = cp932::fromUtf8(path.native());
    if (!sjis) {
        return makeError("ファイル名に使えない文字があります: " + sjis.error().message);
    }
    if (sjis->size() >= kPathBufferSize) {
        return makeError("ファイルのパスが長すぎます (" + std::to_string(sjis->size()) +
                         " バイト。" + std::to_string(kPathBufferSize - 1) +
                         " バイトまでにしてください)。");
    }
    return sjis;
}

Result<std::string> attachmentPath(const std::filesystem::path& path) {
    if (path.native().find('\t') != std::string::npos) {
        return makeError("ファイル名にタブ文字が含まれているため添付できません: " + path.string());
    }
    auto sjis = cp932::fromUtf8(path.native());
    if (!sjis) {
        return makeError("ファイル名に使えない文字があるため添付できません: " +
                         sjis.error().message);
    }
    return sjis;
}

ImportedText decodeTextFile(std::string_view bytes) {
    ImportedText text;
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const bool bom = bytes.substr(0, kBom.size()) == kBom;
    const bool ascii = std::none_of(bytes.begin(), bytes.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (bom || (!ascii && utf8::isValid(bytes))) {
        text.wasUtf8 = true;
        const std::string_view body = bom ? bytes.substr(kBom.size()) : bytes;
        if (utf8::isValid(body)) {
            text.utf8 = body;
            return text;
        }
        // A byte-order mark in front of bytes that are not UTF-8: each ill-formed
        // byte is shown as U+FFFD and the first one is named, as for Shift_JIS,
        // so that the window is never handed text that is not UTF-8.
        text.utf8.reserve(body.size());
        for (std::size_t i = 0; i < body.size();) {
            const utf8::Decoded d = utf8::decode(body, i);
            if (d.valid) {
                text.utf8.append(body.substr(i, d.length));
            } else {
                utf8::append(text.utf8, utf8::kReplacement);
                if (text.badOffset < 0) {
                    text.badOffset = static_cast<long long>(kBom.size() + i);
                }
            }
            i += d.length;
        }
        return text;
    }
    auto strict = cp932::toUtf8(bytes);
    if (strict) {
        text.utf8 = std::move(*strict);
    } else {
        text.utf8 = cp932::toUtf8Lossy(bytes);
        text.badOffset = strict.error().offset;
    }
    return text;
}

std::filesystem::path editorLibraryFolder() {
    // Any object of ours tells which loaded file it lives in.
    static const char kAnchor = 0;
    Dl_info info{};
    if (::dladdr(&kAnchor, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
        std::error_code ec;
        auto file = std::filesystem::weakly_canonical(info.dli_fname, ec);
        if (!ec) {
            return file.parent_path();
        }
    }
    return programFolder();
}

std::filesystem::path templateFile(const std::filesystem::path& libraryFolder, std::size_t index) {
    return libraryFolder / "Document" / std::string(kMessageTemplates.at(index).fileName);
}

int loadTemplate(const std::filesystem::path& file, contents::SendContents& message) {
    contents::SendContents loaded;
    const int code = contents::LoadSendContents(file, loaded);
    message = contents::SendContents{};
    if (code == contents::kContentsOk) {
        message.subject = std::move(loaded.subject);
        message.body = std::move(loaded.body);
    }
    return code;
}

}  // namespace tarn::editor

#include "editor/files.h"

#include <dlfcn.h>

#include <algorithm>

#include "common/cp932.h"
#include "common/program.h"

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

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        unsigned cp = 0;
        unsigned min = 0;
        if ((b & 0xE0) == 0xC0) {
            n = 2, cp = b & 0x1Fu, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, cp = b & 0x0Fu, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, cp = b & 0x07u, min = 0x10000;
        } else {
            return false;
        }
        if (i + n > bytes.size()) {
            return false;
        }
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = cp << 6 | (c & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n;
    }
    return true;
}

ImportedText decodeTextFile(std::string_view bytes) {
    ImportedText text;
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const bool bom = bytes.substr(0, kBom.size()) == kBom;
    const bool ascii = std::none_of(bytes.begin(), bytes.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (bom || (!ascii && isValidUtf8(bytes))) {
        text.wasUtf8 = true;
        text.utf8 = bom ? bytes.substr(kBom.size()) : bytes;
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

#include "editor/texts.h"

#include <fmt/format.h>

#include "common/cp932.h"
#include "common/sjis.h"
#include "contents/send_contents.h"

namespace tarn::editor {
namespace {

// Replaces every occurrence of an ASCII pattern that starts on a character
// boundary (never on a trail byte).
void replaceOnBoundaries(std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    bool changed = false;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, from.size(), from) == 0) {
            out += to;
            i += from.size();
            changed = true;
            continue;
        }
        const std::size_t n = sjis::charLength(text, i);
        out.append(text, i, n);
        i += n;
    }
    if (changed) {
        text = std::move(out);
    }
}

}  // namespace

std::string sjisLiteral(std::string_view utf8) {
    auto converted = cp932::fromUtf8(utf8);
    // Our literals are CP932 text; should one not be, the tests see the raw
    // text rather than nothing.
    return converted ? std::move(*converted) : std::string(utf8);
}

std::string editorCaption(std::string_view fileTitleUtf8, bool modified) {
    std::string caption = "送信メッセージ作成 - ";
    caption += fileTitleUtf8.empty() ? std::string_view("新規メッセージ") : fileTitleUtf8;
    if (modified) {
        caption += " *";
    }
    return caption;
}

std::string senderText(std::string_view nameSjis, std::string_view addressSjis) {
    if (nameSjis.empty()) {
        return sjisLiteral("選択されていません。");
    }
    std::string text(nameSjis);
    text += " <";
    text += addressSjis;
    text += '>';
    return text;
}

std::string attachmentItemText(std::string_view titleUtf8, std::optional<std::uint64_t> size) {
    if (!size) {
        return fmt::format("{} (ファイルがありません)", titleUtf8);
    }
    const auto bytes = static_cast<double>(*size);
    if (*size < 1000) {
        return fmt::format("{} ({:.0f} Byte)", titleUtf8, bytes);
    }
    if (*size < 1000000) {
        return fmt::format("{} ({:.0f} KB)", titleUtf8, bytes / 1000);
    }
    return fmt::format("{} ({:.2f} MB)", titleUtf8, bytes / 1000000);
}

std::string contentsResultText(int code) {
    switch (code) {
        case contents::kContentsOk:
            return "正常に終了しました。";
        case contents::kContentsIoError:
            return "入出力エラーが起きました。";
        case contents::kContentsAccessDenied:
            return "ファイルに書き込む権限がないか、読み取り専用です。";
        case contents::kContentsSharingViolation:
            return "ファイルが他で使用中です。";
        case contents::kContentsOpenFailed:
            return "ファイルを開けません。";
        case contents::kContentsNotFound:
            return "ファイルが見つかりません。";
        case contents::kContentsCloseFailed:
            return "ファイルを閉じられません (ディスクがいっぱいの可能性があります)。";
        case contents::kContentsFormatError:
            return "送信内容ファイルの形式ではないか、ファイルが途中で切れています。";
        case contents::kContentsOutOfMemory:
            return "メモリが足りません。";
        default:
            return "エラー " + std::to_string(code) + " が起きました。";
    }
}

void upgradeEarlierTags(std::string& bodySjis) {
    replaceOnBoundaries(bodySjis, "Free field1", "Freefield1");
    replaceOnBoundaries(bodySjis, "Free field2", "Freefield2");
}

}  // namespace tarn::editor

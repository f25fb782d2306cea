// The editor's texts that follow rules: the caption, the sender line, the
// attachment list's items, and the earlier layout's tags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarn::editor {

// A UTF-8 literal of ours as Shift_JIS.
std::string sjisLiteral(std::string_view utf8);

// "送信メッセージ作成 - " and the file title, or "新規メッセージ" when there is
// none, with " *" while there are unsaved changes. UTF-8.
std::string editorCaption(std::string_view fileTitleUtf8, bool modified);

// The sender field: "NAME <ADDRESS>", or "選択されていません。" without a name.
// Shift_JIS in and out.
std::string senderText(std::string_view nameSjis, std::string_view addressSjis);

// An attachment list item: the file's title and its size in decimal units,
// "a.txt (999 Byte)", "b.pdf (1 KB)" from 1000 bytes, "c.zip (2.50 MB)" from
// 1000000. The whole 64-bit size counts (a 5 GB file is not shown as 705 MB).
// A file that is not there (a moved attachment of a saved message) says so
// instead of showing a size, since the send would refuse it. UTF-8.
std::string attachmentItemText(std::string_view titleUtf8, std::optional<std::uint64_t> size);

// Why a send-contents file could not be read or written, in Japanese, for
// the detail under "送信内容の読み込みに失敗しました。" and its pair.
std::string contentsResultText(int code);

// Bodies of the earlier layout wrote free fields 1 and 2 as "Free field1" and
// "Free field2"; they become today's tags (and "Free field10" becomes
// "Freefield10" through the first). Double-byte characters are stepped over.
void upgradeEarlierTags(std::string& bodySjis);

}  // namespace tarn::editor

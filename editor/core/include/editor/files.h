// The editor's files: paths between Shift_JIS and the file system, text files
// to import, the templates beside the library.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"
#include "contents/send_contents.h"

namespace tarn::editor {

// The caller's path buffer holds at least this many bytes, NUL included.
inline constexpr std::size_t kPathBufferSize = 260;

// A Shift_JIS path (as the settings and .tnm files hold them) on this file
// system, whose names are UTF-8; bytes that are not Shift_JIS are taken as
// they are.
std::filesystem::path pathFromSjis(std::string_view sjis);

// A path the editor hands back to its caller: Shift_JIS, shorter than the path
// buffer. Fails with a Japanese message naming the character CP932 cannot hold
// or saying how long the path is.
Result<std::string> handBackPath(const std::filesystem::path& path);

// An attachment's path as the .tnm file stores it: Shift_JIS without a TAB
// (TAB separates the list).
Result<std::string> attachmentPath(const std::filesystem::path& path);

// A text file to import as the body. Shift_JIS as a rule; a file with a UTF-8
// byte-order mark, or one that is valid UTF-8 and not plain ASCII, is UTF-8.
struct ImportedText {
    std::string utf8;  // for the window; line ends as in the file
    bool wasUtf8 = false;
    long long badOffset = -1;  // first byte that is not Shift_JIS, or not UTF-8 after a
                               // byte-order mark (shown as U+FFFD), else -1
};
ImportedText decodeTextFile(std::string_view bytes);

// The sample messages offered under "ひな形(&T)", in menu order (UTF-8).
struct MessageTemplate {
    int commandId;
    std::string_view menuText;
    std::string_view fileName;
};
inline constexpr std::array<MessageTemplate, 6> kMessageTemplates = {{
    {32792, "セール開催案内", "セール開催案内.tnm"},
    {32793, "開店挨拶", "開店挨拶.tnm"},
    {32794, "社屋移転挨拶", "社屋移転挨拶.tnm"},
    {32795, "新製品案内", "新製品案内.tnm"},
    {32796, "組織変更案内", "組織変更案内.tnm"},
    {32797, "年末年始挨拶", "年末年始休業案内.tnm"},
}};

// The folder that holds the editor library (this code is linked into it).
std::filesystem::path editorLibraryFolder();
// Template `index` of kMessageTemplates: in "Document" beside the library.
std::filesystem::path templateFile(const std::filesystem::path& libraryFolder, std::size_t index);

// Loads a template: only its subject and body are taken; the rest of `message`
// is cleared. The result is LoadSendContents's (0 on success).
int loadTemplate(const std::filesystem::path& file, contents::SendContents& message);

}  // namespace tarn::editor

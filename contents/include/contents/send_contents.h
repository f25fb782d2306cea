// The send-contents file (.tnm): one message to be sent in bulk.
//
// The file is six archive strings (common/archive.h) and nothing else:
//
//   signature "ZEPH2.0.0.0SEND_CONTENTS" | subject | attachments | body | cc | bcc
//
// A file whose first string is anything else is an earlier layout that ends
// after the body; it is accepted and leaves cc and bcc as the caller had them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::contents {

// Five Shift_JIS strings of any length, stored as typed (never merge-expanded).
struct SendContents {
    std::string subject;
    std::string attachments;  // full paths joined by one TAB each
    std::string body;         // lines end in CR LF
    std::string cc;
    std::string bcc;
};

inline constexpr std::string_view kSendContentsSignature = "ZEPH2.0.0.0SEND_CONTENTS";

// Result codes shared by both operations; every non-zero code is a failure.
enum SendContentsResult : int {
    kContentsOk = 0,
    kContentsIoError = -2,           // hardware I/O error while opening
    kContentsAccessDenied = -3,      // save only
    kContentsSharingViolation = -4,  // kept for callers; Linux has no such failure
    kContentsOpenFailed = -5,
    kContentsNotFound = -6,  // load only
    kContentsCloseFailed = -7,
    kContentsFormatError = -8,  // a file or format error while reading or writing
    kContentsOutOfMemory = -10,
};

enum class SendContentsLayout { Current, Earlier };

// Reads a .tnm file. On success the record receives what was read (cc and bcc
// only for the current layout) and `layout`, when given, tells which layout it
// was. On failure the record is left exactly as it was.
int LoadSendContents(const std::filesystem::path& path, SendContents& record,
                     SendContentsLayout* layout = nullptr);

// Writes the record in the current layout. The bytes go to a temporary file
// that replaces the old one only when complete, so a failed save leaves the
// previous file intact. The record is stored as given: writers normalise the
// body first (normaliseBodyLineEnds).
int SaveSendContents(const std::filesystem::path& path, const SendContents& record);

// The exact bytes SaveSendContents writes for a record.
std::string encodeSendContents(const SendContents& record);

// Parses file bytes as LoadSendContents does (same result codes, same rule of
// leaving the record untouched on failure).
int decodeSendContents(std::string_view bytes, SendContents& record,
                       SendContentsLayout* layout = nullptr);

// The writer's line-end rule: every LF that is not preceded by a CR becomes
// CR LF; a body without a bare LF comes back unchanged.
std::string normaliseBodyLineEnds(std::string_view body);

// The attachment list: split at TAB (empty pieces dropped) and joined with TAB.
std::vector<std::string> splitAttachments(std::string_view attachments);
std::string joinAttachments(const std::vector<std::string>& paths);

// A short English description of a result code, for diagnostics and the terminal.
const char* describeSendContentsResult(int code);

}  // namespace tarn::contents

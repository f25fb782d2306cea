// File helpers shared by every reader and writer of user files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tarn {

// Reads a whole file. Fails (with the path in the message) when it cannot be
// opened or is larger than maxBytes, so that a hostile file cannot make us
// allocate without bound.
Result<std::string> readWholeFile(const std::filesystem::path& path,
                                  std::size_t maxBytes = std::size_t{1} << 31);

// Replaces a user's file so that a crash never leaves half of it: the bytes go
// to a temporary file in the same folder, are flushed to disk, and the
// temporary file is renamed over the old one. On failure the old file is
// untouched and the temporary file is removed. `mode` is applied to the new
// file (0600 for files that hold passwords).
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           unsigned mode = 0644);

// The line-list reader: one entry per line, read through a 1024-byte buffer (a
// longer line arrives as pieces of at most 1023 bytes, each an entry). From each
// piece one trailing LF, then one trailing CR, then one trailing Ctrl-Z (0x1A)
// are removed; a piece that is then empty or begins with "#" is skipped.
// Nothing else is trimmed. Fails only when the file cannot be opened.
Result<std::vector<std::string>> readLineList(const std::filesystem::path& path);

// The same rules applied to bytes already in memory.
std::vector<std::string> splitLineList(std::string_view bytes);

}  // namespace tarn

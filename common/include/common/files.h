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
// opened, is not a regular file (a FIFO, a device such as /dev/urandom, a
// folder: none of them is a file a person saved) or is larger than maxBytes,
// so that a hostile path can neither block us nor make us allocate without bound.
Result<std::string> readWholeFile(const std::filesystem::path& path,
                                  std::size_t maxBytes = std::size_t{1} << 31);

// The first maxBytes bytes of a file (a sample to look at), refusing what
// readWholeFile refuses except the length.
Result<std::string> readFileStart(const std::filesystem::path& path, std::size_t maxBytes);

// Opens a file for reading only if it is a regular file, without blocking on a
// FIFO: the descriptor (close-on-exec, blocking again) and the file's size.
struct OpenedFile {
    int fd = -1;
    std::size_t size = 0;
};
Result<OpenedFile> openRegularFile(const std::filesystem::path& path);

// The file a path finally names: symlinks are followed (relative ones from
// their own folder), also when the last one dangles. A loop stops after 40 links.
std::filesystem::path resolveSymlinks(const std::filesystem::path& path);

struct AtomicWriteOptions {
    // The permission bits of a new file. An existing file keeps its own mode and
    // group unless forceMode is set (the registry: always 0600, it holds passwords).
    unsigned mode = 0644;
    bool forceMode = false;
    // Flush the file and the folder to disk before returning. A run that writes
    // many files (the capture server) flushes once at its end instead.
    bool durable = true;
    // Remove temporary files that earlier writers of the same name left when
    // they died. A folder that only ever receives new names can skip the scan.
    bool removeStrays = true;
    // Try an unnamed temporary file first (tests turn it off to exercise the
    // named one that file systems without O_TMPFILE get).
    bool unnamedTemporary = true;
};

// Replaces a user's file so that a crash never leaves half of it, and nothing
// about the file changes but its bytes:
// - the bytes go to a temporary file in the target's folder that has no name
//   until it is complete (O_TMPFILE, then linked) where the file system allows,
//   else a hidden ".NAME.XXXXXX" held under an flock, and are renamed over the
//   old file; on failure the old file is untouched and nothing is left behind;
// - an existing file keeps its mode and group (when the group cannot be kept,
//   the new file gets no group permissions rather than someone else's group);
// - a read-only file is refused, as opening it for writing would be;
// - a symlink is written through: its target is replaced, the link stays;
// - temporary files of writers that died (their flock is gone) are removed.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           const AtomicWriteOptions& options);
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           unsigned newFileMode = 0644);

// The line-list reader: one entry per line, read through a 1024-byte buffer (a
// longer line arrives as pieces of at most 1023 bytes, each an entry). From each
// piece one trailing LF, then one trailing CR, then one trailing Ctrl-Z (0x1A)
// are removed; a piece that is then empty or begins with "#" is skipped.
// Nothing else is trimmed. Fails only when the file cannot be opened.
Result<std::vector<std::string>> readLineList(const std::filesystem::path& path);

// The same rules applied to bytes already in memory.
std::vector<std::string> splitLineList(std::string_view bytes);

}  // namespace tarn

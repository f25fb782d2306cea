// The registry file: keys and typed values (SZ, DWORD) in one human-readable
// UTF-8 text file, standing in for the machine's registry.
//
//   ; comment
//   [Software\Kestrel\ZEPHV2\Option\DefAccount]
//   "DefName"="山田 太郎"
//   "DefPortNo"=dword:00000019
//   "PassWord"=sjis:8790          <- SZ whose bytes do not survive a trip through
//                                    Unicode (e.g. NEC/IBM duplicates), kept raw
//
// Strings are UTF-8 in the file and Shift_JIS in memory; escapes in quotes are
// \\ \" \n \r \t and \xHH (below 0x80). Key and value names are compared without
// regard to ASCII case, as the registry does; they are kept as written (UTF-8).
//
// A line that cannot be read is skipped with a warning and kept verbatim, in
// its place, when the file is written again: a damaged file loses nothing.
// Values below a damaged key line are kept the same way, since we cannot know
// which key they belong to. A file that exists but cannot be read at all is
// never overwritten.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tarn {

enum class RegType { Sz, Dword };

struct RegValue {
    RegType type = RegType::Sz;
    std::string text;  // Sz: Shift_JIS
    std::uint32_t dword = 0;
};

class RegistryFile {
public:
    // TARN_REGISTRY when set, else $XDG_CONFIG_HOME (or ~/.config)/tarn/registry.
    static std::filesystem::path defaultPath();

    // Reads the file. A missing file is an empty registry. Warnings about
    // damaged lines are kept in warnings(), for the caller to show; nothing is
    // printed.
    static RegistryFile load(const std::filesystem::path& path);
    // Reads text already in memory (no file behind it; save() fails).
    static RegistryFile parse(std::string_view text);

    std::string serialize() const;
    // Writes the file atomically with mode 0600 (it holds passwords). Fails,
    // leaving the file as it was, when the file is read-only (no owner write
    // bit, or not writable by us) or existed but could not be read.
    Status save() const;

    // Reads the file, lets `change` edit it and saves it, all under the
    // registry's lock (file_lock.h), so that two programs changing values at
    // once (a send saving ContFileName, `tarn config set`, a check saving
    // CheckParam) both keep their change. A `change` that fails leaves the
    // file as it was and its error is returned. Warnings about damaged lines
    // are in the RegistryFile `change` receives, for it to show.
    static Status update(const std::filesystem::path& path,
                         const std::function<Status(RegistryFile&)>& change);

    bool readOnly() const { return m_readOnly; }
    const std::vector<std::string>& warnings() const { return m_warnings; }

    // A key exists when it or a key below it is in the file.
    bool keyExists(std::string_view key) const;
    const RegValue* find(std::string_view key, std::string_view name) const;
    // A missing value, or one of the other type, reads as empty / 0.
    std::string getString(std::string_view key, std::string_view name) const;
    std::uint32_t getDword(std::string_view key, std::string_view name) const;

    // Creates the key when needed. False (nothing changed) for a key path with an
    // empty component or a name with control characters.
    bool set(std::string_view key, std::string_view name, RegValue value);
    bool setString(std::string_view key, std::string_view name, std::string_view sjis);
    bool setDword(std::string_view key, std::string_view name, std::uint32_t value);

    struct Entry {
        std::string key;
        std::string name;
        RegValue value;
    };
    // Every value at or below `key` (all when empty), in file order.
    std::vector<Entry> entries(std::string_view key = {}) const;

private:
    struct Line {
        bool isValue = false;
        std::string raw;  // comments, blank and damaged lines, written back as they were
        std::string name;
        RegValue value;
    };
    struct Section {
        std::string key;  // empty: lines before the first key, or below a damaged key line
        std::string rawHeader;
        std::vector<Line> lines;
    };

    void parseText(std::string_view text);
    void warn(std::size_t lineNo, std::string_view why);
    Section* findSection(std::string_view key);
    const Section* findSection(std::string_view key) const;

    std::vector<Section> m_sections;
    std::filesystem::path m_path;
    bool m_readOnly = false;
    std::string m_unreadable;  // why an existing file could not be read
    std::vector<std::string> m_warnings;
};

}  // namespace tarn

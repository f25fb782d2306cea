#include "dbsend/mapping_file.h"

#include "common/archive.h"
#include "common/cp932.h"
#include "common/files.h"
#include "common/sjis.h"
#include "database/db_connection.h"
#include "driver/send_journal.h"

namespace tarn::dbsend {
namespace {

constexpr std::size_t kMaxMappingFileBytes = 1 << 20;

void writeChoice(std::string& out, const BoxChoice& c) {
    writeI32le(out, c.index);
    writeArchiveString(out, c.name);
}

bool readChoice(ByteReader& in, BoxChoice& c) {
    std::int32_t index = 0;
    if (!in.readI32le(index) || !in.readArchiveString(c.name)) {
        return false;
    }
    c.index = index;
    return true;
}

}  // namespace

std::string encodeMappingFile(const MappingFile& f) {
    std::string out;
    writeI32le(out, f.sourceType);
    writeArchiveString(out, f.dataPath);
    writeArchiveString(out, f.pageText);
    writeI32le(out, f.pageNumber);
    writeChoice(out, f.table);
    writeI32le(out, f.reserved);
    for (const BoxChoice& c : f.boxes) {
        writeChoice(out, c);
    }
    writeArchiveString(out, f.honorific);
    return out;
}

Result<MappingFile> decodeMappingFile(std::string_view bytes) {
    ByteReader in(bytes);
    MappingFile f;
    std::int32_t type = 0;
    std::int32_t pageNumber = 0;
    std::int32_t reserved = 0;
    bool ok = in.readI32le(type) && in.readArchiveString(f.dataPath) &&
              in.readArchiveString(f.pageText) && in.readI32le(pageNumber) &&
              readChoice(in, f.table) && in.readI32le(reserved);
    for (std::size_t i = 0; ok && i < f.boxes.size(); ++i) {
        ok = readChoice(in, f.boxes[i]);
    }
    ok = ok && in.readArchiveString(f.honorific);
    if (!ok) {
        return makeError("mapping file: " + in.failure(),
                         static_cast<long long>(in.failureOffset()));
    }
    if (!in.atEnd()) {
        return makeError("mapping file: unexpected bytes after the last item",
                         static_cast<long long>(in.offset()));
    }
    f.sourceType = type;
    f.pageNumber = pageNumber;
    f.reserved = reserved;
    return f;
}

std::optional<std::filesystem::path> mappingFilePath(const std::filesystem::path& folder,
                                                     std::string_view dataName) {
    // The title of a path: what follows its last "/" (an ODBC source's name
    // has none). A name of "." or ".." would leave the folder.
    std::string title(dataName.substr(
        dataName.rfind('/') == std::string_view::npos ? 0 : dataName.rfind('/') + 1));
    if (title.empty() || title == "." || title == "..") {
        return std::nullopt;
    }
    return folder / cp932::pathFromSjis(title + ".ini");
}

std::optional<std::filesystem::path> sendJournalPath(const std::filesystem::path& folder,
                                                     const SourceSpec& spec) {
    std::string name = spec.source;
    if (spec.type == db::kText) {
        name += "/" + spec.table;
    } else if (spec.type == db::kOdbc) {
        // "DSN=name;UID=..." is known by its name; a connection string
        // without one by the whole string.
        const std::string lower = sjis::asciiLower(name);
        if (const auto at = lower.find("dsn=");
            at != std::string::npos && (at == 0 || lower[at - 1] == ';')) {
            name = name.substr(at + 4, name.find(';', at) - (at + 4));
        }
    }
    auto mapping = mappingFilePath(folder, name);
    if (!mapping) {
        return std::nullopt;
    }
    return driver::journalPathFor(*mapping);
}

Status saveMappingFile(const std::filesystem::path& path, const MappingFile& file) {
    return writeFileAtomically(path, encodeMappingFile(file));
}

Result<MappingFile> loadMappingFile(const std::filesystem::path& path) {
    auto bytes = readWholeFile(path, kMaxMappingFileBytes);
    if (!bytes) {
        return bytes.error();
    }
    auto decoded = decodeMappingFile(*bytes);
    if (!decoded) {
        return makeError(path.string() + ": " + decoded.error().message);
    }
    return decoded;
}

std::optional<int> restoredIndex(const std::vector<std::string>& items, const BoxChoice& saved) {
    if (saved.index < 0 || static_cast<std::size_t>(saved.index) >= items.size() ||
        items[static_cast<std::size_t>(saved.index)] != saved.name) {
        return std::nullopt;
    }
    return saved.index;
}

}  // namespace tarn::dbsend

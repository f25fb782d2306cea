// The ".tn2" file, all integers little-endian, strings as archive strings
// (common/archive.h), sections without padding or tags:
//
//   signature    string "ORVELLO POST KIT (C)TARNWORKS LABS" (kept as read)
//   version      i32, 20 written
//   folders      u32 count, then per folder: name string, icon u16
//   groups       (version >= 20) u32 count, then per group: name string,
//                icon u16, u32 member count, member record positions u16 each
//   records      u32 count, then per record: folder u16, company, department,
//                title, name, email, honorific strings; version >= 20 adds
//                free fields 1-10 (strings) and status i32
//   honorifics   u32 count (at most 15 written), strings
//   titles       (version >= 20) 10 strings
//
// Counts come from the file and are not trusted: nothing is reserved beyond
// what the remaining bytes could hold, and every read is bounds checked.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "addressbook/document.h"
#include "common/archive.h"
#include "common/cp932.h"
#include "common/files.h"
#include "numbers.h"

namespace tarn::addressbook {

namespace {

// The fewest bytes an item can take, to cap what a count may reserve.
constexpr std::size_t kMinFolderBytes = 1 + 2;
constexpr std::size_t kMinGroupBytes = 1 + 2 + 4;
constexpr std::size_t kMinOldRecordBytes = 2 + 6;
constexpr std::size_t kMinRecordBytes = 2 + kFieldCount + 4;
constexpr std::size_t kMinStringBytes = 1;

}  // namespace

namespace detail {

// Where the reader takes its bytes: the unread part of the input as a window,
// which more() lengthens until the input ends.
class Tn2Source {
public:
    Tn2Source() = default;
    Tn2Source(const Tn2Source&) = delete;
    Tn2Source& operator=(const Tn2Source&) = delete;
    virtual ~Tn2Source() = default;

    std::string_view window() const { return m_window; }
    // Offset of window() in the whole input.
    std::size_t offset() const { return m_offset; }
    // Unread bytes as far as known before reading them (the file's size).
    std::size_t remaining() const {
        return std::max(m_window.size(), m_size > m_offset ? m_size - m_offset : 0);
    }
    void consume(std::size_t n) {
        m_window.remove_prefix(n);
        m_offset += n;
    }
    // Lengthens the window; false when no more bytes come.
    virtual bool more() = 0;
    // Why more() stopped, when that was not the end of the input.
    const std::string& error() const { return m_error; }

protected:
    std::string_view m_window;
    std::size_t m_offset = 0;
    std::size_t m_size = 0;
    std::string m_error;
};

}  // namespace detail

namespace {

class MemorySource final : public detail::Tn2Source {
public:
    explicit MemorySource(std::string_view bytes) {
        m_window = bytes;
        m_size = bytes.size();
    }
    bool more() override { return false; }
};

// Reads a file a piece at a time. The buffer grows only when one item does not
// fit, and then only after the bytes are actually there, so a length or count
// that claims more than the file holds cannot make it grow.
class FileSource final : public detail::Tn2Source {
public:
    FileSource(std::filesystem::path path, std::size_t chunkBytes)
        : m_path(std::move(path)), m_chunk(std::max<std::size_t>(chunkBytes, 1)) {}

    // Only a regular file: a FIFO would block for ever and a device such as
    // /dev/urandom never ends, so neither is read at all.
    Status open() {
        auto opened = openRegularFile(m_path);
        if (!opened) {
            return opened.error();
        }
        m_file.reset(::fdopen(opened->fd, "rb"));
        if (!m_file) {
            ::close(opened->fd);
            return makeError("cannot open " + m_path.string() + ": " + std::strerror(errno));
        }
        m_size = opened->size;
        return Ok{};
    }

    bool more() override {
        if (m_ended) {
            return false;
        }
        const std::size_t keep = m_window.size();
        if (keep > 0) {
            std::memmove(m_buffer.data(), m_window.data(), keep);
        }
        if (m_buffer.empty()) {
            // A small file needs no more than its own size (+1 to see its end).
            m_buffer.resize(std::min(m_chunk, m_size + 1));
        } else if (keep == m_buffer.size()) {
            m_buffer.resize(2 * keep);  // one item fills the buffer
        }
        const std::size_t got =
            std::fread(m_buffer.data() + keep, 1, m_buffer.size() - keep, m_file.get());
        m_read += got;
        if (got == 0) {
            m_ended = true;
            if (std::ferror(m_file.get()) != 0) {
                m_error = "cannot read " + m_path.string();
            }
        } else if (m_read > kMaxFileBytes) {
            m_ended = true;
            m_error =
                m_path.string() + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
            return false;
        }
        m_window = std::string_view(m_buffer.data(), keep + got);
        return got > 0;
    }

private:
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 31;
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::filesystem::path m_path;
    std::size_t m_chunk;
    std::unique_ptr<std::FILE, Closer> m_file;
    std::string m_buffer;
    std::size_t m_read = 0;
    bool m_ended = false;
};

std::size_t bounded(std::uint32_t count, const detail::Tn2Source& in, std::size_t minItemBytes) {
    return std::min<std::size_t>(count, in.remaining() / minItemBytes);
}

}  // namespace

Result<std::string> CTarnSendDoc::Serialize() const {
    // Member references become record positions. A sorted table keeps this
    // O(n log n) for a full book (a linear positionOf per member would be
    // 100,000 x 50,000 steps).
    std::vector<std::pair<const Record*, std::size_t>> where;
    where.reserve(m_data.records.size());
    for (std::size_t i = 0; i < m_data.records.size(); ++i) {
        where.emplace_back(m_data.records[i].get(), i);
    }
    std::sort(where.begin(), where.end());
    auto find = [&](const Record* r) -> std::size_t {
        auto it = std::lower_bound(where.begin(), where.end(), std::make_pair(r, std::size_t{0}));
        return it != where.end() && it->first == r ? it->second : m_data.records.size();
    };

    std::vector<std::vector<std::uint16_t>> positions(m_data.groups.size());
    for (std::size_t g = 0; g < m_data.groups.size(); ++g) {
        positions[g].reserve(m_data.groups[g].members.size());
        for (const Record* r : m_data.groups[g].members) {
            const std::size_t p = find(r);
            auto group = [&] { return cp932::toUtf8Lossy(m_data.groups[g].name); };
            if (p == m_data.records.size()) {
                return makeError(
                    "グループ「" + group() +
                    "」に、このアドレス帳にないレコードがメンバーとして登録されています。"
                    "保存できません。");
            }
            if (p > kMaxMemberPosition) {
                // Positions are 16 bits in the file: writing p modulo 65,536 would
                // silently make some other record a member.
                return makeError("グループ「" + group() + "」のメンバーに " + withThousands(p + 1) +
                                 " 件目のレコードがあります。グループのメンバーとして保存できるのは"
                                 "先頭から " +
                                 withThousands(kMaxMemberPosition + 1) +
                                 " 件目までのレコードです。送信順を変えてから保存してください。");
            }
            positions[g].push_back(static_cast<std::uint16_t>(p));
        }
    }

    const std::size_t honorifics = std::min(m_data.honorifics.size(), kMaxStoredHonorifics);
    // Sized exactly up front: growing a 15 MB buffer by doubling would hold
    // two copies at once.
    auto stored = [](std::string_view t) { return archivePrefixSize(t.size()) + t.size(); };
    std::size_t size = stored(kSignature) + 4 + 4 + 4 + 4 + 4;
    for (const auto& f : m_data.folders) {
        size += stored(f.name) + 2;
    }
    for (std::size_t g = 0; g < m_data.groups.size(); ++g) {
        size += stored(m_data.groups[g].name) + 2 + 4 + 2 * positions[g].size();
    }
    for (const auto& r : m_data.records) {
        size += 2 + 4;
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            size += stored(r->text(static_cast<Field>(f)));
        }
    }
    for (std::size_t i = 0; i < honorifics; ++i) {
        size += stored(m_data.honorifics[i]);
    }
    for (const auto& t : m_data.titles) {
        size += stored(t);
    }
    std::string out;
    out.reserve(size);
    writeArchiveString(out, kSignature);
    writeI32le(out, kVersion);
    writeU32le(out, static_cast<std::uint32_t>(m_data.folders.size()));
    for (const auto& f : m_data.folders) {
        writeArchiveString(out, f.name);
        writeU16le(out, f.icon);
    }
    writeU32le(out, static_cast<std::uint32_t>(m_data.groups.size()));
    for (std::size_t g = 0; g < m_data.groups.size(); ++g) {
        writeArchiveString(out, m_data.groups[g].name);
        writeU16le(out, m_data.groups[g].icon);
        writeU32le(out, static_cast<std::uint32_t>(positions[g].size()));
        for (std::uint16_t p : positions[g]) {
            writeU16le(out, p);
        }
    }
    writeU32le(out, static_cast<std::uint32_t>(m_data.records.size()));
    for (const auto& r : m_data.records) {
        writeU16le(out, r->folder());
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            writeArchiveString(out, r->text(static_cast<Field>(f)));
        }
        writeI32le(out, r->status());
    }
    writeU32le(out, static_cast<std::uint32_t>(honorifics));
    for (std::size_t i = 0; i < honorifics; ++i) {
        writeArchiveString(out, m_data.honorifics[i]);
    }
    for (const auto& t : m_data.titles) {
        writeArchiveString(out, t);
    }
    return out;
}

Status CTarnSendDoc::Serialize(std::string_view bytes, const FreeFieldTitles& appTitles) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    MemorySource source(bytes);
    return read(source, appTitles);
}

Status CTarnSendDoc::OnOpenDocument(const std::filesystem::path& path,
                                    const FreeFieldTitles& appTitles, std::size_t readChunkBytes) {
    if (auto ok = editable(); !ok) {
        return ok;
    }
    FileSource source(path, readChunkBytes);
    if (auto opened = source.open(); !opened) {
        return opened;
    }
    auto st = read(source, appTitles);
    if (!st) {
        return makeError(path.string() + ": " + st.error().message, st.error().offset);
    }
    return Ok{};
}

Status CTarnSendDoc::read(detail::Tn2Source& in, const FreeFieldTitles& appTitles) {
    std::string why;
    long long where = -1;
    // Reads one item, lengthening the window and starting the item again while
    // it runs past the bytes read so far. `parse` must keep nothing of a failed try.
    auto item = [&](auto&& parse) {
        for (;;) {
            ByteReader r(in.window(), in.offset());
            if (parse(r)) {
                in.consume(r.offset());
                return true;
            }
            if (!in.more()) {
                why = in.error().empty() ? r.failure() : in.error();
                where = static_cast<long long>(r.failureOffset());
                return false;
            }
        }
    };
    auto damaged = [&](const std::string& what) -> Status {
        return makeError("アドレス帳ファイルが壊れているか、アドレス帳ファイルではありません（" +
                             what + "を読めません: " + why + "）",
                         where);
    };
    auto nth = [](const char* what, std::size_t i, std::uint32_t count) {
        return std::string(what) + " " + std::to_string(i + 1) + "/" + std::to_string(count) + " ";
    };
    auto readCount = [&](std::uint32_t& count) {
        return item([&](ByteReader& r) { return r.readU32le(count); });
    };

    Content doc;
    if (!item([&](ByteReader& r) { return r.readArchiveString(doc.signature); })) {
        return damaged("識別文字列");
    }
    if (!item([&](ByteReader& r) { return r.readI32le(doc.version); })) {
        return damaged("版数");
    }
    const bool current = doc.version >= kVersion;

    std::uint32_t count = 0;
    if (!readCount(count)) {
        return damaged("フォルダ数");
    }
    doc.folders.reserve(bounded(count, in, kMinFolderBytes));
    for (std::uint32_t i = 0; i < count; ++i) {
        Folder f;
        if (!item([&](ByteReader& r) {
                return r.readArchiveString(f.name) && r.readU16le(f.icon);
            })) {
            return damaged(nth("フォルダ", i, count));
        }
        doc.folders.push_back(std::move(f));
    }

    // Member positions wait until the records they name have been read.
    std::vector<std::vector<std::uint16_t>> memberPositions;
    if (current) {
        if (!readCount(count)) {
            return damaged("グループ数");
        }
        doc.groups.reserve(bounded(count, in, kMinGroupBytes));
        memberPositions.reserve(bounded(count, in, kMinGroupBytes));
        for (std::uint32_t i = 0; i < count; ++i) {
            Group g;
            std::uint32_t members = 0;
            if (!item([&](ByteReader& r) {
                    return r.readArchiveString(g.name) && r.readU16le(g.icon) &&
                           r.readU32le(members);
                })) {
                return damaged(nth("グループ", i, count));
            }
            std::vector<std::uint16_t> positions;
            positions.reserve(bounded(members, in, 2));
            for (std::uint32_t m = 0; m < members; ++m) {
                std::uint16_t p = 0;
                if (!item([&](ByteReader& r) { return r.readU16le(p); })) {
                    return damaged(nth("グループ", i, count) + "のメンバー");
                }
                positions.push_back(p);
            }
            doc.groups.push_back(std::move(g));
            memberPositions.push_back(std::move(positions));
        }
    } else {
        for (int n = 1; n <= 5; ++n) {
            doc.groups.push_back({cp932::fromUtf8("グループ" + std::to_string(n)).value(),
                                  static_cast<std::uint16_t>(n + 1),
                                  {}});
        }
    }

    if (!readCount(count)) {
        return damaged("レコード数");
    }
    doc.records.reserve(bounded(count, in, current ? kMinRecordBytes : kMinOldRecordBytes));
    const std::size_t textCount = current ? kFieldCount : 6;
    std::array<std::string, kFieldCount> scratch;
    Record::Texts texts{};
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t folder = 0;
        std::int32_t status = kStatusNormal;
        const bool ok = item([&](ByteReader& r) {
            if (!r.readU16le(folder)) {
                return false;
            }
            for (std::size_t f = 0; f < textCount; ++f) {
                if (!r.readArchiveString(scratch[f])) {
                    return false;
                }
                texts[f] = scratch[f];
            }
            return !current || r.readI32le(status);
        });
        if (!ok) {
            return damaged(nth("レコード", i, count));
        }
        auto rec = std::make_unique<Record>(texts);
        // A folder number that names no folder would break every view that
        // looks the folder up; the record is kept, outside any folder.
        rec->setFolder(folder <= doc.folders.size() ? folder : 0);
        rec->setStatus(status);
        doc.records.push_back(std::move(rec));
    }

    if (!readCount(count)) {
        return damaged("敬称の数");
    }
    doc.honorifics.reserve(bounded(count, in, kMinStringBytes));
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string h;
        if (!item([&](ByteReader& r) { return r.readArchiveString(h); })) {
            return damaged(nth("敬称", i, count));
        }
        doc.honorifics.push_back(std::move(h));
    }

    if (current) {
        for (std::size_t i = 0; i < doc.titles.size(); ++i) {
            if (!item([&](ByteReader& r) { return r.readArchiveString(doc.titles[i]); })) {
                return damaged(nth("自由使用欄の見出し", i, kFreeFieldCount));
            }
        }
    } else {
        doc.titles = appTitles;
    }

    // A position that names no record of this file, or names one a second time
    // in the same group, is dropped rather than followed.
    std::vector<std::uint8_t> seen(doc.records.size());
    for (std::size_t g = 0; g < memberPositions.size(); ++g) {
        auto& members = doc.groups[g].members;
        members.reserve(memberPositions[g].size());
        for (std::uint16_t p : memberPositions[g]) {
            if (p < doc.records.size() && seen[p] == 0) {
                seen[p] = 1;
                members.push_back(doc.records[p].get());
            }
        }
        for (std::uint16_t p : memberPositions[g]) {
            if (p < seen.size()) {
                seen[p] = 0;
            }
        }
    }

    replaceContent(std::move(doc));
    return Ok{};
}

}  // namespace tarn::addressbook

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
#include <algorithm>
#include <string>
#include <utility>

#include "addressbook/document.h"
#include "common/archive.h"
#include "common/cp932.h"

namespace tarn::addressbook {

namespace {

// The fewest bytes an item can take, to cap what a count may reserve.
constexpr std::size_t kMinFolderBytes = 1 + 2;
constexpr std::size_t kMinGroupBytes = 1 + 2 + 4;
constexpr std::size_t kMinOldRecordBytes = 2 + 6;
constexpr std::size_t kMinRecordBytes = 2 + kFieldCount + 4;
constexpr std::size_t kMinStringBytes = 1;

std::size_t bounded(std::uint32_t count, const ByteReader& in, std::size_t minItemBytes) {
    return std::min<std::size_t>(count, in.remaining() / minItemBytes);
}

std::string withThousands(std::size_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, ",");
    }
    return digits;
}

}  // namespace

Result<std::string> CTarnSendDoc::Serialize() const {
    // Member references become record positions. A sorted table keeps this
    // O(n log n) for a full book (a linear positionOf per member would be
    // 100,000 x 50,000 steps).
    std::vector<std::pair<const Record*, std::size_t>> where;
    where.reserve(m_records.size());
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        where.emplace_back(m_records[i].get(), i);
    }
    std::sort(where.begin(), where.end());
    auto find = [&](const Record* r) -> std::size_t {
        auto it = std::lower_bound(where.begin(), where.end(), std::make_pair(r, std::size_t{0}));
        return it != where.end() && it->first == r ? it->second : m_records.size();
    };

    std::vector<std::vector<std::uint16_t>> positions(m_groups.size());
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        positions[g].reserve(m_groups[g].members.size());
        for (const Record* r : m_groups[g].members) {
            const std::size_t p = find(r);
            const std::string group = cp932::toUtf8Lossy(m_groups[g].name);
            if (p == m_records.size()) {
                return makeError(
                    "グループ「" + group +
                    "」に、このアドレス帳にないレコードがメンバーとして登録されています。"
                    "保存できません。");
            }
            if (p > kMaxMemberPosition) {
                // Positions are 16 bits in the file: writing p modulo 65,536 would
                // silently make some other record a member.
                return makeError("グループ「" + group + "」のメンバーに " + withThousands(p + 1) +
                                 " 件目のレコードがあります。グループのメンバーとして保存できるのは"
                                 "先頭から " +
                                 withThousands(kMaxMemberPosition + 1) +
                                 " 件目までのレコードです。送信順を変えてから保存してください。");
            }
            positions[g].push_back(static_cast<std::uint16_t>(p));
        }
    }

    std::size_t estimate = 256;
    for (const auto& r : m_records) {
        estimate += r->textBytes() + 2 + 4 + kFieldCount;
    }
    std::string out;
    out.reserve(estimate);
    writeArchiveString(out, kSignature);
    writeI32le(out, kVersion);
    writeU32le(out, static_cast<std::uint32_t>(m_folders.size()));
    for (const auto& f : m_folders) {
        writeArchiveString(out, f.name);
        writeU16le(out, f.icon);
    }
    writeU32le(out, static_cast<std::uint32_t>(m_groups.size()));
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        writeArchiveString(out, m_groups[g].name);
        writeU16le(out, m_groups[g].icon);
        writeU32le(out, static_cast<std::uint32_t>(positions[g].size()));
        for (std::uint16_t p : positions[g]) {
            writeU16le(out, p);
        }
    }
    writeU32le(out, static_cast<std::uint32_t>(m_records.size()));
    for (const auto& r : m_records) {
        writeU16le(out, r->folder());
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            writeArchiveString(out, r->text(static_cast<Field>(f)));
        }
        writeI32le(out, r->status());
    }
    const std::size_t honorifics = std::min(m_honorifics.size(), kMaxStoredHonorifics);
    writeU32le(out, static_cast<std::uint32_t>(honorifics));
    for (std::size_t i = 0; i < honorifics; ++i) {
        writeArchiveString(out, m_honorifics[i]);
    }
    for (const auto& t : m_titles) {
        writeArchiveString(out, t);
    }
    return out;
}

Status CTarnSendDoc::Serialize(std::string_view bytes, const FreeFieldTitles& appTitles) {
    ByteReader in(bytes);
    auto damaged = [&in](const std::string& where) -> Status {
        return makeError("アドレス帳ファイルが壊れているか、アドレス帳ファイルではありません（" +
                             where + "を読めません: " + in.failure() + "）",
                         static_cast<long long>(in.failureOffset()));
    };
    auto nth = [](const char* what, std::size_t i, std::uint32_t count) {
        return std::string(what) + " " + std::to_string(i + 1) + "/" + std::to_string(count) + " ";
    };

    CTarnSendDoc doc;
    if (!in.readArchiveString(doc.m_signature)) {
        return damaged("識別文字列");
    }
    if (!in.readI32le(doc.m_version)) {
        return damaged("版数");
    }
    const bool current = doc.m_version >= kVersion;

    std::uint32_t count = 0;
    if (!in.readU32le(count)) {
        return damaged("フォルダ数");
    }
    doc.m_folders.reserve(bounded(count, in, kMinFolderBytes));
    for (std::uint32_t i = 0; i < count; ++i) {
        Folder f;
        if (!in.readArchiveString(f.name) || !in.readU16le(f.icon)) {
            return damaged(nth("フォルダ", i, count));
        }
        doc.m_folders.push_back(std::move(f));
    }

    // Member positions wait until the records they name have been read.
    std::vector<std::vector<std::uint16_t>> memberPositions;
    if (current) {
        if (!in.readU32le(count)) {
            return damaged("グループ数");
        }
        doc.m_groups.reserve(bounded(count, in, kMinGroupBytes));
        memberPositions.reserve(bounded(count, in, kMinGroupBytes));
        for (std::uint32_t i = 0; i < count; ++i) {
            Group g;
            std::uint32_t members = 0;
            if (!in.readArchiveString(g.name) || !in.readU16le(g.icon) || !in.readU32le(members)) {
                return damaged(nth("グループ", i, count));
            }
            std::vector<std::uint16_t> positions;
            positions.reserve(bounded(members, in, 2));
            for (std::uint32_t m = 0; m < members; ++m) {
                std::uint16_t p = 0;
                if (!in.readU16le(p)) {
                    return damaged(nth("グループ", i, count) + "のメンバー");
                }
                positions.push_back(p);
            }
            doc.m_groups.push_back(std::move(g));
            memberPositions.push_back(std::move(positions));
        }
    } else {
        for (int n = 1; n <= 5; ++n) {
            doc.m_groups.push_back({cp932::fromUtf8("グループ" + std::to_string(n)).value(),
                                    static_cast<std::uint16_t>(n + 1),
                                    {}});
        }
    }

    if (!in.readU32le(count)) {
        return damaged("レコード数");
    }
    doc.m_records.reserve(bounded(count, in, current ? kMinRecordBytes : kMinOldRecordBytes));
    const std::size_t textCount = current ? kFieldCount : 6;
    std::array<std::string, kFieldCount> scratch;
    Record::Texts texts{};
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t folder = 0;
        std::int32_t status = kStatusNormal;
        bool ok = in.readU16le(folder);
        for (std::size_t f = 0; ok && f < textCount; ++f) {
            ok = in.readArchiveString(scratch[f]);
            texts[f] = scratch[f];
        }
        if (ok && current) {
            ok = in.readI32le(status);
        }
        if (!ok) {
            return damaged(nth("レコード", i, count));
        }
        auto r = std::make_unique<Record>(texts);
        // A folder number that names no folder would break every view that
        // looks the folder up; the record is kept, outside any folder.
        r->setFolder(folder <= doc.m_folders.size() ? folder : 0);
        r->setStatus(status);
        doc.m_records.push_back(std::move(r));
    }

    if (!in.readU32le(count)) {
        return damaged("敬称の数");
    }
    doc.m_honorifics.reserve(bounded(count, in, kMinStringBytes));
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string h;
        if (!in.readArchiveString(h)) {
            return damaged(nth("敬称", i, count));
        }
        doc.m_honorifics.push_back(std::move(h));
    }

    if (current) {
        for (std::size_t i = 0; i < doc.m_titles.size(); ++i) {
            if (!in.readArchiveString(doc.m_titles[i])) {
                return damaged(nth("自由使用欄の見出し", i, kFreeFieldCount));
            }
        }
    } else {
        doc.m_titles = appTitles;
    }

    // A position that names no record of this file, or names one a second time
    // in the same group, is dropped rather than followed.
    std::vector<std::uint8_t> seen(doc.m_records.size());
    for (std::size_t g = 0; g < memberPositions.size(); ++g) {
        auto& members = doc.m_groups[g].members;
        members.reserve(memberPositions[g].size());
        for (std::uint16_t p : memberPositions[g]) {
            if (p < doc.m_records.size() && seen[p] == 0) {
                seen[p] = 1;
                members.push_back(doc.m_records[p].get());
            }
        }
        for (std::uint16_t p : memberPositions[g]) {
            if (p < seen.size()) {
                seen[p] = 0;
            }
        }
    }

    doc.m_listeners = std::move(m_listeners);
    *this = std::move(doc);
    return Ok{};
}

}  // namespace tarn::addressbook

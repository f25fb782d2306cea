#include "addressbook/record_set.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/archive.h"

namespace tarn::addressbook {

namespace {

constexpr std::string_view kMagic = "TRS1";
constexpr std::uint32_t kNoPosition = 0xFFFF'FFFF;
// position + folder + status + one length byte per text
constexpr std::size_t kMinEntryBytes = 4 + 2 + 4 + kFieldCount;

}  // namespace

std::string serializeRecordSet(std::span<const RecordSetEntry> entries) {
    std::string out(kMagic);
    writeU32le(out, static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) {
        writeU32le(out, e.position && *e.position < kNoPosition
                            ? static_cast<std::uint32_t>(*e.position)
                            : kNoPosition);
        writeU16le(out, e.record.folder());
        writeI32le(out, e.record.status());
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            writeArchiveString(out, e.record.text(static_cast<Field>(f)));
        }
    }
    return out;
}

Result<std::vector<RecordSetEntry>> parseRecordSet(std::string_view bytes) {
    ByteReader in(bytes);
    std::string magic;
    if (!in.readBytes(kMagic.size(), magic) || magic != kMagic) {
        return makeError("レコードの一覧ではありません（識別子が違います）。", 0);
    }
    std::uint32_t count = 0;
    if (!in.readU32le(count)) {
        return makeError("レコードの一覧が途中で切れています（件数）。",
                         static_cast<long long>(in.failureOffset()));
    }
    if (count > CTarnSendDoc::kMaxRecords || count > in.remaining() / kMinEntryBytes) {
        return makeError("レコードの一覧の件数 " + std::to_string(count) + " が、残り " +
                             std::to_string(in.remaining()) + " バイトに収まりません。",
                         4);
    }
    std::vector<RecordSetEntry> entries;
    entries.reserve(count);
    std::array<std::string, kFieldCount> texts;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t position = 0;
        std::uint16_t folder = 0;
        std::int32_t status = 0;
        bool ok = in.readU32le(position) && in.readU16le(folder) && in.readI32le(status);
        for (std::size_t f = 0; ok && f < kFieldCount; ++f) {
            ok = in.readArchiveString(texts[f]);
        }
        if (!ok) {
            return makeError("レコードの一覧の " + std::to_string(i + 1) + " 件目が壊れています（" +
                                 in.failure() + "）。",
                             static_cast<long long>(in.failureOffset()));
        }
        Record::Texts views;
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            views[f] = texts[f];
        }
        RecordSetEntry e;
        e.record.assignTexts(views);
        e.record.setFolder(folder);
        e.record.setStatus(status);
        if (position != kNoPosition) {
            e.position = position;
        }
        entries.push_back(std::move(e));
    }
    if (!in.atEnd()) {
        return makeError("レコードの一覧の後ろに " + std::to_string(in.remaining()) +
                             " バイトの余分なデータがあります。",
                         static_cast<long long>(in.offset()));
    }
    return entries;
}

Result<std::vector<const Record*>> recordsOfSet(const CTarnSendDoc& doc,
                                                std::span<const RecordSetEntry> entries) {
    std::vector<const Record*> records;
    records.reserve(entries.size());
    for (const auto& e : entries) {
        if (!e.position || *e.position >= doc.recordCount() ||
            !doc.record(*e.position).sameData(e.record)) {
            return makeError(
                "ドラッグしたレコードが、このアドレス帳のレコードと一致しません。"
                "もう一度選択してからドラッグしてください。");
        }
        records.push_back(&doc.record(*e.position));
    }
    std::vector<const Record*> sorted = records;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
        return makeError("同じレコードが二度指定されました。");
    }
    return records;
}

Result<std::vector<const Record*>> recordsOfSet(const CTarnSendDoc& doc, std::string_view bytes) {
    auto entries = parseRecordSet(bytes);
    if (!entries) {
        return entries.error();
    }
    return recordsOfSet(doc, *entries);
}

std::string recordSetOf(const CTarnSendDoc& doc, std::span<const Record* const> records) {
    std::vector<RecordSetEntry> entries;
    entries.reserve(records.size());
    for (const Record* r : records) {
        const std::size_t p = doc.positionOf(r);
        if (p < doc.recordCount()) {
            entries.push_back({p, *r});
        }
    }
    return serializeRecordSet(entries);
}

}  // namespace tarn::addressbook

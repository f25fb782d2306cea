// A set of records as one byte string: what a drag of list rows carries, so
// that the drop side can tell which records of its document were dragged and
// refuse a drag that no longer matches them.
//
//   "TRS1"                  4 bytes
//   count                   u32, at most CTarnSendDoc::kMaxRecords
//   per record:
//     position              u32: its position in the document, 0xFFFFFFFF for none
//     folder                u16
//     status                i32
//     16 texts              archive strings, in the .tn2 order
//
// All integers little-endian. The reader trusts nothing: counts are bounded by
// the bytes present, every read is bounds checked, and trailing bytes are an
// error.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/document.h"

namespace tarn::addressbook {

struct RecordSetEntry {
    std::optional<std::size_t> position;  // where the record was in its document
    Record record;
};

std::string serializeRecordSet(std::span<const RecordSetEntry> entries);
Result<std::vector<RecordSetEntry>> parseRecordSet(std::string_view bytes);

// The entries of `doc` a record set names: each entry's position must hold a
// record with the same data, or the whole set is refused (the document changed
// since the drag began, or the set came from elsewhere).
Result<std::vector<const Record*>> recordsOfSet(const CTarnSendDoc& doc,
                                                std::span<const RecordSetEntry> entries);

// The same for the bytes of a drag: parsed, then matched.
Result<std::vector<const Record*>> recordsOfSet(const CTarnSendDoc& doc, std::string_view bytes);

// The records of `doc` as a record set, with their positions.
std::string recordSetOf(const CTarnSendDoc& doc, std::span<const Record* const> records);

// The application's cut buffer: copies of records, kept until the next cut or
// copy (not the system clipboard).
class CutBuffer {
public:
    void set(std::vector<Record> records) { m_records = std::move(records); }
    void clear() { m_records.clear(); }
    bool empty() const { return m_records.empty(); }
    const std::vector<Record>& records() const { return m_records; }

private:
    std::vector<Record> m_records;
};

}  // namespace tarn::addressbook

// The choices of a page kept per data file: "<data file title>.ini" in the
// program's folder. Despite the name it is a binary archive record (32-bit
// little-endian integers, length-prefixed strings) of forty items:
//
//    1  source type (int)                 2  data file path
//    3  page text: the ODBC source's name  4  page number: Excel version 95/97,
//       (else empty)                          ODBC enclose switch (else 0)
//    5  table or sheet index (int)         6  table or sheet name
//    7  reserved (0)                       8-39  sixteen (index, field name) pairs
//   40  the honorific                           for the column boxes in slot order
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "dbsend/db_send.h"

namespace tarn::dbsend {

// A combo box's choice: its index and the text it showed.
struct BoxChoice {
    int index = -1;
    std::string name;
};

struct MappingFile {
    int sourceType = 0;
    std::string dataPath;
    std::string pageText;
    int pageNumber = 0;
    BoxChoice table;
    int reserved = 0;
    std::array<BoxChoice, kSlotCount> boxes;
    std::string honorific;
};

std::string encodeMappingFile(const MappingFile& file);
Result<MappingFile> decodeMappingFile(std::string_view bytes);

// "<title>.ini" in `folder` for a data file (or an ODBC source's name); the
// title is the file name, so a workbook and a CSV file of one name keep apart.
// Nothing for an empty name.
std::optional<std::filesystem::path> mappingFilePath(const std::filesystem::path& folder,
                                                     std::string_view dataName);

// The journal of sends from the source `spec` names (driver/send_journal.h):
// beside the mapping file of its data file, "<title>.ini.journal"; for ODBC
// the data source's name (DSN=) is the title. The window and tarn dbsend
// keep one journal per source, so either can go on from where the other
// stopped. Nothing when `spec` names no file.
std::optional<std::filesystem::path> sendJournalPath(const std::filesystem::path& folder,
                                                     const SourceSpec& spec);

// Written through a temporary file; read with a size bound (a mapping file is
// a few kilobytes at most).
Status saveMappingFile(const std::filesystem::path& path, const MappingFile& file);
Result<MappingFile> loadMappingFile(const std::filesystem::path& path);

// The index a box gets back from a saved choice: the saved index only when the
// box's text at that index is still the saved name (a column may have been
// added, removed or renamed since); otherwise nothing, and the box stays
// unselected.
std::optional<int> restoredIndex(const std::vector<std::string>& items, const BoxChoice& saved);

}  // namespace tarn::dbsend

// Workbooks of today's spreadsheet format (.xlsx, Office Open XML): a zip
// archive of XML parts, read with libzip and expat.
//
//   xl/workbook.xml                  the sheets (name, relationship id), date1904
//   xl/_rels/workbook.xml.rels       relationship id -> part of each sheet
//   xl/sharedStrings.xml             the shared strings (rich runs joined,
//                                    phonetic runs <rPh> left out)
//   xl/styles.xml                    cell formats: which number formats are dates
//   xl/worksheets/sheetN.xml         <row><c r="B2" s="1" t="s"><v>0</v></c>...
//
// Cell values become DbValues: shared, inline and formula strings as
// DbWideString, booleans as DbBool, whole numbers as 32-bit integers (as the
// .xls reader reports them), other numbers as doubles, numbers in a date or
// time format as DbDate, errors and empty cells as DbNull.
//
// Hostile archives are bounded: every part is unpacked at most maxPartBytes
// whatever its header claims (a zip bomb stops there), a document type
// declaration is refused (no entity expansion at all), and the cells, sheets
// and shared strings are counted against their limits.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "database/db_value.h"

namespace tarn::db {

struct XlsxLimits {
    std::size_t maxPartBytes = std::size_t{256} << 20;  // one part, unpacked
    std::size_t maxCells = 5'000'000;                   // of one sheet, counted as a rectangle
    std::size_t maxSheets = 4096;
    std::size_t maxSharedStrings = 5'000'000;
};

class XlsxWorkbook {
public:
    // A file, or the archive's bytes (for tests and fuzzing).
    static Result<XlsxWorkbook> openFile(const std::filesystem::path& path,
                                         const XlsxLimits& limits = {});
    static Result<XlsxWorkbook> openMemory(std::string bytes, const XlsxLimits& limits = {});

    XlsxWorkbook(XlsxWorkbook&&) noexcept;
    XlsxWorkbook& operator=(XlsxWorkbook&&) noexcept;
    ~XlsxWorkbook();

    // Worksheet names in workbook order (UTF-8); chart sheets are not listed.
    const std::vector<std::string>& sheetNames() const;
    // The cells of a sheet as rows from sheet row 1, each as wide as the widest
    // row, empty cells DbNull.
    Result<std::vector<std::vector<DbValue>>> readSheet(std::size_t index);

private:
    struct Impl;
    explicit XlsxWorkbook(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// True when the file starts like a zip archive ("PK\3\4"), as an .xlsx does.
bool looksLikeZip(const std::filesystem::path& path);

// Whether a number format is one of dates or times: the built-in ones by
// number, a format code by its letters outside quotes and brackets.
bool isDateFormat(int builtinId, const std::string& formatCode);

}  // namespace tarn::db

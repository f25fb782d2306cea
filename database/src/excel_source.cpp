// Source types 2 and 3: Excel 5.0/95 and 97-2003 workbooks through FreeXL, and
// today's .xlsx workbooks (told apart by their zip signature) through our own
// reader. Each worksheet is a table named "<sheet>$"; its first row gives the field
// names, and a column without a heading is named F<n> as the spreadsheet
// driver names it.
#include <freexl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>

#include "common/sjis.h"
#include "database/xlsx_reader.h"
#include "source.h"

namespace tarn::db::detail {
namespace {

struct FreeXlCloser {
    void operator()(const void* h) const { freexl_close(h); }
};
using FreeXlHandle = std::unique_ptr<const void, FreeXlCloser>;

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS" as FreeXL prints them.
bool parseDate(std::string_view s, DbDate& d) {
    auto num = [&](std::size_t at, std::size_t len, int& out) {
        if (at + len > s.size()) {
            return false;
        }
        auto r = std::from_chars(s.data() + at, s.data() + at + len, out);
        return r.ec == std::errc() && r.ptr == s.data() + at + len;
    };
    d = DbDate{};
    if (s.size() == 8 && s[2] == ':') {
        d.hasDate = false;
        d.hasTime = true;
        return num(0, 2, d.hour) && num(3, 2, d.minute) && num(6, 2, d.second);
    }
    if (s.size() < 10 || !num(0, 4, d.year) || !num(5, 2, d.month) || !num(8, 2, d.day)) {
        return false;
    }
    if (s.size() >= 19) {
        d.hasTime = true;
        return num(11, 2, d.hour) && num(14, 2, d.minute) && num(17, 2, d.second);
    }
    return true;
}

DbValue cellValue(const FreeXL_CellValue& cell) {
    switch (cell.type) {
        case FREEXL_CELL_INT:
            return static_cast<std::int32_t>(cell.value.int_value);
        case FREEXL_CELL_DOUBLE:
            return cell.value.double_value;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
            return DbWideString{cell.value.text_value != nullptr ? cell.value.text_value : ""};
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME: {
            DbDate d;
            if (cell.value.text_value != nullptr && parseDate(cell.value.text_value, d)) {
                return d;
            }
            return DbNull{};
        }
        default:
            return DbNull{};
    }
}

// The two file generations behind one sheet-table source.
class Workbook {
public:
    virtual ~Workbook() = default;
    virtual Result<std::vector<std::string>> sheetNames() = 0;  // UTF-8
    // The cells of a sheet, row by row from the first sheet row.
    virtual Result<std::vector<std::vector<DbValue>>> readGrid(std::size_t index,
                                                               const std::string& label) = 0;
};

class FreeXlWorkbook final : public Workbook {
public:
    FreeXlWorkbook(FreeXlHandle h, std::string path)
        : m_handle(std::move(h)), m_path(std::move(path)) {}

    Result<std::vector<std::string>> sheetNames() override {
        unsigned int count = 0;
        if (freexl_get_info(m_handle.get(), FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) {
            return makeError(m_path + ": cannot read the list of sheets");
        }
        std::vector<std::string> out;
        for (unsigned int i = 0; i < count && i < 0xFFFF; ++i) {
            const char* name = nullptr;
            if (freexl_get_worksheet_name(m_handle.get(), static_cast<unsigned short>(i), &name) ==
                    FREEXL_OK &&
                name != nullptr) {
                out.emplace_back(name);
            }
        }
        return out;
    }

    Result<std::vector<std::vector<DbValue>>> readGrid(std::size_t index,
                                                       const std::string& label) override {
        const void* h = m_handle.get();
        unsigned int rows = 0;
        unsigned short cols = 0;
        if (freexl_select_active_worksheet(h, static_cast<unsigned short>(index)) != FREEXL_OK ||
            freexl_worksheet_dimensions(h, &rows, &cols) != FREEXL_OK) {
            return makeError(m_path + ": cannot read sheet \"" + label + "\"");
        }
        if (rows > kMaxMemoryRows || static_cast<std::size_t>(rows) * cols > kMaxMemoryCells) {
            return makeError(m_path + ": sheet \"" + label + "\" has " + std::to_string(rows) +
                             " rows of " + std::to_string(cols) + " cells, more than is read");
        }
        std::vector<std::vector<DbValue>> grid;
        grid.reserve(rows);
        FreeXL_CellValue cell;
        for (unsigned int r = 0; r < rows; ++r) {
            std::vector<DbValue> row;
            row.reserve(cols);
            for (unsigned short c = 0; c < cols; ++c) {
                if (freexl_get_cell_value(h, r, c, &cell) != FREEXL_OK) {
                    if (r == 0) {
                        row.emplace_back(DbNull{});  // an unreadable heading: named F<n> below
                        continue;
                    }
                    return makeError(m_path + ": cannot read cell " + std::to_string(r + 1) + "," +
                                     std::to_string(c + 1) + " of sheet \"" + label + "\"");
                }
                row.push_back(cellValue(cell));
            }
            grid.push_back(std::move(row));
        }
        return grid;
    }

private:
    FreeXlHandle m_handle;
    std::string m_path;
};

class XlsxBook final : public Workbook {
public:
    explicit XlsxBook(XlsxWorkbook book) : m_book(std::move(book)) {}
    Result<std::vector<std::string>> sheetNames() override { return m_book.sheetNames(); }
    Result<std::vector<std::vector<DbValue>>> readGrid(std::size_t index,
                                                       const std::string&) override {
        return m_book.readSheet(index);
    }

private:
    XlsxWorkbook m_book;
};

// A sheet as a table: the first row gives the field names, a column without a
// heading is named F<n>, and a sheet whose only field would be "F1" has none.
std::shared_ptr<const MemoryTable> headedTable(std::vector<std::vector<DbValue>> grid) {
    auto table = std::make_shared<MemoryTable>();
    if (grid.empty()) {
        return table;
    }
    for (std::size_t c = 0; c < grid[0].size(); ++c) {
        std::string name;
        if (auto* w = std::get_if<DbWideString>(&grid[0][c])) {
            name = std::move(w->utf8);
        } else if (auto text = valueToText(grid[0][c])) {
            name = text.value();  // a number or date heading: ASCII text
        }
        if (name.empty()) {
            name = "F" + std::to_string(c + 1);
        }
        table->names.emplace_back(DbWideString{std::move(name)});
    }
    if (table->names.size() == 1 && std::get<DbWideString>(table->names[0]).utf8 == "F1") {
        table->names.clear();
        return table;
    }
    grid.erase(grid.begin());
    table->rows = std::move(grid);
    return table;
}

class ExcelSource final : public Source {
public:
    ExcelSource(std::unique_ptr<Workbook> book, std::string path)
        : m_book(std::move(book)), m_path(std::move(path)) {}

    Result<std::vector<TableEntry>> tables() override {
        auto names = m_book->sheetNames();
        if (!names) {
            return names.error();
        }
        std::vector<TableEntry> out;
        for (auto& n : names.value()) {
            out.push_back({"TABLE", std::move(n) + "$"});
        }
        return out;
    }

    Result<std::unique_ptr<Cursor>> open(std::string_view query) override {
        return openMemoryQuery(
            query, [this](const std::string& table) { return readSheet(table); },
            "Excel workbooks can only be read: the library behind them cannot write");
    }

private:
    Result<std::shared_ptr<const MemoryTable>> readSheet(const std::string& tableSjis) {
        auto wanted = sjisNameToUtf8(tableSjis);
        if (!wanted) {
            return wanted.error();
        }
        std::string sheet = wanted.value();
        if (sheet.size() >= 2 && sheet.front() == '\'' && sheet.back() == '\'') {
            sheet = sheet.substr(1, sheet.size() - 2);
        }
        if (sheet.empty() || sheet.back() != '$') {
            return makeError("\"" + wanted.value() +
                             "\" is not a sheet: sheet tables end in \"$\"");
        }
        sheet.pop_back();
        auto names = m_book->sheetNames();
        if (!names) {
            return names.error();
        }
        auto found = std::find_if(names->begin(), names->end(), [&](const std::string& n) {
            return sjis::equalsIgnoreCase(n, sheet);
        });
        if (found == names->end()) {
            return makeError(m_path + ": no sheet named \"" + sheet + "\"");
        }
        auto grid = m_book->readGrid(static_cast<std::size_t>(found - names->begin()), sheet);
        if (!grid) {
            return grid.error();
        }
        return headedTable(std::move(grid.value()));
    }

    std::unique_ptr<Workbook> m_book;
    std::string m_path;
};

}  // namespace

Result<std::shared_ptr<Source>> openExcelSource(const std::string& pathUtf8, int type) {
    (void)type;  // the file says which generation it is; the version a person chose need not match
    if (looksLikeZip(pathUtf8)) {
        auto book = XlsxWorkbook::openFile(pathUtf8);
        if (!book) {
            return book.error();
        }
        return std::shared_ptr<Source>(std::make_shared<ExcelSource>(
            std::make_unique<XlsxBook>(std::move(book.value())), pathUtf8));
    }
    const void* raw = nullptr;
    int rc = freexl_open(pathUtf8.c_str(), &raw);
    FreeXlHandle handle(raw);  // closed even when the open failed
    if (rc != FREEXL_OK) {
        return makeError(pathUtf8 + ": not a readable Excel workbook (FreeXL error " +
                         std::to_string(rc) + ")");
    }
    return std::shared_ptr<Source>(std::make_shared<ExcelSource>(
        std::make_unique<FreeXlWorkbook>(std::move(handle), pathUtf8), pathUtf8));
}

}  // namespace tarn::db::detail

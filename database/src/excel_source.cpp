// Source types 2 and 3: Excel 5.0/95 and 97-2003 workbooks through FreeXL.
// Each worksheet is a table named "<sheet>$"; its first row gives the field
// names, and a column without a heading is named F<n> as the spreadsheet
// driver names it.
#include <freexl.h>

#include <charconv>
#include <cstdlib>
#include <memory>

#include "common/sjis.h"
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

class ExcelSource final : public Source {
public:
    ExcelSource(FreeXlHandle h, std::string path)
        : m_handle(std::move(h)), m_path(std::move(path)) {}

    Result<std::vector<TableEntry>> tables() override {
        unsigned int count = 0;
        if (freexl_get_info(m_handle.get(), FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) {
            return makeError(m_path + ": cannot read the list of sheets");
        }
        std::vector<TableEntry> out;
        for (unsigned int i = 0; i < count && i < 0xFFFF; ++i) {
            const char* name = nullptr;
            if (freexl_get_worksheet_name(m_handle.get(), static_cast<unsigned short>(i), &name) ==
                    FREEXL_OK &&
                name != nullptr) {
                out.push_back({"TABLE", std::string(name) + "$"});
            }
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
        auto list = tables();
        if (!list) {
            return list.error();
        }
        std::size_t index = list->size();
        for (std::size_t i = 0; i < list->size(); ++i) {
            const std::string& n = (*list)[i].nameUtf8;
            if (sjis::equalsIgnoreCase(std::string_view(n).substr(0, n.size() - 1), sheet)) {
                index = i;
                break;
            }
        }
        if (index == list->size()) {
            return makeError(m_path + ": no sheet named \"" + sheet + "\"");
        }
        const void* h = m_handle.get();
        unsigned int rows = 0;
        unsigned short cols = 0;
        if (freexl_select_active_worksheet(h, static_cast<unsigned short>(index)) != FREEXL_OK ||
            freexl_worksheet_dimensions(h, &rows, &cols) != FREEXL_OK) {
            return makeError(m_path + ": cannot read sheet \"" + sheet + "\"");
        }
        if (rows > kMaxMemoryRows || static_cast<std::size_t>(rows) * cols > kMaxMemoryCells) {
            return makeError(m_path + ": sheet \"" + sheet + "\" has " + std::to_string(rows) +
                             " rows of " + std::to_string(cols) + " cells, more than is read");
        }
        auto table = std::make_shared<MemoryTable>();
        FreeXL_CellValue cell;
        if (rows > 0) {
            for (unsigned short c = 0; c < cols; ++c) {
                std::string name;
                if (freexl_get_cell_value(h, 0, c, &cell) == FREEXL_OK) {
                    DbValue heading = cellValue(cell);
                    if (auto* w = std::get_if<DbWideString>(&heading)) {
                        name = std::move(w->utf8);
                    } else if (auto text = valueToText(heading)) {
                        name = text.value();  // a number or date heading: ASCII text
                    }
                }
                if (name.empty()) {
                    name = "F" + std::to_string(c + 1);
                }
                table->names.emplace_back(DbWideString{std::move(name)});
            }
        }
        // A sheet whose only field is the made-up "F1" has no heading at all.
        if (table->names.size() == 1 && std::get<DbWideString>(table->names[0]).utf8 == "F1") {
            table->names.clear();
        }
        if (!table->names.empty()) {
            table->rows.reserve(rows - 1);
            for (unsigned int r = 1; r < rows; ++r) {
                std::vector<DbValue> row;
                row.reserve(cols);
                for (unsigned short c = 0; c < cols; ++c) {
                    if (freexl_get_cell_value(h, r, c, &cell) != FREEXL_OK) {
                        return makeError(m_path + ": cannot read cell " + std::to_string(r + 1) +
                                         "," + std::to_string(c + 1) + " of sheet \"" + sheet +
                                         "\"");
                    }
                    row.push_back(cellValue(cell));
                }
                table->rows.push_back(std::move(row));
            }
        }
        return std::shared_ptr<const MemoryTable>(std::move(table));
    }

    FreeXlHandle m_handle;
    std::string m_path;
};

}  // namespace

Result<std::shared_ptr<Source>> openExcelSource(const std::string& pathUtf8, int type) {
    (void)type;  // FreeXL reads both generations; the version a person chose need not match
    const void* raw = nullptr;
    int rc = freexl_open(pathUtf8.c_str(), &raw);
    FreeXlHandle handle(raw);  // closed even when the open failed
    if (rc != FREEXL_OK) {
        return makeError(pathUtf8 + ": not a readable Excel 95-2003 workbook (FreeXL error " +
                         std::to_string(rc) + ")");
    }
    return std::shared_ptr<Source>(std::make_shared<ExcelSource>(std::move(handle), pathUtf8));
}

}  // namespace tarn::db::detail

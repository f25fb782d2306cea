#include "database/xlsx_reader.h"

#include <expat.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <string_view>

namespace tarn::db {
namespace {

// Excel's own bounds: no cell reference passes them.
constexpr std::uint32_t kMaxRow = 1'048'576;
constexpr std::uint32_t kMaxColumn = 16'384;

struct ZipDiscard {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipDiscard>;
struct ZipFileClose {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using ZipFile = std::unique_ptr<zip_file_t, ZipFileClose>;
struct ParserFree {
    void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};
using Parser = std::unique_ptr<XML_ParserStruct, ParserFree>;

std::string_view localName(const XML_Char* name) {
    std::string_view n(name);
    if (auto colon = n.rfind(':'); colon != std::string_view::npos) {
        n.remove_prefix(colon + 1);
    }
    return n;
}

const char* attribute(const XML_Char** attrs, std::string_view wanted) {
    for (std::size_t i = 0; attrs[i] != nullptr && attrs[i + 1] != nullptr; i += 2) {
        if (localName(attrs[i]) == wanted) {
            return attrs[i + 1];
        }
    }
    return nullptr;
}

// One XML part's reader: the element events it cares about.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void start(std::string_view name, const XML_Char** attrs) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view) {}
    // A limit the handler hit; parsing stops and this is the error.
    std::string failure;
};

struct ParseState {
    XML_Parser parser;
    XmlHandler* handler;
    bool doctype = false;
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attrs) {
    auto* s = static_cast<ParseState*>(data);
    s->handler->start(localName(name), attrs);
    if (!s->handler->failure.empty()) {
        XML_StopParser(s->parser, XML_FALSE);
    }
}
void XMLCALL onEnd(void* data, const XML_Char* name) {
    auto* s = static_cast<ParseState*>(data);
    s->handler->end(localName(name));
    if (!s->handler->failure.empty()) {
        XML_StopParser(s->parser, XML_FALSE);
    }
}
void XMLCALL onText(void* data, const XML_Char* text, int len) {
    auto* s = static_cast<ParseState*>(data);
    s->handler->text(std::string_view(text, static_cast<std::size_t>(len)));
    if (!s->handler->failure.empty()) {
        XML_StopParser(s->parser, XML_FALSE);
    }
}
// No part of a workbook needs a DTD; refusing it rules out entity expansion.
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* s = static_cast<ParseState*>(data);
    s->doctype = true;
    XML_StopParser(s->parser, XML_FALSE);
}

// Bounded text collection for an element's characters.
void appendBounded(XmlHandler& h, std::string& to, std::string_view text, std::size_t max) {
    if (to.size() + text.size() > max) {
        h.failure = "a text longer than " + std::to_string(max) + " bytes";
        return;
    }
    to.append(text);
}

class Relationships final : public XmlHandler {
public:
    void start(std::string_view name, const XML_Char** attrs) override {
        if (name == "Relationship") {
            const char* id = attribute(attrs, "Id");
            const char* target = attribute(attrs, "Target");
            const char* type = attribute(attrs, "Type");
            if (id != nullptr && target != nullptr) {
                targets[id] = {target, type != nullptr ? type : ""};
            }
        }
    }
    void end(std::string_view) override {}
    std::map<std::string, std::pair<std::string, std::string>> targets;
};

class WorkbookPart final : public XmlHandler {
public:
    explicit WorkbookPart(std::size_t maxSheets) : m_max(maxSheets) {}
    void start(std::string_view name, const XML_Char** attrs) override {
        if (name == "sheet") {
            const char* n = attribute(attrs, "name");
            const char* id = attribute(attrs, "id");
            if (n != nullptr && id != nullptr) {
                if (sheets.size() >= m_max) {
                    failure = "more than " + std::to_string(m_max) + " sheets";
                    return;
                }
                sheets.emplace_back(n, id);
            }
        } else if (name == "workbookPr") {
            const char* d = attribute(attrs, "date1904");
            date1904 =
                d != nullptr && (std::string_view(d) == "1" || std::string_view(d) == "true");
        }
    }
    void end(std::string_view) override {}
    std::vector<std::pair<std::string, std::string>> sheets;  // name, relationship id
    bool date1904 = false;

private:
    std::size_t m_max;
};

class SharedStrings final : public XmlHandler {
public:
    SharedStrings(std::size_t maxCount, std::size_t maxBytes)
        : m_max(maxCount), m_bytes(maxBytes) {}
    void start(std::string_view name, const XML_Char**) override {
        if (name == "si") {
            if (strings.size() >= m_max) {
                failure = "more than " + std::to_string(m_max) + " shared strings";
                return;
            }
            m_current.clear();
            m_inItem = true;
        } else if (name == "rPh") {
            ++m_phonetic;  // furigana: not part of the cell's text
        } else if (name == "t" && m_inItem && m_phonetic == 0) {
            m_inText = true;
        }
    }
    void end(std::string_view name) override {
        if (name == "si" && m_inItem) {
            strings.push_back(std::move(m_current));
            m_current.clear();
            m_inItem = false;
        } else if (name == "rPh" && m_phonetic > 0) {
            --m_phonetic;
        } else if (name == "t") {
            m_inText = false;
        }
    }
    void text(std::string_view t) override {
        if (m_inText) {
            appendBounded(*this, m_current, t, m_bytes);
        }
    }
    std::vector<std::string> strings;

private:
    std::size_t m_max, m_bytes;
    std::string m_current;
    bool m_inItem = false, m_inText = false;
    int m_phonetic = 0;
};

class Styles final : public XmlHandler {
public:
    void start(std::string_view name, const XML_Char** attrs) override {
        if (name == "numFmt") {
            const char* id = attribute(attrs, "numFmtId");
            const char* code = attribute(attrs, "formatCode");
            int n = 0;
            if (id != nullptr && code != nullptr &&
                std::from_chars(id, id + std::char_traits<char>::length(id), n).ec == std::errc()) {
                m_codes[n] = code;
            }
        } else if (name == "cellXfs") {
            m_inCellXfs = true;
        } else if (name == "xf" && m_inCellXfs) {
            const char* id = attribute(attrs, "numFmtId");
            int n = 0;
            if (id != nullptr) {
                (void)std::from_chars(id, id + std::char_traits<char>::length(id), n);
            }
            m_formats.push_back(n);
        }
    }
    void end(std::string_view name) override {
        if (name == "cellXfs") {
            m_inCellXfs = false;
        }
    }
    // Which cell formats (by index, the cells' s attribute) show a date.
    std::vector<bool> dateStyles() const {
        std::vector<bool> out;
        for (int id : m_formats) {
            auto code = m_codes.find(id);
            out.push_back(isDateFormat(id, code != m_codes.end() ? code->second : std::string()));
        }
        return out;
    }

private:
    std::map<int, std::string> m_codes;
    std::vector<int> m_formats;
    bool m_inCellXfs = false;
};

// "AB12" -> column 28, row 12 (1-based). False for anything else.
bool parseReference(std::string_view ref, std::uint32_t& column, std::uint32_t& row) {
    std::size_t i = 0;
    column = 0;
    while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && i < 3) {
        column = column * 26 + static_cast<std::uint32_t>(ref[i] - 'A' + 1);
        ++i;
    }
    if (i == 0 || column > kMaxColumn) {
        return false;
    }
    auto r = std::from_chars(ref.data() + i, ref.data() + ref.size(), row);
    return r.ec == std::errc() && r.ptr == ref.data() + ref.size() && row >= 1 && row <= kMaxRow;
}

struct SparseCell {
    std::uint32_t row, column;  // 0-based
    DbValue value;
};

class SheetPart final : public XmlHandler {
public:
    SheetPart(const std::vector<std::string>& strings, const std::vector<bool>& dateStyles,
              bool date1904, const XlsxLimits& limits)
        : m_strings(strings), m_dates(dateStyles), m_1904(date1904), m_limits(limits) {}

    void start(std::string_view name, const XML_Char** attrs) override {
        if (name == "row") {
            const char* r = attribute(attrs, "r");
            std::uint32_t n = m_row + 1;
            if (r != nullptr) {
                auto res = std::from_chars(r, r + std::char_traits<char>::length(r), n);
                if (res.ec != std::errc() || n < 1 || n > kMaxRow) {
                    failure = std::string("row number \"") + r + "\" is not one of a sheet";
                    return;
                }
                --n;
            } else if (!m_started) {
                n = 0;
            }
            m_row = n;
            m_started = true;
            m_column = static_cast<std::uint32_t>(-1);
        } else if (name == "c") {
            const char* r = attribute(attrs, "r");
            if (r != nullptr) {
                std::uint32_t column = 0, row = 0;
                if (!parseReference(r, column, row)) {
                    failure = std::string("cell reference \"") + r + "\" is not one of a sheet";
                    return;
                }
                m_column = column - 1;
                m_row = row - 1;
            } else {
                ++m_column;
                if (m_column >= kMaxColumn) {
                    failure = "a row with more than " + std::to_string(kMaxColumn) + " cells";
                    return;
                }
            }
            const char* t = attribute(attrs, "t");
            m_type = t != nullptr ? t : "n";
            const char* s = attribute(attrs, "s");
            m_style = 0;
            if (s != nullptr) {
                (void)std::from_chars(s, s + std::char_traits<char>::length(s), m_style);
            }
            m_value.clear();
            m_inCell = true;
        } else if (m_inCell && (name == "v" || (name == "t" && m_phonetic == 0))) {
            m_collect = true;
        } else if (name == "rPh") {
            ++m_phonetic;
        }
    }

    void end(std::string_view name) override {
        if (name == "v" || name == "t") {
            m_collect = false;
        } else if (name == "rPh" && m_phonetic > 0) {
            --m_phonetic;
        } else if (name == "c" && m_inCell) {
            m_inCell = false;
            DbValue v = cellValue();
            if (!failure.empty() || std::holds_alternative<DbNull>(v)) {
                return;
            }
            if (cells.size() >= m_limits.maxCells) {
                failure = "more than " + std::to_string(m_limits.maxCells) + " cells";
                return;
            }
            cells.push_back({m_row, m_column, std::move(v)});
        }
    }

    void text(std::string_view t) override {
        if (m_collect) {
            appendBounded(*this, m_value, t, m_limits.maxPartBytes);
        }
    }

    std::vector<SparseCell> cells;

private:
    DbValue cellValue() {
        if (m_type == "s") {
            std::size_t index = 0;
            auto r = std::from_chars(m_value.data(), m_value.data() + m_value.size(), index);
            if (r.ec != std::errc() || index >= m_strings.size()) {
                failure = "shared string \"" + m_value.substr(0, 20) + "\" is not in the workbook";
                return DbNull{};
            }
            return DbWideString{m_strings[index]};
        }
        if (m_type == "inlineStr" || m_type == "str") {
            return DbWideString{m_value};
        }
        if (m_value.empty() || m_type == "e") {
            return DbNull{};  // an error value (#DIV/0! ...) reads as null, as the drivers give it
        }
        if (m_type == "b") {
            return DbBool{m_value == "1" || m_value == "true"};
        }
        double d = 0;
        auto r = std::from_chars(m_value.data(), m_value.data() + m_value.size(), d);
        if (r.ec != std::errc() || r.ptr != m_value.data() + m_value.size() || !std::isfinite(d)) {
            return DbWideString{m_value};  // not a number after all: keep what is there
        }
        if (m_style < m_dates.size() && m_dates[m_style]) {
            return toDate(d);
        }
        if (d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0) {
            return static_cast<std::int32_t>(d);
        }
        return d;
    }

    DbValue toDate(double serial) const {
        const bool timeOnly = serial >= 0 && serial < 1;
        if (m_1904) {
            serial += 1462;
        } else if (serial < 60) {
            serial += 1;  // the 1900 system counts a 29 February 1900 that never was
        }
        DbDate date;
        if (serial < 0 || !dateFromSerial(serial, date)) {
            return serial;
        }
        if (timeOnly) {
            date.hasDate = false;
            date.hasTime = true;
        }
        return date;
    }

    const std::vector<std::string>& m_strings;
    const std::vector<bool>& m_dates;
    bool m_1904;
    const XlsxLimits& m_limits;
    std::uint32_t m_row = 0;
    std::uint32_t m_column = static_cast<std::uint32_t>(-1);
    bool m_started = false;
    bool m_inCell = false, m_collect = false;
    int m_phonetic = 0;
    std::string m_type;
    std::size_t m_style = 0;
    std::string m_value;
};

// Zip part names are compared ignoring case, as the package format says; a
// relationship target is relative to the part that names it unless it starts
// with "/".
std::string resolveTarget(std::string_view base, std::string_view target) {
    if (!target.empty() && target.front() == '/') {
        return std::string(target.substr(1));
    }
    std::vector<std::string> parts;
    auto push = [&](std::string_view path) {
        std::size_t at = 0;
        while (at <= path.size()) {
            std::size_t slash = path.find('/', at);
            if (slash == std::string_view::npos) {
                slash = path.size();
            }
            std::string_view part = path.substr(at, slash - at);
            if (part == "..") {
                if (!parts.empty()) {
                    parts.pop_back();
                }
            } else if (!part.empty() && part != ".") {
                parts.emplace_back(part);
            }
            at = slash + 1;
        }
    };
    push(base);
    push(target);
    std::string out;
    for (const auto& p : parts) {
        out += (out.empty() ? "" : "/") + p;
    }
    return out;
}

}  // namespace

struct XlsxWorkbook::Impl {
    std::string memory;  // the archive, when opened from memory (libzip reads it in place)
    ZipHandle zip;
    XlsxLimits limits;
    std::string label;  // the file, for messages
    std::vector<std::string> names;
    std::vector<std::string> parts;
    bool date1904 = false;
    bool haveShared = false;
    std::vector<std::string> strings;
    std::vector<bool> dateStyles;

    // Streams one part through expat. A missing part is an error unless
    // `optional`, when it is simply not read.
    Status parse(const std::string& name, XmlHandler& handler, bool optional = false) {
        const zip_int64_t index = zip_name_locate(zip.get(), name.c_str(), ZIP_FL_NOCASE);
        if (index < 0) {
            if (optional) {
                return Ok{};
            }
            return makeError(label + ": the workbook has no part \"" + name + "\"");
        }
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip.get(), static_cast<zip_uint64_t>(index), 0, &st) == 0 &&
            (st.valid & ZIP_STAT_SIZE) != 0 && st.size > limits.maxPartBytes) {
            return makeError(label + ": part \"" + name + "\" unpacks to " +
                             std::to_string(st.size) + " bytes, more than the " +
                             std::to_string(limits.maxPartBytes) + " read");
        }
        ZipFile file(zip_fopen_index(zip.get(), static_cast<zip_uint64_t>(index), 0));
        if (!file) {
            return makeError(label + ": part \"" + name +
                             "\" cannot be unpacked: " + zip_strerror(zip.get()));
        }
        Parser parser(XML_ParserCreate("UTF-8"));
        if (!parser) {
            return makeError("out of memory for the XML parser");
        }
        ParseState state{parser.get(), &handler};
        XML_SetUserData(parser.get(), &state);
        XML_SetElementHandler(parser.get(), onStart, onEnd);
        XML_SetCharacterDataHandler(parser.get(), onText);
        XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);
        std::array<char, std::size_t{64} * 1024> buffer{};
        std::size_t total = 0;
        while (true) {
            const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
            if (n < 0) {
                return makeError(label + ": part \"" + name +
                                 "\" is damaged: " + zip_file_strerror(file.get()));
            }
            total += static_cast<std::size_t>(n);
            if (total > limits.maxPartBytes) {  // whatever the header said
                return makeError(label + ": part \"" + name + "\" unpacks to more than " +
                                 std::to_string(limits.maxPartBytes) + " bytes");
            }
            const bool last = n == 0;
            if (XML_Parse(parser.get(), buffer.data(), static_cast<int>(n), last ? 1 : 0) ==
                XML_STATUS_ERROR) {
                std::string why = state.doctype ? "a document type declaration is not accepted"
                                  : !handler.failure.empty()
                                      ? handler.failure
                                      : XML_ErrorString(XML_GetErrorCode(parser.get()));
                return makeError(label + ": part \"" + name + "\", line " +
                                 std::to_string(XML_GetCurrentLineNumber(parser.get())) + ": " +
                                 why);
            }
            if (last) {
                return Ok{};
            }
        }
    }

    Status readStructure() {
        WorkbookPart workbook(limits.maxSheets);
        if (auto st = parse("xl/workbook.xml", workbook); !st) {
            return st;
        }
        Relationships rels;
        if (auto st = parse("xl/_rels/workbook.xml.rels", rels); !st) {
            return st;
        }
        date1904 = workbook.date1904;
        for (const auto& [name, id] : workbook.sheets) {
            auto target = rels.targets.find(id);
            if (target == rels.targets.end()) {
                return makeError(label + ": sheet \"" + name + "\" has no part");
            }
            const std::string& type = target->second.second;
            constexpr std::string_view kWorksheet = "/worksheet";
            if (!type.empty() && (type.size() < kWorksheet.size() ||
                                  type.compare(type.size() - kWorksheet.size(), kWorksheet.size(),
                                               kWorksheet) != 0)) {
                continue;  // a chart sheet or dialog sheet holds no table
            }
            names.push_back(name);
            parts.push_back(resolveTarget("xl", target->second.first));
        }
        return Ok{};
    }

    Status readShared() {
        if (haveShared) {
            return Ok{};
        }
        SharedStrings shared(limits.maxSharedStrings, limits.maxPartBytes);
        if (auto st = parse("xl/sharedStrings.xml", shared, true); !st) {
            return st;
        }
        Styles styles;
        if (auto st = parse("xl/styles.xml", styles, true); !st) {
            return st;
        }
        strings = std::move(shared.strings);
        dateStyles = styles.dateStyles();
        haveShared = true;
        return Ok{};
    }
};

XlsxWorkbook::XlsxWorkbook(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
XlsxWorkbook::XlsxWorkbook(XlsxWorkbook&&) noexcept = default;
XlsxWorkbook& XlsxWorkbook::operator=(XlsxWorkbook&&) noexcept = default;
XlsxWorkbook::~XlsxWorkbook() = default;

Result<XlsxWorkbook> XlsxWorkbook::openFile(const std::filesystem::path& path,
                                            const XlsxLimits& limits) {
    auto impl = std::make_unique<Impl>();
    impl->limits = limits;
    impl->label = path.string();
    int code = 0;
    impl->zip.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!impl->zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        std::string why = zip_error_strerror(&error);
        zip_error_fini(&error);
        return makeError(impl->label + ": not a readable .xlsx workbook (" + why + ")");
    }
    if (auto st = impl->readStructure(); !st) {
        return st.error();
    }
    return XlsxWorkbook(std::move(impl));
}

Result<XlsxWorkbook> XlsxWorkbook::openMemory(std::string bytes, const XlsxLimits& limits) {
    auto impl = std::make_unique<Impl>();
    impl->limits = limits;
    impl->label = "workbook";
    impl->memory = std::move(bytes);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source =
        zip_source_buffer_create(impl->memory.data(), impl->memory.size(), 0, &error);
    if (source != nullptr) {
        impl->zip.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
        if (!impl->zip) {
            zip_source_free(source);
        }
    }
    if (!impl->zip) {
        std::string why = zip_error_strerror(&error);
        zip_error_fini(&error);
        return makeError("not a readable .xlsx workbook (" + why + ")");
    }
    zip_error_fini(&error);
    if (auto st = impl->readStructure(); !st) {
        return st.error();
    }
    return XlsxWorkbook(std::move(impl));
}

const std::vector<std::string>& XlsxWorkbook::sheetNames() const {
    return m_impl->names;
}

Result<std::vector<std::vector<DbValue>>> XlsxWorkbook::readSheet(std::size_t index) {
    Impl& w = *m_impl;
    if (index >= w.parts.size()) {
        return makeError(w.label + ": no sheet number " + std::to_string(index + 1));
    }
    if (auto st = w.readShared(); !st) {
        return st.error();
    }
    SheetPart sheet(w.strings, w.dateStyles, w.date1904, w.limits);
    if (auto st = w.parse(w.parts[index], sheet); !st) {
        return st.error();
    }
    std::size_t rows = 0, columns = 0;
    for (const auto& c : sheet.cells) {
        rows = std::max<std::size_t>(rows, c.row + 1);
        columns = std::max<std::size_t>(columns, c.column + 1);
    }
    if (rows * columns > w.limits.maxCells) {
        return makeError(w.label + ": sheet \"" + w.names[index] + "\" spans " +
                         std::to_string(rows) + " rows of " + std::to_string(columns) +
                         " cells, more than the " + std::to_string(w.limits.maxCells) + " read");
    }
    std::vector<std::vector<DbValue>> grid(rows, std::vector<DbValue>(columns, DbNull{}));
    for (auto& c : sheet.cells) {
        grid[c.row][c.column] = std::move(c.value);  // a repeated reference: the last one wins
    }
    return grid;
}

bool looksLikeZip(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::array<char, 4> head{};
    return in.read(head.data(), head.size()) && head == std::array<char, 4>{'P', 'K', 3, 4};
}

bool isDateFormat(int id, const std::string& code) {
    // Built-in date and time formats, with the East Asian ones (27-36, 50-58).
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
        (id >= 50 && id <= 58)) {
        return true;
    }
    bool quoted = false;
    int bracket = 0;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (quoted) {
            quoted = c != '"';
            continue;
        }
        switch (c) {
            case '"':
                quoted = true;
                break;
            case '[':
                ++bracket;
                break;
            case ']':
                bracket = bracket > 0 ? bracket - 1 : 0;
                break;
            case '\\':
            case '_':
            case '*':
                ++i;  // the next character is literal (or a fill or space width)
                break;
            default:
                if (bracket == 0 &&
                    std::string_view("dmyhsDMYHS").find(c) != std::string_view::npos) {
                    return true;
                }
        }
    }
    return false;
}

}  // namespace tarn::db

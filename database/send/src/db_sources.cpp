#include "dbsend/db_sources.h"

#include <algorithm>
#include <climits>

#include "common/cp932.h"
#include "common/files.h"
#include "common/program.h"
#include "database/db_connection.h"
#include "verify/address.h"

namespace tarn::dbsend {
namespace {

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The domain a deny list entry is matched against: after the first "@", up to
// a further "@".
std::optional<std::string_view> domainOf(std::string_view address) {
    const auto at = address.find('@');
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view domain = address.substr(at + 1);
    return domain.substr(0, domain.find('@'));
}

// Workbook cells keep Excel's line break, a lone LF; mail wants CR LF.
void crlfLineBreaks(std::string& value) {
    if (value.find('\n') == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(value.size() + 8);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\n' && (i == 0 || value[i - 1] != '\r')) {
            out += '\r';
        }
        out += value[i];
    }
    value = std::move(out);
}

std::string describe(const Error& e) {
    return e.message;
}

Status refusal(const RowRead& read) {
    std::string text = cp932::toUtf8Lossy(errorText(read.code));
    if (!read.detail.empty()) {
        text += " (" + read.detail + ")";
    }
    return makeError(text);
}

}  // namespace

DenyList DenyList::load(const std::filesystem::path& file) {
    DenyList list;
    if (auto lines = readLineList(file)) {
        for (const std::string& line : *lines) {
            list.m_domains.push_back(lowerAscii(line));
        }
    }
    std::sort(list.m_domains.begin(), list.m_domains.end());
    return list;
}

bool DenyList::denies(std::string_view address) const {
    auto domain = domainOf(address);
    return domain && std::binary_search(m_domains.begin(), m_domains.end(), lowerAscii(*domain));
}

RowRead readRows(const RowSourceOptions& options) {
    RowRead out;
    const Page page = pageOf(options.spec.type);
    db::DbConnection connection;
    if (!connection.Open(options.spec.type, options.spec.source)) {
        out.code = openErrorCode(page);
        out.detail = describe(connection.LastError());
        return out;
    }
    SourceSpec spec = options.spec;
    if (spec.type == db::kOdbc) {
        spec.odbcQuote = connection.IdentifierQuote();
    }
    const auto query = selectText(spec);
    if (!query) {
        out.code = errorNumber(DbSendError::NoEmailField);
        return out;
    }
    db::DbRecordset set;
    if (!set.Open(connection, *query)) {
        out.code = tableErrorCode(page);
        out.detail = describe(set.LastError());
        return out;
    }
    if (set.AtEnd()) {
        out.code = errorNumber(DbSendError::NoRows);
        return out;
    }
    // The record set's column of each mapped slot.
    std::array<int, kSlotCount> column{};
    int next = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        column[static_cast<std::size_t>(slot)] =
            spec.fields[static_cast<std::size_t>(slot)].empty() ? -1 : next++;
    }
    long long row = 1;
    if (options.range.from > 1) {
        if (!set.Move(options.range.from - 1) || set.AtEnd()) {
            out.code = errorNumber(DbSendError::Move);
            return out;
        }
        row = options.range.from;
    }
    const bool excel = spec.type == db::kExcel95 || spec.type == db::kExcel97;
    std::array<std::string, kSlotCount> v;
    while (!set.AtEnd() && (options.range.to == 0 || row <= options.range.to)) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            std::string& value = v[static_cast<std::size_t>(slot)];
            value.clear();
            const int c = column[static_cast<std::size_t>(slot)];
            if (c < 0) {
                continue;
            }
            if (!set.SelectField(c) || !set.FieldAsText(value)) {
                // A character Shift_JIS cannot hold is named, never dropped.
                out.code = errorNumber(DbSendError::Read);
                out.detail = std::to_string(row) + "行目 " +
                             cp932::toUtf8Lossy(spec.fields[static_cast<std::size_t>(slot)]) +
                             ": " + describe(set.LastError());
                out.rows.clear();
                return out;
            }
            if (excel) {
                crlfLineBreaks(value);
            }
        }
        driver::Recipient& r = out.rows.emplace_back();
        r.position = row > INT_MAX ? INT_MAX : static_cast<int>(row);
        r.eligible = true;
        r.address = v[kEmail];
        r.values[0] = v[kCompany];
        r.values[1] = v[kDepartment];
        r.values[2] = v[kTitle];
        r.values[3] = v[kSurname] + v[kGivenName];
        r.values[4] = spec.honorific;
        for (std::size_t i = 0; i < 10; ++i) {
            r.values[5 + i] = v[kFreeField1 + i];
        }
        if (!set.MoveNext()) {
            out.code = errorNumber(DbSendError::Move);
            out.detail = describe(set.LastError());
            out.rows.clear();
            return out;
        }
        ++row;
    }
    return out;
}

const RowRead& RowCache::load() {
    if (!m_loaded) {
        m_read = readRows(m_options);
        m_loaded = true;
    }
    return m_read;
}

Status RowCache::rewind() {
    m_next = 0;
    if (load().code != 0) {
        return refusal(m_read);
    }
    return Ok{};
}

driver::Recipient* RowCache::next(std::size_t* index) {
    if (m_next >= m_read.rows.size()) {
        return nullptr;
    }
    if (index != nullptr) {
        *index = m_next;
    }
    return &m_read.rows[m_next++];
}

namespace {
int clampedCount(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
}
}  // namespace

bool DbRecipients::denied(std::size_t i) {
    if (!m_deny) {
        return false;
    }
    if (!m_denied) {
        const auto& file = m_rows.options().denyFile;
        const DenyList list =
            DenyList::load(file.empty() ? besideProgram(verify::kDenyListFile) : file);
        const auto& rows = m_rows.load().rows;
        m_denied.emplace(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            (*m_denied)[r] = list.denies(rows[r].address);
        }
    }
    return i < m_denied->size() && (*m_denied)[i];
}

int DbRecipients::eligibleCount() {
    std::size_t n = 0;
    const std::size_t rows = m_rows.load().rows.size();
    for (std::size_t i = 0; i < rows; ++i) {
        n += denied(i) ? 0 : 1;
    }
    return clampedCount(n);
}

void DbRecipients::visitEligible(const std::function<bool(const driver::Recipient&)>& visit) {
    const auto& rows = m_rows.load().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!denied(i) && !visit(rows[i])) {
            break;
        }
    }
}

bool DbRecipients::next(driver::Recipient& recipient) {
    std::size_t i = 0;
    for (driver::Recipient* r = m_rows.next(&i); r != nullptr; r = m_rows.next(&i)) {
        if (!denied(i)) {
            recipient = std::move(*r);  // the run takes each row once
            return true;
        }
    }
    return false;
}

int DbCheckSource::targetCount() {
    return clampedCount(m_rows.load().rows.size());
}

bool DbCheckSource::next(driver::CheckEntry& entry) {
    const driver::Recipient* r = m_rows.next();
    if (r == nullptr) {
        return false;
    }
    entry.position = r->position;
    entry.target = true;
    entry.stored = r->address;
    entry.key = static_cast<std::size_t>(r->position);
    return true;
}

}  // namespace tarn::dbsend

// The rows of a table as the recipients of a send or the records of a check.
//
// The rows are read once, before the confirmation, and the run sends to the
// rows the confirmation counted and previewed. Nothing is ever written back to
// the source: a refused message is only counted and logged.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dbsend/db_send.h"
#include "driver/check_driver.h"
#include "driver/send_driver.h"

namespace tarn::dbsend {

struct RowSourceOptions {
    SourceSpec spec;
    RowRange range;
    // Skip rows whose address's domain is in the deny list (sends only; the
    // switch's first state, see DbRecipients::setDeny).
    bool deny = false;
    std::filesystem::path denyFile;  // empty: DenyEmailDomain.txt beside the program
};

// One row as the send driver takes it: the row number as the log position,
// the address, and the fifteen merge values.
struct RowRead {
    int code = 0;        // 0, or the application's error code (1, 2, 5, 7, 8, 104, 204, 305)
    std::string detail;  // what the database layer said (UTF-8), for the terminal
    std::vector<driver::Recipient> rows;
};

// Reads the rows of a run: the mapped fields of every row in the range, as
// text, with the Excel types' lone LFs made CR LF, 名前 as surname directly
// followed by given name, and the page's honorific. The deny list is applied
// by DbRecipients. A table without rows is 7; a start row beyond the last row
// is 8.
RowRead readRows(const RowSourceOptions& options);

// The deny list: lower-cased, sorted, once per run.
class DenyList {
public:
    static DenyList load(const std::filesystem::path& file);
    // The domain is the text after the first "@" up to a further "@"; an
    // address without "@" is never denied.
    bool denies(std::string_view address) const;
    std::size_t size() const { return m_domains.size(); }

private:
    std::vector<std::string> m_domains;
};

// The rows both sources hold, read once: the count, the preview and the run
// all walk the same rows, so what the person confirmed is what is sent (a
// large CSV file is parsed once per send, not once per step).
class RowCache {
public:
    explicit RowCache(RowSourceOptions options) : m_options(std::move(options)) {}
    const RowSourceOptions& options() const { return m_options; }
    // 0 or an error code in code.
    const RowRead& load();
    // Ready for the run's walk from the first row; refused with the code's text.
    Status rewind();
    std::vector<driver::Recipient>& rows() { return m_read.rows; }
    // The next row of the run (its index in rows()), or null at the end.
    driver::Recipient* next(std::size_t* index = nullptr);

private:
    RowSourceOptions m_options;
    RowRead m_read;
    bool m_loaded = false;
    std::size_t m_next = 0;
};

class DbRecipients : public driver::RecipientSource {
public:
    explicit DbRecipients(RowSourceOptions options)
        : m_rows(std::move(options)), m_deny(m_rows.options().deny) {}

    const RowRead& load() { return m_rows.load(); }
    // The deny switch: rows whose domain the list holds are left out of the
    // count, the preview and the run (the list is read at most once).
    void setDeny(bool on) { m_deny = on; }
    int eligibleCount() override;
    void visitEligible(const std::function<bool(const driver::Recipient&)>& visit) override;
    Status beginRun() override { return m_rows.rewind(); }
    bool next(driver::Recipient& recipient) override;
    void markSendFailed() override {}  // nothing is written back

private:
    // Whether row `i` is left out by the deny switch.
    bool denied(std::size_t i);

    RowCache m_rows;
    bool m_deny;
    std::optional<std::vector<bool>> m_denied;  // per row, once the list was read
};

class DbCheckSource : public driver::CheckSource {
public:
    // A check looks at every row: the deny list is for sends.
    explicit DbCheckSource(RowSourceOptions options) : m_rows(withoutDeny(std::move(options))) {}

    const RowRead& load() { return m_rows.load(); }
    int targetCount() override;
    Status beginRun() override { return m_rows.rewind(); }
    bool next(driver::CheckEntry& entry) override;
    void setStatus(std::size_t, int) override {}  // rows have no status

private:
    static RowSourceOptions withoutDeny(RowSourceOptions o) {
        o.deny = false;
        return o;
    }
    RowCache m_rows;
};

}  // namespace tarn::dbsend

// Source type 1: Access .mdb databases through libmdb (mdbtools).
//
// Text, memo and exact numbers come from libmdb as text (text already converted
// to UTF-8 by libmdb); the fixed-size types are read from the row bytes
// themselves, so that dates before 1900 or in the year 9999 and currency keep
// their real values rather than libmdb's formatting of them.
// libmdb declares its functions inside extern "C" and pulls glib in there;
// glib must be included first, from C++.
#include <glib.h>
#include <mdbtools.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/sjis.h"
#include "source.h"

namespace tarn::db::detail {
namespace {

// Bound text per column: a memo holds at most 65,535 characters, 3 bytes each
// in UTF-8.
constexpr std::size_t kBindBytes = std::size_t{200} * 1024;

struct MdbCloser {
    void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableDefCloser {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefCloser>;

bool isBoundAsText(int type) {
    return type == MDB_TEXT || type == MDB_MEMO || type == MDB_NUMERIC || type == MDB_REPID ||
           type == MDB_BOOL;
}

template <class T>
T readRaw(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);  // little-endian on every platform we build for
    return v;
}

DbValue rawValue(const MdbHandle* mdb, const MdbColumn* col, const char* bound) {
    const int len = col->cur_value_len;
    const int start = col->cur_value_start;
    if (col->col_type == MDB_BOOL) {
        return DbBool{bound[0] != '\0' && std::strcmp(bound, "0") != 0};
    }
    if (isBoundAsText(col->col_type)) {
        if (len == 0) {
            return DbNull{};
        }
        if (col->col_type == MDB_NUMERIC) {
            return DbDecimal{bound};
        }
        return DbWideString{bound};
    }
    auto fits = [&](int n) {
        return len >= n && start >= 0 &&
               static_cast<std::size_t>(start) + static_cast<std::size_t>(n) <= sizeof mdb->pg_buf;
    };
    const unsigned char* p = mdb->pg_buf + (start >= 0 ? start : 0);
    switch (col->col_type) {
        case MDB_BYTE:
            return fits(1) ? DbValue(static_cast<std::uint8_t>(*p)) : DbValue(DbNull{});
        case MDB_INT:
            return fits(2) ? DbValue(readRaw<std::int16_t>(p)) : DbValue(DbNull{});
        case MDB_LONGINT:
            return fits(4) ? DbValue(readRaw<std::int32_t>(p)) : DbValue(DbNull{});
        case MDB_MONEY:
            return fits(8) ? DbValue(DbCurrency{readRaw<std::int64_t>(p)}) : DbValue(DbNull{});
        case MDB_FLOAT:
            return fits(4) ? DbValue(readRaw<float>(p)) : DbValue(DbNull{});
        case MDB_DOUBLE:
            return fits(8) ? DbValue(readRaw<double>(p)) : DbValue(DbNull{});
        case MDB_DATETIME: {
            DbDate d;
            if (fits(8) && dateFromSerial(readRaw<double>(p), d)) {
                return d;
            }
            return DbNull{};
        }
        default:  // binary, OLE objects, complex columns have no text
            return DbEmpty{};
    }
}

class AccessSource final : public Source {
public:
    AccessSource(MdbPtr mdb, std::string path) : m_mdb(std::move(mdb)), m_path(std::move(path)) {}

    Result<std::vector<TableEntry>> tables() override {
        if (mdb_read_catalog(m_mdb.get(), MDB_TABLE) == nullptr) {
            return makeError(m_path + ": cannot read the catalogue of the database");
        }
        std::vector<TableEntry> out;
        for (unsigned int i = 0; i < m_mdb->num_catalog; ++i) {
            auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(m_mdb->catalog, i));
            if (e == nullptr || e->object_type != MDB_TABLE) {
                continue;
            }
            out.push_back({mdb_is_system_table(e) ? "SYSTEM TABLE" : "TABLE",
                           std::string(e->object_name, strnlen(e->object_name, MDB_MAX_OBJ_NAME))});
        }
        return out;
    }

    Result<std::unique_ptr<Cursor>> open(std::string_view query) override {
        return openMemoryQuery(
            query, [this](const std::string& table) { return readTable(table); },
            "Access databases can only be read: the library behind them cannot write");
    }

private:
    Result<std::shared_ptr<const MemoryTable>> readTable(const std::string& tableSjis) {
        auto wanted = sjisNameToUtf8(tableSjis);
        if (!wanted) {
            return wanted.error();
        }
        if (mdb_read_catalog(m_mdb.get(), MDB_TABLE) == nullptr) {
            return makeError(m_path + ": cannot read the catalogue of the database");
        }
        MdbCatalogEntry* entry = nullptr;
        for (unsigned int i = 0; i < m_mdb->num_catalog && entry == nullptr; ++i) {
            auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(m_mdb->catalog, i));
            if (e != nullptr && e->object_type == MDB_TABLE &&
                sjis::equalsIgnoreCase(e->object_name, wanted.value())) {
                entry = e;
            }
        }
        if (entry == nullptr) {
            return makeError(m_path + ": no table named \"" + wanted.value() + "\"");
        }
        TableDefPtr def(mdb_read_table(entry));
        if (!def || mdb_read_columns(def.get()) == nullptr) {
            return makeError(m_path + ": cannot read the definition of table \"" + wanted.value() +
                             "\"");
        }
        auto table = std::make_shared<MemoryTable>();
        const unsigned int ncols = def->num_cols;
        std::vector<std::unique_ptr<char[]>> buffers(ncols);
        std::vector<int> lengths(ncols, 0);
        std::vector<MdbColumn*> cols(ncols);
        mdb_set_bind_size(m_mdb.get(), kBindBytes);
        for (unsigned int c = 0; c < ncols; ++c) {
            cols[c] = static_cast<MdbColumn*>(g_ptr_array_index(def->columns, c));
            table->names.emplace_back(
                DbWideString{std::string(cols[c]->name, strnlen(cols[c]->name, MDB_MAX_OBJ_NAME))});
            buffers[c] = std::make_unique<char[]>(kBindBytes + 1);
            // Columns without text are bound as well, so that libmdb reads them;
            // their values come from the row bytes.
            mdb_bind_column(def.get(), static_cast<int>(c + 1), buffers[c].get(), &lengths[c]);
        }
        mdb_rewind_table(def.get());
        while (mdb_fetch_row(def.get()) != 0) {
            if (table->rows.size() >= kMaxMemoryRows ||
                (table->rows.size() + 1) * ncols > kMaxMemoryCells) {
                return makeError(m_path + ": table \"" + wanted.value() +
                                 "\" has more rows than are read at once");
            }
            std::vector<DbValue> row;
            row.reserve(ncols);
            for (unsigned int c = 0; c < ncols; ++c) {
                buffers[c][kBindBytes] = '\0';
                row.push_back(rawValue(m_mdb.get(), cols[c], buffers[c].get()));
            }
            table->rows.push_back(std::move(row));
        }
        return std::shared_ptr<const MemoryTable>(std::move(table));
    }

    MdbPtr m_mdb;
    std::string m_path;
};

// Access 97 (Jet 3) stores text in the code page of the machine that wrote it,
// and libmdb would read it as CP1252: for this suite's users that is CP932.
// The converters of this one handle are replaced, so the process environment
// stays as it was; MDB_JET3_CHARSET, when set, still wins.
Status useCp932ForJet3(MdbHandle* mdb) {
    if (!IS_JET3(mdb) || std::getenv("MDB_JET3_CHARSET") != nullptr) {
        return Ok{};
    }
    const char* target = mdb_target_charset(mdb);  // what libmdb hands out (UTF-8)
    // iconv's failure value is a pointer made from -1.
    const auto failed = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
    iconv_t in = iconv_open(target, "CP932");
    iconv_t out = iconv_open("CP932", target);
    if (in == failed || out == failed) {
        if (in != failed) {
            iconv_close(in);
        }
        if (out != failed) {
            iconv_close(out);
        }
        return makeError("the CP932 converter is not available");
    }
    mdb_iconv_close(mdb);
    mdb->iconv_in = in;
    mdb->iconv_out = out;
    return Ok{};
}

}  // namespace

Result<std::shared_ptr<Source>> openAccessSource(const std::string& pathUtf8) {
    MdbPtr mdb(mdb_open(pathUtf8.c_str(), MDB_NOFLAGS));
    if (!mdb) {
        return makeError(pathUtf8 + ": not a readable Access database");
    }
    if (auto s = useCp932ForJet3(mdb.get()); !s) {
        return makeError(pathUtf8 + ": " + s.error().message);
    }
    return std::shared_ptr<Source>(std::make_shared<AccessSource>(std::move(mdb), pathUtf8));
}

}  // namespace tarn::db::detail

// Times saving and loading a full address book.
//
//   tn2_bench save CSV OUT.tn2   builds 99,999 records from the CSV sample (plus
//                                five groups of 10,000 members drawn from the
//                                first 60,000 records) and saves them
//   tn2_bench load FILE.tn2      loads the book; run it in its own process so
//                                that its peak memory is the load's alone
//
// Prints "name value unit" lines for run.sh.
#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "common/cp932.h"
#include "common/files.h"

namespace {

using tarn::addressbook::CTarnSendDoc;
using tarn::addressbook::Field;
using tarn::addressbook::Record;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kRecords = 99'999;

long maxRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A line "Name:  N kB" of /proc/self/status, or -1.
long procStatusKb(const std::string& name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

// Lets VmHWM measure the peak of what follows alone (Linux: "5" resets it).
bool resetPeakRss() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// RFC 4180 rows (quoted fields may hold commas, quotes and line breaks).
std::vector<std::vector<std::string>> parseCsv(const std::string& text, std::size_t maxRows) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size() && rows.size() < maxRows; ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

int save(const char* csvPath, const char* outPath) {
    auto csv = tarn::readWholeFile(csvPath);
    if (!csv) {
        std::fprintf(stderr, "%s\n", csv.error().message.c_str());
        return 1;
    }
    auto rows = parseCsv(*csv, kRecords + 1);
    if (rows.size() < kRecords + 1) {
        std::fprintf(stderr, "%s: only %zu rows\n", csvPath, rows.size());
        return 1;
    }
    CTarnSendDoc doc;
    if (!doc.OnNewDocument(tarn::addressbook::defaultFreeFieldTitles())) {
        return 1;
    }
    const std::string wideSpace = "\x81\x40";  // "　"
    for (std::size_t i = 1; i <= kRecords; ++i) {
        auto& c = rows[i];
        c.resize(13);
        Record r(Record::Texts{c[0],
                               c[1],
                               c[2],
                               c[3] + wideSpace + c[4],
                               c[5],
                               c[6],
                               c[7],
                               c[8],
                               c[9],
                               c[10],
                               c[11],
                               c[12],
                               {},
                               {},
                               {},
                               {}});
        r.setFolder(static_cast<std::uint16_t>(i % 6));
        r.setStatus(i % 97 == 0 ? tarn::addressbook::kStatusInvalid : 0);
        if (!doc.appendRecord(std::move(r))) {
            std::fprintf(stderr, "record %zu refused\n", i);
            return 1;
        }
    }
    for (std::size_t g = 0; g < 5; ++g) {
        std::vector<const Record*> members;
        for (std::size_t m = 0; m < 10'000; ++m) {
            members.push_back(&doc.record(m * 6 + g));  // spread over the first 60,000
        }
        if (!doc.addMembers(g, members)) {
            return 1;
        }
    }
    rows = {};
    *csv = std::string();
    malloc_trim(0);
    const bool peakReset = resetPeakRss();
    const long before = procStatusKb("VmRSS");
    const auto t = Clock::now();
    auto st = doc.OnSaveDocument(outPath);
    const double ms = msSince(t);
    if (!st) {
        std::fprintf(stderr, "%s\n", st.error().message.c_str());
        return 1;
    }
    std::printf("save_ms %.1f\n", ms);
    if (peakReset) {
        std::printf("save_start_rss_kb %ld\nsave_peak_rss_kb %ld\n", before, procStatusKb("VmHWM"));
    }
    return 0;
}

int load(const char* path) {
    const long before = maxRssKb();
    const auto t = Clock::now();
    CTarnSendDoc doc;
    auto st = doc.OnOpenDocument(path, tarn::addressbook::defaultFreeFieldTitles());
    const double ms = msSince(t);
    if (!st) {
        std::fprintf(stderr, "%s\n", st.error().message.c_str());
        return 1;
    }
    std::size_t members = 0;
    for (const auto& g : doc.groups()) {
        members += g.members.size();
    }
    std::printf("load_ms %.1f\nload_records %zu\nload_members %zu\n", ms, doc.recordCount(),
                members);
    std::printf("load_start_rss_kb %ld\nload_peak_rss_kb %ld\n", before, maxRssKb());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "save" && argc == 4) {
        return save(argv[2], argv[3]);
    }
    if (mode == "load" && argc == 3) {
        return load(argv[2]);
    }
    std::fprintf(stderr, "usage: tn2_bench save CSV OUT.tn2 | load FILE.tn2\n");
    return 2;
}

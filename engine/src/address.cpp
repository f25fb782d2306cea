#include "address.h"

#include "common/sjis.h"

namespace zeph {
namespace {

// Blanks every run from `open` up to its `close` (the closing byte is blanked
// too unless keepClose). An opener with no closer is left alone.
void blankRuns(std::string& work, char open, char close, bool keepClose) {
    std::size_t pos = 0;
    while ((pos = work.find(open, pos)) != std::string::npos) {
        std::size_t end = work.find(close, pos + 1);
        if (end == std::string::npos) {
            return;
        }
        for (std::size_t i = pos; i < end; ++i) {
            work[i] = ' ';
        }
        if (!keepClose) {
            work[end] = ' ';
        }
        pos = end + 1;
    }
}

}  // namespace

std::vector<std::string> extractAddresses(std::string_view value) {
    // The working copy keeps every byte at its place; double-byte characters
    // become "**" (the full-width space two spaces) so that no trail byte is
    // taken for a delimiter and no token that starts with one is an address.
    std::string work(value);
    for (std::size_t i = 0; i < work.size();) {
        if (tarn::sjis::isLeadByte(work[i])) {
            bool wideSpace = i + 1 < work.size() && static_cast<unsigned char>(work[i]) == 0x81 &&
                             static_cast<unsigned char>(work[i + 1]) == 0x40;
            work[i] = wideSpace ? ' ' : '*';
            if (i + 1 < work.size()) {
                work[i + 1] = wideSpace ? ' ' : '*';
            }
            i += 2;
        } else {
            ++i;
        }
    }
    blankRuns(work, '"', '"', false);
    blankRuns(work, '(', ')', true);
    blankRuns(work, '[', ']', false);
    blankRuns(work, '\'', '\'', false);

    // Text before a "<" within one address is its display name.
    std::size_t segment = 0;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (work[i] == ',' || work[i] == ';') {
            segment = i + 1;
        } else if (work[i] == '<') {
            for (std::size_t j = segment; j < i; ++j) {
                work[j] = ' ';
            }
            segment = i + 1;
        }
    }

    std::vector<std::string> addresses;
    constexpr std::string_view kDelimiters = " \t\r\n,;<>[]()";
    std::size_t pos = 0;
    while (pos < work.size()) {
        std::size_t start = work.find_first_not_of(kDelimiters, pos);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = work.find_first_of(kDelimiters, start);
        if (end == std::string::npos) {
            end = work.size();
        }
        if (work[start] != '*') {
            addresses.emplace_back(value.substr(start, end - start));
        }
        pos = end;
    }
    return addresses;
}

}  // namespace zeph

// Records collected from every response of one run, keyed by owner name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "packet_buffer.h"

namespace tarn::mx {

// Collects the A, NS and MX records of every section of every response, so
// that a record for one queried domain that arrives with another domain's
// answer (an additional-section A record, say) decides it too.
//
// Only owner names registered with watch() are kept: those are the only
// names ever looked up, and a server (or anything that manages to answer)
// cannot make the cache grow past the batch. Each name keeps a bounded number
// of distinct records of each type.
class DnsRecordCache {
public:
    static constexpr std::size_t kPerNameLimit = 32;

    // Owner names are compared case-insensitively (ASCII letters).
    void watch(std::string_view ownerName);
    void add(const DnsRecord& record);

    bool hasMx(std::string_view ownerName) const;
    bool hasA(std::string_view ownerName) const;

private:
    struct Entry {
        std::vector<std::uint32_t> a;
        std::vector<std::string> ns;
        std::vector<std::pair<std::uint16_t, std::string>> mx;
    };
    const Entry* find(std::string_view ownerName) const;

    std::unordered_map<std::string, Entry> m_entries;
};

std::string foldName(std::string_view name);

}  // namespace tarn::mx

#include "record_cache.h"

#include <algorithm>

namespace tarn::mx {

std::string foldName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

namespace {

template <class T>
void addDistinct(std::vector<T>& v, T value) {
    if (v.size() < DnsRecordCache::kPerNameLimit &&
        std::find(v.begin(), v.end(), value) == v.end()) {
        v.push_back(std::move(value));
    }
}

}  // namespace

void DnsRecordCache::watch(std::string_view ownerName) {
    m_entries.try_emplace(foldName(ownerName));
}

void DnsRecordCache::add(const DnsRecord& record) {
    auto it = m_entries.find(foldName(record.owner));
    if (it == m_entries.end()) {
        return;
    }
    Entry& e = it->second;
    switch (record.type) {
        case static_cast<std::uint16_t>(RecordType::A):
            addDistinct(e.a, record.address);
            break;
        case static_cast<std::uint16_t>(RecordType::NS):
            addDistinct(e.ns, record.target);
            break;
        case static_cast<std::uint16_t>(RecordType::MX):
            addDistinct(e.mx, std::pair{record.preference, record.target});
            break;
        default:
            break;
    }
}

const DnsRecordCache::Entry* DnsRecordCache::find(std::string_view ownerName) const {
    auto it = m_entries.find(foldName(ownerName));
    return it == m_entries.end() ? nullptr : &it->second;
}

bool DnsRecordCache::hasMx(std::string_view ownerName) const {
    const Entry* e = find(ownerName);
    return e != nullptr && !e->mx.empty();
}

bool DnsRecordCache::hasA(std::string_view ownerName) const {
    const Entry* e = find(ownerName);
    return e != nullptr && !e->a.empty();
}

}  // namespace tarn::mx

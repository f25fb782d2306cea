#include "collation.h"

#include <QCollatorSortKey>

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include "ui/sjis_text.h"

namespace tarn::gpsend {

namespace {

// CP932 keeps ASCII as it is, so an ASCII text (most addresses) needs no
// conversion; a full column of addresses is converted in a few milliseconds
// instead of a second.
QString toQString(std::string_view sjis) {
    for (char c : sjis) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return ui::fromSjis(sjis);
        }
    }
    return QString::fromLatin1(sjis.data(), static_cast<qsizetype>(sjis.size()));
}

}  // namespace

JapaneseCollation::JapaneseCollation() : m_collator(QLocale(QLocale::Japanese, QLocale::Japan)) {
    m_collator.setNumericMode(true);
}

std::vector<std::uint32_t> JapaneseCollation::ranks(std::span<const std::string_view> texts) const {
    // A column repeats its texts (honorifics, departments): each distinct text
    // is converted and given a sort key once. Texts the collator holds equal
    // share a rank, so the list orders them by send order.
    std::unordered_map<std::string_view, std::uint32_t> distinct;
    std::vector<std::uint32_t> slot(texts.size());
    std::vector<QCollatorSortKey> keys;
    std::vector<std::string_view> unique;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto [it, added] = distinct.emplace(texts[i], static_cast<std::uint32_t>(unique.size()));
        if (added) {
            unique.push_back(texts[i]);
            keys.push_back(m_collator.sortKey(toQString(texts[i])));
        }
        slot[i] = it->second;
    }
    std::vector<std::uint32_t> order(unique.size());
    std::iota(order.begin(), order.end(), 0U);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<std::uint32_t> rankOfUnique(unique.size());
    std::uint32_t rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) != 0) {
            ++rank;
        }
        rankOfUnique[order[i]] = rank;
    }
    std::vector<std::uint32_t> out(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        out[i] = rankOfUnique[slot[i]];
    }
    return out;
}

}  // namespace tarn::gpsend

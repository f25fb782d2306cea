#include "addressbook/record.h"

#include <limits>
#include <stdexcept>

#include "common/cp932.h"

namespace tarn::addressbook {

std::string_view statusText(std::int32_t status) {
    static const std::array<std::string, 5> kTexts = [] {
        const std::array<const char*, 5> utf8 = {"正常", "二重登録エラー", "妥当性エラー",
                                                 "DNS検索エラー", "送信エラー"};
        std::array<std::string, 5> sjis;
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            sjis[i] = cp932::fromUtf8(utf8[i]).value();
        }
        return sjis;
    }();
    if (status < 0 || static_cast<std::size_t>(status) >= kTexts.size()) {
        return {};
    }
    return kTexts[static_cast<std::size_t>(status)];
}

std::string_view Record::text(Field f) const {
    const auto i = static_cast<std::size_t>(f);
    const std::size_t b = begin(i);
    return std::string_view(m_text).substr(b, m_end[i] - b);
}

void Record::setText(Field f, std::string_view value) {
    const auto i = static_cast<std::size_t>(f);
    const std::size_t b = begin(i);
    const std::size_t oldSize = m_end[i] - b;
    const std::size_t newTotal = m_text.size() - oldSize + value.size();
    if (newTotal > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("record texts exceed 4 GiB");
    }
    m_text.replace(b, oldSize, value);
    for (std::size_t k = i; k < kFieldCount; ++k) {
        m_end[k] = static_cast<std::uint32_t>(m_end[k] - oldSize + value.size());
    }
}

void Record::assignTexts(const Texts& texts) {
    std::size_t total = 0;
    for (auto t : texts) {
        total += t.size();
    }
    if (total > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("record texts exceed 4 GiB");
    }
    std::string buffer;
    buffer.reserve(total);
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        buffer.append(texts[i]);
        m_end[i] = static_cast<std::uint32_t>(buffer.size());
    }
    m_text = std::move(buffer);
}

bool Record::sameData(const Record& other) const {
    return m_text == other.m_text && m_end == other.m_end && m_folder == other.m_folder &&
           m_status == other.m_status;
}

}  // namespace tarn::addressbook

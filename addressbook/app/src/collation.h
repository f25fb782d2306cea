// Japanese text order for the record list, with Qt's collator (ja_JP).
#pragma once

#include <QCollator>

#include "addressbook/list_view_state.h"

namespace tarn::gpsend {

class JapaneseCollation final : public addressbook::Collation {
public:
    JapaneseCollation();
    std::vector<std::uint32_t> ranks(std::span<const std::string_view> texts) const override;

private:
    QCollator m_collator;
};

}  // namespace tarn::gpsend

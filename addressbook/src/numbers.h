// Numbers in the document's messages.
#pragma once

#include <cstddef>
#include <string>

namespace tarn::addressbook {

// "99,999": thousands separated by commas.
inline std::string withThousands(std::size_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

}  // namespace tarn::addressbook

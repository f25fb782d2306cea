#include "common/sjis.h"

namespace tarn::sjis {

std::size_t find(std::string_view s, char c, std::size_t from) {
    for (std::size_t i = from; i < s.size(); i += charLength(s, i)) {
        if (s[i] == c) {
            return i;
        }
    }
    return std::string_view::npos;
}

std::size_t findFirstOf(std::string_view s, std::string_view set, std::size_t from) {
    for (std::size_t i = from; i < s.size(); i += charLength(s, i)) {
        if (set.find(s[i]) != std::string_view::npos && !isLeadByte(s[i])) {
            return i;
        }
    }
    return std::string_view::npos;
}

std::size_t rfind(std::string_view s, char c) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < s.size(); i += charLength(s, i)) {
        if (s[i] == c) {
            found = i;
        }
    }
    return found;
}

bool endsWithLoneLeadByte(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        if (isLeadByte(s[i]) && i + 1 >= s.size()) {
            return true;
        }
        i += charLength(s, i);
    }
    return false;
}

std::string_view truncate(std::string_view s, std::size_t maxBytes) {
    if (s.size() <= maxBytes) {
        return s;
    }
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t n = charLength(s, i);
        if (i + n > maxBytes) {
            break;
        }
        i += n;
    }
    return s.substr(0, i);
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); i += charLength(out, i)) {
        if (out[i] >= 'A' && out[i] <= 'Z') {
            out[i] = static_cast<char>(out[i] - 'A' + 'a');
        }
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto fold = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < a.size();) {
        std::size_t n = charLength(a, i);
        if (n == 2) {
            // A trail byte may lie in 'A'-'Z'; it is part of a kanji, not a letter.
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
                return false;
            }
        } else if (fold(a[i]) != fold(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

}  // namespace tarn::sjis

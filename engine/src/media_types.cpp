#include "media_types.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace zeph {
namespace {

constexpr std::size_t kMaxNameBytes = 127;  // RFC 6838 4.2, per half of the type

bool isRestrictedNameChar(char c, bool first) {
    const bool alnum = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (first) {
        return alnum;
    }
    return alnum || std::string_view("!#$&-^_.+").find(c) != std::string_view::npos;
}

bool isRestrictedName(std::string_view s) {
    if (s.empty() || s.size() > kMaxNameBytes) {
        return false;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!isRestrictedNameChar(s[i], i == 0)) {
            return false;
        }
    }
    return true;
}

bool isSendableType(std::string_view type) {
    const std::size_t slash = type.find('/');
    if (slash == std::string_view::npos || !isRestrictedName(type.substr(0, slash)) ||
        !isRestrictedName(type.substr(slash + 1))) {
        return false;
    }
    const std::string top = [&] {
        std::string t(type.substr(0, slash));
        std::transform(t.begin(), t.end(), t.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return t;
    }();
    return top != "message" && top != "multipart";
}

bool isExtension(std::string_view s) {
    return !s.empty() && s.size() <= 32 && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' ||
               c == '+' || c == '.';
    });
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

MediaTypes MediaTypes::parse(std::string_view table) {
    MediaTypes types;
    table = table.substr(0, kMaxTableBytes);
    while (!table.empty()) {
        const std::size_t eol = table.find('\n');
        std::string_view line = table.substr(0, eol);
        table.remove_prefix(eol == std::string_view::npos ? table.size() : eol + 1);
        line = line.substr(0, line.find('#'));
        std::string_view type;
        std::size_t pos = 0;
        while (pos < line.size()) {
            const std::size_t start = line.find_first_not_of(" \t\r\v\f", pos);
            if (start == std::string_view::npos) {
                break;
            }
            std::size_t end = line.find_first_of(" \t\r\v\f", start);
            end = end == std::string_view::npos ? line.size() : end;
            const std::string_view word = line.substr(start, end - start);
            pos = end;
            if (type.empty()) {
                type = word;
                if (!isSendableType(type)) {
                    break;
                }
            } else if (isExtension(word)) {
                // The first line that names an extension decides its type.
                types.m_types.try_emplace(lower(word), type);
            }
        }
    }
    return types;
}

const MediaTypes& MediaTypes::system() {
    static const MediaTypes table = [] {
        std::ifstream in(kSystemTable, std::ios::binary);
        std::string bytes(kMaxTableBytes, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
        return parse(bytes);
    }();
    return table;
}

std::string_view MediaTypes::typeOf(std::string_view fileName) const {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == fileName.size()) {
        return kOctetStream;
    }
    const auto it = m_types.find(lower(fileName.substr(dot + 1)));
    return it == m_types.end() ? kOctetStream : std::string_view(it->second);
}

}  // namespace zeph

#include "common/host_name.h"

#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "common/sjis.h"

namespace tarn {
namespace {

bool isLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

std::string lookUpFullyQualifiedName() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    std::string host(buffer);
    if (isDomainName(host)) {
        return host;
    }
    if (host.empty()) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return {};
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : "";
    // "localhost.localdomain" and the like name no machine to anybody else.
    if (!isDomainName(canonical) || canonical.starts_with("localhost")) {
        return {};
    }
    return canonical;
}

}  // namespace

bool isDomainName(std::string_view name) {
    if (name.empty() || name.size() > 253) {
        return false;
    }
    int labels = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t dot = name.find('.', start);
        std::string_view label = name.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            !std::all_of(label.begin(), label.end(), isLabelChar)) {
            return false;
        }
        ++labels;
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    return labels >= 2;
}

bool isGreetingName(std::string_view name) {
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        const std::string_view inside = name.substr(1, name.size() - 2);
        return std::all_of(inside.begin(), inside.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                   c == '.' || c == ':' || c == 'I' || c == 'P' || c == 'v';
        });
    }
    return isDomainName(name);
}

std::string addressDomain(std::string_view address) {
    const std::size_t at = sjis::rfind(address, '@');  // a trail byte may be 0x40
    if (at == std::string_view::npos) {
        return {};
    }
    std::string_view domain = address.substr(at + 1);
    const std::size_t end = domain.find_first_of("> \t\r\n");
    domain = domain.substr(0, end);
    return isDomainName(domain) ? std::string(domain) : std::string();
}

std::string fullyQualifiedHostName() {
    static std::once_flag once;
    static std::string name;
    std::call_once(once, [] { name = lookUpFullyQualifiedName(); });
    return name;
}

}  // namespace tarn

#include "verify/address.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "common/address.h"
#include "common/files.h"
#include "common/program.h"
#include "common/sjis.h"

namespace tarn::verify {

std::string_view CheckResultMessage(int code) {
    switch (code) {
        case 1:
            return "無効な文字が含まれています。";
        case 2:
            return "ドメイン名の長さが不正です。";
        case 3:
            return "ドメインのレベル数エラーです。";
        case 4:
            return "不正な名称です。";
        case 5:
            return "不正な地域ドメイン名称です。";
        case 6:
            return "許可しないドメイン名です。";
        case 7:
            return "二重登録エラーです。";
        case -1:
            return "制限時間が経過してもDNSサーバーから応答がありません。";
        case -2:
            return "DNSサーバーからの応答がありません。";
        case -3:
            return "ホストに関する情報が見つかりません。";
        default:
            return {};
    }
}

namespace {

// The extractor's tokens in the check's form: the addresses, or, when the
// field holds none, its first token (a name alone is checked, and fails, as
// the text it is).
std::vector<std::string> candidates(std::string_view text) {
    std::vector<address::Token> tokens = address::tokens(text);
    std::vector<std::string> out;
    for (auto& t : tokens) {
        if (!t.nameOnly) {
            out.push_back(std::move(t.masked));
        }
    }
    if (out.empty() && !tokens.empty()) {
        out.push_back(std::move(tokens.front().masked));
    }
    return out;
}

}  // namespace

std::string ExtractAddress(std::string_view text, char separator) {
    std::vector<std::string> found = candidates(text);
    std::string out;
    for (const std::string& a : found) {
        if (!out.empty()) {
            if (separator == 0) {
                break;
            }
            out.push_back(separator);
        }
        out += a;
        if (separator == 0) {
            break;
        }
    }
    return out;
}

std::string_view DomainPart(std::string_view address) {
    std::size_t at = sjis::rfind(address, '@');
    return at == std::string_view::npos ? address : address.substr(at + 1);
}

int ScreenExtractedAddress(std::string_view extracted, int code) {
    if (code != kSyntaxOk) {
        return code;
    }
    // "*" stands for a non-ASCII character; the rest is what the envelope
    // takes: address characters around an "@" with something on both sides.
    if (extracted.find('*') != std::string_view::npos || !address::isEnvelopeAddress(extracted)) {
        return kInvalidCharacter;
    }
    if (extracted.size() > 512) {
        return kBadLength;
    }
    return kSyntaxOk;
}

DomainChecker::FieldResult DomainChecker::CheckAddressField(std::string_view stored,
                                                            bool relaxed) const {
    FieldResult result;
    result.addresses = candidates(stored);
    if (address::checkField(stored).problem == address::FieldCheck::Problem::ControlCharacter) {
        result.code = kInvalidCharacter;
        result.failed = std::string(stored);
        return result;
    }
    if (result.addresses.empty()) {
        result.addresses.emplace_back();  // checked as the empty address it is
    }
    for (const std::string& a : result.addresses) {
        const int code = ScreenExtractedAddress(a, CheckAddressSyntax(a, relaxed));
        if (code != kSyntaxOk) {
            result.code = code;
            result.failed = a;
            break;
        }
    }
    return result;
}

void DomainChecker::LoadDomainLists(const std::filesystem::path& allowFile,
                                    const std::filesystem::path& denyFile) {
    for (const auto& [path, flag] : {std::pair{allowFile, 1}, std::pair{denyFile, 0}}) {
        auto lines = readLineList(path);
        if (!lines) {
            continue;  // a missing list is an empty list
        }
        for (const auto& line : *lines) {
            AddListedDomain(line, flag);
        }
    }
}

void DomainChecker::LoadRegionalList(const std::filesystem::path& file) {
    auto lines = readLineList(file);
    SetRegionalNames(lines ? *lines : std::vector<std::string>{});
}

void DomainChecker::LoadProgramLists() {
    LoadDomainLists(besideProgram(kAllowListFile), besideProgram(kDenyListFile));
    LoadRegionalList(besideProgram(kRegionalListFile));
}

bool DomainChecker::AddListedDomain(std::string_view text, int flag) {
    std::string_view domain = DomainPart(text);
    if (domain.empty() || m_entryCount >= kCapacity) {
        return false;
    }
    const std::uint64_t hash = FoldedHash{}(domain);
    Slot* slot = findSlot(domain, hash);
    if (slot->offset == kEmpty) {
        if ((m_distinct + 1) * 2 > m_slots.size()) {
            grow();
            slot = findSlot(domain, hash);
        }
        slot->hash = hash;
        slot->offset = static_cast<std::uint32_t>(m_arena.size());
        m_arena.append(domain);
        ++m_distinct;
    }
    // The newest entry sits in front of every older one, so it decides.
    slot->lengthAndFlag = static_cast<std::uint32_t>(domain.size() << 1) | (flag != 0 ? 1u : 0u);
    ++m_entryCount;
    return true;
}

const DomainChecker::Slot* DomainChecker::findSlot(std::string_view domain,
                                                   std::uint64_t hash) const {
    if (m_slots.empty()) {
        return nullptr;
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = m_slots[i];
        if (s.offset == kEmpty ||
            (s.hash == hash &&
             sjis::equalsIgnoreCase(
                 std::string_view(m_arena).substr(s.offset, s.lengthAndFlag >> 1), domain))) {
            return &s;
        }
    }
}

DomainChecker::Slot* DomainChecker::findSlot(std::string_view domain, std::uint64_t hash) {
    if (m_slots.empty()) {
        grow();
    }
    return const_cast<Slot*>(std::as_const(*this).findSlot(domain, hash));
}

void DomainChecker::grow() {
    std::vector<Slot> old =
        std::exchange(m_slots, std::vector<Slot>(std::max<std::size_t>(16, m_slots.size() * 2)));
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot& s : old) {
        if (s.offset == kEmpty) {
            continue;
        }
        std::size_t i = s.hash & mask;
        while (m_slots[i].offset != kEmpty) {
            i = (i + 1) & mask;
        }
        m_slots[i] = s;
    }
}

void DomainChecker::SetRegionalNames(const std::vector<std::string>& names) {
    m_regional.clear();
    for (const auto& name : names) {
        m_regional.insert(name);
    }
    m_regionalCount = names.size();
}

int DomainChecker::LookupListedDomain(std::string_view address) const {
    std::string_view domain = DomainPart(address);
    const Slot* slot = findSlot(domain, FoldedHash{}(domain));
    return (slot == nullptr || slot->offset == kEmpty) ? -1
                                                       : static_cast<int>(slot->lengthAndFlag & 1);
}

std::size_t DomainChecker::FoldedHash::operator()(std::string_view s) const noexcept {
    // FNV-1a over the bytes, with single-byte letters folded; a trail byte in
    // 'A'-'Z' belongs to a double-byte character and is hashed as it is.
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = sjis::charLength(s, i);
        for (std::size_t k = 0; k < n; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if (n == 1 && c >= 'A' && c <= 'Z') {
                c = static_cast<unsigned char>(c - 'A' + 'a');
            }
            h = (h ^ c) * 1099511628211ull;
        }
        i += n;
    }
    return static_cast<std::size_t>(h);
}

bool DomainChecker::FoldedEqual::operator()(std::string_view a, std::string_view b) const noexcept {
    return sjis::equalsIgnoreCase(a, b);
}

namespace {

bool isDomainCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool inTable(std::string_view label, const auto& table) {
    return std::any_of(table.begin(), table.end(), [&](std::string_view entry) {
        return sjis::equalsIgnoreCase(label, entry);
    });
}

constexpr std::array<std::string_view, 8> kGenericTopLevel = {"com", "net", "org", "int",
                                                              "edu", "gov", "mil", "arpa"};
constexpr std::array<std::string_view, 8> kCountrySecondLevel = {"ac", "co", "go", "or",
                                                                 "ne", "ad", "gr", "ed"};
constexpr std::string_view kRegionalCountry = "jp";

}  // namespace

int DomainChecker::CheckAddressSyntax(std::string_view address, bool relaxed) const {
    const std::string_view domain = DomainPart(address);
    if (!std::all_of(domain.begin(), domain.end(), isDomainCharacter)) {
        return kInvalidCharacter;
    }
    if (domain.size() > 255 || (!relaxed && domain.size() < 6)) {
        return kBadLength;
    }
    if (domain.starts_with('.')) {
        return kInvalidCharacter;
    }
    switch (LookupListedDomain(domain)) {
        case 1:
            return kSyntaxOk;
        case 0:
            return kDeniedDomain;
        default:
            break;
    }

    // Up to three labels from the right: [0] top level, [1] second, [2] third.
    std::array<std::string_view, 3> labels;
    std::size_t labelCount = 0;
    std::size_t end = domain.size();
    while (labelCount < labels.size()) {
        std::size_t dot = end == 0 ? std::string_view::npos : domain.rfind('.', end - 1);
        std::size_t begin = dot == std::string_view::npos ? 0 : dot + 1;
        std::string_view label = domain.substr(begin, end - begin);
        labels[labelCount++] = label;
        if (dot != std::string_view::npos && dot > 0 && domain[dot - 1] == '.') {
            return kInvalidCharacter;
        }
        if (label.empty()) {
            return kBadLength;
        }
        if (label.front() == '-' || label.back() == '-') {
            return kInvalidCharacter;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        end = dot;
    }

    if (inTable(labels[0], kGenericTopLevel)) {
        if (labelCount < 2) {
            return kBadLevelCount;
        }
        return (labels[1].size() < 2 || labels[1].size() > 63) ? kBadLength : kSyntaxOk;
    }
    if (relaxed) {
        return kSyntaxOk;
    }
    if (labelCount < 3) {
        return kBadLevelCount;
    }
    if (labels[0].size() != 2) {
        return kBadLength;
    }
    if (labels[1].size() == 2) {
        if (!inTable(labels[1], kCountrySecondLevel)) {
            return kBadName;
        }
    } else if (m_regionalCount > 0 && sjis::equalsIgnoreCase(labels[0], kRegionalCountry) &&
               !m_regional.contains(labels[1])) {
        return kBadRegionalName;
    }
    return (labels[2].size() < 3 || labels[2].size() > 63) ? kBadLength : kSyntaxOk;
}

}  // namespace tarn::verify

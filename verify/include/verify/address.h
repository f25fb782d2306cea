// Level-1 address check: the extractor, the domain lists and the rule check.
// All texts are Shift_JIS byte strings; lengths are in bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarn::verify {

// Result codes of CheckAddressSyntax and of the final screening.
enum SyntaxResult : int {
    kSyntaxOk = 0,
    kInvalidCharacter = 1,
    kBadLength = 2,
    kBadLevelCount = 3,
    kBadName = 4,
    kBadRegionalName = 5,
    kDeniedDomain = 6,
};

// The check log's code for a duplicate address (written by the check driver).
inline constexpr int kDuplicateAddress = 7;

// The message the check log and the result display show for a check result:
// the level-1 codes 1-6, the duplicate code 7 and the DNS results -1, -2, -3.
// UTF-8; empty for 0 and unknown codes.
std::string_view CheckResultMessage(int code);

// Cuts the bare address out of a stored address field with the extractor the
// envelope uses (common/address.h): display names, quoted text, comments and
// brackets are dropped, and words of a name written without brackets are not
// addresses. With separator 0 the first address is returned, otherwise every
// address joined by the separator; a field without any address gives its first
// token (or nothing). Every non-ASCII character becomes "*", so that the final
// screening rejects it.
std::string ExtractAddress(std::string_view text, char separator = 0);

// The text after the last at-sign (double-byte aware), or the whole text.
std::string_view DomainPart(std::string_view address);

// The screens applied to an extracted address that CheckAddressSyntax
// accepted: longer than 512 bytes -> 2, then containing "*" or a character
// that cannot stand in an address, or not of the form local@domain -> 1 (the
// later wins). A non-zero code is returned unchanged.
int ScreenExtractedAddress(std::string_view extracted, int code);

// The names of the list files beside the program.
inline constexpr const char* kAllowListFile = "AllowEmailDomain.txt";
inline constexpr const char* kDenyListFile = "DenyEmailDomain.txt";
inline constexpr const char* kRegionalListFile = "LocalDomain.txt";

// Domain lists and rule check for one check run.
//
// The listed domains behave like a list to which entries are added at the
// front and which is searched from the front, so the entry added last wins
// (a domain in both the allow and the deny file is denied). A case-insensitive
// hash table keeps only that winning flag, so a lookup costs the same for 10 or
// 10,000 entries.
class DomainChecker {
public:
    static constexpr std::size_t kCapacity = 10000;

    // Reads the allow file (flag 1), then the deny file (flag 0); each line is
    // reduced to the part after its last at-sign. A missing or unreadable file
    // adds nothing.
    void LoadDomainLists(const std::filesystem::path& allowFile,
                         const std::filesystem::path& denyFile);
    // Replaces the regional names with the file's lines, kept as read.
    void LoadRegionalList(const std::filesystem::path& file);
    // The three files of the program folder.
    void LoadProgramLists();

    // Adds one entry in front (flag 1 allowed, 0 denied). The text is reduced to
    // the part after its last at-sign; an empty result or an entry offered while
    // kCapacity are held is dropped. Returns whether it was added.
    bool AddListedDomain(std::string_view text, int flag);
    void SetRegionalNames(const std::vector<std::string>& names);

    // 1 allowed, 0 denied, -1 not listed; only the part after the last at-sign
    // of `address` is looked up.
    int LookupListedDomain(std::string_view address) const;

    // 0 for an acceptable address, else the code of the first failing rule.
    // `relaxed` (the AllowDomain setting) drops the minimum length and the
    // structure rules for country domains.
    int CheckAddressSyntax(std::string_view address, bool relaxed) const;

    // Level 1 for a stored address field, as one verdict for the record: a
    // control character anywhere (CR, LF, NUL, ...) -> 1; otherwise every
    // address the envelope would send to is checked and screened, and the first
    // failure decides. `addresses` are the extracted addresses (masked), for
    // the log and for level 2; `failed` the one that failed.
    struct FieldResult {
        int code = kSyntaxOk;
        std::vector<std::string> addresses;
        std::string failed;
    };
    FieldResult CheckAddressField(std::string_view stored, bool relaxed) const;

    std::size_t listedCount() const { return m_entryCount; }
    std::size_t regionalCount() const { return m_regionalCount; }

private:
    // Case-insensitive (ASCII letters, double-byte aware) hashing and equality
    // that take a string_view, so a lookup allocates nothing.
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const noexcept;
    };

    // An open-addressing table of distinct domains (load at most one half) over
    // one text arena: a lookup that misses costs one probe of 16 bytes, whether
    // the table holds 10 domains or 10,000.
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t offset = kEmpty;    // into m_arena
        std::uint32_t lengthAndFlag = 0;  // length << 1 | flag
    };
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
    Slot* findSlot(std::string_view domain, std::uint64_t hash);
    const Slot* findSlot(std::string_view domain, std::uint64_t hash) const;
    void grow();

    std::vector<Slot> m_slots;
    std::string m_arena;
    std::size_t m_distinct = 0;
    std::size_t m_entryCount = 0;  // entries held, duplicates included
    std::unordered_set<std::string, FoldedHash, FoldedEqual> m_regional;
    std::size_t m_regionalCount = 0;
};

}  // namespace tarn::verify

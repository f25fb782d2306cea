// One recipient of the address book.
//
// An address book holds up to 99,999 records of sixteen texts each. Sixteen
// std::string members would cost over 500 bytes per record before any text is
// stored, several times the record's size on disk, so a record keeps all its
// texts in one buffer and hands them out as views.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn::addressbook {

// The texts of a record, in the order the .tn2 file stores them.
enum class Field : std::uint8_t {
    Company,
    Department,
    Title,
    Name,
    Email,
    Honorific,
    Free1,  // Free1 + i is free field i + 1 (i = 0..9)
};
inline constexpr std::size_t kFreeFieldCount = 10;
inline constexpr std::size_t kFieldCount = 6 + kFreeFieldCount;

inline constexpr Field freeField(std::size_t index) {
    return static_cast<Field>(static_cast<std::size_t>(Field::Free1) + index);
}

// Record status: written by the check driver (0-3) and the send driver (4).
enum RecordStatus : std::int32_t {
    kStatusNormal = 0,
    kStatusDuplicate = 1,
    kStatusInvalid = 2,
    kStatusDnsError = 3,
    kStatusSendError = 4,
};

// The list's text for a status, Shift_JIS ("正常" ... "送信エラー"); empty for a
// value outside 0-4 (a damaged file may hold one).
std::string_view statusText(std::int32_t status);

class Record {
public:
    using Texts = std::array<std::string_view, kFieldCount>;

    Record() = default;
    explicit Record(const Texts& texts) { assignTexts(texts); }

    std::string_view text(Field f) const;
    // Throws std::length_error when the record's texts together would pass 4 GiB
    // (no file or editor produces such a record).
    void setText(Field f, std::string_view value);
    // Replaces all sixteen texts with one allocation of exactly their size.
    void assignTexts(const Texts& texts);

    std::string_view company() const { return text(Field::Company); }
    std::string_view department() const { return text(Field::Department); }
    std::string_view title() const { return text(Field::Title); }
    std::string_view name() const { return text(Field::Name); }
    std::string_view email() const { return text(Field::Email); }
    std::string_view honorific() const { return text(Field::Honorific); }
    // index 0..9 for free fields 1..10
    std::string_view freeFieldText(std::size_t index) const { return text(freeField(index)); }

    // 0 = no folder, n = folder n of the document.
    std::uint16_t folder() const { return m_folder; }
    void setFolder(std::uint16_t folder) { m_folder = folder; }
    std::int32_t status() const { return m_status; }
    void setStatus(std::int32_t status) { m_status = status; }
    // Not stored in the file: 0 = not shown in the list, n = row n of the
    // current view. 32 bits rather than 16, because a view of "すべて" shows up to
    // 99,999 rows and a wrapped number would turn row 65,536 into "not shown".
    std::uint32_t viewPosition() const { return m_viewPosition; }
    void setViewPosition(std::uint32_t position) { m_viewPosition = position; }

    // Same texts, folder and status (the view position is not part of the data).
    bool sameData(const Record& other) const;

    // Bytes of text held (what the heap holds for this record).
    std::size_t textBytes() const { return m_text.size(); }

private:
    std::size_t begin(std::size_t i) const { return i == 0 ? 0 : m_end[i - 1]; }

    std::string m_text;
    std::array<std::uint32_t, kFieldCount> m_end{};
    std::uint32_t m_viewPosition = 0;
    std::int32_t m_status = kStatusNormal;
    std::uint16_t m_folder = 0;
};

}  // namespace tarn::addressbook

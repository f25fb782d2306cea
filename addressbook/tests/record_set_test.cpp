#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "addressbook/record_set.h"
#include "common/archive.h"
#include "common/cp932.h"

namespace tarn::addressbook {
namespace {

Record person(const std::string& name, std::uint16_t folder, std::int32_t status) {
    Record r;
    r.setText(Field::Name, cp932::fromUtf8(name).value());
    r.setText(Field::Email, "x@example.jp");
    r.setText(freeField(9), std::string(70'000, 'f'));  // the longest length prefix
    r.setFolder(folder);
    r.setStatus(status);
    return r;
}

TEST(RecordSet, RoundTripsAndNamesTheDraggedRecords) {
    CTarnSendDoc doc;
    std::array records{person("佐藤", 0, 0), person("ｻﾄｳ", 0, kStatusSendError),
                       person("髙橋", 0, -7)};
    ASSERT_TRUE(doc.appendRecords(records));
    const std::array dragged{&doc.record(2), &doc.record(0)};
    const std::string bytes = recordSetOf(doc, dragged);

    auto parsed = parseRecordSet(bytes);
    ASSERT_TRUE(parsed) << parsed.error().message;
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)[0].position, 2u);
    EXPECT_TRUE((*parsed)[0].record.sameData(doc.record(2)));
    EXPECT_EQ(serializeRecordSet(*parsed), bytes);
    auto named = recordsOfSet(doc, *parsed);
    ASSERT_TRUE(named);
    EXPECT_EQ(*named, (std::vector<const Record*>{&doc.record(2), &doc.record(0)}));

    // The book changed since the drag began: the set no longer names its records.
    ASSERT_TRUE(doc.setStatuses(std::array{StatusUpdate{&doc.record(0), kStatusInvalid}}));
    EXPECT_FALSE(recordsOfSet(doc, *parsed));
    // Without positions (copies) nothing in a book is named.
    std::vector<RecordSetEntry> copies{{std::nullopt, doc.record(1)}};
    EXPECT_FALSE(recordsOfSet(doc, copies));
    auto back = parseRecordSet(serializeRecordSet(copies));
    ASSERT_TRUE(back);
    EXPECT_FALSE((*back)[0].position);
}

TEST(RecordSet, HostileBytesFailWithWhereAndWhy) {
    std::string one = "TRS1";
    writeU32le(one, 1);
    writeU32le(one, 0);
    writeU16le(one, 1);
    writeI32le(one, 0);
    for (std::size_t f = 0; f < kFieldCount; ++f) {
        writeArchiveString(one, "t");
    }
    ASSERT_TRUE(parseRecordSet(one));

    struct Case {
        const char* what;
        std::string bytes;
        long long offset;
    };
    std::string hugeCount = "TRS1";
    writeU32le(hugeCount, 0xFFFF'FFF0);
    std::string twoClaimed = one;
    twoClaimed[4] = 2;
    const std::vector<Case> cases = {
        {"empty", "", 0},
        {"another format", "TRS2" + one.substr(4), 0},
        {"no count", "TRS1\x01", 4},
        {"a count the bytes cannot hold", hugeCount + one.substr(8), 4},
        {"cut in the last text", one.substr(0, one.size() - 1),
         static_cast<long long>(one.size() - 1)},
        // room for the count, but the second record ends ten texts in
        {"a second record cut", twoClaimed + std::string(20, '\0'),
         static_cast<long long>(one.size() + 20)},
        {"bytes after the set", one + "x", static_cast<long long>(one.size())},
    };
    for (const auto& c : cases) {
        auto r = parseRecordSet(c.bytes);
        ASSERT_FALSE(r) << c.what;
        EXPECT_EQ(r.error().offset, c.offset) << c.what << ": " << r.error().message;
    }
}

}  // namespace
}  // namespace tarn::addressbook

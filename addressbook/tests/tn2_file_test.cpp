#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "addressbook/document.h"
#include "common/cp932.h"
#include "testsupport.h"

#include "largest_allocation.h"

namespace tarn::addressbook {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string sj(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

// Little independent writers for hand-built files.
std::string str(const std::string& b) {
    std::string o;
    if (b.size() < 255) {
        o += static_cast<char>(b.size());
    } else {
        o += '\xFF';
        o += static_cast<char>(b.size() & 0xFF);
        o += static_cast<char>(b.size() >> 8);
    }
    return o + b;
}
std::string u16(unsigned v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string u32(unsigned v) {
    return u16(v & 0xFFFF) + u16(v >> 16);
}

const std::string kSig = "ORVELLO POST KIT (C)TARNWORKS LABS";

Record makeRecord(const std::string& name, const std::string& email, std::uint16_t folder = 0,
                  std::int32_t status = kStatusNormal) {
    Record r;
    r.setText(Field::Name, sj(name));
    r.setText(Field::Email, email);
    r.setFolder(folder);
    r.setStatus(status);
    return r;
}

void expectSameDocument(const CTarnSendDoc& a, const CTarnSendDoc& b) {
    ASSERT_EQ(a.folders().size(), b.folders().size());
    for (std::size_t i = 0; i < a.folders().size(); ++i) {
        EXPECT_EQ(a.folders()[i].name, b.folders()[i].name);
        EXPECT_EQ(a.folders()[i].icon, b.folders()[i].icon);
    }
    ASSERT_EQ(a.recordCount(), b.recordCount());
    for (std::size_t i = 0; i < a.recordCount(); ++i) {
        for (std::size_t f = 0; f < kFieldCount; ++f) {
            EXPECT_EQ(a.record(i).text(static_cast<Field>(f)),
                      b.record(i).text(static_cast<Field>(f)))
                << "record " << i << " field " << f;
        }
        EXPECT_EQ(a.record(i).folder(), b.record(i).folder());
        EXPECT_EQ(a.record(i).status(), b.record(i).status());
    }
    ASSERT_EQ(a.groups().size(), b.groups().size());
    for (std::size_t g = 0; g < a.groups().size(); ++g) {
        EXPECT_EQ(a.groups()[g].name, b.groups()[g].name);
        EXPECT_EQ(a.groups()[g].icon, b.groups()[g].icon);
        ASSERT_EQ(a.groups()[g].members.size(), b.groups()[g].members.size());
        for (std::size_t m = 0; m < a.groups()[g].members.size(); ++m) {
            EXPECT_EQ(a.positionOf(a.groups()[g].members[m]),
                      b.positionOf(b.groups()[g].members[m]));
        }
    }
    EXPECT_EQ(a.freeFieldTitles(), b.freeFieldTitles());
}

// Japanese texts, every status, a record in two groups, 16 honorifics, renamed
// titles and a free field long enough for the 32-bit length prefix.
void buildRichDocument(CTarnSendDoc& doc) {
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    ASSERT_TRUE(doc.addFolder(sj("取引先（東日本）"), 40));
    Record full = makeRecord("髙橋 健太", "kenta@example.co.jp", 6, kStatusDnsError);
    full.setText(Field::Company, sj("株式会社山﨑精機"));
    full.setText(Field::Department, sj("第Ⅱ営業部"));
    full.setText(Field::Title, sj("係長"));
    full.setText(Field::Honorific, sj("様"));
    for (std::size_t i = 0; i < kFreeFieldCount; ++i) {
        full.setText(freeField(i), sj("自由欄" + std::to_string(i + 1) + "ｶﾅ①"));
    }
    full.setText(freeField(9), std::string(70'000, 'x'));  // needs the 32-bit length
    ASSERT_TRUE(doc.appendRecord(std::move(full)));
    ASSERT_TRUE(
        doc.appendRecord(makeRecord("田中 美咲", "misaki@example.com", 0, kStatusSendError)));
    ASSERT_TRUE(doc.appendRecord(makeRecord("ﾔﾏﾀﾞ ﾀﾛｳ", "taro@example.com", 2, kStatusDuplicate)));
    ASSERT_TRUE(doc.addMembers(0, std::array{&doc.record(2)}));
    ASSERT_TRUE(doc.addMembers(0, std::array{&doc.record(0)}));
    ASSERT_TRUE(doc.addMembers(3, std::array{&doc.record(0)}));  // a record in two groups
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(doc.TouchHonorific(sj("敬称" + std::to_string(i))));
    }
    ASSERT_EQ(doc.honorifics().size(), 16u);
    ASSERT_TRUE(doc.setFreeFieldTitle(0, sj("住所")));
    ASSERT_TRUE(doc.setFreeFieldTitle(9, sj("会員種別(&J)")));
}

TEST(Tn2File, RichDocumentRoundTripsFieldByFieldAndByteForByte) {
    CTarnSendDoc doc;
    buildRichDocument(doc);
    auto bytes = doc.Serialize();
    ASSERT_TRUE(bytes) << bytes.error().message;
    CTarnSendDoc back;
    ASSERT_TRUE(back.Serialize(*bytes, defaultFreeFieldTitles()));
    expectSameDocument(doc, back);
    EXPECT_EQ(back.version(), 20);
    EXPECT_EQ(back.signature(), kSig);
    const std::vector<std::string> first15(doc.honorifics().begin(), doc.honorifics().begin() + 15);
    EXPECT_EQ(back.honorifics(), first15);

    auto again = back.Serialize();
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *bytes);
}

TEST(Tn2File, WritesTheExactLayout) {
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.addFolder("F", 2));
    ASSERT_TRUE(doc.addGroup("G", 7));
    ASSERT_TRUE(doc.appendRecord(makeRecord("A", "a@x", 1, kStatusInvalid)));
    ASSERT_TRUE(doc.appendRecord(makeRecord("B", "b@x")));
    ASSERT_TRUE(doc.addMembers(0, std::array{&doc.record(1)}));
    ASSERT_TRUE(doc.addMembers(0, std::array{&doc.record(0)}));
    ASSERT_TRUE(doc.setHonorifics({sj("様")}));
    ASSERT_TRUE(doc.setFreeFieldTitles(defaultFreeFieldTitles()));

    auto rec = [](unsigned folder, const std::string& name, const std::string& email,
                  unsigned status) {
        return u16(folder) + str("") + str("") + str("") + str(name) + str(email) + str("") +
               std::string(10, '\0') + u32(status);
    };
    std::string expected = str(kSig) + u32(20) + u32(1) + str("F") + u16(2) + u32(1) + str("G") +
                           u16(7) + u32(2) + u16(1) + u16(0) + u32(2) + rec(1, "A", "a@x", 2) +
                           rec(0, "B", "b@x", 0) + u32(1) + str(sj("様"));
    for (const auto& t : defaultFreeFieldTitles()) {
        expected += str(t);
    }
    auto bytes = doc.Serialize();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, expected);
}

TEST(Tn2File, A255ByteStringTakesTheThreeBytePrefix) {
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.appendRecord(makeRecord("", std::string(254, 'm'))));
    ASSERT_TRUE(doc.appendRecord(makeRecord("", std::string(255, 'n'))));
    auto bytes = doc.Serialize();
    ASSERT_TRUE(bytes);
    EXPECT_NE(bytes->find("\xFE" + std::string(254, 'm')), std::string::npos);
    EXPECT_NE(bytes->find(std::string("\xFF\xFF\x00", 3) + std::string(255, 'n')),
              std::string::npos);
    CTarnSendDoc back;
    ASSERT_TRUE(back.Serialize(*bytes, defaultFreeFieldTitles()));
    EXPECT_EQ(back.record(1).email(), std::string(255, 'n'));
}

TEST(Tn2File, ReadsVersion19WithDefaultGroupsAndTheApplicationsTitles) {
    auto rec = [](unsigned folder, const std::string& company, const std::string& email) {
        return u16(folder) + str(company) + str(sj("営業部")) + str("") + str(sj("佐藤 一郎")) +
               str(email) + str(sj("様"));
    };
    const std::string file = str(kSig) + u32(19) + u32(2) + str(sj("取引先")) + u16(3) +
                             str("staff") + u16(4) + u32(2) +
                             rec(2, sj("株式会社みどり商事"), "ichiro@example.co.jp") +
                             rec(0, "", "b@example.jp") + u32(2) + str(sj("殿")) + str(sj("様"));
    FreeFieldTitles appTitles = defaultFreeFieldTitles();
    appTitles[4] = sj("誕生日");

    CTarnSendDoc doc;
    auto st = doc.Serialize(file, appTitles);
    ASSERT_TRUE(st) << st.error().message;
    EXPECT_EQ(doc.version(), 19);
    ASSERT_EQ(doc.folders().size(), 2u);
    EXPECT_EQ(doc.folders()[1].name, "staff");
    ASSERT_EQ(doc.groups().size(), 5u);
    for (std::size_t g = 0; g < 5; ++g) {
        EXPECT_EQ(doc.groups()[g].name, sj("グループ" + std::to_string(g + 1)));
        EXPECT_EQ(doc.groups()[g].icon, g + 2);
        EXPECT_TRUE(doc.groups()[g].members.empty());
    }
    ASSERT_EQ(doc.recordCount(), 2u);
    EXPECT_EQ(doc.record(0).company(), sj("株式会社みどり商事"));
    EXPECT_EQ(doc.record(0).honorific(), sj("様"));
    EXPECT_EQ(doc.record(0).folder(), 2);
    EXPECT_EQ(doc.record(1).email(), "b@example.jp");
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(doc.record(i).status(), kStatusNormal);
        for (std::size_t f = 0; f < kFreeFieldCount; ++f) {
            EXPECT_TRUE(doc.record(i).freeFieldText(f).empty());
        }
    }
    EXPECT_EQ(doc.honorifics(), (std::vector<std::string>{sj("殿"), sj("様")}));
    EXPECT_EQ(doc.freeFieldTitles(), appTitles);
}

TEST(Tn2File, RefusesToSaveAMemberBeyondPosition65535AndKeepsTheOldFile) {
    TempDir dir;
    const auto path = dir / "book.tn2";
    writeFile(path, "previous contents");
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.addGroup(sj("得意先"), 7));
    for (int i = 0; i < 65'537; ++i) {
        ASSERT_TRUE(doc.appendRecord(makeRecord("", "r" + std::to_string(i) + "@example.jp")));
    }
    ASSERT_TRUE(
        doc.addMembers(0, std::array{&doc.record(65'535)}));  // the last position 16 bits can name
    ASSERT_TRUE(doc.Serialize());
    ASSERT_TRUE(doc.addMembers(0, std::array{&doc.record(65'536)}));
    doc.setModifiedFlag();

    auto st = doc.OnSaveDocument(path);
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("得意先"), std::string::npos) << st.error().message;
    EXPECT_NE(st.error().message.find("65,537"), std::string::npos) << st.error().message;
    EXPECT_EQ(readFile(path), "previous contents");
    EXPECT_TRUE(doc.isModified());
    ASSERT_EQ(doc.groups()[0].members.size(), 2u);
    EXPECT_EQ(doc.groups()[0].members[1], &doc.record(65'536));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(Tn2File, SaveReplacesTheFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const auto path = dir / "book.tn2";
    writeFile(path, std::string(100'000, 'z'));
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    ASSERT_TRUE(doc.appendRecord(makeRecord("名前", "a@example.jp")));
    doc.setModifiedFlag();
    ASSERT_TRUE(doc.OnSaveDocument(path));
    EXPECT_FALSE(doc.isModified());
    EXPECT_EQ(readFile(path), *doc.Serialize());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    CTarnSendDoc reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(path, defaultFreeFieldTitles()));
    expectSameDocument(doc, reopened);

    doc.setModifiedFlag();
    EXPECT_FALSE(doc.OnSaveDocument(dir / "no-such-folder" / "book.tn2"));
    EXPECT_TRUE(doc.isModified());
}

TEST(Tn2File, ReadsAFileInPiecesOfAnySize) {
    TempDir dir;
    CTarnSendDoc doc;
    buildRichDocument(doc);
    ASSERT_TRUE(doc.OnSaveDocument(dir / "rich.tn2"));
    const std::string bytes = readFile(dir / "rich.tn2");
    for (std::size_t chunk : {1u, 7u, 4096u, 1u << 20}) {
        CTarnSendDoc back;
        auto st = back.OnOpenDocument(dir / "rich.tn2", defaultFreeFieldTitles(), chunk);
        ASSERT_TRUE(st) << chunk << ": " << st.error().message;
        expectSameDocument(doc, back);
        EXPECT_EQ(*back.Serialize(), bytes) << chunk;
    }
    // a cut file fails at the same offset, read whole or in pieces
    writeFile(dir / "cut.tn2", bytes.substr(0, bytes.size() - 40'000));
    CTarnSendDoc memory, file;
    auto inMemory =
        memory.Serialize(bytes.substr(0, bytes.size() - 40'000), defaultFreeFieldTitles());
    auto inPieces = file.OnOpenDocument(dir / "cut.tn2", defaultFreeFieldTitles(), 5);
    ASSERT_FALSE(inMemory);
    ASSERT_FALSE(inPieces);
    EXPECT_EQ(inMemory.error().offset, inPieces.error().offset);
    EXPECT_NE(inPieces.error().message.find("offset " + std::to_string(inMemory.error().offset)),
              std::string::npos)
        << inPieces.error().message;
}

TEST(Tn2File, FailedReadLeavesTheDocumentAsItWas) {
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    ASSERT_TRUE(doc.appendRecord(makeRecord("", "keep@example.jp")));
    auto bytes = *doc.Serialize();
    bytes.resize(bytes.size() - 3);
    EXPECT_FALSE(doc.Serialize(bytes, defaultFreeFieldTitles()));
    ASSERT_EQ(doc.recordCount(), 1u);
    EXPECT_EQ(doc.record(0).email(), "keep@example.jp");
    EXPECT_EQ(doc.folders().size(), 5u);
}

TEST(Tn2File, EveryTruncationOfAValidFileFailsCleanly) {
    CTarnSendDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(defaultFreeFieldTitles()));
    ASSERT_TRUE(doc.appendRecord(makeRecord("名前", "a@example.jp", 1, kStatusInvalid)));
    ASSERT_TRUE(doc.addMembers(1, std::array{&doc.record(0)}));
    const auto bytes = *doc.Serialize();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        CTarnSendDoc d;
        auto st = d.Serialize(std::string_view(bytes).substr(0, n), defaultFreeFieldTitles());
        ASSERT_FALSE(st) << n;
        EXPECT_GE(st.error().offset, 0) << n;
        EXPECT_LE(static_cast<std::size_t>(st.error().offset), n) << n;
    }
}

// ---- damaged and hostile files (tests/data)

Status openSample(const char* name, CTarnSendDoc& doc) {
    return doc.OnOpenDocument(fs::path(TARN_SOURCE_DIR) / "addressbook/tests/data" / name,
                              defaultFreeFieldTitles());
}

void expectRefused(const char* name, const char* section) {
    CTarnSendDoc doc;
    test::resetLargestAllocation();
    auto st = openSample(name, doc);
    ASSERT_FALSE(st) << name;
    EXPECT_NE(st.error().message.find(name), std::string::npos) << st.error().message;
    EXPECT_NE(st.error().message.find(section), std::string::npos) << st.error().message;
    EXPECT_GE(st.error().offset, 0);
    if (test::allocationsCounted()) {
        EXPECT_LT(test::largestAllocation(), std::size_t{1} << 16) << name;
    }
}

TEST(Tn2Samples, TruncatedInRecord) {
    expectRefused("truncated_in_record.tn2", "レコード 2/2");
}
TEST(Tn2Samples, HugeRecordCount) {
    expectRefused("huge_record_count.tn2", "レコード 2/4294967295");
}
TEST(Tn2Samples, HugeMemberCount) {
    expectRefused("huge_member_count.tn2", "グループ 1/1");
}
TEST(Tn2Samples, StringPastEnd) {
    expectRefused("string_past_end.tn2", "フォルダ 1/1");
}
TEST(Tn2Samples, Utf16String) {
    expectRefused("utf16_string.tn2", "UTF-16");
}
TEST(Tn2Samples, SignatureOnly) {
    expectRefused("signature_only.tn2", "版数");
}

TEST(Tn2Samples, MemberOutOfRangeIsDroppedAndBadFolderCleared) {
    CTarnSendDoc doc;
    auto st = openSample("member_out_of_range.tn2", doc);
    ASSERT_TRUE(st) << st.error().message;
    ASSERT_EQ(doc.recordCount(), 2u);
    ASSERT_EQ(doc.groups().size(), 1u);
    // positions 7, 0, 0 in a file of two records: only record 0, once
    ASSERT_EQ(doc.groups()[0].members.size(), 1u);
    EXPECT_EQ(doc.groups()[0].members[0], &doc.record(0));
    EXPECT_EQ(doc.record(0).folder(), 1);
    EXPECT_EQ(doc.record(1).folder(), 0);  // named folder 9 of a one-folder file
}

}  // namespace
}  // namespace tarn::addressbook

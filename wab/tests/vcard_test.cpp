#include "wab/vcard.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/cp932.h"
#include "testsupport.h"

namespace tarn::wab {
namespace {

namespace fs = std::filesystem;
const fs::path kVcf = fs::path(TARN_TESTDATA) / "vcf";

std::vector<std::string> names(const VcardBook& b, const std::vector<std::size_t>& cards) {
    std::vector<std::string> out;
    for (auto i : cards) {
        out.push_back(displayName(b.cards[i]));
    }
    return out;
}

const BookGroup* group(const VcardBook& b, const std::string& name) {
    for (const auto& g : b.groups) {
        if (g.name == name) {
            return &g;
        }
    }
    return nullptr;
}

TEST(VcardBook, Version3FileWithCategoryGroups) {
    auto book = loadBook(kVcf / "contacts.vcf");
    ASSERT_TRUE(book) << book.error().message;
    ASSERT_EQ(book->cards.size(), 11u);
    const Card& sato = book->cards[0];
    EXPECT_EQ(sato.formattedName, "佐藤 一郎");
    EXPECT_EQ(sato.family, "佐藤");
    EXPECT_EQ(sato.given, "一郎");
    EXPECT_EQ(sato.company, "株式会社みどり商事");
    EXPECT_EQ(sato.department, "営業部");
    EXPECT_EQ(sato.title, "部長");
    EXPECT_EQ(sato.email, "ichiro.sato@midori-shoji.example.co.jp");
    // Two addresses: the one marked preferred, which here is also the first.
    EXPECT_EQ(book->cards[3].emails.size(), 2u);
    EXPECT_EQ(book->cards[3].email, "yuko.nakamura@hikari-tsushin.example.jp");
    EXPECT_EQ(book->cards[3].company, "㈱ひかり通信");
    EXPECT_TRUE(book->cards[5].email.empty());                      // 伊藤: no address
    EXPECT_EQ(book->cards[6].company, "ABC Holdings, Inc.");        // escaped comma
    EXPECT_EQ(book->cards[9].department, "マーケティング部");       // ORG with three parts
    EXPECT_EQ(displayName(book->cards[10]), "株式会社つばさ物流");  // N empty, FN given
    EXPECT_TRUE(book->folders.empty());

    const BookGroup* customers = group(book.value(), "得意先");
    ASSERT_NE(customers, nullptr);
    EXPECT_EQ(names(book.value(), customers->members),
              (std::vector<std::string>{"佐藤 一郎", "鈴木 花子", "中村 優子", "伊藤 誠",
                                        "小林 大輔", "株式会社つばさ物流"}));
    ASSERT_NE(group(book.value(), "セミナー参加者"), nullptr);
    EXPECT_EQ(group(book.value(), "セミナー参加者")->members.size(), 3u);
    EXPECT_EQ(book->groups.size(), 5u);
}

TEST(VcardBook, Version4GroupsByMemberAddress) {
    auto book = loadBook(kVcf / "contacts40.vcf");
    ASSERT_TRUE(book) << book.error().message;
    ASSERT_EQ(book->cards.size(), 10u);
    EXPECT_EQ(book->cards[3].email, "yuko.nakamura@hikari-tsushin.example.jp");  // PREF=1
    ASSERT_EQ(book->groups.size(), 3u);
    EXPECT_EQ(book->groups[0].name, "得意先");
    EXPECT_EQ(names(book.value(), book->groups[0].members),
              (std::vector<std::string>{"佐藤 一郎", "鈴木 花子", "中村 優子"}));
    // A member named by a contact's second address is that contact; one that
    // names no card is left out.
    EXPECT_EQ(names(book.value(), book->groups[1].members),
              (std::vector<std::string>{"佐藤 一郎", "中村 優子", "山本 浩"}));
    EXPECT_TRUE(book->groups[2].members.empty());
    EXPECT_TRUE(book->cards[book->groups[2].card].isGroup);
}

TEST(VcardBook, FolderOfFilesAndSubfolders) {
    auto book = loadBook(kVcf / "folders");
    ASSERT_TRUE(book) << book.error().message;
    ASSERT_EQ(book->folders.size(), 2u);
    EXPECT_EQ(book->folders[0].name, "staff");
    EXPECT_EQ(book->folders[1].name, "取引先");
    // The LF-only file reads like the others.
    EXPECT_EQ(names(book.value(), book->folders[0].cards),
              (std::vector<std::string>{"松本 亮", "斎藤 恵"}));
    EXPECT_EQ(book->cards[book->folders[0].cards[0]].email,
              "ryo.matsumoto@aozora-kikaku.example.jp");
    // aoba-denki.vcf, then the two cards of midori-shoji.vcf.
    EXPECT_EQ(names(book.value(), book->folders[1].cards),
              (std::vector<std::string>{"鈴木 花子", "佐藤 一郎", "木村 拓也"}));
    ASSERT_NE(group(book.value(), "社内"), nullptr);
}

TEST(VcardParse, FoldsEscapesQuotedPrintableAndShiftJis) {
    auto sjis = [](std::string_view utf8) { return cp932::fromUtf8(utf8).value(); };
    // A 2.1 card as phones write it: Shift_JIS, quoted-printable with a soft
    // line break, bare type parameters; then a 3.0 card folded mid-value.
    const std::string text =
        "BEGIN:VCARD\r\nVERSION:2.1\r\n"
        "N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:=8D=B2=93=A1;=88=EA=\r\n"
        "=98=59\r\n"
        "EMAIL;INTERNET;PREF:a@example.jp\r\n"
        "EMAIL;INTERNET:b@example.jp\r\n"
        "ORG:" +
        sjis("株式会社\\;テスト") + ";" + sjis("総務部") +
        "\r\n"
        "END:VCARD\r\n"
        "garbage between cards\r\n"
        "BEGIN:VCARD\nVERSION:3.0\nFN:ab\n c\\, d\\nx\nEMAIL;TYPE=INTERNET:\n x@example.jp\n"
        "item1.EMAIL;type=INTERNET;type=pref:y@example.jp\nEND:VCARD\n";
    auto cards = parseVcards(text, "t.vcf");
    ASSERT_TRUE(cards) << cards.error().message;
    ASSERT_EQ(cards->size(), 2u);
    EXPECT_EQ((*cards)[0].family, "佐藤");
    EXPECT_EQ((*cards)[0].given, "一郎");
    EXPECT_EQ((*cards)[0].email, "a@example.jp");
    EXPECT_EQ((*cards)[0].company, "株式会社;テスト");
    EXPECT_EQ((*cards)[0].department, "総務部");
    EXPECT_EQ((*cards)[1].formattedName, "abc, d\nx");
    EXPECT_EQ((*cards)[1].email, "y@example.jp");  // the preferred one, though second
    EXPECT_EQ((*cards)[1].emails.front(), "x@example.jp");
}

TEST(VcardParse, HostileInputIsBoundedAndNamed) {
    VcardLimits small;
    small.maxLineBytes = 64;
    small.maxCards = 2;
    // A folded line that grows past the limit: the error names the file and line.
    std::string longLine = "BEGIN:VCARD\r\nFN:x";
    for (int i = 0; i < 20; ++i) {
        longLine += "\r\n 0123456789";
    }
    auto r = parseVcards(longLine + "\r\nEND:VCARD\r\n", "long.vcf", small);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().message.find("long.vcf"), std::string::npos) << r.error().message;
    EXPECT_NE(r.error().message.find("line 2"), std::string::npos) << r.error().message;

    std::string many;
    for (int i = 0; i < 3; ++i) {
        many += "BEGIN:VCARD\nFN:x\nEND:VCARD\n";
    }
    EXPECT_FALSE(parseVcards(many, "many.vcf", small));

    // Neither UTF-8 nor Shift_JIS.
    EXPECT_FALSE(parseVcards("BEGIN:VCARD\nFN:\x82\xFF\nEND:VCARD\n", "bad.vcf"));
    // A card cut off at the end is kept; a nested card is skipped whole.
    auto cut = parseVcards(
        "BEGIN:VCARD\nFN:a\nAGENT:\nBEGIN:VCARD\nFN:inner\nEND:VCARD\nEMAIL:a@x\n", "cut.vcf");
    ASSERT_TRUE(cut);
    ASSERT_EQ(cut->size(), 1u);
    EXPECT_EQ((*cut)[0].formattedName, "a");
    EXPECT_EQ((*cut)[0].email, "a@x");
}

TEST(VcardBook, MissingPathAndLinkLoops) {
    EXPECT_FALSE(loadBook(kVcf / "no-such.vcf"));
    test::TempDir dir;
    fs::create_directories(dir / "a");
    test::writeFile(dir / "a" / "x.vcf", "BEGIN:VCARD\nFN:x\nEND:VCARD\n");
    fs::create_directory_symlink(dir.path(), dir / "a" / "loop");
    auto book = loadBook(dir.path());
    ASSERT_TRUE(book) << book.error().message;
    EXPECT_EQ(book->cards.size(), 1u);
    EXPECT_EQ(book->folders.size(), 1u);
}

}  // namespace
}  // namespace tarn::wab

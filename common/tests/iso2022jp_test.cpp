#include "common/iso2022jp.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <map>

#include "common/cp932.h"

using namespace tarn;
using iso2022jp::CharKind;

namespace {

std::string sj(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

// glibc's decoders as an independent yardstick for the generated table.
class Decoder {
public:
    explicit Decoder(const char* from) : m_cd(iconv_open("UTF-8", from)) {}
    ~Decoder() { iconv_close(m_cd); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    std::string decode(std::string in) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char out[32];
        char* ip = in.data();
        char* op = out;
        std::size_t il = in.size();
        std::size_t ol = sizeof out;
        if (iconv(m_cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) {
            return {};
        }
        return {out, static_cast<std::size_t>(op - out)};
    }

private:
    iconv_t m_cd;
};

std::string twoBytes(unsigned a, unsigned b) {
    return {static_cast<char>(a), static_cast<char>(b)};
}

// Shift_JIS of a JIS code (the inverse of the Shift_JIS arithmetic).
std::string sjisOfJis(unsigned jis) {
    const unsigned row = jis >> 8;
    const unsigned col = jis & 0xFF;
    const unsigned lead = (row + 1) / 2 + (row <= 0x5E ? 0x70 : 0xB0);
    const unsigned trail = (row % 2 != 0) ? col + (col <= 0x5F ? 0x1F : 0x20) : col + 0x7E;
    return twoBytes(lead, trail);
}

// Code page 932 and JIS X 0208 name a few cells by different Unicode
// characters (the wave dash and friends); they are the same cells.
std::string jisSpelling(const std::string& cp932Utf8) {
    static const std::map<std::string, std::string> kSame = {
        {"～", "〜"}, {"∥", "‖"}, {"－", "−"}, {"￠", "¢"}, {"￡", "£"}, {"￢", "¬"}};
    auto it = kSame.find(cp932Utf8);
    return it == kSame.end() ? cp932Utf8 : it->second;
}

}  // namespace

// Every double-byte code page 932 character: a standard one decodes through
// glibc's ISO-2022-JP as itself; an extension one decodes through glibc's
// eucJP-ms (which places row 13 and the NEC-selected IBM rows at the same
// cells) as itself; only the user-defined area has no code.
TEST(Iso2022Jp, EveryCharacterAgreesWithGlibc) {
    Decoder jis("ISO-2022-JP");
    Decoder eucms("EUC-JP-MS");
    ASSERT_TRUE(jis.ok() && eucms.ok());
    int standard = 0, extension = 0, noCode = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead < 0xE0) {
            continue;
        }
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            const std::string code = twoBytes(lead, trail);
            const iso2022jp::CharInfo info = iso2022jp::charAt(code, 0);
            auto utf8 = cp932::toUtf8(code);
            if (!utf8.ok() || (lead >= 0xF0 && lead <= 0xF9)) {
                // Unassigned, or the user-defined area: nothing to send.
                ASSERT_EQ(info.kind, CharKind::kNoCode) << std::hex << lead << trail;
                noCode += utf8.ok() ? 1 : 0;
                continue;
            }
            ASSERT_EQ(info.length, 2U);
            const std::string cell = twoBytes(info.jis >> 8, info.jis & 0xFF);
            if (info.kind == CharKind::kStandard) {
                ASSERT_EQ(jis.decode("\x1B$B" + cell + "\x1B(B"), jisSpelling(*utf8))
                    << std::hex << lead << trail;
                ++standard;
            } else {
                ASSERT_EQ(info.kind, CharKind::kExtension);
                const unsigned row = info.jis >> 8;
                // Row 13 through glibc's eucJP-ms; the NEC-selected IBM rows,
                // which eucJP-ms places elsewhere, as code page 932 holds them.
                const std::string decoded =
                    row == 0x2D ? eucms.decode(twoBytes(row | 0x80, (info.jis & 0xFF) | 0x80))
                                : cp932::toUtf8Lossy(sjisOfJis(info.jis));
                ASSERT_TRUE(row == 0x2D || (row >= 0x79 && row <= 0x7C)) << std::hex << info.jis;
                ASSERT_EQ(decoded, *utf8) << std::hex << lead << trail;
                ++extension;
            }
        }
    }
    EXPECT_EQ(standard, 6879 + 12);  // JIS X 0208 and the duplicates sent as it
    EXPECT_EQ(extension, 833);
    EXPECT_EQ(noCode, 1880);
}

TEST(Iso2022Jp, IbmCodesWithoutANecSelectedTwinTakeTheSameCharactersCode) {
    // Ⅰ-Ⅹ, ㈱, №, ℡ of the IBM rows take their NEC row-13 cells; ∵ its JIS X 0208 cell.
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x4A), iso2022jp::jisCode(0x87, 0x54));
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x53), 0x2D3E);
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x58), 0x2D6A);
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x59), 0x2D62);
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x5A), 0x2D64);
    EXPECT_EQ(iso2022jp::charAt("\xFA\x5B", 0).kind, CharKind::kStandard);
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x5B), 0x2268);
    // NEC row-13 duplicates of JIS X 0208 characters go out as the original.
    EXPECT_EQ(iso2022jp::jisCode(0x87, 0x90), 0x2262);  // ≒
    EXPECT_EQ(iso2022jp::jisCode(0xFA, 0x40), 0x7C71);  // ⅰ via its NEC-selected twin
}

TEST(Iso2022Jp, FindsExtensionsAndBrokenBytesWithTheirReplacements) {
    const std::string text = sj("㈱ひかり通信 髙﨑德 第Ⅱ営業部 ①") + "\xF0\x40" + "\x82\r\n";
    const auto found = iso2022jp::findNonStandard(text);
    std::string chars;
    std::vector<std::string> replacements;
    for (const auto& f : found) {
        chars += cp932::toUtf8Lossy(text.substr(f.offset, f.length));
        replacements.push_back(cp932::toUtf8Lossy(f.replacement));
    }
    EXPECT_EQ(chars, "㈱髙﨑德Ⅱ①\xEE\x80\x80\xEF\xBF\xBD");
    EXPECT_EQ(replacements,
              (std::vector<std::string>{"(株)", "高", "崎", "徳", "II", "(1)", "", ""}));
    EXPECT_EQ(found[6].kind, CharKind::kNoCode);  // user-defined area
    // A lead byte cut off by a line break is one byte; the line break survives.
    EXPECT_EQ(found[7].length, 1U);
    EXPECT_EQ(found[7].offset, text.size() - 3);

    EXPECT_FALSE(iso2022jp::allStandard(text));
    EXPECT_TRUE(iso2022jp::allStandard(sj("日本語 ｶﾞｷﾞ abc ～∥")));
    EXPECT_TRUE(iso2022jp::allStandard("\x81\x40\x7F"));
    EXPECT_FALSE(iso2022jp::allStandard("\xA0"));
    EXPECT_EQ(cp932::toUtf8Lossy(iso2022jp::withReplacements(sj("①㈱髙橋様 ∮"))),
              "(1)(株)高橋様 ∮");
}

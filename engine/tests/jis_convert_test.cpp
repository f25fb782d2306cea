// Shift_JIS -> ISO-2022-JP conversion and encoded-words, byte by byte.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <string_view>

#include "codec.h"
#include "common/cp932.h"
#include "jis.h"

namespace {

using zeph::jis::Converter;

std::string sj(std::string_view utf8) {
    auto r = tarn::cp932::fromUtf8(utf8);
    EXPECT_TRUE(r.ok()) << utf8;
    return r.ok() ? *r : std::string();
}

std::string text(std::string_view sjis, bool lineStart = true) {
    Converter c;
    return std::string(c.text(sjis, lineStart));
}

std::string hex(std::string_view s) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
        out += ' ';
    }
    return out;
}

struct TextCase {
    const char* what;
    std::string input;  // Shift_JIS
    std::string expected;
};

TEST(JisConvertTest, TextConversionTable) {
    const TextCase cases[] = {
        {"voiced marks combine", sj("ｶﾞｷﾞ"), "\x1B$B%,%.\x1B(B"},
        {"no composed form: mark stays separate", sj("ｱﾞ"), "\x1B$B%\"!+\x1B(B"},
        {"semi-voiced mark combines", sj("ﾊﾟ"), "\x1B$B%Q\x1B(B"},
        {"voiced U", sj("ｳﾞ"), "\x1B$B%t\x1B(B"},
        {"wo with voiced mark has no cp932 form", sj("ｦﾞ"), "\x1B$B%r!+\x1B(B"},
        {"half-width punctuation and long mark", sj("｡｢ｰ｣"), "\x1B$B!#!V!<!W\x1B(B"},
        {"kanji then ASCII", sj("日本語 abc"), "\x1B$BF|K\\8l\x1B(B abc"},
        {"IBM small roman one via its NEC-selected twin", "\xFA\x40", "\x1B$B|q\x1B(B"},
        {"IBM roman one has no twin: SO/SI form", "\xFA\x4A", "\x0E\x7A\x0F\x4A"},
        {"NEC special row 13", sj("①㈱"), "\x1B$B-!-j\x1B(B"},
        {"user area passes as row 0x7F", "\xF0\x40", "\x1B$B\x7F!\x1B(B"},
        {"unmapped lead with 8-bit trail", "\xF5\x9F", "\x0E\x75\x1F\x0F"},
        {"stray 8-bit byte takes the next byte along", "\xA0x", "\x0E\x20\x0Fx"},
        {"lead byte cut off at the end", "a\x82", "a\x0E\x02\x0F"},
        {"JIS run closed before CR LF", sj("あ\r\nい"), "\x1B$B$\"\x1B(B\r\n\x1B$B$$\x1B(B"},
        {"ASCII unchanged", "plain text, no change\r\n", "plain text, no change\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(text(c.input, false)), hex(c.expected)) << c.what;
    }
}

TEST(JisConvertTest, DotStuffingFollowsLineStartAcrossStrings) {
    Converter c;
    bool lineStart = true;
    // The very first byte of a message body is at the start of a line.
    EXPECT_EQ(c.text(".one\r\n.two\n.three\r.four", lineStart), "..one\r\n..two\n..three\r..four");
    EXPECT_FALSE(lineStart);
    EXPECT_EQ(c.text(".mid\r\n", lineStart), ".mid\r\n");
    EXPECT_TRUE(lineStart);
    EXPECT_EQ(c.text(".next", lineStart), "..next");

    // A line break swallowed by the SO/SI form of a stray byte still ends the
    // line, so a "." after it cannot become the DATA terminator on a server
    // that accepts bare LF.
    lineStart = false;
    EXPECT_EQ(hex(c.text("\xA0\n.\r\n", lineStart)), hex("\x0E\x20\x0F\n..\r\n"));
    EXPECT_TRUE(lineStart);
}

TEST(JisConvertTest, PlainHeaderEncodesEachJisRun) {
    Converter c;
    bool lineStart = true;
    EXPECT_EQ(c.plainHeader(sj("From: 山田太郎 <taro@example.jp>\r\n"), lineStart),
              "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>\r\n");
    EXPECT_EQ(c.plainHeader("X-Mailer: TARN01 Version 2.01\r\n", lineStart),
              "X-Mailer: TARN01 Version 2.01\r\n");
    // Two runs, two words; the ASCII between them stays plain.
    std::string to(c.plainHeader(sj("To: 山田 and 佐藤 <a@b>\r\n"), lineStart));
    EXPECT_EQ(to.find("=?ISO-2022-JP?B?"), 4U);
    EXPECT_NE(to.find("?= and =?ISO-2022-JP?B?"), std::string::npos);
    EXPECT_TRUE(to.ends_with("?= <a@b>\r\n"));
    // Runs apart only by white space share one word, or decoders would drop
    // the space between family and given name.
    std::string spaced(c.plainHeader(sj("To: 佐藤 \t花子 <a@b>\r\n"), lineStart));
    ASSERT_TRUE(spaced.starts_with("To: =?ISO-2022-JP?B?")) << spaced;
    EXPECT_TRUE(spaced.ends_with("?= <a@b>\r\n"));
    std::string word = spaced.substr(20, spaced.find("?=", 20) - 20);
    EXPECT_EQ(zeph::base64Decode(word).value_or(""), "\x1B$B:4F#\x1B(B \t\x1B$B2V;R\x1B(B");
}

// Decodes the encoded-words of a folded header back to ISO-2022-JP bytes.
std::vector<std::string> decodeWords(std::string_view folded) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while ((pos = folded.find("=?ISO-2022-JP?B?", pos)) != std::string_view::npos) {
        pos += 16;
        std::size_t end = folded.find("?=", pos);
        auto bytes = zeph::base64Decode(folded.substr(pos, end - pos));
        EXPECT_TRUE(bytes.has_value());
        words.push_back(bytes.value_or(""));
        pos = end + 2;
    }
    return words;
}

TEST(JisConvertTest, TwentyCharacterSubjectSplitsNineAndEleven) {
    const std::string twenty = sj("あいうえおかきくけこさしすせそたちつてと");
    Converter c;
    bool lineStart = true;
    std::string wire(c.foldedHeader("Subject: " + twenty + "\r\n", 9, lineStart));
    ASSERT_TRUE(wire.starts_with("Subject: =?ISO-2022-JP?B?")) << wire;
    ASSERT_TRUE(wire.ends_with("?=\r\n"));
    EXPECT_NE(wire.find("?=\r\n =?ISO-2022-JP?B?"), std::string::npos);
    auto words = decodeWords(wire);
    ASSERT_EQ(words.size(), 2U);
    EXPECT_EQ(words[0], "\x1B$B$\"$$$&$($*$+$-$/$1\x1B(B");
    EXPECT_EQ(words[1], "\x1B$B$3$5$7$9$;$=$?$A$D$F$H\x1B(B");
    EXPECT_TRUE(lineStart);
}

TEST(JisConvertTest, SubjectWithoutJisIsSentAsIs) {
    Converter c;
    bool ls = true;
    EXPECT_EQ(c.foldedHeader("Subject: Hello, world\r\n", 9, ls), "Subject: Hello, world\r\n");
    // 8-bit but nothing convertible: fold marks were placed and must not leak.
    std::string value;
    for (int i = 0; i < 20; ++i) {
        value += "\xFA\x4A";
    }
    std::string wire(c.foldedHeader("Subject: " + value + "\r\n", 9, ls));
    EXPECT_EQ(wire.find('\x03'), std::string::npos);
    EXPECT_TRUE(wire.starts_with("Subject: \x0E\x7A\x0F\x4A"));
}

TEST(JisConvertTest, FileNames) {
    Converter c;
    EXPECT_EQ(c.fileName("report-2024.pdf"), "report-2024.pdf");
    // Inside a header line a leading dot is not at a line start.
    EXPECT_EQ(c.fileName(".profile"), ".profile");
    auto words = decodeWords(c.fileName(sj("見積書.xlsx")));
    ASSERT_EQ(words.size(), 1U);
    EXPECT_EQ(words[0], "\x1B$B8+@Q=q\x1B(B.xlsx");
    std::string longName(c.fileName(sj("とても長い日本語のファイル名を付けた添付書類です.txt")));
    EXPECT_NE(longName.find("?=\r\n =?ISO-2022-JP?B?"), std::string::npos);
    EXPECT_FALSE(longName.ends_with("\r\n"));
}

// Shift_JIS of a JIS X 0208 code, the inverse of the arithmetic under test.
std::string sjisOfJis(std::uint16_t jis) {
    int row = jis >> 8;
    int col = jis & 0xFF;
    int lead = (row + 1) / 2 + (row <= 0x5E ? 0x70 : 0xB0);
    int trail = (row % 2 != 0) ? col + (col <= 0x5F ? 0x1F : 0x20) : col + 0x7E;
    return {static_cast<char>(lead), static_cast<char>(trail)};
}

TEST(JisConvertTest, IbmExtensionTableHas388PairsAndFourteenWithoutTwin) {
    auto counts = zeph::jis::ibmTableCounts();
    EXPECT_EQ(counts.pairs, 388U);
    EXPECT_EQ(counts.unmapped, 14U);
    const unsigned kNoTwin[] = {0xFA4A, 0xFA4B, 0xFA4C, 0xFA4D, 0xFA4E, 0xFA4F, 0xFA50,
                                0xFA51, 0xFA52, 0xFA53, 0xFA58, 0xFA59, 0xFA5A, 0xFA5B};
    for (unsigned code : kNoTwin) {
        EXPECT_EQ(zeph::jis::jisCode(code >> 8, code & 0xFF), 0) << std::hex << code;
    }
    // Every mapped IBM character lands in rows 0x79-0x7C on the same character.
    int mapped = 0;
    for (unsigned code = 0xFA40; code <= 0xFC4B; ++code) {
        unsigned trail = code & 0xFF;
        if (trail < 0x40 || trail == 0x7F || trail > 0xFC) {
            continue;
        }
        std::uint16_t jis = zeph::jis::jisCode(code >> 8, trail);
        if (jis == 0) {
            continue;
        }
        ++mapped;
        EXPECT_GE(jis >> 8, 0x79);
        EXPECT_LE(jis >> 8, 0x7C);
        std::string ibm{static_cast<char>(code >> 8), static_cast<char>(trail)};
        EXPECT_EQ(tarn::cp932::toUtf8Lossy(sjisOfJis(jis)), tarn::cp932::toUtf8Lossy(ibm))
            << std::hex << code;
    }
    EXPECT_EQ(mapped, 388 - 14);
}

// glibc's own ISO-2022-JP encoder as the yardstick for the arithmetic.
class Iso2022Jp {
public:
    Iso2022Jp() : m_cd(iconv_open("ISO-2022-JP", "UTF-8")) {}
    ~Iso2022Jp() { iconv_close(m_cd); }
    Iso2022Jp(const Iso2022Jp&) = delete;
    Iso2022Jp& operator=(const Iso2022Jp&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    std::string encode(const std::string& utf8) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string in = utf8;
        char out[32];
        char* ip = in.data();
        char* op = out;
        std::size_t il = in.size();
        std::size_t ol = sizeof out;
        if (iconv(m_cd, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) ||
            iconv(m_cd, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) {
            return {};
        }
        return {out, static_cast<std::size_t>(op - out)};
    }

private:
    iconv_t m_cd;
};

TEST(JisConvertTest, ArithmeticAgreesWithIconvOnJisX0208) {
    Iso2022Jp enc;
    ASSERT_TRUE(enc.ok());
    int compared = 0;
    for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead >= 0xA0 && lead < 0xE0) {
            continue;
        }
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const std::string sjis{static_cast<char>(lead), static_cast<char>(trail)};
            auto utf8 = tarn::cp932::toUtf8(sjis);
            if (!utf8.ok()) {
                continue;
            }
            const std::string expected = enc.encode(*utf8);
            // Characters whose Unicode mapping differs between the two tables
            // (the wave dash and friends) are not comparable.
            if (expected.size() != 8) {
                continue;
            }
            // NEC duplicates of row 1-84 characters map to their original code.
            if (sjisOfJis(static_cast<std::uint16_t>((expected[3] << 8) | expected[4])) != sjis) {
                continue;
            }
            const std::uint16_t jis = zeph::jis::jisCode(lead, trail);
            ASSERT_EQ(jis >> 8, static_cast<unsigned char>(expected[3])) << hex(sjis);
            ASSERT_EQ(jis & 0xFF, static_cast<unsigned char>(expected[4])) << hex(sjis);
            ++compared;
        }
    }
    EXPECT_GT(compared, 6800);
    // Not characters: bad trail bytes, lead bytes past the user area.
    EXPECT_EQ(zeph::jis::jisCode(0x81, 0x20), 0);
    EXPECT_EQ(zeph::jis::jisCode(0x81, 0x3F), 0);
    EXPECT_EQ(zeph::jis::jisCode(0xF0, 0x9F), 0);
    EXPECT_EQ(zeph::jis::jisCode(0xF5, 0x40), 0);
    EXPECT_EQ(zeph::jis::jisCode('A', 0x40), 0);
}

TEST(JisConvertTest, EveryHalfWidthKanaWidensToItsFullWidthForm) {
    // From the JIS X 0201 -> X 0208 correspondence; sound marks become the
    // spacing marks.
    const std::string full =
        sj("。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒ"
           "フヘホ"
           "マミムメモヤユヨラリルレロワン゛゜");
    std::string half;
    for (int k = 0xA1; k <= 0xDF; ++k) {
        half += static_cast<char>(k);
    }
    std::string out;
    zeph::jis::widenHalfWidthKana(half, out);
    EXPECT_EQ(tarn::cp932::toUtf8Lossy(out), tarn::cp932::toUtf8Lossy(full));
    // Double-byte characters whose trail byte looks like kana are left alone.
    zeph::jis::widenHalfWidthKana(sj("ア"), out);  // 0x83 0x41
    EXPECT_EQ(out, sj("ア"));
    EXPECT_FALSE(zeph::jis::hasHalfWidthKana(sj("ソ表能")));
}

TEST(CodecTest, UuencodeLines) {
    std::string line;
    zeph::appendUuencodeLine("Cat", line);
    zeph::appendUuencodeLine("ab", line);  // zero-filled to a whole group; 0 is "`"
    EXPECT_EQ(line, "#0V%T\"86(`");
}

}  // namespace

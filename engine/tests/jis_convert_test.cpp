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

using zeph::jis::LinePosition;

std::string text(std::string_view sjis, bool lineStart = true) {
    Converter c;
    LinePosition position{lineStart, 0};
    return std::string(c.text(sjis, position));
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
        {"IBM roman one via the same character in NEC row 13", "\xFA\x4A", "\x1B$B-5\x1B(B"},
        {"IBM because-sign via its JIS X 0208 code", "\xFA\x5B", "\x1B$B\"h\x1B(B"},
        {"NEC special row 13", sj("①㈱"), "\x1B$B-!-j\x1B(B"},
        {"user area has no code: geta mark", "\xF0\x40", "\x1B$B\".\x1B(B"},
        {"unassigned code: geta mark", "\x85\x40x", "\x1B$B\".\x1B(Bx"},
        {"stray 8-bit byte alone becomes the mark", "\xA0x", "\x1B$B\".\x1B(Bx"},
        {"lead byte cut off at the end", "a\x82", "a\x1B$B\".\x1B(B"},
        {"lead byte before a line break leaves the break", "\x82\r\n", "\x1B$B\".\x1B(B\r\n"},
        {"ESC, SO and SI of the text never switch the reader", "a\x1B$Bb\x0E\x0F",
         "a\x1B$B\".\x1B(B$Bb\x1B$B\".\".\x1B(B"},
        {"JIS run closed before CR LF", sj("あ\r\nい"), "\x1B$B$\"\x1B(B\r\n\x1B$B$$\x1B(B"},
        {"ASCII unchanged", "plain text, no change\r\n", "plain text, no change\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(text(c.input, false)), hex(c.expected)) << c.what;
    }
}

TEST(JisConvertTest, DotStuffingFollowsLineStartAcrossStrings) {
    Converter c;
    LinePosition position;
    // The very first byte of a message body is at the start of a line.
    EXPECT_EQ(c.text(".one\r\n.two\n.three\r.four", position), "..one\r\n..two\n..three\r..four");
    EXPECT_FALSE(position.lineStart);
    EXPECT_EQ(c.text(".mid\r\n", position), ".mid\r\n");
    EXPECT_TRUE(position.lineStart);
    EXPECT_EQ(c.text(".next", position), "..next");

    // A line break after a stray byte still ends the line, so a "." after it
    // cannot become the DATA terminator on a server that accepts bare LF.
    position.lineStart = false;
    EXPECT_EQ(hex(c.text("\xA0\n.\r\n", position)), hex("\x1B$B\".\x1B(B\n..\r\n"));
    EXPECT_TRUE(position.lineStart);
}

// The wire lines of a text as a relay sees them (split at CR LF).
std::vector<std::string> wireLines(std::string_view wire) {
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos <= wire.size();) {
        std::size_t end = wire.find("\r\n", pos);
        end = end == std::string_view::npos ? wire.size() : end;
        lines.emplace_back(wire.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// Back to Shift_JIS through glibc's ISO-2022-JP and code page 932.
std::string decodeJis(const std::string& jis);

TEST(JisConvertTest, LongLinesBreakBetweenCharactersWithinTheLineLimit) {
    std::string kanji;  // 931 characters, as in a pasted paragraph
    for (int i = 0; i < 931; ++i) {
        kanji += sj(i % 3 == 0 ? "日" : i % 3 == 1 ? "本" : "語");
    }
    // Mixed text whose breaks fall next to mode changes, and a line that
    // starts with a dot when it is broken.
    std::string mixed;
    for (int i = 0; i < 400; ++i) {
        mixed += sj("漢a");
    }
    mixed += std::string(600, '.');
    for (const std::string& line : {kanji, mixed, std::string(2500, 'x')}) {
        Converter c;
        LinePosition position;
        const std::string wire(c.text(line + "\r\n", position));
        for (const auto& l : wireLines(wire)) {
            EXPECT_LE(l.size(), zeph::jis::kMaxLineBytes);
            // Every line decodes on its own: runs are closed before the break.
            EXPECT_EQ(l.rfind(zeph::jis::kEnterJis) == std::string::npos ||
                          l.rfind(zeph::jis::kLeaveJis) > l.rfind(zeph::jis::kEnterJis),
                      true)
                << l.substr(l.size() - 10);
        }
        EXPECT_GT(wireLines(wire).size(), 2U);
        // Nothing but the breaks was added: without them (and the dots they
        // stuffed), the text comes back as it was.
        std::string joined;
        for (const auto& l : wireLines(wire)) {
            joined += l.starts_with(".") ? l.substr(1) : l;
        }
        EXPECT_EQ(decodeJis(joined), line);
    }
    // The count carries over from one chunk to the next.
    Converter c;
    LinePosition position;
    const std::string first(c.text(std::string(990, 'a'), position));
    EXPECT_EQ(position.column, 990U);
    // 日 fills the line to exactly 998 bytes with its ESC ( B; 本 goes on the next.
    EXPECT_EQ(hex(c.text(sj("日本"), position)), hex("\x1B$BF|\x1B(B\r\n\x1B$BK\\\x1B(B"));
    EXPECT_EQ(position.column, 8U);
}

TEST(JisConvertTest, PlainHeaderEncodesEachJisRun) {
    Converter c;
    LinePosition lineStart;
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
    LinePosition lineStart;
    std::string wire(c.foldedHeader("Subject: " + twenty + "\r\n", 9, lineStart));
    ASSERT_TRUE(wire.starts_with("Subject: =?ISO-2022-JP?B?")) << wire;
    ASSERT_TRUE(wire.ends_with("?=\r\n"));
    EXPECT_NE(wire.find("?=\r\n =?ISO-2022-JP?B?"), std::string::npos);
    auto words = decodeWords(wire);
    ASSERT_EQ(words.size(), 2U);
    EXPECT_EQ(words[0], "\x1B$B$\"$$$&$($*$+$-$/$1\x1B(B");
    EXPECT_EQ(words[1], "\x1B$B$3$5$7$9$;$=$?$A$D$F$H\x1B(B");
    EXPECT_TRUE(lineStart.lineStart);
}

TEST(JisConvertTest, SubjectWithoutJisIsSentAsIs) {
    Converter c;
    LinePosition ls;
    EXPECT_EQ(c.foldedHeader("Subject: Hello, world\r\n", 9, ls), "Subject: Hello, world\r\n");
    // Characters without a code still become encoded-words (of the mark).
    std::string value;
    for (int i = 0; i < 20; ++i) {
        value += "\xF0\x40";
    }
    std::string wire(c.foldedHeader("Subject: " + value + "\r\n", 9, ls));
    EXPECT_EQ(wire.find('\x03'), std::string::npos);
    auto words = decodeWords(wire);
    ASSERT_EQ(words.size(), 2U);
    std::string geta;
    for (int i = 0; i < 20; ++i) {
        geta += "\x81\xAC";
    }
    EXPECT_EQ(decodeJis(words[0] + words[1]), geta);
}

TEST(JisConvertTest, LongDisplayNamesBecomeSeveralShortEncodedWords) {
    Converter c;
    LinePosition ls;
    const std::string name =
        sj("株式会社みどり商事 営業本部 第一営業部 営業企画課 課長代理 佐藤一郎");
    const std::string wire(c.plainHeader("From: " + name + " <a@example.jp>\r\n", ls));
    auto words = decodeWords(wire);
    ASSERT_GT(words.size(), 1U);
    std::string joined;
    for (const auto& w : words) {
        // Each word ends in ASCII mode (perhaps with the space it carries).
        EXPECT_TRUE(w.rfind(zeph::jis::kEnterJis) == std::string::npos ||
                    w.rfind(zeph::jis::kLeaveJis) > w.rfind(zeph::jis::kEnterJis))
            << hex(w);
        joined += w;
    }
    EXPECT_EQ(decodeJis(joined), name);
    for (const auto& line : wireLines(wire)) {
        EXPECT_LE(line.size(), 80U) << line;
    }
    for (std::size_t p = 0; (p = wire.find("=?ISO-2022-JP?B?", p)) != std::string::npos; ++p) {
        EXPECT_LE(wire.find("?=", p + 16) + 2 - p, zeph::jis::kMaxEncodedWord);
    }
    EXPECT_TRUE(wire.ends_with("?= <a@example.jp>\r\n")) << wire;
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

std::string decodeJis(const std::string& jis) {
    iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = jis;
    std::string out(jis.size() * 3 + 16, '\0');
    char* ip = in.data();
    char* op = out.data();
    std::size_t il = in.size();
    std::size_t ol = out.size();
    const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    EXPECT_TRUE(ok) << hex(jis.substr(0, 40));
    out.resize(out.size() - ol);
    auto sjis = tarn::cp932::fromUtf8(out);
    return sjis.ok() ? *sjis : std::string("<not cp932>");
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

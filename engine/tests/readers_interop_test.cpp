// What we compose, read back by independent readers from Debian as a
// recipient's mail program would: Perl's Email::MIME with Encode (standard
// ISO-2022-JP and UTF-8), Encode::EUCJPMS's cp50221 for the NEC special and
// IBM extension rows, and munpack and ripmime for the attachments. Every
// character is compared, in each character set setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "common/cp932.h"
#include "common/iso2022jp.h"
#include "compose_interop.h"
#include "mail_readers.h"
#include "message.h"
#include "testsupport.h"

namespace {

using tarn::test::TempDir;
namespace fs = std::filesystem;

std::string sj(const std::string& utf8) {
    auto r = tarn::cp932::fromUtf8(utf8);
    EXPECT_TRUE(r.ok()) << utf8;
    return r.ok() ? *r : std::string();
}

struct File {
    std::string name;      // on disk, UTF-8
    std::string expected;  // the name a recipient should see, UTF-8
    std::string bytes;
};

// One message: the Shift_JIS values handed to the engine and the UTF-8 text
// a recipient should read.
struct Case {
    std::string what;
    std::string subject, toName, fromName, body;  // Shift_JIS
    std::string expectedSubject, expectedTo, expectedFrom, expectedBody;
    std::vector<File> files;
};

std::string kanjiLine(int characters) {
    std::string line;
    for (int i = 0; i < characters; ++i) {
        line += i % 10 == 9 ? "。" : "漢";
    }
    return line;
}

// A pasted paragraph of 931 full-width characters on one line.
const std::string kLongLine = kanjiLine(931);

std::vector<Case> corpus() {
    std::vector<Case> cases;
    for (const auto& s : compose_interop::corpus()) {
        Case c{s.subject,         sj(s.subject),    sj(s.toName),       sj(s.fromName), sj(s.body),
               s.expectedSubject, s.expectedToName, s.expectedFromName, s.expectedBody, {}};
        for (const auto& a : s.attachments) {
            c.files.push_back({a.name, a.expected, a.bytes});
        }
        cases.push_back(std::move(c));
    }
    // The third recipient of the demonstration send.
    const std::string demoBody =
        "㈱ひかり通信\r\n第Ⅱ営業部 主任\r\n中村 優子 様\r\n\r\n"
        "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\r\n\r\n"
        "（会員区分：①資料送付済み）\r\n\r\n"
        ".から始まる行も正しく届きます。半角ｶﾀｶﾅも全角で届きます。\r\n";
    cases.push_back({"demo",
                     sj("【ご案内】㈱ひかり通信 中村 優子様へ 新製品説明会のお知らせ"),
                     sj("中村 優子"),
                     sj("ターノス デモ事務局"),
                     sj(demoBody),
                     "【ご案内】㈱ひかり通信 中村 優子様へ 新製品説明会のお知らせ",
                     "中村 優子",
                     "ターノス デモ事務局",
                     "㈱ひかり通信\r\n第Ⅱ営業部 主任\r\n中村 優子 様\r\n\r\n"
                     "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\r\n\r\n"
                     "（会員区分：①資料送付済み）\r\n\r\n"
                     ".から始まる行も正しく届きます。半角カタカナも全角で届きます。\r\n",
                     {{"説明会のご案内.txt", "説明会のご案内.txt",
                       sj("新製品説明会のご案内\r\n会場: オンライン\r\n")}}});
    // Names people really have, in the IBM rows as Windows writes them
    // (髙 0xFBFC, 﨑 0xFAB1, 德 0xFABA), and the IBM codes of Ⅱ (0xFA4B)
    // and № (0xFA59), which once went out as SO/SI bytes.
    const std::string ibmName =
        "\xFB\xFC" + sj("橋") + "\xFA\xB1" + sj(" ") + "\xFA\xBA" + sj("子");
    const std::string& longLine = kLongLine;
    cases.push_back({"extension characters",
                     sj("①㈱") + "\xFA\x4B" + sj("㍉") + "\xFA\x59" + sj("髙﨑德 ｶﾞｷﾞのご案内"),
                     ibmName,
                     sj("㈱ターノス ｶﾞｷﾞ事務局"),
                     sj("髙橋様\r\n") + sj(longLine) + sj("\r\n.\r\n..二つ\r\n.\r\nｶﾞｷﾞ №") +
                         "\xFA\x59" + "\r\n",
                     "①㈱Ⅱ㍉№髙﨑德 ガギのご案内",
                     "髙橋﨑 德子",
                     "㈱ターノス ガギ事務局",
                     "髙橋様\r\n" + longLine + "\r\n.\r\n..二つ\r\n.\r\nガギ №№\r\n",
                     {{"見積 書 ①.pdf", "見積 書 ①.pdf", "%PDF-1.4 binary \x01\x02\xFF"},
                      {"ｶﾞｲﾄﾞ 資料.txt", "ガイド 資料.txt", sj("案内\r\n")},
                      {"report 2024.csv", "report 2024.csv", "a,b\r\n1,2\r\n"}}});
    return cases;
}

std::string withoutFinalLineEnds(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) {
        s.pop_back();
    }
    return s;
}

bool hasExtension(const Case& c) {
    std::string all = c.subject + c.toName + c.fromName + c.body;
    for (const auto& f : c.files) {
        all += sj(f.name);
    }
    const auto found = tarn::iso2022jp::findNonStandard(all);
    return std::any_of(found.begin(), found.end(), [](const auto& f) {
        return f.kind == tarn::iso2022jp::CharKind::kExtension;
    });
}

class Sink : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        out.append(bytes);
        return true;
    }
    std::string out;
};

class ReadersInterop : public ::testing::TestWithParam<int> {};

TEST_P(ReadersInterop, PerlCp50221MunpackAndRipmimeReadEveryCharacterBack) {
    const int mode = GetParam();
    TempDir dir;
    int n = 0;
    for (const Case& c : corpus()) {
        SCOPED_TRACE(c.what);
        const fs::path files = dir / ("files" + std::to_string(++n));
        fs::create_directories(files);
        std::string list;
        for (const auto& f : c.files) {
            tarn::test::writeFile(files / f.name, f.bytes);
            list += sj("\"" + (files / f.name).string() + "\" ");
        }
        zeph::Message m;
        ASSERT_EQ(m.setCharsetMode(mode), 1);
        m.setDefaultHeader();
        m.setHeader("To", c.toName + " <to@example.jp>");
        m.setHeader("Cc", sj("経理部") + " <cc@example.jp>");
        m.setHeader("From", c.fromName + " <from@example.jp>");
        m.setMessageId(nullptr);
        m.setHeader("Subject", c.subject);
        m.setBody(c.body.c_str());
        int lastError = 0;
        if (!list.empty()) {
            ASSERT_EQ(m.setAttach(list.c_str(), &lastError), 1);
        }
        Sink sink;
        ASSERT_TRUE(m.write(sink));
        // After DATA the receiver undoes dot-stuffing; the file holds what it stores.
        std::string stored;
        for (std::size_t pos = 0; pos < sink.out.size();) {
            std::size_t end = sink.out.find("\r\n", pos);
            end = end == std::string::npos ? sink.out.size() : end + 2;
            const std::string_view line = std::string_view(sink.out).substr(pos, end - pos);
            EXPECT_LE(line.size(), 1000U) << "a line over 998 octets";
            stored.append(line.starts_with('.') ? line.substr(1) : line);
            pos = end;
        }
        mail_readers::expectWireSafe(stored);
        const fs::path eml = dir / ("message" + std::to_string(n) + ".eml");
        tarn::test::writeFile(eml, stored);

        const bool utf8 =
            mode == zeph::kCharsetUtf8 || (mode == zeph::kCharsetAutomatic && hasExtension(c));
        // Standard ISO-2022-JP readers for what they can read; cp50221 where
        // the message holds the extension rows.
        const auto read = mail_readers::perlRead(eml, hasExtension(c) ? "cp50221" : "iso-2022-jp");
        auto field = [&](const std::string& key) { return read.field(key); };
        EXPECT_EQ(field("charset"), utf8 ? "UTF-8" : "iso-2022-jp");
        EXPECT_EQ(field("subject"), c.expectedSubject);
        if (utf8 || !hasExtension(c)) {
            // Email::MIME's own header decoding is a standard reader.
            EXPECT_EQ(field("subject-mime"), c.expectedSubject);
        }
        EXPECT_EQ(field("to"), c.expectedTo + " <to@example.jp>");
        EXPECT_EQ(field("from"), c.expectedFrom + " <from@example.jp>");
        EXPECT_EQ(field("cc"), "経理部 <cc@example.jp>");
        std::string expectedBody = c.expectedBody;
        if (const std::size_t at = expectedBody.find(kLongLine); at != std::string::npos && !utf8) {
            // ESC $ B, 496 characters of two bytes and ESC ( B fill a line of
            // 998 bytes; the rest of the paragraph goes on the next line.
            expectedBody.insert(at + 496 * std::string("漢").size(), "\r\n");
        }
        EXPECT_EQ(withoutFinalLineEnds(field("body")), withoutFinalLineEnds(expectedBody));
        ASSERT_EQ(read.files.size(), c.files.size());
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            EXPECT_EQ(mail_readers::cp932Spelling(read.files[i].at("name")), c.files[i].expected);
            EXPECT_EQ(mail_readers::cp932Spelling(read.files[i].at("name-words")),
                      c.files[i].expected);
            EXPECT_EQ(read.files[i].at("data"), c.files[i].bytes);
        }

        if (c.files.empty()) {
            continue;
        }
        std::vector<mail_readers::SavedFile> saved;
        for (const auto& f : c.files) {
            saved.push_back(
                {f.expected, f.bytes, f.name.ends_with(".txt") || f.name.ends_with(".csv")});
        }
        const fs::path work = dir / ("readers" + std::to_string(n));
        mail_readers::expectSavedByRipmimeAndMunpack(eml, work, saved);
    }
}

INSTANTIATE_TEST_SUITE_P(Iso2022JpAutomaticUtf8, ReadersInterop,
                         ::testing::Values(zeph::kCharsetIso2022Jp, zeph::kCharsetAutomatic,
                                           zeph::kCharsetUtf8));

}  // namespace

#include "compose_interop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "common/cp932.h"
#include "testsupport.h"

namespace compose_interop {
namespace {

std::string sj(const std::string& utf8) {
    auto r = tarn::cp932::fromUtf8(utf8);
    EXPECT_TRUE(r.ok()) << utf8;
    return r.ok() ? *r : std::string();
}

std::string binary(std::size_t n, unsigned seed) {
    std::string out(n, '\0');
    for (auto& c : out) {
        seed = seed * 1103515245U + 12345U;
        c = static_cast<char>(seed >> 16);
    }
    return out;
}

// Standard ISO-2022-JP decoders know rows 1-84 of JIS X 0208 only; the NEC
// special row 13 and the NEC-selected/IBM rows need the code page 932 reading
// that Japanese mail programs apply.
bool needsCp932(const std::string& utf8) {
    const std::string s = sj(utf8);
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if ((c >= 0x81 && c <= 0x9F) || c >= 0xE0) {
            if (c == 0x87 || c >= 0xED) {
                return true;
            }
            ++i;
        }
    }
    return false;
}

std::string unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

std::string normalised(std::string s) {
    for (std::size_t p; (p = s.find("\r\n")) != std::string::npos;) {
        s.erase(p, 1);
    }
    while (!s.empty() && s.back() == '\n') {
        s.pop_back();
    }
    return s;
}

}  // namespace

const std::vector<Sample>& corpus() {
    static const std::vector<Sample> samples = [] {
        std::vector<Sample> v;
        v.push_back(
            {"【ご案内】新製品発表会のお知らせ",
             "【ご案内】新製品発表会のお知らせ",
             "山田 太郎",
             "山田 太郎",
             "佐藤 花子",
             "佐藤 花子",
             "佐藤様\r\n\r\nいつもお世話になっております。\r\n"
             ".から始まる行もそのまま届きます。\r\n漢字、ひらがな、カタカナ、ＡＢＣ、123。\r\n",
             "",
             {}});
        v.push_back({"ｾﾐﾅｰ開催のお知らせ（ｶﾞｲﾀﾞﾝｽ ﾊﾟﾝﾌﾚｯﾄ付き）",
                     "セミナー開催のお知らせ（ガイダンス パンフレット付き）",
                     "ﾀｰﾉｽ 事務局",
                     "ターノス 事務局",
                     "ｻﾄｳ ﾊﾅｺ",
                     "サトウ ハナコ",
                     "ﾎﾟｲﾝﾄ：半角ｶﾀｶﾅは全角になります｡\r\n",
                     "",
                     {}});
        v.push_back({"Plain ASCII subject",
                     "Plain ASCII subject",
                     "Sender",
                     "Sender",
                     "Someone",
                     "Someone",
                     "Only ASCII here.\r\n.\r\nA lone dot line above.\r\n",
                     "",
                     {}});
        v.push_back({"①②③ ㈱テスト ～ 第３回 定例会議の議事録送付について（ご確認のお願い）★☆※〒",
                     "①②③ ㈱テスト ～ 第３回 定例会議の議事録送付について（ご確認のお願い）★☆※〒",
                     "㈱ターノス 営業部",
                     "㈱ターノス 営業部",
                     "鈴木 一郎",
                     "鈴木 一郎",
                     "記号：①②⑩ ㈱ № ℡ ≒ ≡ ∫ ∮ √ ⊥ ∠ ∟ ⊿ ∵ ∩ ∪ ～ ∥ －\r\n"
                     "ⅰⅱⅲ と ⅠⅡⅢ も。\r\n",
                     "",
                     {}});
        for (auto& s : v) {
            if (s.expectedBody.empty()) {
                s.expectedBody = s.body;
            }
        }
        // The half-width body widens.
        v[1].expectedBody = "ポイント：半角カタカナは全角になります。\r\n";
        v[0].attachments = {{"見積書.pdf", "見積書.pdf", binary(1000, 1)},
                            {"report 2024.csv", "report 2024.csv", "a,b\r\n1,2\r\n"},
                            {"empty.bin", "empty.bin", ""}};
        v[1].attachments = {
            {"ﾃｽﾄ ﾌｧｲﾙ.txt", "テスト ファイル.txt", binary(45, 2)},
            {"とても長い名前の添付ファイル_第二版_最終確認済み.docx",
             "とても長い名前の添付ファイル_第二版_最終確認済み.docx", binary(14, 3)}};
        v[3].attachments = {{"①資料.txt", "①資料.txt", binary(4096, 4)}};
        return v;
    }();
    return samples;
}

EngineInput prepare(const Sample& sample, const std::filesystem::path& dir) {
    EngineInput in;
    in.to = sj(sample.toName) + " <to@example.jp>";
    in.from = sj(sample.fromName) + " <from@example.jp>";
    in.cc = sj("経理部") + " <cc@example.jp>";
    in.subject = sj(sample.subject);
    in.body = sj(sample.body);
    for (const auto& a : sample.attachments) {
        tarn::test::writeFile(dir / a.name, a.bytes);
        in.attachList += sj("\"" + (dir / a.name).string() + "\" ");
    }
    return in;
}

void expectDecodedAsWritten(const std::filesystem::path& message, bool unstuff,
                            const Sample& sample) {
    std::vector<std::string> argv = {
        TARN_TEST_PYTHON, std::string(TARN_SOURCE_DIR) + "/engine/tests/compose_decode.py",
        message.string()};
    if (unstuff) {
        argv.emplace_back("--unstuff");
    }
    auto r = tarn::test::run(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::multimap<std::string, std::string> fields;
    std::vector<std::pair<std::string, std::string>> attachments;
    std::size_t pos = 0;
    while (pos < r.out.size()) {
        std::size_t end = r.out.find('\n', pos);
        std::string line = r.out.substr(pos, end - pos);
        pos = end == std::string::npos ? r.out.size() : end + 1;
        std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string key = line.substr(0, tab);
        std::string value = unhex(line.substr(tab + 1));
        if (key == "name") {
            attachments.emplace_back(value, "");
        } else if (key == "data") {
            ASSERT_FALSE(attachments.empty());
            attachments.back().second = value;
        } else {
            fields.emplace(key, value);
        }
    }
    auto one = [&](const std::string& key) {
        auto it = fields.find(key);
        return it == fields.end() ? std::string("<missing>") : it->second;
    };
    auto usedCp932 = [&](const std::string& key) {
        auto range = fields.equal_range("fallback");
        return std::any_of(range.first, range.second,
                           [&](const auto& f) { return f.second == key; });
    };

    EXPECT_EQ(one("subject"), sample.expectedSubject);
    EXPECT_EQ(one("from"), sample.expectedFromName + " <from@example.jp>");
    EXPECT_EQ(one("to"), sample.expectedToName + " <to@example.jp>");
    EXPECT_EQ(one("cc"), "経理部 <cc@example.jp>");
    EXPECT_EQ(normalised(one("body")), normalised(sample.expectedBody));
    EXPECT_EQ(usedCp932("subject"), needsCp932(sample.expectedSubject));
    EXPECT_EQ(usedCp932("from"), needsCp932(sample.expectedFromName));
    EXPECT_EQ(usedCp932("body"), needsCp932(sample.expectedBody));
    if (!needsCp932(sample.expectedSubject)) {
        EXPECT_EQ(one("modern-subject"), sample.expectedSubject);
    }
    auto defects = fields.equal_range("defect");
    for (auto it = defects.first; it != defects.second; ++it) {
        ADD_FAILURE() << "defect: " << it->second;
    }

    ASSERT_EQ(attachments.size(), sample.attachments.size());
    for (std::size_t i = 0; i < attachments.size(); ++i) {
        EXPECT_EQ(attachments[i].first, sample.attachments[i].expected);
        EXPECT_EQ(attachments[i].second, sample.attachments[i].bytes) << sample.attachments[i].name;
    }
}

}  // namespace compose_interop

// Writes the sample address book and message that `tarn demo` sends. Run once
// after a change of the samples (target tarn_make_samples); the output is
// committed: samples/sample.tn2, samples/sample.tnm.
#include <array>
#include <cstdio>
#include <string>

#include "addressbook/document.h"
#include "common/cp932.h"
#include "contents/send_contents.h"

using namespace tarn;

namespace {
std::string sj(const char* utf8) {
    return *cp932::fromUtf8(utf8);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarn_make_samples SAMPLES_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    addressbook::CTarnSendDoc doc;
    if (!doc.OnNewDocument(addressbook::defaultFreeFieldTitles())) {
        return 1;
    }
    struct Row {
        const char *company, *department, *title, *name, *email, *honorific, *free1;
    } rows[] = {
        {"株式会社みどり商事", "営業部", "部長", "佐藤 一郎",
         "佐藤 一郎 <ichiro.sato@midori-shoji.example.co.jp>", "様", "ゴールド会員"},
        {"青葉電機株式会社", "技術開発部", "課長", "鈴木 花子",
         "hanako.suzuki@aoba-denki.example.jp", "様", "シルバー会員"},
        {"㈱ひかり通信", "第Ⅱ営業部", "主任", "中村 優子",
         "yuko.nakamura@hikari-tsushin.example.jp", "様", "①資料送付済み"},
        {"ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ(ｶ)", "ｿｳﾑﾌﾞ", "", "ﾔﾏﾀﾞ ﾀﾛｳ", "taro.yamada@sakura-trading.example.com", "様",
         ""},
        {"株式会社つばさ物流", "総務部", "", "", "info@tsubasa-butsuryu.example.co.jp", "御中",
         "法人窓口"},
        {"はるかぜ大学", "情報学部", "教授", "伊藤 誠", "makoto.ito@harukaze-u.example.jp", "先生",
         ""},
    };
    for (const auto& row : rows) {
        addressbook::Record r;
        r.setText(addressbook::Field::Company, sj(row.company));
        r.setText(addressbook::Field::Department, sj(row.department));
        r.setText(addressbook::Field::Title, sj(row.title));
        r.setText(addressbook::Field::Name, sj(row.name));
        r.setText(addressbook::Field::Email, sj(row.email));
        r.setText(addressbook::Field::Honorific, sj(row.honorific));
        r.setText(addressbook::freeField(0), sj(row.free1));
        r.setFolder(1);
        if (auto added = doc.appendRecord(std::move(r)); !added) {
            std::fprintf(stderr, "%s\n", added.error().message.c_str());
            return 1;
        }
    }
    const std::array<const addressbook::Record*, 2> members = {&doc.record(0), &doc.record(2)};
    if (auto added = doc.addMembers(0, members); !added) {
        std::fprintf(stderr, "%s\n", added.error().message.c_str());
        return 1;
    }
    if (auto saved = doc.OnSaveDocument(dir + "/sample.tn2"); !saved) {
        std::fprintf(stderr, "%s\n", saved.error().message.c_str());
        return 1;
    }

    contents::SendContents message;
    message.subject = sj("【ご案内】&[会社名] &[名前]&[敬称]へ 新製品説明会のお知らせ");
    message.attachments = dir + "/" + sj("説明会のご案内.txt");
    message.body = contents::normaliseBodyLineEnds(
        sj("&[会社名]\n"
           "&[部署名] &[役職]\n"
           "&[名前] &[敬称]\n"
           "\n"
           "#If &[敬称] = \"御中\" Then\n"
           "ご担当者様\n"
           "#End If\n"
           "#If &[敬称] = \"先生\" Then\n"
           "平素より格別のご指導を賜り、厚く御礼申し上げます。\n"
           "#Else\n"
           "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\n"
           "#End If\n"
           "\n"
           "このたび新製品の説明会を開催いたします。\n"
           "詳細は添付の案内をご覧ください。\n"
           "#If &[Freefield1] <> \"\" Then\n"
           "（会員区分：&[Freefield1]）\n"
           "#End If\n"
           "\n"
           ".から始まる行も正しく届きます。半角ｶﾀｶﾅも全角で届きます。\n"
           "\n"
           "ターノス デモ事務局\n"));
    if (int rc = contents::SaveSendContents(dir + "/sample.tnm", message); rc != 0) {
        std::fprintf(stderr, "cannot save the message: %d\n", rc);
        return 1;
    }
    // File names on disk are UTF-8; the message keeps its paths in Shift_JIS.
    std::FILE* f = std::fopen((dir + "/説明会のご案内.txt").c_str(), "wb");
    std::string note =
        sj("新製品説明会のご案内\r\n日時: 2027年1月20日 14:00-16:00\r\n会場: オンライン\r\n");
    std::fwrite(note.data(), 1, note.size(), f);
    std::fclose(f);
    return 0;
}

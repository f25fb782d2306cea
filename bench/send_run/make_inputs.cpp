// Inputs of the whole-run benchmark: an address book of N recipients with
// realistic Japanese fields, a personalised message (merge fields and a
// script branch), the settings registry pointing at a sink on 127.0.0.1:PORT,
// the same recipients as UTF-8 CSV for the Python yardstick, and the messages
// the run sends, already personalised, for the engine-only run
// (engine_throughput --messages).
//   send_run_inputs DIR COUNT PORT
#include <charconv>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "addressbook/document.h"
#include "addressbook/list_view_state.h"
#include "common/cp932.h"
#include "contents/script.h"
#include "contents/send_contents.h"
#include "driver/book_sources.h"
#include "driver/personalise.h"
#include "driver/send_driver.h"
#include "sendcore/settings.h"

using namespace tarn;

namespace {
std::string sj(const std::string& utf8) {
    return *cp932::fromUtf8(utf8);
}

int parsePositive(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && value > 0 ? value : 0;
}

// The messages `tarn send` sends for this book, personalised by the send
// driver's own step, so that the engine alone can send the same bytes. Each
// field is written as "LENGTH:BYTES": to, from, subject, body.
bool writeMessages(const std::string& path, addressbook::CTarnSendDoc& doc,
                   const contents::SendContents& message, const std::string& from) {
    contents::ScriptHost host;
    contents::ScriptEngine script(host);
    if (script.LoadScript(message.body) == 0) {
        return false;
    }
    std::ofstream out(path, std::ios::binary);
    auto field = [&out](std::string_view s) { out << s.size() << ':' << s; };
    // What `tarn send` shows without --folder or --group.
    addressbook::ListViewState view(doc);
    view.select(addressbook::TreeSelection::all());
    driver::BookRecipients recipients(doc, view);
    driver::PersonalMessage personal;
    bool ok = true;
    recipients.visitEligible([&](const driver::Recipient& r) {
        switch (driver::personalise(message, &script, r.values, personal)) {
            case driver::Personalised::kScriptFailed:
                ok = false;
                return false;
            case driver::Personalised::kSkipped:
                return true;
            case driver::Personalised::kMessage:
                break;
        }
        field(r.address);
        field(from);
        field(personal.subject());
        field(personal.body());
        return true;
    });
    if (!ok) {
        return false;
    }
    return static_cast<bool>(out.flush()) && out.tellp() > 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc == 4 ? parsePositive(argv[2]) : 0;
    const int port = argc == 4 ? parsePositive(argv[3]) : 0;
    if (count == 0 || port == 0 || port > 65535) {
        std::fprintf(stderr, "usage: send_run_inputs DIR COUNT PORT\n");
        return 2;
    }
    const std::string dir = argv[1];
    const char* companies[] = {"株式会社みどり商事", "青葉電機株式会社",   "株式会社山崎精機",
                               "株式会社ひかり通信", "株式会社つばさ物流", "株式会社なにわ食品"};
    const char* departments[] = {"営業部", "技術開発部", "品質保証部", "総務部", "企画部"};
    const char* families[] = {"佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "山本", "中村"};
    const char* givens[] = {"一郎", "花子", "健太", "優子", "誠", "美咲", "大輔", "さくら"};
    const char* ranks[] = {"ゴールド会員", "シルバー会員", "一般会員"};

    addressbook::CTarnSendDoc doc;
    if (!doc.OnNewDocument(addressbook::defaultFreeFieldTitles())) {
        return 1;
    }
    std::ofstream csv(dir + "/recipients.csv", std::ios::binary);
    csv << "company,department,name,email,honorific,rank\n";
    for (int i = 0; i < count; ++i) {
        const std::string company = companies[i % 6];
        const std::string department = departments[i % 5];
        const std::string name = std::string(families[i % 8]) + " " + givens[(i / 8) % 8];
        const std::string email = "user" + std::to_string(i) + "@example.jp";
        const std::string honorific = i % 10 == 0 ? "御中" : "様";
        const std::string rank = ranks[i % 3];
        addressbook::Record r;
        r.setText(addressbook::Field::Company, sj(company));
        r.setText(addressbook::Field::Department, sj(department));
        r.setText(addressbook::Field::Name, sj(name));
        r.setText(addressbook::Field::Email, email);
        r.setText(addressbook::Field::Honorific, sj(honorific));
        r.setText(addressbook::freeField(0), sj(rank));
        r.setFolder(1);
        if (auto added = doc.appendRecord(std::move(r)); !added) {
            std::fprintf(stderr, "%s\n", added.error().message.c_str());
            return 1;
        }
        csv << company << ',' << department << ',' << name << ',' << email << ',' << honorific
            << ',' << rank << '\n';
    }
    if (auto saved = doc.OnSaveDocument(dir + "/book.tn2"); !saved) {
        std::fprintf(stderr, "%s\n", saved.error().message.c_str());
        return 1;
    }

    contents::SendContents message;
    message.subject = sj("【ご案内】&[会社名] &[名前]&[敬称] 新製品説明会のお知らせ");
    std::string body =
        "&[会社名]\n&[部署名]\n&[名前] &[敬称]\n\n"
        "#If &[敬称] = \"御中\" Then\n"
        "ご担当者様\n"
        "#Else\n"
        "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\n"
        "#End If\n\n";
    for (int line = 0; line < 12; ++line) {
        body +=
            "このたび新製品の説明会を開催いたします。ご多忙中とは存じますが、ぜひご参加ください。"
            "\n";
    }
    body += "（会員区分：&[Freefield1]）\n\nターノス 事務局\n";
    message.body = contents::normaliseBodyLineEnds(sj(body));
    if (contents::SaveSendContents(dir + "/message.tnm", message) != 0) {
        return 1;
    }
    std::ofstream(dir + "/body.txt", std::ios::binary) << body;

    const std::string fromName = sj("ターノス 事務局");
    if (!writeMessages(dir + "/messages.bin", doc, message, fromName + " <office@example.jp>")) {
        std::fprintf(stderr, "cannot write %s/messages.bin\n", dir.c_str());
        return 1;
    }

    SendSettings settings{};
    setFieldText(settings.defaultAccount.FromName, fromName);
    setFieldText(settings.defaultAccount.FromEMail, "office@example.jp");
    setFieldText(settings.defaultAccount.SMTPName, "127.0.0.1");
    settings.defaultAccount.PortNo = port;
    settings.defaultAccount.dialUp.LANConnect = 1;
    settings.ScriptUse = 1;
    settings.LogFileMode = 2;
    setFieldText(settings.LogFileName, dir + "/send.log");
    SettingsStore store(dir + "/registry");
    if (!store.saveOption(settings) || !store.saveCommon(dir + "/message.tnm")) {
        return 1;
    }
    return 0;
}

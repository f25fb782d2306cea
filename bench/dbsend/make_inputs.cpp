// Inputs of the database-send benchmark: the first 99,999 rows (as many as an
// address book holds) of the 100,000-row recipient CSV read by the database send's own row reader
// and written as an address book with the very values a database send merges (so that both sides
// send the same messages), a message with merge fields, and the settings registry pointing at a
// sink on 127.0.0.1:PORT.
//   dbsend_bench_inputs DIR PORT CSV-FOLDER CSV-NAME
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "addressbook/document.h"
#include "common/cp932.h"
#include "contents/send_contents.h"
#include "dbsend/db_sources.h"
#include "sendcore/settings.h"

using namespace tarn;

namespace {

std::string sj(const std::string& utf8) {
    return *cp932::fromUtf8(utf8);
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    if (argc == 5) {
        std::string_view p = argv[2];
        std::from_chars(p.data(), p.data() + p.size(), port);
    }
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: dbsend_bench_inputs DIR PORT CSV-FOLDER CSV-NAME\n");
        return 2;
    }
    const std::string dir = argv[1];

    // The mapping the benchmark's `tarn dbsend` is given (run.sh).
    dbsend::RowSourceOptions o;
    o.spec.type = 4;
    o.spec.source = argv[3];
    o.spec.table = argv[4];
    o.spec.fields[dbsend::kCompany] = sj("会社名");
    o.spec.fields[dbsend::kDepartment] = sj("部署名");
    o.spec.fields[dbsend::kTitle] = sj("役職");
    o.spec.fields[dbsend::kSurname] = sj("姓");
    o.spec.fields[dbsend::kGivenName] = sj("名");
    o.spec.fields[dbsend::kEmail] = "E-Mail";
    o.spec.fields[dbsend::kFreeField1] = "Freefield1";
    o.spec.fields[dbsend::kFreeField1 + 1] = "Freefield2";
    o.spec.honorific = sj("様");
    // An address book holds at most 99,999 records: both sides take that many rows.
    o.range = {1, static_cast<long long>(addressbook::CTarnSendDoc::kMaxRecords)};
    const dbsend::RowRead read = dbsend::readRows(o);
    if (read.code != 0) {
        std::fprintf(stderr, "cannot read the CSV (%d): %s\n", read.code, read.detail.c_str());
        return 1;
    }

    addressbook::CTarnSendDoc doc;
    if (!doc.OnNewDocument(addressbook::defaultFreeFieldTitles())) {
        return 1;
    }
    for (const driver::Recipient& row : read.rows) {
        addressbook::Record r;
        r.setText(addressbook::Field::Company, row.values[0]);
        r.setText(addressbook::Field::Department, row.values[1]);
        r.setText(addressbook::Field::Title, row.values[2]);
        r.setText(addressbook::Field::Name, row.values[3]);
        r.setText(addressbook::Field::Honorific, row.values[4]);
        r.setText(addressbook::Field::Email, row.address);
        r.setText(addressbook::freeField(0), row.values[5]);
        r.setText(addressbook::freeField(1), row.values[6]);
        r.setFolder(1);
        if (auto added = doc.appendRecord(std::move(r)); !added) {
            std::fprintf(stderr, "%s\n", added.error().message.c_str());
            return 1;
        }
    }
    if (auto saved = doc.OnSaveDocument(dir + "/book.tn2"); !saved) {
        std::fprintf(stderr, "%s\n", saved.error().message.c_str());
        return 1;
    }

    contents::SendContents message;
    message.subject = sj("【ご案内】&[会社名] &[名前]&[敬称] 新製品説明会のお知らせ");
    std::string body = "&[会社名]\n&[部署名] &[役職]\n&[名前] &[敬称]\n\n";
    for (int line = 0; line < 12; ++line) {
        body +=
            "このたび新製品の説明会を開催いたします。ご多忙中とは存じますが、ぜひご参加ください。"
            "\n";
    }
    body += "（会員区分：&[Freefield1] &[Freefield2]）\n\nターノス 事務局\n";
    message.body = contents::normaliseBodyLineEnds(sj(body));
    if (contents::SaveSendContents(dir + "/message.tnm", message) != 0) {
        return 1;
    }

    SendSettings settings{};
    setFieldText(settings.defaultAccount.FromName, sj("ターノス 事務局"));
    setFieldText(settings.defaultAccount.FromEMail, "office@example.jp");
    setFieldText(settings.defaultAccount.SMTPName, "127.0.0.1");
    settings.defaultAccount.PortNo = port;
    settings.defaultAccount.dialUp.LANConnect = 1;
    settings.LogFileMode = 2;
    setFieldText(settings.LogFileName, dir + "/send.log");
    SettingsStore store(dir + "/registry");
    if (!store.saveOption(settings) || !store.saveCommon(dir + "/message.tnm")) {
        return 1;
    }
    std::printf("%zu\n", read.rows.size());
    return 0;
}

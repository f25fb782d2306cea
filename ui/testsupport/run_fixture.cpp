#include "run_fixture.h"

#include "common/cp932.h"

namespace tarn::ui::test {

namespace fs = std::filesystem;

std::string sj(const std::string& utf8Text) {
    auto r = cp932::fromUtf8(utf8Text);
    return r ? *r : std::string("(not CP932)");
}

std::string utf8(const std::string& sjis) {
    return cp932::toUtf8Lossy(sjis);
}

RunFixture::RunFixture() {
    fs::create_directories(path("mail"));
    AccountSettings& a = settings.defaultAccount;
    setFieldText(a.FromName, sj("ターノス 試験"));
    setFieldText(a.FromEMail, "sender@example.com");
    setFieldText(a.SMTPName, "127.0.0.1");
    a.dialUp.LANConnect = 1;
    settings.LogFileMode = 2;
    setFieldText(settings.LogFileName, sj(path("send.log").string()));
    setFieldText(settings.check.CheckLogFileName, sj(path("check.log").string()));
}

bool RunFixture::startRecorder(const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {
        TARN_TEST_PYTHON, std::string(TARN_SOURCE_DIR) + "/common/testsupport/smtp_recorder.py",
        "--dir",          path("mail").string(),
        "--port",         "0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    m_recorder = std::make_unique<tarn::test::ChildProcess>(argv, m_tmp.path());
    int port = 0;
    tarn::test::waitUntil([&] {
        const std::string out = m_recorder->output();
        const auto at = out.find("READY ");
        if (at == std::string::npos) {
            return false;
        }
        port = std::stoi(out.substr(at + 6));
        return port > 0;
    });
    settings.defaultAccount.PortNo = port;
    return port > 0;
}

int RunFixture::recordedCount() const {
    int n = 0;
    while (fs::exists(path("mail") / (std::to_string(n + 1) + ".json"))) {
        ++n;
    }
    return n;
}

std::string RunFixture::recorded(int n) const {
    return tarn::test::readFile(path("mail") / (std::to_string(n) + ".eml"));
}

std::string RunFixture::recorderOutput() const {
    return m_recorder ? m_recorder->output() : std::string();
}

addressbook::CTarnSendDoc& RunFixture::book(const std::vector<Row>& rows) {
    m_view.reset();
    static_cast<void>(m_doc.OnNewDocument(addressbook::defaultFreeFieldTitles()));
    for (const Row& row : rows) {
        addressbook::Record r;
        r.setText(addressbook::Field::Company, sj(row.company));
        r.setText(addressbook::Field::Name, sj(row.name));
        r.setText(addressbook::Field::Email, sj(row.email));
        r.setText(addressbook::Field::Honorific, sj("様"));
        r.setStatus(row.status);
        static_cast<void>(m_doc.appendRecord(std::move(r)));
    }
    m_view = std::make_unique<addressbook::ListViewState>(m_doc);
    return m_doc;
}

void RunFixture::writeContents(const contents::SendContents& c, const std::string& name) {
    contents::SaveSendContents(path(name), c);
}

}  // namespace tarn::ui::test

#include "send_fixture.h"

#include <gtest/gtest.h>

#include <regex>

#include "common/cp932.h"

namespace tarn::test {
namespace fs = std::filesystem;

std::string sj(const std::string& utf8Text) {
    auto r = cp932::fromUtf8(utf8Text);
    EXPECT_TRUE(r.ok()) << utf8Text;
    return r ? *r : std::string();
}

std::string utf8(const std::string& sjis) {
    return cp932::toUtf8Lossy(sjis);
}

void collectUncertain(const std::string& output, std::set<std::string>& into) {
    static const std::regex line("送信結果不明のため送信しません: (\\S+)");
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it) {
        into.insert((*it)[1]);
    }
}

std::string maskedLog(const fs::path& path) {
    std::string text = utf8(readFile(path));
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            lf += text[i];
        }
    }
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    return std::regex_replace(lf, stamp, "TS");
}

RunFixture::RunFixture() : m_dir(m_tmp.path()), m_home(m_tmp.path() / "home") {
    fs::create_directories(m_home);
    fs::create_directories(m_dir / "mail");
    AccountSettings& a = m_settings.defaultAccount;
    std::string name = sj("ターノス 試験");
    name.copy(a.FromName, name.size());
    std::string from = "sender@example.com";
    from.copy(a.FromEMail, from.size());
    std::string host = "127.0.0.1";
    host.copy(a.SMTPName, host.size());
    a.dialUp.LANConnect = 1;
    m_settings.LogFileMode = 2;
    std::string log = (m_dir / "send.log").string();
    log.copy(m_settings.LogFileName, log.size());
    std::string checkLog = (m_dir / "check.log").string();
    checkLog.copy(m_settings.check.CheckLogFileName, checkLog.size());
}

int RunFixture::startRecorder(const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {
        TARN_TEST_PYTHON, std::string(TARN_SOURCE_DIR) + "/common/testsupport/smtp_recorder.py",
        "--dir",          (m_dir / "mail").string(),
        "--port",         "0",
        "--transcript",   (m_dir / "transcript.txt").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    m_recorder.emplace(argv, m_dir);
    int port = 0;
    bool ready = waitUntil([&] {
        std::string out = m_recorder->output();
        auto at = out.find("READY ");
        if (at == std::string::npos) {
            return false;
        }
        port = std::atoi(out.c_str() + at + 6);
        return port > 0;
    });
    EXPECT_TRUE(ready) << m_recorder->output();
    m_settings.defaultAccount.PortNo = port;
    return port;
}

int RunFixture::recordedCount() const {
    int n = 0;
    while (fs::exists(m_dir / "mail" / (std::to_string(n + 1) + ".json"))) {
        ++n;
    }
    return n;
}

std::string RunFixture::transcript() const {
    return readFile(m_dir / "transcript.txt");
}

std::string RunFixture::envelope(int n) const {
    return readFile(m_dir / "mail" / (std::to_string(n) + ".json"));
}

Decoded RunFixture::decode(int n) const {
    RunResult r = run({TARN_TEST_PYTHON,
                       std::string(TARN_SOURCE_DIR) + "/sendcore/driver/tests/decode_eml.py",
                       (m_dir / "mail" / (std::to_string(n) + ".eml")).string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Decoded d;
    std::size_t bodyAt = r.out.find("BODY:\n");
    std::string head = r.out.substr(0, bodyAt);
    d.body = bodyAt == std::string::npos ? std::string() : r.out.substr(bodyAt + 6);
    std::size_t pos = 0;
    while (pos < head.size()) {
        std::size_t lf = head.find('\n', pos);
        std::string line = head.substr(pos, lf - pos);
        pos = lf == std::string::npos ? head.size() : lf + 1;
        if (line.rfind("SUBJECT:", 0) == 0)
            d.subject = line.substr(8);
        if (line.rfind("FROM:", 0) == 0)
            d.from = line.substr(5);
        if (line.rfind("TO:", 0) == 0)
            d.to = line.substr(3);
        if (line.rfind("ATTACH:", 0) == 0)
            d.attachments.push_back(line.substr(7));
    }
    return d;
}

void RunFixture::writeBook(const std::vector<BookRow>& rows, const std::string& name) {
    addressbook::CTarnSendDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(addressbook::defaultFreeFieldTitles()).ok());
    for (const auto& row : rows) {
        auto text = [&](const std::string& s) { return row.shiftJis ? s : sj(s); };
        addressbook::Record r;
        r.setText(addressbook::Field::Company, text(row.company));
        r.setText(addressbook::Field::Department, text(row.department));
        r.setText(addressbook::Field::Title, text(row.title));
        r.setText(addressbook::Field::Name, text(row.name));
        r.setText(addressbook::Field::Email, text(row.email));
        r.setText(addressbook::Field::Honorific, text(row.honorific));
        for (std::size_t i = 0; i < row.free.size() && i < 10; ++i) {
            r.setText(addressbook::freeField(i), text(row.free[i]));
        }
        r.setStatus(row.status);
        r.setFolder(static_cast<std::uint16_t>(row.folder));
        auto added = doc.appendRecord(std::move(r));
        ASSERT_TRUE(added.ok()) << added.error().message;
    }
    auto saved = doc.OnSaveDocument(m_dir / name);
    ASSERT_TRUE(saved.ok()) << saved.error().message;
}

addressbook::CTarnSendDoc RunFixture::readBook(const std::string& name) const {
    addressbook::CTarnSendDoc doc;
    auto opened = doc.OnOpenDocument(m_dir / name, addressbook::defaultFreeFieldTitles());
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    return doc;
}

void RunFixture::writeContents(const contents::SendContents& c, const std::string& name) {
    ASSERT_EQ(contents::SaveSendContents(m_dir / name, c), 0);
}

void RunFixture::saveSettings() {
    SettingsStore store(m_dir / "registry");
    ASSERT_TRUE(store.saveOption(m_settings).ok());
    ASSERT_TRUE(store.saveCheckParam(m_settings.check).ok());
    ASSERT_TRUE(store.saveCommon((m_dir / "message.tnm").string()).ok());
}

std::map<std::string, std::string> RunFixture::env() const {
    return {{"TARN_REGISTRY", (m_dir / "registry").string()}, {"TARN_HOME", m_home.string()}};
}

RunResult RunFixture::tarn(const std::vector<std::string>& args, const std::string& input) const {
    std::vector<std::string> argv = {tarnPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, env(), input);
}

}  // namespace tarn::test

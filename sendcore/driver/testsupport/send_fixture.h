// A whole send or check through `tarn`, against real local servers: the
// recording SMTP server (aiosmtpd) and, for level 2, dnsmasq.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "contents/send_contents.h"
#include "sendcore/settings.h"
#include "testsupport.h"

namespace tarn::test {

std::string sj(const std::string& utf8);
std::string utf8(const std::string& sjis);

struct BookRow {
    std::string company, department, title, name, email, honorific;
    std::vector<std::string> free;  // up to ten free fields
    int status = 0;
    int folder = 1;
    // The texts are Shift_JIS already: codes no Unicode text converts to, such
    // as the IBM Ⅱ (0xFA4B) files made on Windows can hold.
    bool shiftJis = false;
};

// A decoded message, as Python's email package reads it.
struct Decoded {
    std::string subject, from, to, body;
    std::vector<std::string> attachments;  // "name:sha256"
};

// The log with every timestamp replaced by "TS", CR LF as LF, in UTF-8.
std::string maskedLog(const std::filesystem::path& path);

// The addresses of the "送信結果不明のため送信しません: ADDRESS" lines of a
// run's output, added to `into`.
void collectUncertain(const std::string& output, std::set<std::string>& into);

class RunFixture {
public:
    RunFixture();

    std::filesystem::path path(const std::string& name) const { return m_dir / name; }
    const std::filesystem::path& home() const { return m_home; }

    // Starts the recorder (extra arguments such as --refuse, --auth); returns its port.
    int startRecorder(const std::vector<std::string>& extra = {});
    int recordedCount() const;
    // Every command line the recorder's clients sent, refused ones included.
    std::string transcript() const;
    // The JSON envelope file of message n (from 1) as text.
    std::string envelope(int n) const;
    Decoded decode(int n) const;

    void writeBook(const std::vector<BookRow>& rows, const std::string& name = "book.tn2");
    addressbook::CTarnSendDoc readBook(const std::string& name = "book.tn2") const;
    void writeContents(const contents::SendContents& c, const std::string& name = "message.tnm");

    // Default settings: the recorder as the default account, logging every message.
    SendSettings& settings() { return m_settings; }
    void saveSettings();

    RunResult tarn(const std::vector<std::string>& args, const std::string& input = {}) const;
    std::map<std::string, std::string> env() const;

private:
    TempDir m_tmp;
    std::filesystem::path m_dir;
    std::filesystem::path m_home;
    std::optional<ChildProcess> m_recorder;
    SendSettings m_settings{};
};

}  // namespace tarn::test

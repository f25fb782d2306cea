// A send or check in a window test against the real servers a person would
// meet: the recording SMTP server (aiosmtpd) and dnsmasq; the address book and
// message written the way the applications write them.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "addressbook/list_view_state.h"
#include "contents/send_contents.h"
#include "sendcore/settings.h"
#include "testsupport.h"

namespace tarn::ui::test {

std::string sj(const std::string& utf8);
std::string utf8(const std::string& sjis);

struct Row {
    std::string name, email;
    int status = 0;
    std::string company = "株式会社テスト";
};

class RunFixture {
public:
    RunFixture();
    std::filesystem::path path(const std::string& name) const { return m_tmp.path() / name; }

    // Starts the recorder (extra arguments such as --refuse); false when it did not come up.
    bool startRecorder(const std::vector<std::string>& extra = {});
    int recordedCount() const;
    std::string recorded(int n) const;  // the raw .eml of message n (from 1)
    std::string recorderOutput() const;

    // The document as the main window has it open, with a list showing every record.
    addressbook::CTarnSendDoc& book(const std::vector<Row>& rows);
    addressbook::CTarnSendDoc& doc() { return m_doc; }
    addressbook::ListViewState& view() { return *m_view; }
    // The send-contents file "message.tnm".
    void writeContents(const contents::SendContents& c, const std::string& name = "message.tnm");

    // The default account on the recorder, logging every message.
    SendSettings settings{};

private:
    tarn::test::TempDir m_tmp;
    std::unique_ptr<tarn::test::ChildProcess> m_recorder;
    addressbook::CTarnSendDoc m_doc;
    std::unique_ptr<addressbook::ListViewState> m_view;
};

}  // namespace tarn::ui::test

// Real peers for tests that talk SMTP: the aiosmtpd recorder (smtp_recorder.py)
// started on loopback, and a private CA with server certificates made by the
// openssl command, for STARTTLS and SMTPS.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testsupport.h"

namespace tarn::test {

// A CA ("ca.pem"), a certificate for localhost and 127.0.0.1 ("server") and one
// for mail.example.com ("other"), valid for two days.
class Certificates {
public:
    Certificates();
    bool ok() const { return m_ok; }
    std::string ca() const;
    std::string cert(const std::string& name) const;
    std::string key(const std::string& name) const;
    const std::string& log() const { return m_log; }  // openssl's complaints, for failures

private:
    bool issue(const std::string& name, const std::string& cn, const std::string& altNames);
    bool openssl(std::vector<std::string> args);

    TempDir m_dir;
    std::string m_log;
    bool m_ok = false;
};

// The recorder with the given arguments (--auth, --cert, --implicit-tls, ...),
// storing what it receives in a folder of its own. port() is 0 when it did not
// come up; output() then says why.
class SmtpRecorder {
public:
    explicit SmtpRecorder(const std::vector<std::string>& arguments);
    int port() const { return m_port; }
    std::string output() const { return m_process->output(); }
    std::filesystem::path mailDir() const { return m_dir / "mail"; }
    // The envelope record of message n (from 1), once it is complete, waiting up
    // to five seconds for it.
    std::optional<std::string> envelope(int n) const;
    // The DATA bytes of message n (empty when there is none).
    std::string message(int n) const;
    // Messages stored so far.
    int count() const;

private:
    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_process;
    int m_port = 0;
};

}  // namespace tarn::test

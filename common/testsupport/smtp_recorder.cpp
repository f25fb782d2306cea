#include "smtp_recorder.h"

#include <chrono>

namespace tarn::test {

using namespace std::chrono_literals;

Certificates::Certificates() {
    const std::string d = m_dir.path().string();
    m_ok = openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", d + "/ca.key", "-out", d + "/ca.pem", "-days", "2",
                    "-subj", "/CN=Tarn Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign"}) &&
           issue("server", "localhost", "DNS:localhost,IP:127.0.0.1") &&
           issue("other", "mail.example.com", "DNS:mail.example.com");
}

std::string Certificates::ca() const {
    return (m_dir / "ca.pem").string();
}

std::string Certificates::cert(const std::string& name) const {
    return (m_dir / (name + ".pem")).string();
}

std::string Certificates::key(const std::string& name) const {
    return (m_dir / (name + ".key")).string();
}

bool Certificates::issue(const std::string& name, const std::string& cn,
                         const std::string& altNames) {
    const std::string d = m_dir.path().string();
    writeFile(m_dir / (name + ".ext"), "subjectAltName=" + altNames + "\n");
    return openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", key(name), "-out", d + "/" + name + ".csr", "-subj", "/CN=" + cn}) &&
           openssl({"x509", "-req", "-in", d + "/" + name + ".csr", "-CA", ca(), "-CAkey",
                    d + "/ca.key", "-CAcreateserial", "-out", cert(name), "-days", "2", "-extfile",
                    d + "/" + name + ".ext"});
}

bool Certificates::openssl(std::vector<std::string> args) {
    args.insert(args.begin(), "openssl");
    const auto r = run(args, {}, {}, 60s);
    m_log += r.err;
    return r.exitCode == 0;
}

SmtpRecorder::SmtpRecorder(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {
        TARN_TEST_PYTHON, std::string(TARN_SOURCE_DIR) + "/common/testsupport/smtp_recorder.py",
        "--dir", mailDir().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_process = std::make_unique<ChildProcess>(argv, m_dir.path());
    waitUntil([&] {
        const std::string out = m_process->output();
        const auto at = out.find("READY ");
        if (at == std::string::npos || out.find('\n', at) == std::string::npos) {
            return !m_process->running();
        }
        m_port = std::stoi(out.substr(at + 6));
        return true;
    });
}

std::optional<std::string> SmtpRecorder::envelope(int n) const {
    const auto file = mailDir() / (std::to_string(n) + ".json");
    if (!waitUntil([&] { return std::filesystem::exists(file); }, 5s)) {
        return std::nullopt;
    }
    return readFile(file);
}

std::string SmtpRecorder::message(int n) const {
    const auto file = mailDir() / (std::to_string(n) + ".eml");
    return std::filesystem::exists(file) ? readFile(file) : std::string();
}

int SmtpRecorder::count() const {
    int n = 0;
    while (std::filesystem::exists(mailDir() / (std::to_string(n + 1) + ".json"))) {
        ++n;
    }
    return n;
}

}  // namespace tarn::test

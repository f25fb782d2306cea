// `tarn config` end to end, on a registry file in a temporary folder.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "testsupport.h"

namespace tarn {
namespace {

using test::run;
using test::RunResult;

class ConfigCommand : public ::testing::Test {
protected:
    RunResult tarn(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), {test::tarnPath(), "config"});
        return run(args, {{"TARN_REGISTRY", m_registry}}, input);
    }
    test::TempDir m_dir;
    std::string m_registry = (m_dir / "registry").string();
};

TEST_F(ConfigCommand, SetThenGetStringsAndNumbers) {
    ASSERT_EQ(tarn({"set", "Option\\DefAccount\\DefName", "山田 太郎"}).exitCode, 0);
    ASSERT_EQ(tarn({"set", "Option/DefAccount/DefPortNo", "587", "--dword"}).exitCode, 0);
    ASSERT_EQ(tarn({"set", "CheckParam\\DNSAddress", "0xC0A80001", "--dword"}).exitCode, 0);
    EXPECT_EQ(tarn({"get", "Option\\DefAccount\\DefName"}).out, "山田 太郎\n");
    EXPECT_EQ(tarn({"get", "option\\defaccount\\defportno"}).out, "587\n");
    EXPECT_EQ(tarn({"get", "CheckParam\\DNSAddress"}).out, "3232235521\n");
    // The character set and greeting name of sent mail are known values too.
    ASSERT_EQ(tarn({"set", "Option\\MailCharset", "1", "--dword"}).exitCode, 0);
    EXPECT_EQ(tarn({"set", "Option\\MailCharset", "1"}).exitCode, 1);
    ASSERT_EQ(tarn({"set", "Option\\HeloName", "mail.example.jp"}).exitCode, 0);
    EXPECT_EQ(tarn({"get", "Option\\MailCharset"}).out, "1\n");
    EXPECT_EQ(tarn({"get", "Option\\HeloName"}).out, "mail.example.jp\n");
    ASSERT_EQ(tarn({"set", "Option\\SmtpSessions", "4", "--dword"}).exitCode, 0);
    EXPECT_EQ(tarn({"get", "Option\\SmtpSessions"}).out, "4\n");
    struct stat st {};
    ASSERT_EQ(::stat(m_registry.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(test::readFile(m_registry).find("\"DefName\"=\"山田 太郎\""), std::string::npos);

    RunResult missing = tarn({"get", "Option\\DefAccount\\DefEMail"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("DefEMail"), std::string::npos);
}

TEST_F(ConfigCommand, QuotaFromAPresetOrNumbers) {
    ASSERT_EQ(tarn({"quota", "hosting"}).exitCode, 0);
    EXPECT_EQ(tarn({"get", "Option\\QuotaPerHour"}).out, "100\n");
    EXPECT_EQ(tarn({"get", "Option\\QuotaPerDay"}).out, "1000\n");
    const RunResult shown = tarn({"quota"});
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_NE(shown.out.find("1時間: 100 通、1日: 1000 通"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("free-mail"), std::string::npos) << shown.out;
    ASSERT_EQ(tarn({"quota", "--day", "250"}).exitCode, 0);
    EXPECT_EQ(tarn({"get", "Option\\QuotaPerHour"}).out, "0\n");
    EXPECT_EQ(tarn({"get", "Option\\QuotaPerDay"}).out, "250\n");
    // Nothing is written for a name or a number that is not one.
    EXPECT_EQ(tarn({"quota", "unknown-provider"}).exitCode, 2);
    EXPECT_EQ(tarn({"quota", "--hour", "-5"}).exitCode, 2);
    EXPECT_EQ(tarn({"get", "Option\\QuotaPerDay"}).out, "250\n");
}

TEST_F(ConfigCommand, RefusesValuesTheRecordCannotHold) {
    ASSERT_EQ(tarn({"set", "Option\\DefAccount\\DefName", "before"}).exitCode, 0);
    std::string before = test::readFile(m_registry);

    RunResult sushi = tarn({"set", "Option\\DefAccount\\DefName", "寿司🍣"});
    EXPECT_EQ(sushi.exitCode, 1);
    EXPECT_NE(sushi.err.find("🍣"), std::string::npos) << sushi.err;

    RunResult type = tarn({"set", "Option\\DefAccount\\DefPortNo", "25"});
    EXPECT_EQ(type.exitCode, 1);
    EXPECT_NE(type.err.find("--dword"), std::string::npos) << type.err;

    RunResult tooLong = tarn({"set", "Option\\Account3\\SMTPName3", std::string(64, 'h')});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_NE(tooLong.err.find("63"), std::string::npos) << tooLong.err;

    // A security value the engine does not know would leave the connection plain.
    for (const char* bad : {"3", "4294967295", "-1"}) {
        RunResult security = tarn({"set", "Option\\DefAccount\\DefSecurity", bad, "--dword"});
        EXPECT_EQ(security.exitCode, 1) << bad;
        EXPECT_NE(security.err.find("0 から 2 までの値です"), std::string::npos) << security.err;
    }
    EXPECT_EQ(tarn({"set", "Option\\Account7\\Security7", "3", "--dword"}).exitCode, 1);
    // More sessions than a send will open.
    RunResult sessions = tarn({"set", "Option\\SmtpSessions", "11", "--dword"});
    EXPECT_EQ(sessions.exitCode, 1);
    EXPECT_NE(sessions.err.find("0 から 10 までの値です"), std::string::npos) << sessions.err;

    EXPECT_EQ(tarn({"set", "Option\\WaitSec", "ten", "--dword"}).exitCode, 1);
    EXPECT_EQ(tarn({"set", "Option\\\\WaitSec", "1", "--dword"}).exitCode, 2);
    EXPECT_EQ(tarn({"get"}).exitCode, 2);
    EXPECT_EQ(test::readFile(m_registry), before);
}

TEST_F(ConfigCommand, ShowMasksPasswords) {
    ASSERT_EQ(tarn({"set", "Option\\DefAccount\\PassWord"}, "dial-secret\n").exitCode, 0);
    ASSERT_EQ(tarn({"set", "Option\\Account2\\PBSPassword2"}, "pop-secret\n").exitCode, 0);
    ASSERT_EQ(tarn({"set", "Option\\DefAccount\\DefSMTPName", "mail.example.jp"}).exitCode, 0);
    ASSERT_EQ(tarn({"set", "Option\\WaitCount", "-1", "--dword"}).exitCode, 0);
    RunResult shown = tarn({"show"});
    ASSERT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.out.find("secret"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Option\\DefAccount\\PassWord = ********\n"), std::string::npos);
    EXPECT_NE(shown.out.find("Option\\DefAccount\\DefSMTPName = \"mail.example.jp\"\n"),
              std::string::npos);
    EXPECT_NE(shown.out.find("Option\\WaitCount = 4294967295\n"), std::string::npos);
}

TEST_F(ConfigCommand, ReadOnlyRegistryFails) {
    ASSERT_EQ(tarn({"set", "Common\\ContFileName", "/a.tnm"}).exitCode, 0);
    ::chmod(m_registry.c_str(), 0400);
    RunResult r = tarn({"set", "Common\\ContFileName", "/b.tnm"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("読み取り専用"), std::string::npos) << r.err;
    EXPECT_EQ(tarn({"get", "Common\\ContFileName"}).out, "/a.tnm\n");
}

// Three programs writing different values at the same moment, forty times:
// every write survives (each reads, changes and saves under one lock). Forty
// rounds are 240 program starts, which the sanitizer build runs in well under
// its time limit on a loaded machine.
TEST_F(ConfigCommand, ConcurrentWritersLoseNoValue) {
    for (int round = 1; round <= 40; ++round) {
        const std::string n = std::to_string(round);
        const std::vector<std::vector<std::string>> writes = {
            {"set", "Option\\WaitSec", n, "--dword"},
            {"set", "Common\\ContFileName", "/books/" + n + ".tnm"},
            {"set", "CheckParam\\DNSAddress", n, "--dword"},
        };
        std::vector<RunResult> results(writes.size());
        std::vector<std::thread> writers;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            writers.emplace_back([&, i] { results[i] = tarn(writes[i]); });
        }
        for (auto& w : writers) {
            w.join();
        }
        for (const auto& r : results) {
            ASSERT_EQ(r.exitCode, 0) << r.err;
        }
        ASSERT_EQ(tarn({"get", "Option\\WaitSec"}).out, n + "\n") << "round " << round;
        ASSERT_EQ(tarn({"get", "Common\\ContFileName"}).out, "/books/" + n + ".tnm\n")
            << "round " << round;
        ASSERT_EQ(tarn({"get", "CheckParam\\DNSAddress"}).out, n + "\n") << "round " << round;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir / ".registry.lock"));
}

// A password never travels on a command line: refused there, read from
// standard input (or typed at a prompt without echo), and masked by get.
TEST_F(ConfigCommand, SecretsComeFromStandardInputAndAreMasked) {
    const std::string key = "Option\\DefAccount\\DefPBSPassword";
    RunResult onLine = tarn({"set", key, "visible-secret"});
    EXPECT_EQ(onLine.exitCode, 2);
    EXPECT_NE(onLine.err.find("パスワードです"), std::string::npos) << onLine.err;
    EXPECT_FALSE(std::filesystem::exists(m_registry));

    ASSERT_EQ(tarn({"set", key}, "piped secret \r\nsecond line\n").exitCode, 0);
    EXPECT_EQ(tarn({"get", key}).out, "********\n");
    EXPECT_EQ(tarn({"get", key, "--reveal"}).out, "piped secret \n");
    // An empty line clears it (and an empty password is shown as empty).
    ASSERT_EQ(tarn({"set", key}, "\n").exitCode, 0);
    EXPECT_EQ(tarn({"get", key}).out, "\n");
}

// At a terminal: asked twice, never echoed, and absent from /proc while the
// command runs.
TEST_F(ConfigCommand, SecretTypedAtANoEchoPrompt) {
    const std::string key = "Option\\Account4\\PassWord4";
    const std::string secret = "typed-s3cret";
    int master = -1;
    const std::string tarnBin = test::tarnPath();
    ::setenv("TARN_REGISTRY", m_registry.c_str(), 1);
    pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(tarnBin.c_str(), tarnBin.c_str(), "config", "set", key.c_str(), nullptr);
        ::_exit(127);
    }
    ::unsetenv("TARN_REGISTRY");
    std::string screen;
    auto drain = [&] {
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, 10) > 0) {
            char buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            screen.append(buf, static_cast<std::size_t>(n));
        }
    };
    auto readUntil = [&](const std::string& needle) {
        return test::waitUntil([&] {
            drain();
            return screen.find(needle) != std::string::npos;
        });
    };
    ASSERT_TRUE(readUntil(": ")) << screen;
    for (const char* part : {"cmdline", "environ"}) {
        const std::string proc = test::readFile("/proc/" + std::to_string(child) + "/" + part);
        EXPECT_FALSE(proc.empty()) << part;
        EXPECT_EQ(proc.find(secret), std::string::npos) << part;
    }
    ASSERT_EQ(::write(master, (secret + "\n").data(), secret.size() + 1),
              static_cast<ssize_t>(secret.size() + 1));
    ASSERT_TRUE(readUntil("もう一度")) << screen;
    ASSERT_EQ(::write(master, (secret + "\n").data(), secret.size() + 1),
              static_cast<ssize_t>(secret.size() + 1));
    int status = 0;
    ASSERT_TRUE(test::waitUntil([&] {
        drain();
        return ::waitpid(child, &status, WNOHANG) == child;
    }));
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_EQ(screen.find(secret), std::string::npos) << "echoed: " << screen;
    EXPECT_EQ(tarn({"get", key, "--reveal"}).out, secret + "\n");
}

}  // namespace
}  // namespace tarn

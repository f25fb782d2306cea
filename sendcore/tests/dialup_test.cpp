#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "sendcore/dialup_loader.h"
#include "testsupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

const fs::path kLibrary = fs::path(TARN_BIN_DIR) / "libTarnRas.so";

void makeExecutable(const fs::path& p, const std::string& text) {
    writeFile(p, text);
    fs::permissions(p, fs::perms::owner_all);
}

DialUpSettings entry(const char* name, int autoCut) {
    DialUpSettings s{};
    std::snprintf(s.EntryName, sizeof s.EntryName, "%s", name);
    s.AutoCut = autoCut;
    return s;
}

// A peers folder and dial / hang-up programs that record what they were asked
// to do; the dial program's exit code comes from a file.
class DialUp : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(m_dir / "peers");
        for (const char* name : {"office_2", "isp-main", ".hidden", "-option", "with space"}) {
            writeFile(m_dir / "peers" / name, "");
        }
        fs::create_directory(m_dir / "peers" / "folder");
        writeFile(m_dir / "dial-exit", "0");
        const std::string record = (m_dir / "record").string();
        makeExecutable(m_dir / "dial", "#!/bin/sh\necho \"dial $1 $#\" >> '" + record +
                                           "'\nexit $(cat '" + (m_dir / "dial-exit").string() +
                                           "')\n");
        makeExecutable(m_dir / "hangup", "#!/bin/sh\necho \"hangup $1\" >> '" + record + "'\n");
        makeExecutable(m_dir / "pppd", "#!/bin/sh\n");
        ::setenv("TARN_PPP_PEERS", (m_dir / "peers").c_str(), 1);
        ::setenv("TARN_PPP_DIAL", (m_dir / "dial").c_str(), 1);
        ::setenv("TARN_PPP_HANGUP", (m_dir / "hangup").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TARN_PPP_PEERS");
        ::unsetenv("TARN_PPP_DIAL");
        ::unsetenv("TARN_PPP_HANGUP");
    }
    std::shared_ptr<const DialUpLibrary> library() {
        auto lib = DialUpLibrary::load(m_dir / "pppd", kLibrary);
        EXPECT_TRUE(lib.ok()) << (lib.ok() ? "" : lib.error().message);
        return lib.ok() ? *lib : nullptr;
    }
    std::string record() {
        return fs::exists(m_dir / "record") ? readFile(m_dir / "record") : std::string();
    }

    TempDir m_dir;
};

TEST_F(DialUp, WithoutTheServiceTheLibraryIsNeverLoaded) {
    // A private copy, so that no other test can have loaded this file.
    fs::path copy = m_dir / "libTarnRas.so";
    fs::copy_file(kLibrary, copy);
    auto lib = DialUpLibrary::load(m_dir / "no-pppd", copy);
    ASSERT_FALSE(lib.ok());
    EXPECT_NE(lib.error().message.find("no-pppd"), std::string::npos);
    EXPECT_EQ(::dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(DialUp, MissingLibraryOrExportMeansUnavailable) {
    EXPECT_FALSE(DialUpLibrary::load(m_dir / "pppd", m_dir / "libNone.so").ok());
    auto noExports = DialUpLibrary::load(m_dir / "pppd", "libc.so.6");
    ASSERT_FALSE(noExports.ok());
    EXPECT_NE(noExports.error().message.find("ZEPHRasDial"), std::string::npos);
}

TEST_F(DialUp, ListsThePeerFilesThatAreSafeEntryNames) {
    auto lib = library();
    ASSERT_TRUE(lib);
    auto names = lib->entryNames();
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(*names, (std::vector<std::string>{"isp-main", "office_2"}));

    ::setenv("TARN_PPP_PEERS", (m_dir / "nothing").c_str(), 1);
    EXPECT_FALSE(lib->entryNames().ok());
}

TEST_F(DialUp, DialRunsTheCommandAndSucceedsOnlyWhenItDoes) {
    auto lib = library();
    ASSERT_TRUE(lib);
    {
        DialUpConnection c(lib);
        EXPECT_EQ(c.dial(nullptr, entry("isp-main", 0)), 0);
        EXPECT_TRUE(c.connected());
        EXPECT_FALSE(c.hangUpOnEnd());
    }
    // AutoCut 0: the connection stays up when the run ends.
    EXPECT_EQ(record(), "dial isp-main 1\n");

    writeFile(m_dir / "dial-exit", "1");
    DialUpConnection failing(lib);
    EXPECT_NE(failing.dial(nullptr, entry("isp-main", 1)), 0);
    EXPECT_FALSE(failing.connected());
    failing.hangUp();  // not connected: nothing runs

    // Names that could be read as options or paths never reach the command.
    for (const char* bad : {"-option", "../etc/x", "", "a b"}) {
        EXPECT_NE(failing.dial(nullptr, entry(bad, 1)), 0) << bad;
    }
    EXPECT_EQ(record(), "dial isp-main 1\ndial isp-main 1\n");
}

TEST_F(DialUp, ConnectionHangsUpBeforeRedialAndAtTheEndWithAutoCut) {
    auto lib = library();
    ASSERT_TRUE(lib);
    {
        DialUpConnection c(lib);
        ASSERT_EQ(c.dial(nullptr, entry("isp-main", 0)), 0);
        ASSERT_EQ(c.dial(nullptr, entry("office_2", 1)), 0);  // hangs up isp-main first
        EXPECT_TRUE(c.hangUpOnEnd());
    }
    EXPECT_EQ(record(), "dial isp-main 1\nhangup isp-main\ndial office_2 1\nhangup office_2\n");

    DialUpConnection c(lib);
    ASSERT_EQ(c.dial(nullptr, entry("isp-main", 1)), 0);
    c.hangUp();
    c.hangUp();  // once only
    EXPECT_FALSE(c.connected());
    EXPECT_EQ(record(),
              "dial isp-main 1\nhangup isp-main\ndial office_2 1\nhangup office_2\n"
              "dial isp-main 1\nhangup isp-main\n");
}

}  // namespace
}  // namespace tarn

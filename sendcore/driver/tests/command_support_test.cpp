// What the send and check commands of every window share besides the jobs:
// the DNS server the check offers, and the log viewer's command line.
#include <gtest/gtest.h>

#include "driver/check_job.h"
#include "driver/log_viewer.h"
#include "send_fixture.h"

using namespace tarn;
using namespace tarn::driver;
using namespace tarn::test;

TEST(CheckSettings, TheDnsServerOfferedIsTheFirstIpv4Nameserver) {
    struct Row {
        const char* text;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"search example.jp\nnameserver 192.168.1.1\nnameserver 10.0.0.1\n", 0xC0A80101},
        {"nameserver ::1\r\n  nameserver\t10.0.0.53 # local\r\n", 0x0A000035},
        {"#nameserver 8.8.8.8\n; nameserver 8.8.4.4\nnameserver 1.1.1.1", 0x01010101},
        {"nameservers 1.2.3.4\nnameserver 0.0.0.0\nnameserver 999.1.1.1\n", 0},
        {"nameserver 127.0.0.53;junk\n", 0x7F000035},
        {"", 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(firstIpv4Nameserver(row.text), row.expected) << row.text;
    }
    TempDir dir;
    writeFile(dir / "resolv.conf", "nameserver 172.16.0.2\n");
    EXPECT_EQ(systemDnsServer(dir / "resolv.conf"), 0xAC100002u);
    EXPECT_EQ(systemDnsServer(dir / "missing"), 0u);
    EXPECT_EQ(systemDnsServer(dir.path()), 0u) << "a folder is not read";
}

TEST(LogViewer, TheViewerGetsTheLogPathAsItsOneArgument) {
    const std::string log = sj("/tmp/ログ/送信 1.log");
    EXPECT_TRUE(logViewerCommand("gedit", "").empty()) << "no log name: nothing opens";
    EXPECT_EQ(logViewerCommand("", log),
              (std::vector<std::string>{"xdg-open", "/tmp/ログ/送信 1.log"}));
    EXPECT_EQ(logViewerCommand("gedit --new-window", log),
              (std::vector<std::string>{"gedit", "--new-window", "/tmp/ログ/送信 1.log"}));
    TempDir dir;
    const std::filesystem::path viewer = dir / "my viewer";
    writeFile(viewer, "#!/bin/sh\n");
    EXPECT_EQ(logViewerCommand(sj(viewer.string()), log),
              (std::vector<std::string>{viewer.string(), "/tmp/ログ/送信 1.log"}));
    EXPECT_EQ(logViewerCommand("\"/opt/my tools/view\" -r", log),
              (std::vector<std::string>{"/opt/my tools/view", "-r", "/tmp/ログ/送信 1.log"}));
}

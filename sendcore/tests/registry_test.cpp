#include "sendcore/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/cp932.h"
#include "sendcore/settings.h"
#include "testsupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string sj(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

const char* kKey = "Software\\Kestrel\\ZEPHV2\\Option\\DefAccount";

TEST(RegistryFile, ReadsTypedValuesWithRegistryNameRules) {
    RegistryFile reg = RegistryFile::parse(
        "; settings\n"
        "[Software\\Kestrel\\ZEPHV2\\Option\\DefAccount]\r\n"
        "\"DefName\"=\"山田 \\\"太郎\\\"\"\r\n"
        "  \"DefPortNo\" = dword:00000249\n"
        "\"EntryName\"=\"C:\\\\ppp\\tx\"\n");
    EXPECT_TRUE(reg.warnings().empty());
    EXPECT_EQ(reg.getString(kKey, "DefName"), sj("山田 \"太郎\""));
    EXPECT_EQ(reg.getString("software\\kestrel\\zephv2\\option\\defaccount", "defname"),
              sj("山田 \"太郎\""));
    EXPECT_EQ(reg.getDword(kKey, "DefPortNo"), 0x249u);
    EXPECT_EQ(reg.getString(kKey, "EntryName"), "C:\\ppp\tx");
    // Missing, or of the other type: empty / 0.
    EXPECT_EQ(reg.getString(kKey, "DefPortNo"), "");
    EXPECT_EQ(reg.getDword(kKey, "DefName"), 0u);
    EXPECT_EQ(reg.getString(kKey, "Nothing"), "");

    // A key exists when it or a key below it is there; "ZEPH" is not a prefix of "ZEPHV2".
    EXPECT_TRUE(reg.keyExists("Software\\Kestrel\\ZEPHV2"));
    EXPECT_TRUE(reg.keyExists("Software\\Kestrel"));
    EXPECT_FALSE(reg.keyExists("Software\\Kestrel\\ZEPH"));
}

TEST(RegistryFile, StringsComeBackByteForByte) {
    const std::string values[] = {
        sj("ｶﾀｶﾅと漢字①～"),         // half-width kana, NEC row 13, wave dash
        std::string("\x87\x90", 2),  // NEC "≒", which CP932 also has at 0x81E0
        std::string("\xFA\x40", 2),  // IBM small roman numeral one (also at 0xEEEF)
        std::string("a\"b\\c\r\nd\t\x01\x7F", 11),
        std::string("trail\x82", 6),  // a lead byte cut off: not CP932 at all
        std::string("\x00x", 2),
        std::string(),
    };
    RegistryFile reg = RegistryFile::parse("");
    for (std::size_t i = 0; i < std::size(values); ++i) {
        ASSERT_TRUE(reg.setString(kKey, "V" + std::to_string(i), values[i]));
    }
    reg.setDword(kKey, "D", 0xFFFFFFFFu);
    std::string text = reg.serialize();
    RegistryFile back = RegistryFile::parse(text);
    EXPECT_TRUE(back.warnings().empty()) << text;
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(back.getString(kKey, "V" + std::to_string(i)), values[i]) << i << "\n" << text;
    }
    EXPECT_EQ(back.getDword(kKey, "D"), 0xFFFFFFFFu);
    // Readable where it can be: Japanese stays Japanese in the file.
    EXPECT_NE(text.find("ｶﾀｶﾅと漢字"), std::string::npos) << text;
    // Invalid names and keys are refused rather than written as damaged lines.
    EXPECT_FALSE(reg.setString("A\\\\B", "x", "y"));
    EXPECT_FALSE(reg.setString(kKey, "bad\nname", "y"));
}

TEST(RegistryFile, DamagedLinesAreSkippedWarnedAndKeptOnSave) {
    TempDir dir;
    const std::string original =
        "; my notes\n"
        "[Software\\Kestrel\\ZEPHV2\\Option]\n"
        "\"WaitMSec\"=dword:000003e8\n"
        "\"WaitSec\"=dword:12345678901\n"  // too many digits
        "\"LogFileName\"=\"unterminated\n"
        "garbage without quotes\n"
        "\"LogFileMode\"=dword:00000002\n"
        "[Software\\Kestrel\\ZEPHV2\\Common\n"    // damaged key line
        "\"ContFileName\"=\"/lost/where.tnm\"\n"  // so we cannot tell whose value this is
        "[Software\\Kestrel\\ZEPHV2\\CheckParam]\n"
        "\"CheckMode\"=dword:1\n";
    fs::path path = dir / "registry";
    writeFile(path, original);

    testing::internal::CaptureStderr();
    RegistryFile reg = RegistryFile::load(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the caller decides what is shown
    EXPECT_EQ(reg.warnings().size(), 5u);
    SendSettings settings;
    std::string contFileName;
    EXPECT_EQ(SettingsStore(path).load(settings, contFileName).warnings, reg.warnings());
    const std::string option = "Software\\Kestrel\\ZEPHV2\\Option";
    EXPECT_EQ(reg.getDword(option, "WaitMSec"), 1000u);
    EXPECT_EQ(reg.getDword(option, "WaitSec"), 0u);
    EXPECT_EQ(reg.getDword(option, "LogFileMode"), 2u);
    EXPECT_EQ(reg.getString("Software\\Kestrel\\ZEPHV2\\Common", "ContFileName"), "");
    EXPECT_EQ(reg.getDword("Software\\Kestrel\\ZEPHV2\\CheckParam", "CheckMode"), 1u);

    reg.setDword(option, "WaitCount", 5);
    ASSERT_TRUE(reg.save().ok());
    std::string saved = readFile(path);
    for (const char* kept :
         {"; my notes\n", "\"WaitSec\"=dword:12345678901\n", "\"LogFileName\"=\"unterminated\n",
          "garbage without quotes\n", "[Software\\Kestrel\\ZEPHV2\\Common\n",
          "\"ContFileName\"=\"/lost/where.tnm\"\n"}) {
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << "\n" << saved;
    }
    RegistryFile again = RegistryFile::load(path);
    EXPECT_EQ(again.getDword(option, "WaitCount"), 5u);
    EXPECT_EQ(again.warnings().size(), 5u);
}

TEST(RegistryFile, MissingFileIsEmptyAndSaveCreatesItPrivately) {
    TempDir dir;
    fs::path path = dir / "config" / "tarn" / "registry";
    RegistryFile reg = RegistryFile::load(path);
    EXPECT_TRUE(reg.entries().empty());
    EXPECT_FALSE(reg.keyExists("Software"));
    reg.setString(kKey, "PassWord", "secret");
    ASSERT_TRUE(reg.save().ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(RegistryFile::load(path).getString(kKey, "PassWord"), "secret");
}

TEST(RegistryFile, ReadOnlyFileIsReadButNeverWritten) {
    TempDir dir;
    fs::path path = dir / "registry";
    const std::string text = "[Software\\Kestrel\\ZEPHV2\\Common]\n\"ContFileName\"=\"/a.tnm\"\n";
    writeFile(path, text);
    fs::permissions(path, fs::perms::owner_read);
    RegistryFile reg = RegistryFile::load(path);
    EXPECT_TRUE(reg.readOnly());
    EXPECT_EQ(reg.getString("Software\\Kestrel\\ZEPHV2\\Common", "ContFileName"), "/a.tnm");
    reg.setString("Software\\Kestrel\\ZEPHV2\\Common", "ContFileName", "/b.tnm");
    auto saved = reg.save();
    ASSERT_FALSE(saved.ok());
    EXPECT_NE(saved.error().message.find("読み取り専用"), std::string::npos);
    EXPECT_EQ(readFile(path), text);
}

TEST(RegistryFile, UnreadableFileIsNeverOverwritten) {
    TempDir dir;
    fs::path path = dir / "registry";
    fs::create_directory(path);  // exists, but cannot be read as a file
    RegistryFile reg = RegistryFile::load(path);
    EXPECT_FALSE(reg.warnings().empty());
    reg.setDword(kKey, "DefPortNo", 25);
    EXPECT_FALSE(reg.save().ok());
    EXPECT_TRUE(fs::is_directory(path));
}

}  // namespace
}  // namespace tarn

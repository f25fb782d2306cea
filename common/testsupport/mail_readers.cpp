#include "mail_readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "testsupport.h"

namespace mail_readers {
namespace fs = std::filesystem;
namespace {

std::string unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

std::set<std::string> savedFiles(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

}  // namespace

std::string PerlRead::field(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? std::string("<missing>") : cp932Spelling(it->second);
}

PerlRead perlRead(const fs::path& message, const std::string& jisDecoder) {
    auto r = tarn::test::run({"/usr/bin/perl",
                              std::string(TARN_SOURCE_DIR) + "/common/testsupport/perl_decode.pl",
                              message.string(), jisDecoder});
    EXPECT_EQ(r.exitCode, 0) << message << " " << jisDecoder << ": " << r.err;
    PerlRead read;
    std::size_t pos = 0;
    while (pos < r.out.size()) {
        const std::size_t end = r.out.find('\n', pos);
        const std::string line = r.out.substr(pos, end - pos);
        pos = end == std::string::npos ? r.out.size() : end + 1;
        const std::size_t tab = line.find('\t');
        const std::string key = line.substr(0, tab);
        const std::string value = tab == std::string::npos ? "" : unhex(line.substr(tab + 1));
        const bool perFile = key == "name" || key == "name-words" || key == "data";
        if (key == "name") {
            read.files.emplace_back();
        }
        if (perFile && read.files.empty()) {
            ADD_FAILURE() << "perl_decode.pl: " << key << " before any name";
            continue;
        }
        (perFile ? read.files.back() : read.fields)[key] = value;
    }
    return read;
}

std::string cp932Spelling(std::string s) {
    static const std::pair<std::string, std::string> kSame[] = {
        {"〜", "～"}, {"‖", "∥"}, {"−", "－"}, {"¢", "￠"}, {"£", "￡"}, {"¬", "￢"}};
    for (const auto& [jis, cp932] : kSame) {
        for (std::size_t p; (p = s.find(jis)) != std::string::npos;) {
            s.replace(p, jis.size(), cp932);
        }
    }
    return s;
}

void expectWireSafe(const std::string& stored) {
    EXPECT_EQ(stored.find_first_of("\x0E\x0F"), std::string::npos) << "SO or SI";
    std::size_t longest = 0;
    for (std::size_t pos = 0; pos < stored.size();) {
        std::size_t end = stored.find("\r\n", pos);
        end = end == std::string::npos ? stored.size() : end;
        longest = std::max(longest, end - pos);
        pos = end + 2;
    }
    EXPECT_LE(longest, 998U) << "a line over 998 octets";
}

void expectSavedByRipmimeAndMunpack(const fs::path& message, const fs::path& work,
                                    const std::vector<SavedFile>& files) {
    const fs::path rip = work / "ripmime";
    const fs::path ripOne = work / "ripmime-one-name";
    const fs::path mun = work / "munpack";
    for (const auto& d : {rip, ripOne, mun}) {
        fs::create_directories(d);
    }
    auto done = tarn::test::run({"ripmime", "-i", message.string(), "-d", rip.string()});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    done = tarn::test::run(
        {"ripmime", "--no-multiple-filenames", "-i", message.string(), "-d", ripOne.string()});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    done = tarn::test::run({"munpack", "-q", "-C", mun.string(), message.string()});
    ASSERT_EQ(done.exitCode, 0) << done.err;

    std::set<std::string> ripNames = savedFiles(ripOne);
    std::erase_if(ripNames, [](const std::string& s) { return s.starts_with("textfile"); });
    const auto unpacked = savedFiles(mun);
    std::set<std::string> expectedNames;
    for (const auto& f : files) {
        expectedNames.insert(f.expected);
        EXPECT_EQ(tarn::test::readFile(rip / f.expected), f.bytes) << "ripmime: " << f.expected;
        EXPECT_EQ(tarn::test::readFile(ripOne / f.expected), f.bytes) << "ripmime: " << f.expected;
        std::string unpackedBytes = f.bytes;
        if (f.text) {
            std::erase(unpackedBytes, '\r');
        }
        const bool ascii = std::all_of(f.expected.begin(), f.expected.end(),
                                       [](char ch) { return (ch & 0x80) == 0; });
        if (ascii) {
            std::string munpackName = f.expected;
            std::replace(munpackName.begin(), munpackName.end(), ' ', 'X');
            EXPECT_EQ(tarn::test::readFile(mun / munpackName), unpackedBytes)
                << "munpack: " << f.expected;
        } else {
            EXPECT_TRUE(std::any_of(unpacked.begin(), unpacked.end(),
                                    [&](const std::string& s) {
                                        return !s.ends_with(".desc") &&
                                               tarn::test::readFile(mun / s) == unpackedBytes;
                                    }))
                << "munpack: " << f.expected;
        }
    }
    EXPECT_EQ(ripNames, expectedNames) << "ripmime's names";
}

}  // namespace mail_readers

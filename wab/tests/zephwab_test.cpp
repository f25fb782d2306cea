#include "wab/zephwab.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
const fs::path kVcf = fs::path(TARN_TESTDATA) / "vcf";

struct RowFree {
    void operator()(ZEPHWABROW* r) const { ZEPHWABMemFree(r); }
};
using RowPtr = std::unique_ptr<ZEPHWABROW, RowFree>;

struct Read {
    std::vector<std::vector<std::string>> contacts;
    std::vector<std::pair<std::string, std::string>> lists;  // name, identifier
};

// Opens, reads until the read answers 0, closes: the way the wizard uses it.
Read readAll(const fs::path& book, const std::string& container, int mode) {
    Read out;
    ZEPHWAB* h = nullptr;
    const int ok = ZEPHWABOpen(&h, book.c_str(), container.empty() ? nullptr : container.data(),
                               container.size(), mode);
    EXPECT_EQ(ok, 1) << ZEPHWABLastError();
    if (ok != 1) {
        return out;
    }
    ZEPHWABROW* raw = nullptr;
    while (ZEPHWABRead(h, &raw, 0) != 0) {
        RowPtr row(raw);
        if (row->isList != 0 || mode == ZEPHWAB_MODE_FOLDERS) {
            out.lists.emplace_back(
                row->texts[ZEPHWAB_NAME],
                std::string(static_cast<const char*>(row->entryId), row->entryIdSize));
        } else {
            out.contacts.emplace_back(row->texts, row->texts + ZEPHWAB_TEXT_COUNT);
        }
    }
    EXPECT_STREQ(ZEPHWABLastError(), "");
    ZEPHWABClose(h);
    return out;
}

TEST(ZephWab, WholeBookThenOneGroupByItsIdentifier) {
    Read all = readAll(kVcf / "contacts40.vcf", {}, ZEPHWAB_MODE_CONTACTS);
    ASSERT_EQ(all.contacts.size(), 7u);
    EXPECT_EQ(all.contacts[0],
              (std::vector<std::string>{"佐藤 一郎", "ichiro.sato@midori-shoji.example.co.jp",
                                        "株式会社みどり商事", "営業部", "部長", "佐藤", "一郎"}));
    ASSERT_EQ(all.lists.size(), 3u);
    EXPECT_EQ(all.lists[1].first, "セミナー参加者");

    // The identifier is kept past the row (copied, as a caller keeps it).
    void* id = nullptr;
    ASSERT_EQ(ZEPHWABMemCopy(&id, all.lists[1].second.data(), all.lists[1].second.size()), 1);
    std::string kept(static_cast<const char*>(id), all.lists[1].second.size());
    ZEPHWABMemFree(id);
    Read members = readAll(kVcf / "contacts40.vcf", kept, ZEPHWAB_MODE_CONTACTS);
    ASSERT_EQ(members.contacts.size(), 3u);
    EXPECT_EQ(members.contacts[2][ZEPHWAB_NAME], "山本 浩");
    EXPECT_TRUE(members.lists.empty());
}

TEST(ZephWab, FoldersAndTheirContacts) {
    Read folders = readAll(kVcf / "folders", {}, ZEPHWAB_MODE_FOLDERS);
    ASSERT_EQ(folders.lists.size(), 2u);
    EXPECT_EQ(folders.lists[1].first, "取引先");
    Read inFolder = readAll(kVcf / "folders", folders.lists[1].second, ZEPHWAB_MODE_CONTACTS);
    ASSERT_EQ(inFolder.contacts.size(), 3u);
    EXPECT_EQ(inFolder.contacts[2][ZEPHWAB_EMAIL], "takuya.kimura@midori-shoji.example.co.jp");
}

TEST(ZephWab, RefusesWhatItCannotOpen) {
    ZEPHWAB* h = nullptr;
    EXPECT_EQ(ZEPHWABOpen(&h, (kVcf / "missing.vcf").c_str(), nullptr, 0, 0), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_NE(std::string(ZEPHWABLastError()).find("missing.vcf"), std::string::npos);
    EXPECT_EQ(ZEPHWABOpen(&h, (kVcf / "contacts.vcf").c_str(), "junk", 4, 0), 0);
    EXPECT_EQ(ZEPHWABOpen(&h, (kVcf / "contacts.vcf").c_str(), nullptr, 0, 7), 0);
    EXPECT_EQ(ZEPHWABOpen(nullptr, "x", nullptr, 0, 0), 0);
    EXPECT_EQ(ZEPHWABRead(nullptr, nullptr, 0), 0);

    // An identifier from a book that has changed since names nothing now.
    tarn::test::TempDir dir;
    const fs::path file = dir / "b.vcf";
    tarn::test::writeFile(file, "BEGIN:VCARD\nFN:a\nCATEGORIES:A\nEND:VCARD\n");
    Read before = readAll(file, {}, ZEPHWAB_MODE_CONTACTS);
    ASSERT_EQ(before.lists.size(), 1u);
    tarn::test::writeFile(file, "BEGIN:VCARD\nFN:a\nCATEGORIES:B\nEND:VCARD\n");
    const std::string& id = before.lists[0].second;
    EXPECT_EQ(ZEPHWABOpen(&h, file.c_str(), id.data(), id.size(), 0), 0);
    EXPECT_NE(std::string(ZEPHWABLastError()).find("no longer"), std::string::npos);
}

}  // namespace

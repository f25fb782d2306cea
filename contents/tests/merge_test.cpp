#include "contents/merge.h"

#include <gtest/gtest.h>

using namespace tarn::contents;

namespace {

MergeRequest request(std::string subject, std::string body) {
    MergeRequest r;
    r.subjectTemplate = std::move(subject);
    r.bodyTemplate = std::move(body);
    r.values[0] = "ACME";
    r.values[3] = "Suzuki";
    r.values[4] = "\x97\x6c";  // 様
    r.values[5] = "one";
    r.values[14] = "ten";
    return r;
}

}  // namespace

TEST(Merge, SubjectAndBodyTakeTheRecipientsValues) {
    MergeRequest r = request(std::string(MergeTagTable[0]) + " " + std::string(MergeTagTable[3]) +
                                 std::string(MergeTagTable[4]),
                             "&[Freefield10]/&[Freefield1]/&[Freefield10]&[Freefield1]");
    EXPECT_EQ(ApplyMergeFields(r), 1);
    EXPECT_EQ(r.subject, "ACME Suzuki\x97\x6c");
    EXPECT_EQ(r.body, "ten/one/tenone");
}

TEST(Merge, LaterTagsExpandInsideValuesEarlierOnesDoNot) {
    MergeRequest r = request("", "[&[Freefield2]]");
    r.values[6] = "&[Freefield3]";  // free field 2 names a later tag
    r.values[7] = "three";
    ApplyMergeFields(r);
    EXPECT_EQ(r.body, "[three]");

    r.values[6] = std::string(MergeTagTable[0]);  // names an earlier tag
    ApplyMergeFields(r);
    EXPECT_EQ(r.body, "[" + std::string(MergeTagTable[0]) + "]");

    // A value holding its own tag is not rescanned within the pass.
    r.values[6] = "&[Freefield2]&[Freefield2]";
    ApplyMergeFields(r);
    EXPECT_EQ(r.body, "[&[Freefield2]&[Freefield2]]");
}

TEST(Merge, OnlyExactTagsMatch) {
    const std::string body = "&[freefield1] &[ Freefield1] &[Freefield11] &[Other] &[Freefield1";
    MergeRequest r = request("", body);
    ApplyMergeFields(r);
    EXPECT_EQ(r.body, body);
}

TEST(Merge, EmptyValuesRemoveTagsAndPlainTextIsUnchanged) {
    MergeRequest r = request("&[Freefield4]x", "");
    ApplyMergeFields(r);
    EXPECT_EQ(r.subject, "x");
    EXPECT_EQ(r.body, "");
    // "&" never starts inside a double-byte character, so text around tags is untouched.
    const std::string plain = "\x82\xa0&\x81\x95 text";
    MergeRequest p = request(plain, plain);
    ApplyMergeFields(p);
    EXPECT_EQ(p.subject, plain);
    EXPECT_EQ(p.body, plain);
}

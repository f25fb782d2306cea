#include "driver/personalise.h"

#include <gtest/gtest.h>

#include "common/cp932.h"

namespace tarn::driver {
namespace {

std::string sj(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

contents::MergeValues valuesWithName(const std::string& name) {
    contents::MergeValues v;
    v[3] = name;
    return v;
}

TEST(Personalise, MergesSubjectAndBodyWithoutAScript) {
    contents::SendContents c;
    c.subject = sj("&[名前]様へ");
    c.body = sj("&[名前]様\r\n");
    PersonalMessage m;
    ASSERT_EQ(personalise(c, nullptr, valuesWithName(sj("山田")), m), Personalised::kMessage);
    EXPECT_EQ(m.subject(), sj("山田様へ"));
    EXPECT_EQ(m.body(), sj("山田様\r\n"));
    // The buffers are reused: the next recipient's message replaces the last.
    ASSERT_EQ(personalise(c, nullptr, valuesWithName(sj("髙橋")), m), Personalised::kMessage);
    EXPECT_EQ(m.body(), sj("髙橋様\r\n"));
}

// The script sees values cut to 255 bytes at a character boundary; the merge
// afterwards fills the script's text lines with the whole values.
TEST(Personalise, ScriptSeesCutValuesMergeSeesWholeOnes) {
    const std::string tag = "&[" + sj("名前") + "]";
    contents::SendContents c;
    c.body = "#Print " + tag + "\r\n" + tag + "\r\n";
    contents::ScriptEngine script;
    ASSERT_EQ(script.LoadScript(c.body), 1);
    std::string longName;  // 128 double-byte characters: 256 bytes, cut to 254
    for (int i = 0; i < 128; ++i) {
        longName += sj("髙");
    }
    PersonalMessage m;
    ASSERT_EQ(personalise(c, &script, valuesWithName(longName), m), Personalised::kMessage);
    EXPECT_EQ(m.body(), longName.substr(0, 254) + "\r\n" + longName + "\r\n");
}

TEST(Personalise, EmptyScriptOutputSkipsAndAFailedRunIsReported) {
    const std::string tag = "&[" + sj("名前") + "]";
    contents::SendContents c;
    c.body = "#If " + tag + " = \"\" Then\r\n#End\r\n#End If\r\n#If " + tag +
             " = \"x\" Then\r\n#Else\r\n" + tag + "\r\n#End If\r\n";
    contents::ScriptEngine script;
    ASSERT_EQ(script.LoadScript(c.body), 1);
    PersonalMessage m;
    EXPECT_EQ(personalise(c, &script, valuesWithName("x"), m), Personalised::kSkipped);
    EXPECT_EQ(personalise(c, &script, valuesWithName(""), m), Personalised::kScriptFailed);
    EXPECT_EQ(personalise(c, &script, valuesWithName("y"), m), Personalised::kMessage);
    EXPECT_EQ(m.body(), "y\r\n");
}

}  // namespace
}  // namespace tarn::driver

#include "verify/address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/address.h"

#include "testsupport.h"

namespace tarn::verify {
namespace {

struct SyntaxCase {
    const char* address;
    bool relaxed;
    int expected;
};

TEST(CheckAddressSyntax, Rules) {
    DomainChecker checker;
    const SyntaxCase cases[] = {
        {"user@example.com", false, 0},
        {"user@example.c-m", false, 3},
        {"user@abc.co.jp", false, 0},
        {"user@ab.co.jp", false, 2},
        {"user@abc.xx.jp", false, 4},
        {"user@abc.jp", false, 3},
        {"user@co.jp", false, 2},
        {"user@a.jp", false, 2},
        {"user@a.jp", true, 0},
        {"user@a.com", false, 2},
        {"user@a.com", true, 2},
        {"user@example.com.", false, 2},
        {"user@example.com..", false, 1},
        {"user@.example.com", false, 1},
        {"user@www..example.com", false, 1},
        {"user@a..b.www.example.com", false, 0},  // only the last three labels are scanned
        {"user@a..www.example.com", false, 1},
        {"user@-abc.example.com", false, 1},
        {"user@example-.com", false, 1},
        {"user@abc.co.j-", false, 1},
        {"user@example.de", false, 3},
        {"user@example.de", true, 0},
        {"user@www.example.de", false, 0},
        {"user@ww.example.de", false, 2},
        {"user@ex_ample.com", false, 1},
        {"user@exa mple.com", false, 1},
        {"us er\"x@example.com", false, 0},  // before the last at-sign nothing is examined
        {"a@b@example.com", false, 0},
        {"abc.co.jp", false, 0},  // no at-sign: checked as a domain
        {"user@", false, 2},
        {"user@", true, 2},
        {"user@com", true, 3},
        {"user@x.abc.info", false, 2},
        {"user@abc.museum.jp", false, 0},  // empty regional list: any second label
        {"user@EXAMPLE.ARPA", false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checker.CheckAddressSyntax(c.address, c.relaxed), c.expected)
            << c.address << (c.relaxed ? " (relaxed)" : "");
    }
}

TEST(CheckAddressSyntax, LengthLimits) {
    DomainChecker checker;
    std::string label63(63, 'a');
    std::string label64(64, 'a');
    EXPECT_EQ(checker.CheckAddressSyntax("u@" + label63 + ".com", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@" + label64 + ".com", false), 2);
    EXPECT_EQ(checker.CheckAddressSyntax("u@" + label63 + ".co.jp", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@" + label64 + ".co.jp", false), 2);
    std::string domain255 = std::string(251, 'a') + ".com";
    std::string domain256 = std::string(252, 'a') + ".com";
    ASSERT_EQ(domain255.size(), 255u);
    // 251-byte label 2 fails the label rule, not the length rule; the allow list
    // shows the length rule alone.
    checker.AddListedDomain(domain255, 1);
    checker.AddListedDomain(domain256, 1);
    EXPECT_EQ(checker.CheckAddressSyntax("u@" + domain255, false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@" + domain256, false), 2);
}

TEST(CheckAddressSyntax, RegionalList) {
    DomainChecker checker;
    checker.SetRegionalNames({"tokyo", "Osaka"});
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.tokyo.jp", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.TOKYO.JP", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.osaka.jp", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.jp", false), 5);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.jp", true), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.co.jp", false), 0);     // two letters: fixed table
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.kr", false), 0);  // only under jp
    checker.SetRegionalNames({});
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.jp", false), 0);
}

TEST(CheckAddressSyntax, ListedDomainsDecideBeforeTheStructure) {
    DomainChecker checker;
    checker.AddListedDomain("xyz.de", 1);     // would fail the level count
    checker.AddListedDomain("-bad-.com", 1);  // would fail the hyphen rule
    checker.AddListedDomain("spam.example.com", 0);
    checker.AddListedDomain("x_y.com", 1);  // cannot override the character scan
    checker.AddListedDomain("a.jp", 1);     // cannot override the minimum length
    EXPECT_EQ(checker.CheckAddressSyntax("u@xyz.de", true), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@XYZ.DE", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@-bad-.com", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@spam.example.com", false), 6);
    EXPECT_EQ(checker.CheckAddressSyntax("u@x_y.com", false), 1);
    EXPECT_EQ(checker.CheckAddressSyntax("u@a.jp", false), 2);
    EXPECT_EQ(checker.CheckAddressSyntax("u@sub.spam.example.com", false), 0);  // whole text only
}

TEST(DomainChecker, LatestEntryWinsAndCapacityIsKept) {
    DomainChecker checker;
    EXPECT_TRUE(checker.AddListedDomain("Both.Example.com", 1));
    EXPECT_TRUE(checker.AddListedDomain("someone@both.example.COM", 0));
    EXPECT_EQ(checker.LookupListedDomain("x@BOTH.example.com"), 0);
    EXPECT_TRUE(checker.AddListedDomain("both.example.com", 1));
    EXPECT_EQ(checker.LookupListedDomain("both.example.com"), 1);
    EXPECT_EQ(checker.LookupListedDomain("other.example.com"), -1);
    EXPECT_FALSE(checker.AddListedDomain("nobody@", 1));

    // Duplicates count towards the capacity; once full, offers are dropped,
    // including ones that would have changed an existing entry's flag.
    while (checker.listedCount() < DomainChecker::kCapacity) {
        ASSERT_TRUE(checker.AddListedDomain("filler.example.com", 1));
    }
    EXPECT_FALSE(checker.AddListedDomain("late.example.com", 1));
    EXPECT_FALSE(checker.AddListedDomain("both.example.com", 0));
    EXPECT_EQ(checker.LookupListedDomain("late.example.com"), -1);
    EXPECT_EQ(checker.LookupListedDomain("both.example.com"), 1);
}

TEST(DomainChecker, ManyDistinctDomainsKeepTheirFlags) {
    DomainChecker checker;
    for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(checker.AddListedDomain("d" + std::to_string(i) + ".Example.com", i % 3 == 0));
    }
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(checker.LookupListedDomain("u@D" + std::to_string(i) + ".example.COM"),
                  i % 3 == 0)
            << i;
    }
    EXPECT_EQ(checker.LookupListedDomain("d10000.example.com"), -1);
    EXPECT_EQ(checker.LookupListedDomain("d1.example.co"), -1);
    EXPECT_EQ(checker.LookupListedDomain(""), -1);
}

TEST(DomainChecker, DoubleByteEntriesCompareWholeCharacters) {
    DomainChecker checker;
    // "ア" is 0x83 0x41: its trail byte is an 'A' that must not be case-folded.
    checker.AddListedDomain("\x83\x41.example.com", 0);
    EXPECT_EQ(checker.LookupListedDomain("\x83\x41.EXAMPLE.com"), 0);
    EXPECT_EQ(checker.LookupListedDomain("\x83\x61.example.com"), -1);
    // "ソ" is 0x83 0x5C and "@" may be a trail byte (0x83 0x40 "ァ"): neither splits.
    checker.AddListedDomain("user@\x83\x40x.jp", 1);
    EXPECT_EQ(checker.LookupListedDomain("\x83\x40x.jp"), 1);
    EXPECT_EQ(checker.LookupListedDomain("x.jp"), -1);
}

TEST(DomainChecker, ListFiles) {
    test::TempDir dir;
    // CR LF endings, a Ctrl-Z at the end, comments, blank lines, whole addresses,
    // and a blank that stays part of its entry.
    test::writeFile(dir / "allow.txt",
                    "# allowed\r\nallowed.example.de\r\n\r\nboth.example.com\r\n"
                    "someone@Friend.example.de\r\n\x1a");
    test::writeFile(dir / "deny.txt",
                    "#allowed.example.de\nboth.example.com\nspaced.example.com \n"
                    "x@y@denied.example.com\n");
    test::writeFile(dir / "local.txt", "# prefectures\r\ntokyo\r\nosaka\x1a\r\n");
    DomainChecker checker;
    checker.LoadDomainLists(dir / "allow.txt", dir / "deny.txt");
    checker.LoadRegionalList(dir / "local.txt");
    EXPECT_EQ(checker.listedCount(), 6u);
    EXPECT_EQ(checker.regionalCount(), 2u);
    EXPECT_EQ(checker.CheckAddressSyntax("u@allowed.example.de", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@friend.example.de", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@both.example.com", false), 6);
    EXPECT_EQ(checker.CheckAddressSyntax("u@denied.example.com", false), 6);
    EXPECT_EQ(checker.LookupListedDomain("spaced.example.com"), -1);
    EXPECT_EQ(checker.LookupListedDomain("spaced.example.com "), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.osaka.jp", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.jp", false), 5);

    // A regional file replaces the names; a missing one empties them.
    checker.LoadRegionalList(dir / "missing.txt");
    EXPECT_EQ(checker.regionalCount(), 0u);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.jp", false), 0);

    DomainChecker empty;
    empty.LoadDomainLists(dir / "none1.txt", dir / "none2.txt");
    EXPECT_EQ(empty.listedCount(), 0u);
}

TEST(DomainChecker, ProgramFolderLists) {
    test::TempDir dir;
    test::writeFile(dir / kAllowListFile, "home.example.de\n");
    test::writeFile(dir / kDenyListFile, "deny.example.com\n");
    test::writeFile(dir / kRegionalListFile, "tokyo\n");
    ASSERT_EQ(::setenv("TARN_HOME", dir.path().c_str(), 1), 0);
    DomainChecker checker;
    checker.LoadProgramLists();
    ::unsetenv("TARN_HOME");
    EXPECT_EQ(checker.CheckAddressSyntax("u@home.example.de", false), 0);
    EXPECT_EQ(checker.CheckAddressSyntax("u@deny.example.com", false), 6);
    EXPECT_EQ(checker.CheckAddressSyntax("u@abc.kyoto.jp", false), 5);
}

struct ExtractCase {
    const char* text;
    char separator;
    const char* expected;
};

TEST(ExtractAddress, Cases) {
    const ExtractCase cases[] = {
        {"taro@example.com", 0, "taro@example.com"},
        {"  taro@example.com\r\n", 0, "taro@example.com"},
        {"Taro Yamada <taro@example.com>", 0, "taro@example.com"},
        {"\"Yamada, Taro\" <taro@example.com>", 0, "taro@example.com"},
        {"taro@example.com (Taro, Yamada)", 0, "taro@example.com"},
        {"(a (b) c) taro@example.com", 0, "c"},  // the first ")" closes the comment
        {"[note] taro@example.com", 0, "taro@example.com"},
        {"'Taro' taro@example.com", 0, "taro@example.com"},
        {"a@example.com, b@example.com", 0, "a@example.com"},
        {"a@example.com, B <b@example.com>; c@example.com", ',',
         "a@example.com,b@example.com,c@example.com"},
        {"A <a@example.com>, B <b@example.com>", ';', "a@example.com;b@example.com"},
        {"\t,;<>", 0, ""},
        {"", 0, ""},
        // A double-byte display name is blanked; one inside the address becomes "**".
        {"\x8e\x52\x93\x63 <yamada@example.com>", 0, "yamada@example.com"},
        {"\x8e\x52@example.com", 0, "**@example.com"},
        // A name without brackets is no address; alone, it is what is checked.
        {"\x8e\x52\x93\x63 yamada@example.com", 0, "yamada@example.com"},
        {"\x8e\x52\x93\x63", 0, "****"},
        // The trail byte 0x5B ('[') of a double-byte character opens no bracket.
        {"\x83\x5b"
         "a@example.com",
         0, "**a@example.com"},
        {"\xb1@example.com", 0, "*@example.com"},    // half-width kana
        {"a@example.com\x82", 0, "a@example.com*"},  // lone lead byte at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractAddress(c.text, c.separator), c.expected) << c.text;
    }
}

TEST(ScreenExtractedAddress, RejectsStarsOverlongAndNonAddresses) {
    DomainChecker checker;
    auto level1 = [&](const std::string& stored) {
        return checker.CheckAddressField(stored, false).code;
    };
    EXPECT_EQ(level1("Taro <taro@example.com>"), 0);
    EXPECT_EQ(level1("\x8e\x52\x93\x63@example.com"), 1);  // full-width local part
    EXPECT_EQ(level1("taro@\x82\x60.example.com"), 1);
    EXPECT_EQ(level1(std::string(500, 'a') + "@example.com"), 0);  // 512 bytes
    EXPECT_EQ(level1(std::string(501, 'a') + "@example.com"), 2);
    EXPECT_EQ(level1(std::string(500, 'a') + "\x82\x60@example.com"), 1);
    EXPECT_EQ(level1("abc.co.jp"), 1);  // a domain alone is no address to send to
    EXPECT_EQ(level1("ta:ro@example.com"), 1);
    EXPECT_EQ(ScreenExtractedAddress("a*b@example.com", 4), 4);  // earlier codes stay
}

// One extractor for the envelope and the check: for every field, what the
// check passes is exactly what RCPT TO would receive, and a field the
// envelope refuses never passes the check.
TEST(EnvelopeAndCheck, AgreeOnEveryField) {
    using P = address::FieldCheck::Problem;
    struct Row {
        std::string field;
        int check;                           // level-1 code of the record
        P envelope;                          // what the send does with it
        std::vector<std::string> addresses;  // what RCPT TO receives when it sends
    };
    const std::string wideSpace = "\x81\x40";
    const std::vector<Row> rows = {
        {"taro@example.com", 0, P::None, {"taro@example.com"}},
        // Every address in the field is checked, not only the first.
        {"a@example.com, b@example.co.jp", 0, P::None, {"a@example.com", "b@example.co.jp"}},
        {"a@example.com, b@ab.co.jp", 2, P::None, {"a@example.com", "b@ab.co.jp"}},
        // A full-width space separates for both.
        {"a@example.com" + wideSpace + "b@example.com",
         0,
         P::None,
         {"a@example.com", "b@example.com"}},
        {"a@example.com" + wideSpace, 0, P::None, {"a@example.com"}},
        // Half-width kana are characters of the token for both, and refused.
        {"\xB1\xB2\xB3@example.com", 1, P::NotAnAddress, {}},
        // A name without brackets: skipped by both.
        {"\x8e\x52\x93\x63 taro@example.com \x97\x6c", 0, P::None, {"taro@example.com"}},
        {"\x8e\x52\x93\x63", 1, P::NoAddress, {}},
        // Hostile fields.
        {"r01@example.com\r\nBcc: victim01@evil.test", 1, P::ControlCharacter, {}},
        {"r04@example.com>\r\nRCPT TO:<victim04@evil.test", 1, P::ControlCharacter, {}},
        {"r01@example.com Bcc: victim01@evil.test", 1, P::NotAnAddress, {}},
        {std::string("a@example.com\0", 14), 1, P::ControlCharacter, {}},
        {"note a@example.com", 2, P::NotAnAddress, {}},  // "note" has no domain
        // A doubled at-sign is a typing slip: the server would be handed
        // RCPT TO:<suzuki@@midori.example.jp>.
        {"suzuki@@midori.example.jp", 1, P::NotAnAddress, {}},
    };
    DomainChecker checker;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.field);
        const auto checked = checker.CheckAddressField(row.field, false);
        const auto envelope = address::checkField(row.field);
        EXPECT_EQ(checked.code, row.check);
        EXPECT_EQ(envelope.problem, row.envelope);
        if (envelope.ok()) {
            EXPECT_EQ(envelope.addresses, row.addresses);
        }
        if (checked.code == 0) {
            ASSERT_TRUE(envelope.ok()) << "the check passed a field the send refuses";
            EXPECT_EQ(envelope.addresses, checked.addresses)
                << "send and check see other addresses";
        }
    }
}

}  // namespace
}  // namespace tarn::verify

// The message writer: header table, custom headers, Date and Message-Id,
// attachment lists, and the exact bytes of the MIME structure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "codec.h"
#include "common/cp932.h"
#include "common/host_name.h"
#include "media_types.h"
#include "message.h"
#include "testsupport.h"

namespace {

using tarn::test::TempDir;
using tarn::test::writeFile;
using zeph::Message;

std::string sj(std::string_view utf8) {
    auto r = tarn::cp932::fromUtf8(utf8);
    EXPECT_TRUE(r.ok()) << utf8;
    return r.ok() ? *r : std::string();
}

class RecordingSink : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        bytes_.append(bytes);
        return true;
    }
    std::string bytes_;
};

// Counts; remembers the largest send; refuses once refuseAfter bytes went by.
class CountingSink : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        ++sends;
        if (refuseAfter != 0 && count >= refuseAfter) {
            refusedAt = sends;
            return false;
        }
        count += bytes.size();
        largest = std::max(largest, bytes.size());
        return true;
    }
    std::size_t count = 0, largest = 0, refuseAfter = 0;
    int sends = 0, refusedAt = -1;
};

std::string compose(Message& m) {
    RecordingSink sink;
    EXPECT_TRUE(m.write(sink));
    return sink.bytes_;
}

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) {
            out.emplace_back(text.substr(pos));
            break;
        }
        out.emplace_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

std::string headerBlock(const std::string& message) {
    return message.substr(0, message.find("\r\n\r\n") + 2);
}

std::vector<std::string> headerNames(const std::string& message) {
    std::vector<std::string> names;
    for (const auto& line : lines(headerBlock(message))) {
        if (!line.empty() && line[0] != ' ') {
            names.push_back(line.substr(0, line.find(':')));
        }
    }
    return names;
}

// A message as the send driver builds one for each recipient.
void fillLikeTheDriver(Message& m) {
    m.setDefaultHeader();
    m.setHeader("To", sj("山田太郎 <taro@example.jp>").c_str());
    m.setHeader("Cc", "");
    m.setHeader("Bcc", "audit@example.jp");
    m.setHeader("From", "sender@example.jp");
    m.setMessageId("sender@example.jp");
    m.setHeader("Subject", sj("ご案内").c_str());
    m.setBody(sj("本文です。\r\n").c_str());
}

TEST(ComposeHeaderTest, OrderOfTheDefaultHeadersAndNoBcc) {
    Message m;
    fillLikeTheDriver(m);
    const std::vector<std::string> expected = {"To",
                                               "From",
                                               "Date",
                                               "Subject",
                                               "MIME-Version",
                                               "Content-Type",
                                               "Content-Transfer-Encoding",
                                               "X-Mailer",
                                               "Message-Id"};
    std::string out = compose(m);
    EXPECT_EQ(headerNames(out), expected);
    EXPECT_NE(headerBlock(out).find("MIME-Version: 1.0\r\nContent-Type: text/plain; "
                                    "charset=iso-2022-jp\r\nContent-Transfer-Encoding: "
                                    "7bit\r\nX-Mailer: TARN01 Version 2.01\r\n"),
              std::string::npos);

    m.setHeader("cc", "copy@example.jp");
    m.setHeader("BCC", "other@example.jp");  // replaces the Bcc entry in place
    m.setHeader("X-Extra", "1");
    auto names = headerNames(compose(m));
    EXPECT_EQ(names[8], "Cc");
    EXPECT_EQ(names[10], "X-Extra");
    EXPECT_EQ(std::count(names.begin(), names.end(), "Message-Id"), 1);
    for (const char* bcc : {"bcc", "BCC", "Bcc"}) {
        Message b;
        b.setHeader("To", "a@example.jp");
        b.setHeader(bcc, "hidden@example.jp");
        EXPECT_EQ(compose(b).find("hidden"), std::string::npos) << bcc;
        ASSERT_NE(b.findHeader("Bcc"), nullptr);  // still there for RCPT TO
    }
}

TEST(ComposeHeaderTest, TableMatchesFirstWordIgnoringCaseAndReplacesInPlace) {
    Message m;
    m.setHeader("To", "a@example.jp");
    m.setHeader("X-Note", "first");
    m.setHeader("to", "b@example.jp");
    m.setHeader("x-note: anything", "second");
    m.setHeader("Subject", nullptr);
    ASSERT_EQ(m.headers().size(), 3U);
    EXPECT_EQ(m.headers()[0].first, "To");
    EXPECT_EQ(m.headers()[0].second, "b@example.jp");
    EXPECT_EQ(m.headers()[1].second, "second");
    EXPECT_EQ(*m.findHeader("SUBJECT"), "");
    EXPECT_EQ(m.findHeader("Cc"), nullptr);
    // Empty values are not written at all.
    EXPECT_EQ(compose(m).find("Subject"), std::string::npos);
}

TEST(ComposeHeaderTest, LineBreaksInValuesCannotStartHeaderLines) {
    Message m;
    m.setDefaultHeader();
    m.setHeader("To", "victim@example.jp\r\nBcc: list@evil.example");
    m.setHeader("From", "a@example.jp");
    m.setHeader("Subject", sj("件名\r\nX-Injected: yes").c_str());
    m.setHeader("X-Custom\nX-Other", "v\rw");
    EXPECT_EQ(*m.findHeader("To"), "victim@example.jp  Bcc: list@evil.example");
    std::string block = headerBlock(compose(m));
    for (const auto& line : lines(block)) {
        EXPECT_FALSE(line.starts_with("Bcc")) << line;
        EXPECT_FALSE(line.starts_with("X-Injected")) << line;
        EXPECT_FALSE(line.starts_with("X-Other")) << line;
    }
    EXPECT_EQ(std::count(block.begin(), block.end(), '\r'),
              std::count(block.begin(), block.end(), '\n'));
    EXPECT_NE(block.find("X-Custom X-Other: v w\r\n"), std::string::npos);
}

TEST(ComposeHeaderTest, CustomHeaderFile) {
    TempDir dir;
    writeFile(dir / "CustmHeader.hdr",
              "# comment\r\n"
              "X-Mailer : Custom Mailer 1 \r\n"
              "\r\n"
              "From:   office@example.jp\r\n"
              "x-mailer: Custom Mailer 2\r\n"
              "Organization\r\n"
              "Content-Type: text/html\r\n"
              "Reply-To: back@example.jp\x1A\r\n");
    Message m;
    m.setHeader("Reply-To", "old@example.jp");
    ASSERT_EQ(m.loadCustomHeader((dir / "CustmHeader.hdr").c_str()), 1);
    EXPECT_EQ(m.customHeaderLines().size(), 6U);
    m.setDefaultHeader();
    // The standard headers stay (a file without MIME-Version once lost it and
    // X-Mailer); the custom lines replace or add the others.
    using Header = std::pair<std::string, std::string>;
    ASSERT_EQ(m.headers().size(), 10U);
    EXPECT_EQ(m.headers()[0], (Header("Reply-To", "back@example.jp")));
    EXPECT_EQ(m.headers()[2], (Header("From", "office@example.jp")));
    EXPECT_EQ(m.headers()[3].first, "Date");
    EXPECT_EQ(m.headers()[5], (Header("MIME-Version", "1.0")));
    EXPECT_EQ(m.headers()[6], (Header("Content-Type", "text/plain; charset=iso-2022-jp")));
    EXPECT_EQ(m.headers()[8], (Header("X-Mailer", "Custom Mailer 2")));
    EXPECT_EQ(m.headers()[9], (Header("Organization", "")));
    m.setHeader("To", "a@example.jp");
    const std::string block = headerBlock(compose(m));
    EXPECT_NE(
        block.find("\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n"),
        std::string::npos);
    EXPECT_EQ(block.find("text/html"), std::string::npos);
    // Without the custom lines the defaults come back; a failed load keeps them.
    EXPECT_EQ(m.loadCustomHeader((dir / "missing.hdr").c_str()), 0);
    EXPECT_EQ(m.loadCustomHeader(""), 0);
    EXPECT_EQ(m.loadCustomHeader(nullptr), 0);
    EXPECT_EQ(m.customHeaderLines().size(), 6U);
    m.clearCustomHeader();
    EXPECT_TRUE(m.headers().empty());
    m.setDefaultHeader();
    EXPECT_EQ(m.headers().size(), 8U);
    // A hostile size is refused rather than read.
    writeFile(dir / "huge.hdr", std::string((std::size_t{4} << 20) + 1, 'x'));
    EXPECT_EQ(m.loadCustomHeader((dir / "huge.hdr").c_str()), 0);
}

TEST(ComposeHeaderTest, DateIsJapanTimeWithItsZone) {
    Message m;
    std::time_t before = std::time(nullptr);
    m.setDateNow();
    std::time_t after = std::time(nullptr);
    const std::string date = *m.findHeader("Date");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(date, match,
                                 std::regex(R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat), (\d\d) )"
                                            R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                                            R"((\d{4}) (\d\d):(\d\d):(\d\d) \+0900)")))
        << date;
    static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    std::tm t{};
    t.tm_mday = std::stoi(match[2]);
    t.tm_mon = static_cast<int>(kMonths.find(match[3].str()) / 3);
    t.tm_year = std::stoi(match[4]) - 1900;
    t.tm_hour = std::stoi(match[5]);
    t.tm_min = std::stoi(match[6]);
    t.tm_sec = std::stoi(match[7]);
    std::time_t stated = timegm(&t) - std::time_t{9} * 3600;
    EXPECT_GE(stated, before);
    EXPECT_LE(stated, after);
}

TEST(ComposeHeaderTest, MessageIdCounterTokenAndDomain) {
    Message m;
    const std::regex shape(R"(<(\d{12,13})\.(\d+)\.([0-9a-f]{16})@(.+)>)");
    std::smatch a;
    std::smatch b;
    m.setMessageId("taro@mail.example.jp");
    const std::string first = *m.findHeader("Message-Id");
    ASSERT_TRUE(std::regex_match(first, a, shape)) << first;
    EXPECT_EQ(a[4], "mail.example.jp");
    m.setMessageId("example.jp");  // no "@": the whole text
    const std::string second = *m.findHeader("Message-Id");
    ASSERT_TRUE(std::regex_match(second, b, shape)) << second;
    EXPECT_EQ(b[4], "example.jp");
    EXPECT_EQ(std::stoul(b[2]), std::stoul(a[2]) + 1);
    EXPECT_GE(std::stoul(a[2]), 1507406UL);
    EXPECT_EQ(a[3], b[3]);  // one token per process

    // Without a usable source: the From address's domain, else the machine's name.
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    std::string machine = tarn::fullyQualifiedHostName();
    machine = !machine.empty() ? machine : host[0] != '\0' ? host : "ukh";
    const std::string longDomain = "a@" + std::string(98, 'd') + ".jp";
    for (const char* source : {"a@jp", "x@" /* too short */, "a@b.jp>" /* not a domain */,
                               longDomain.c_str(), static_cast<const char*>(nullptr)}) {
        m.setMessageId(source);
        std::smatch c;
        const std::string id = *m.findHeader("Message-Id");
        ASSERT_TRUE(std::regex_match(id, c, shape)) << id;
        EXPECT_EQ(c[4], machine) << (source != nullptr ? source : "null");
    }
    m.setHeader("From", sj("営業部＠本社 <sales@from.example.co.jp>").c_str());
    m.setMessageId(nullptr);
    EXPECT_TRUE(m.findHeader("Message-Id")->ends_with("@from.example.co.jp>"));
}

class AttachmentTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string make(const std::string& name, const std::string& bytes) const {
        writeFile(dir / name, bytes);
        return path(name);
    }
    TempDir dir;
};

TEST_F(AttachmentTest, ListParsingWithQuotesAndSeparators) {
    const std::string a = make("a.txt", "A");
    const std::string spaced = make("my file, v2; final.txt", "B");
    const std::string japanese = make("請求 書.txt", "C");  // UTF-8 on disk
    Message m;
    int lastError = 0;
    std::string list = a + " \"" + spaced + "\";" + sj("\"" + japanese + "\"");
    EXPECT_EQ(m.setAttach(list.c_str(), &lastError), 1);
    EXPECT_EQ(lastError, 0);
    ASSERT_EQ(m.attachments().size(), 3U);
    EXPECT_EQ(m.attachments()[0], a);
    EXPECT_EQ(m.attachments()[1], spaced);
    EXPECT_EQ(m.attachments()[2], sj(japanese));

    // A missing file is kept in the list but reported.
    std::string more = path("missing.bin") + "," + a;
    EXPECT_EQ(m.addAttach(more.c_str(), &lastError), 0);
    EXPECT_EQ(lastError, -6);
    EXPECT_EQ(m.attachments().size(), 5U);

    // A folder is not a file that can be attached.
    lastError = 0;
    EXPECT_EQ(m.setAttach(dir.path().c_str(), &lastError), 0);
    EXPECT_EQ(lastError, -6);

    lastError = 0;
    EXPECT_EQ(m.setAttach("", &lastError), 0);
    EXPECT_EQ(lastError, -6);
    EXPECT_TRUE(m.attachments().empty());
}

struct Part {
    std::vector<std::string> headers;
    std::vector<std::string> body;
};

// Splits a composed multipart message at its delimiter lines.
std::vector<Part> parts(const std::string& message, std::string& boundary) {
    std::smatch match;
    std::string block = headerBlock(message);
    EXPECT_TRUE(std::regex_search(
        block, match,
        std::regex(
            R"re(Content-Type: multipart/mixed; boundary="(====_360811\.[0-9a-zA-Z]{20}_MP_MIXED)")re")));
    boundary = match[1];
    std::vector<Part> out;
    bool inHeaders = false;
    auto all = lines(message.substr(block.size() + 2));
    EXPECT_EQ(all.back(), "");  // "--boundary--" CR LF CR LF
    EXPECT_EQ(all[all.size() - 2], "--" + boundary + "--");
    for (std::size_t i = 0; i + 2 < all.size(); ++i) {
        const auto& line = all[i];
        if (line == "--" + boundary) {
            out.emplace_back();
            inHeaders = true;
        } else if (inHeaders && line.empty()) {
            inHeaders = false;
        } else if (!out.empty()) {
            (inHeaders ? out.back().headers : out.back().body).push_back(line);
        }
    }
    return out;
}

TEST_F(AttachmentTest, Base64PartsInSixtyEightCharacterLines) {
    std::string data;
    for (int i = 0; i < 120; ++i) {
        data += static_cast<char>(i * 7);
    }
    const std::string file = make("data.bin", data);
    Message m;
    fillLikeTheDriver(m);
    int lastError = 0;
    ASSERT_EQ(m.setAttach(file.c_str(), &lastError), 1);
    std::string out = compose(m);
    EXPECT_EQ(m.findHeader("Content-Transfer-Encoding")->size(), 0U);
    EXPECT_EQ(headerBlock(out).find("Content-Transfer-Encoding"), std::string::npos);

    std::string boundary;
    auto ps = parts(out, boundary);
    ASSERT_EQ(ps.size(), 2U);
    EXPECT_EQ(ps[0].headers,
              (std::vector<std::string>{"Content-Type: text/plain; charset=iso-2022-jp",
                                        "Content-Transfer-Encoding: 7bit"}));
    EXPECT_EQ(ps[1].headers,
              (std::vector<std::string>{"Content-Type: application/octet-stream; name=\"data.bin\"",
                                        "Content-Transfer-Encoding: base64",
                                        "Content-Disposition: attachment; filename=\"data.bin\""}));
    const auto& b64 = ps[1].body;
    ASSERT_EQ(b64.size(), 4U);  // 68, 68, 24, then the blank line after the data
    EXPECT_EQ(b64[0].size(), 68U);
    EXPECT_EQ(b64[1].size(), 68U);
    EXPECT_EQ(b64[2], zeph::base64Encode(data.substr(102)));
    EXPECT_EQ(zeph::base64Decode(b64[0] + b64[1] + b64[2]).value_or(""), data);

    // The next message gets a new boundary of the same length, and the
    // defaults put the single-part headers back.
    std::string again = compose(m);
    EXPECT_EQ(again.size(), out.size());
    std::string boundary2;
    parts(again, boundary2);
    EXPECT_NE(boundary2, boundary);
    // Boundaries are not seeded from the clock: every process draws the same.
    Message other;
    fillLikeTheDriver(other);
    other.setAttach(file.c_str(), &lastError);
    parts(compose(other), boundary2);
    EXPECT_EQ(boundary2, boundary);
    // Without attachments our multipart type goes, even when nothing reset it.
    m.setAttach("", &lastError);
    const std::string single = compose(m);
    EXPECT_NE(single.find("\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n"
                          "Content-Transfer-Encoding: 7bit\r\n"),
              std::string::npos);
    EXPECT_EQ(single.find("multipart"), std::string::npos);
}

TEST_F(AttachmentTest, UuencodeLinesAndEndLines) {
    const std::string exact = make("exact.bin", std::string(45, 'Q'));
    // 14 bytes make a last line whose count character is "." and must be
    // stuffed, or the receiver would strip it and corrupt the file.
    const std::string dotted = make(".dotted", "fourteen bytes");
    Message m;
    fillLikeTheDriver(m);
    ASSERT_EQ(m.setEncodeType(1), 1);
    EXPECT_EQ(m.setEncodeType(2), 0);
    EXPECT_EQ(m.encodeType(), 1);
    int lastError = 0;
    ASSERT_EQ(m.setAttach((exact + " " + dotted).c_str(), &lastError), 1);
    std::string boundary;
    auto ps = parts(compose(m), boundary);
    ASSERT_EQ(ps.size(), 3U);
    EXPECT_EQ(ps[1].headers[1], "Content-Transfer-Encoding: x-uuencode");
    ASSERT_EQ(ps[1].body.size(), 6U);
    EXPECT_EQ(ps[1].body[0], "begin 600 exact.bin");
    EXPECT_EQ(ps[1].body[1].size(), 61U);
    std::string line;
    zeph::appendUuencodeLine(std::string(45, 'Q'), line);
    EXPECT_EQ(ps[1].body[1], line);
    EXPECT_EQ(std::vector<std::string>(ps[1].body.begin() + 2, ps[1].body.end()),
              (std::vector<std::string>{"`", "end", "", ""}));

    EXPECT_EQ(ps[2].headers[0], "Content-Type: application/octet-stream; name=\".dotted\"");
    ASSERT_GE(ps[2].body.size(), 2U);
    EXPECT_EQ(ps[2].body[0], "begin 600 .dotted");
    line.clear();
    zeph::appendUuencodeLine("fourteen bytes", line);
    ASSERT_EQ(line[0], '.');
    EXPECT_EQ(ps[2].body[1], "." + line);
}

TEST_F(AttachmentTest, FileGoneAtSendTimeGivesAnEmptyPart) {
    const std::string file = make("gone.txt", "soon gone");
    Message m;
    fillLikeTheDriver(m);
    int lastError = 0;
    ASSERT_EQ(m.setAttach(file.c_str(), &lastError), 1);
    ASSERT_EQ(unlink(file.c_str()), 0);
    std::string boundary;
    auto ps = parts(compose(m), boundary);
    ASSERT_EQ(ps.size(), 2U);
    EXPECT_EQ(ps[1].body, (std::vector<std::string>{""}));
    m.setEncodeType(1);
    ps = parts(compose(m), boundary);
    EXPECT_EQ(ps[1].body, (std::vector<std::string>{"begin 600 gone.txt", "`", "end", "", ""}));
}

TEST_F(AttachmentTest, OverlongPathFailsBeforeAnythingIsSent) {
    Message m;
    fillLikeTheDriver(m);
    int lastError = 0;
    std::string longPath = "/" + std::string(Message::kMaxAttachmentPath - 1, 'p');
    m.setAttach(longPath.c_str(), &lastError);
    RecordingSink sink;
    EXPECT_FALSE(m.write(sink));
    EXPECT_TRUE(sink.bytes_.empty());
    longPath.pop_back();
    m.setAttach(longPath.c_str(), &lastError);
    EXPECT_TRUE(m.write(sink));
}

std::string percentDecoded(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

TEST_F(AttachmentTest, JapaneseFileNamesInBothFormsAndTypesByExtension) {
    const std::string pdf = make("見積書_2024年度版_株式会社テスト御中.pdf", "%PDF");
    const std::string text = make("ご案内.txt", sj("説明会のご案内\r\n"));
    const std::string utf8Text = make("notes.TXT", "日本語 UTF-8\n");
    const std::string unknown = make("data.unknowntype", "x");
    const std::string mail = make("forwarded.eml", "Subject: x\r\n\r\n");
    Message m;
    fillLikeTheDriver(m);
    int lastError = 0;
    const std::string list =
        sj("\"" + pdf + "\" \"" + text + "\"") + " " + utf8Text + " " + unknown + " " + mail;
    ASSERT_EQ(m.setAttach(list.c_str(), &lastError), 1);
    std::string boundary;
    auto ps = parts(compose(m), boundary);
    ASSERT_EQ(ps.size(), 6U);
    // RFC 2231 first (in sections when long), then the encoded-words that older
    // readers take; the Content-Type carries no encoded-word.
    const auto& h = ps[1].headers;
    EXPECT_EQ(h[0], "Content-Type: application/pdf;");
    std::string sections;
    for (std::size_t i = 1; i < h.size() && h[i].starts_with(" name*"); ++i) {
        const std::string value = h[i].substr(h[i].find("*=") + 2);
        sections += value.substr(0, value.size() - (value.ends_with(";") ? 1 : 0));
    }
    EXPECT_EQ(percentDecoded(sections), "UTF-8''見積書_2024年度版_株式会社テスト御中.pdf");
    std::string joined;
    std::size_t disposition = 0;
    for (std::size_t i = 0; i < h.size(); ++i) {
        EXPECT_LE(h[i].size(), 78U) << h[i];
        EXPECT_TRUE(std::all_of(h[i].begin(), h[i].end(), [](char c) { return (c & 0x80) == 0; }));
        disposition = h[i].starts_with("Content-Disposition: ") ? i : disposition;
        joined += h[i] + "\n";
    }
    EXPECT_EQ(h[disposition], "Content-Disposition: attachment;");
    EXPECT_TRUE(h[disposition + 1].starts_with(" filename*0*=UTF-8''%E8%A6%8B"));
    EXPECT_NE(joined.find("%E5%BE%A1%E4%B8%AD.pdf;\n filename=\"=?ISO-2022-JP?B?"),
              std::string::npos)
        << joined;
    EXPECT_TRUE(h.back().ends_with("?=\""));
    EXPECT_EQ(joined.find(" name=\""), std::string::npos);  // only filename= has words

    // A short name is one RFC 2231 value; a text file says how to read it.
    EXPECT_EQ(ps[2].headers[0], "Content-Type: text/plain; charset=Shift_JIS;");
    EXPECT_EQ(ps[2].headers[1], " name*=UTF-8''%E3%81%94%E6%A1%88%E5%86%85.txt");
    EXPECT_EQ(ps[3].headers[0], "Content-Type: text/plain; charset=UTF-8; name=\"notes.TXT\"");
    EXPECT_EQ(ps[4].headers[0],
              "Content-Type: application/octet-stream; name=\"data.unknowntype\"");
    // A file is never sent as a message of its own.
    EXPECT_EQ(ps[5].headers[0], "Content-Type: application/octet-stream; name=\"forwarded.eml\"");
}

TEST(MediaTypesTest, HostileTablesGiveOnlyWellFormedSimpleTypes) {
    const auto t = zeph::MediaTypes::parse(
        "# comment pdf\n"
        "application/pdf pdf\r\n"
        "text/plain\ttxt TEXT # trailing comment csv\n"
        "application/x-late pdf\n"  // the first line decides
        "multipart/mixed mix\n"
        "message/rfc822 eml\n"
        "bad type inj\n"
        "text/html\r\nX-Injected: yes hdr\n"
        "text/plain; charset=x semi\n"
        "image/png png/../x ok\n" +
        std::string(200, 'a') + "/b long\n" + "noslash ns\n" + "\xff/\xfe hi\n");
    EXPECT_EQ(t.typeOf("a.PDF"), "application/pdf");
    EXPECT_EQ(t.typeOf(sj("資料.text")), "text/plain");
    EXPECT_EQ(t.typeOf("x.csv"), zeph::kOctetStream);
    for (const char* name : {"m.mix", "m.eml", "x.inj", "x.hdr", "x.semi", "x.long", "x.ns", "x.hi",
                             "noextension", "trailing.", "x.x"}) {
        EXPECT_EQ(t.typeOf(name), zeph::kOctetStream) << name;
    }
    EXPECT_EQ(t.typeOf("p.ok"), "image/png");
    EXPECT_EQ(t.size(), 4U);  // pdf, txt, text, ok
    // Only the first megabyte is read.
    std::string huge(zeph::MediaTypes::kMaxTableBytes, '#');
    EXPECT_EQ(zeph::MediaTypes::parse(huge + "\ntext/plain zz\n").typeOf("a.zz"),
              zeph::kOctetStream);
}

// The UTF-8 text of every "=?UTF-8?B?...?=" word in order.
std::string utf8Words(std::string_view wire) {
    std::string text;
    for (std::size_t p = 0; (p = wire.find("=?UTF-8?B?", p)) != std::string_view::npos;) {
        p += 10;
        const std::size_t end = wire.find("?=", p);
        EXPECT_LE(end + 2 - (p - 10), 75U);
        text += zeph::base64Decode(wire.substr(p, end - p)).value_or("<bad>");
        p = end + 2;
    }
    return text;
}

TEST(ComposeCharsetTest, AutomaticTurnsToUtf8OnlyForExtensionCharacters) {
    Message m;
    fillLikeTheDriver(m);
    EXPECT_EQ(m.setCharsetMode(3), 0);
    EXPECT_EQ(m.charsetMode(), zeph::kCharsetIso2022Jp);
    ASSERT_EQ(m.setCharsetMode(zeph::kCharsetAutomatic), 1);
    EXPECT_FALSE(m.sendsUtf8());
    EXPECT_NE(headerBlock(compose(m)).find("charset=iso-2022-jp"), std::string::npos);
    m.setHeader("To", sj("髙橋様 <t@example.jp>").c_str());
    EXPECT_TRUE(m.sendsUtf8());
    EXPECT_NE(headerBlock(compose(m))
                  .find("Content-Type: text/plain; charset=UTF-8\r\n"
                        "Content-Transfer-Encoding: base64\r\n"),
              std::string::npos);
    m.setHeader("To", "t@example.jp");
    m.setBody(sj("第Ⅱ営業部").c_str());
    EXPECT_TRUE(m.sendsUtf8());
    // A hidden copy is nobody's text; half-width katakana and characters
    // without any code gain nothing from UTF-8.
    m.setBody((sj("ｶﾀｶﾅ ") + "\xF0\x40").c_str());
    m.setHeader("Bcc", sj("㈱ <b@example.jp>").c_str());
    EXPECT_FALSE(m.sendsUtf8());
    TempDir dir;
    writeFile(dir / "①.txt", "x");
    int lastError = 0;
    m.setAttach(sj((dir / "①.txt").string()).c_str(), &lastError);
    EXPECT_TRUE(m.sendsUtf8());
}

TEST(ComposeCharsetTest, Utf8MessagesHaveUtf8WordsAndABase64Body) {
    Message m;
    fillLikeTheDriver(m);
    ASSERT_EQ(m.setCharsetMode(zeph::kCharsetUtf8), 1);
    m.setHeader("Subject", sj("①㈱髙﨑德 ｶﾞｷﾞのご案内、第Ⅱ営業部より長めの件名です").c_str());
    m.setBody((sj("髙橋様\r\n半角ｶﾀｶﾅ\n") + "\xF0\x40\r\n.dot\r\n").c_str());
    const std::string out = compose(m);
    const std::string block = headerBlock(out);
    const auto headerLines = lines(block);
    const auto subject =
        std::find_if(headerLines.begin(), headerLines.end(),
                     [](const std::string& l) { return l.starts_with("Subject: "); });
    ASSERT_NE(subject, headerLines.end());
    EXPECT_TRUE(subject->starts_with("Subject: =?UTF-8?B?"));
    std::string subjectWire;
    for (auto it = subject; it != headerLines.end() && (it == subject || it->starts_with(" "));
         ++it) {
        subjectWire += *it;
    }
    EXPECT_EQ(utf8Words(subjectWire), "①㈱髙﨑德 ガギのご案内、第Ⅱ営業部より長めの件名です");
    const auto to = std::find_if(headerLines.begin(), headerLines.end(),
                                 [](const std::string& l) { return l.starts_with("To: "); });
    EXPECT_TRUE(to->ends_with("?= <taro@example.jp>"));
    EXPECT_EQ(utf8Words(*to), "山田太郎");
    // Half-width katakana widens as in ISO-2022-JP; a character without a
    // code is the mark in both; line ends are CR LF.
    const auto body = lines(out.substr(block.size() + 2));
    std::string b64;
    for (const auto& l : body) {
        EXPECT_LE(l.size(), 76U);
        b64 += l;
    }
    EXPECT_EQ(zeph::base64Decode(b64).value_or("<bad>"),
              "髙橋様\r\n半角カタカナ\r\n〓\r\n.dot\r\n");
}

TEST(ComposeHeaderTest, NoHeaderLineOutgrowsTheSmtpLimit) {
    Message m;
    fillLikeTheDriver(m);
    std::string cc;
    for (int i = 0; i < 120; ++i) {
        cc += "person" + std::to_string(i) + "@example.jp, ";
    }
    m.setHeader("Cc", cc.c_str());
    m.setHeader("X-Long", std::string(2100, 'z').c_str());
    const std::string block = headerBlock(compose(m));
    for (const auto& line : lines(block)) {
        EXPECT_LE(line.size(), 998U);
    }
    // Folding adds line breaks before white space only (or inside a word too
    // long for any line), never text.
    std::string unfolded = block;
    for (std::size_t p; (p = unfolded.find("\r\n ")) != std::string::npos ||
                        (p = unfolded.find("\r\n\t")) != std::string::npos;) {
        unfolded.erase(p, 2);
    }
    EXPECT_NE(unfolded.find("Cc: " + cc.substr(0, cc.size() - 1)), std::string::npos);
}

TEST(ComposeBodyTest, DotStuffingStartsAtTheFirstBodyByte) {
    Message m;
    m.setHeader("To", "a@example.jp");
    m.setHeader(".Dot", "header lines are stuffed too");
    m.setBody(".first line\r\n");
    m.addBody("second");
    m.addBody(".same line\r\n.third\r\n");
    std::string out = compose(m);
    EXPECT_NE(out.find("\r\n..Dot: "), std::string::npos);
    EXPECT_TRUE(out.ends_with("\r\n\r\n..first line\r\nsecond.same line\r\n..third\r\n\r\n"))
        << out;
    // A body that ends mid-line does not leak its state into the next message.
    m.setBody("no line end");
    EXPECT_EQ(compose(m), compose(m));
}

TEST(ComposeBodyTest, LargeAttachmentsStreamInBoundedSendsAndStopOnRefusal) {
    TempDir dir;
    const auto big = dir / "big.bin";
    writeFile(big, "");
    ASSERT_EQ(truncate(big.c_str(), off_t{20} << 20), 0);  // sparse: cheap to make
    Message m;
    fillLikeTheDriver(m);
    int lastError = 0;
    ASSERT_EQ(m.setAttach(big.c_str(), &lastError), 1);
    CountingSink sink;
    ASSERT_TRUE(m.write(sink));
    EXPECT_GT(sink.count, std::size_t{27} << 20);  // 51 bytes -> 70 on the wire
    EXPECT_LE(sink.largest, std::size_t{128} << 10);

    CountingSink refusing;
    refusing.refuseAfter = 100;
    EXPECT_FALSE(m.write(refusing));
    EXPECT_EQ(refusing.sends, refusing.refusedAt);  // nothing more after the refusal
}

}  // namespace

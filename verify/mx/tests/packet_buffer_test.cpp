#include "packet_buffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_dns_server.h"

namespace tarn::mx {
namespace {

using test::Bytes;
using test::MessageWriter;

DnsMessage parse(const Bytes& b) {
    return parseResponse(b.data(), b.size());
}

TEST(PacketBuffer, BigEndianAccessIsBoundedByTheBytesHeld) {
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    PacketBuffer in(bytes, sizeof bytes);
    EXPECT_EQ(in.readU32(), 0x12345678u);
    EXPECT_EQ(in.readU8(), 0x9A);
    EXPECT_THROW(in.readU8(), packetbufexception);
    EXPECT_THROW(in.seek(6), packetbufexception);

    PacketBuffer out;
    for (std::size_t i = 0; i < PacketBuffer::kSize / 2; ++i) {
        out.writeU16(static_cast<std::uint16_t>(i));
    }
    EXPECT_THROW(out.writeU8(0), packetbufexception);
    EXPECT_EQ(out.size(), PacketBuffer::kSize);
}

TEST(PacketBuffer, QueryNamesAreNeverCompressedAndNeverOverlong) {
    PacketBuffer q;
    ASSERT_TRUE(buildQuery(q, 0x1234, "www.Example.com.", RecordType::A));
    Bytes wire(q.data(), q.data() + q.size());
    Bytes expected = MessageWriter()
                         .u16(0x1234)
                         .u16(0x0100)
                         .u16(1)
                         .u16(0)
                         .u16(0)
                         .u16(0)
                         .question("www.Example.com", 1)
                         .bytes();
    EXPECT_EQ(wire, expected);

    // An empty label ends the name; a trailing dot adds nothing.
    ASSERT_TRUE(buildQuery(q, 1, "a..b", RecordType::MX));
    EXPECT_EQ(Bytes(q.data() + 12, q.data() + q.size()), MessageWriter().question("a", 15).bytes());
    EXPECT_EQ(canonicalName("a..b"), "a.");
    EXPECT_EQ(canonicalName("Example.COM"), "Example.COM.");
    EXPECT_EQ(canonicalName("example.com."), "example.com.");

    EXPECT_TRUE(buildQuery(q, 1, std::string(63, 'x') + ".test", RecordType::MX));
    EXPECT_FALSE(buildQuery(q, 1, std::string(64, 'x') + ".test", RecordType::MX));
    std::string name253;  // 4 x 63 + 1: 255 bytes on the wire
    for (int i = 0; i < 3; ++i) {
        name253 += std::string(63, 'y') + ".";
    }
    EXPECT_TRUE(buildQuery(q, 1, name253 + std::string(61, 'z'), RecordType::MX));
    EXPECT_FALSE(buildQuery(q, 1, name253 + std::string(62, 'z'), RecordType::MX));
}

TEST(PacketBuffer, CompressedNameResumesAfterTheFirstPointer) {
    MessageWriter w;
    w.header(7, 0, 0).name("example.com");  // at 12
    std::uint16_t mailAt = static_cast<std::uint16_t>(w.size());
    w.u8(4).u8('m').u8('a').u8('i').u8('l').pointer(12);  // mail.example.com
    std::uint16_t hostAt = static_cast<std::uint16_t>(w.size());
    w.u8(1).u8('x').pointer(mailAt).u8(0xEE);  // x.mail.example.com, then a marker
    PacketBuffer in(w.bytes().data(), w.size());
    in.seek(hostAt);
    EXPECT_EQ(in.readName(), "x.mail.example.com.");
    EXPECT_EQ(in.position(), static_cast<std::size_t>(hostAt + 4));
    EXPECT_EQ(in.readU8(), 0xEE);
}

TEST(PacketBuffer, HostileNamesEndTheParseCleanly) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::size_t start = 12;
    };
    auto at = [](std::size_t offset, Bytes tail) {
        Bytes b = MessageWriter().header(1, 0, 0).bytes();
        b.resize(offset, 0);
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    const Case cases[] = {
        {"pointer to itself", at(12, {0xC0, 12})},
        // Each pointer leads backwards from where it stands, yet they loop.
        {"two pointers in a loop", at(12, {1, 'a', 0xC0, 16, 0xC0, 12}), 16},
        {"forward pointer", at(12, {0xC0, 14, 0})},
        {"length byte 0x40", at(12, {0x40, 'a', 0})},
        {"length byte 0xBF", at(12, {0xBF, 'a', 0})},
        {"label past the end", at(12, {10, 'a', 'b'})},
        {"pointer cut in half", at(12, {0xC0})},
        {"no terminating zero", at(12, {1, 'a'})},
    };
    for (const auto& c : cases) {
        PacketBuffer in(c.bytes.data(), c.bytes.size());
        in.seek(c.start);
        EXPECT_THROW(in.readName(), packetbufexception) << c.what;
    }
    // A name of 128 one-byte labels passes 255 bytes on the wire.
    MessageWriter longName;
    longName.header(1, 0, 0);
    for (int i = 0; i < 128; ++i) {
        longName.u8(1).u8('a');
    }
    longName.u8(0);
    PacketBuffer in(longName.bytes().data(), longName.size());
    in.seek(12);
    EXPECT_THROW(in.readName(), packetbufexception);
}

TEST(ParseResponse, SectionsAndRecordTypes) {
    MessageWriter w;
    w.header(0x0203, 1, 2, 1, 1).question("example.com", 15);
    w.mx("example.com", "mx.example.com");
    w.recordHead("example.com", 16, 3).u8(2).u8('h').u8('i');  // TXT: kept raw
    w.recordHead("example.com", 2, 12).name("ns.example");     // NS
    w.a("mx.example.com", 0xC0000201);
    DnsMessage m = parse(w.bytes());
    ASSERT_TRUE(m.complete);
    EXPECT_EQ(m.header.id, 0x0203);
    EXPECT_EQ(m.header.flags, 0x8180);
    ASSERT_EQ(m.questions.size(), 1u);
    EXPECT_EQ(m.questions[0].name, "example.com.");
    EXPECT_EQ(m.questions[0].type, 15);
    ASSERT_EQ(m.records.size(), 4u);
    EXPECT_EQ(m.records[0].preference, 10);
    EXPECT_EQ(m.records[0].target, "mx.example.com.");
    EXPECT_EQ(m.records[0].ttl, 300u);
    EXPECT_EQ(m.records[1].raw, (std::vector<std::uint8_t>{2, 'h', 'i'}));
    EXPECT_EQ(m.records[2].target, "ns.example.");
    EXPECT_EQ(m.records[3].owner, "mx.example.com.");
    EXPECT_EQ(m.records[3].address, 0xC0000201u);
}

TEST(ParseResponse, StopsAtTheFirstBadRecordAndKeepsWhatCameBefore) {
    MessageWriter good;
    good.header(9, 1, 3).question("x.test", 15).a("x.test", 1);
    // RDLENGTH 2 for an A record: its address would run into the next record.
    Bytes shortA = MessageWriter(good).recordHead("x.test", 1, 2).u16(0).a("x.test", 2).bytes();
    DnsMessage m = parse(shortA);
    EXPECT_FALSE(m.complete);
    EXPECT_TRUE(m.headerRead);
    ASSERT_EQ(m.records.size(), 1u);
    EXPECT_EQ(m.records[0].address, 1u);

    // Counts that promise more than the packet holds.
    m = parse(good.bytes());
    EXPECT_FALSE(m.complete);
    EXPECT_EQ(m.records.size(), 1u);

    // RDLENGTH longer than the typed data: the next record starts where it says.
    Bytes padded = MessageWriter()
                       .header(9, 0, 2)
                       .recordHead("x.test", 1, 6)
                       .u32(5)
                       .u16(0xFFFF)
                       .a("y.test", 6)
                       .bytes();
    m = parse(padded);
    ASSERT_TRUE(m.complete);
    EXPECT_EQ(m.records[1].owner, "y.test.");

    // Fewer than 12 bytes: no header.
    Bytes tiny = {0, 1, 2};
    EXPECT_FALSE(parse(tiny).headerRead);
}

TEST(ParseResponse, NeverReadsBytesBeyondWhatWasReceived) {
    // A message whose counts promise one more record than was received;
    // the buffer's remaining bytes must not be read as that record, whatever
    // they hold.
    MessageWriter w;
    w.header(3, 0, 2).a("x.test", 7);
    Bytes full = MessageWriter(w).a("x.test", 8).bytes();
    DnsMessage m = parseResponse(full.data(), w.size());
    EXPECT_EQ(m.records.size(), 1u);
    EXPECT_FALSE(m.complete);
}

}  // namespace
}  // namespace tarn::mx

#include "packet_buffer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tarn::mx {

namespace {

constexpr std::size_t kMaxLabel = 63;
constexpr std::size_t kMaxName = 255;  // wire form, length bytes and final zero included

// Splits a dotted name into labels; an empty label ends it, so a trailing "."
// adds nothing.
template <class F>
void forEachLabel(std::string_view dotted, F&& f) {
    std::size_t pos = 0;
    while (pos < dotted.size()) {
        std::size_t dot = dotted.find('.', pos);
        std::size_t end = dot == std::string_view::npos ? dotted.size() : dot;
        if (end == pos) {
            return;
        }
        f(dotted.substr(pos, end - pos));
        if (dot == std::string_view::npos) {
            return;
        }
        pos = dot + 1;
    }
}

}  // namespace

PacketBuffer::PacketBuffer(const std::uint8_t* bytes, std::size_t size)
    : m_size(std::min(size, kSize)) {
    if (m_size > 0) {
        std::memcpy(m_bytes.data(), bytes, m_size);
    }
}

void PacketBuffer::seek(std::size_t pos) {
    if (pos > m_size) {
        throw packetbufexception("seek past the end of the packet");
    }
    m_pos = pos;
}

std::uint8_t PacketBuffer::readU8() {
    if (m_pos >= m_size) {
        throw packetbufexception("read past the end of the packet");
    }
    return m_bytes[m_pos++];
}

std::uint16_t PacketBuffer::readU16() {
    std::uint16_t high = readU8();
    return static_cast<std::uint16_t>((high << 8) | readU8());
}

std::uint32_t PacketBuffer::readU32() {
    std::uint32_t high = readU16();
    return (high << 16) | readU16();
}

void PacketBuffer::skip(std::size_t n) {
    if (n > m_size - m_pos) {
        throw packetbufexception("skip past the end of the packet");
    }
    m_pos += n;
}

void PacketBuffer::writeU8(std::uint8_t v) {
    if (m_pos >= kSize) {
        throw packetbufexception("write past the end of the packet buffer");
    }
    m_bytes[m_pos++] = v;
    m_size = std::max(m_size, m_pos);
}

void PacketBuffer::writeU16(std::uint16_t v) {
    writeU8(static_cast<std::uint8_t>(v >> 8));
    writeU8(static_cast<std::uint8_t>(v & 0xFF));
}

void PacketBuffer::writeName(std::string_view dotted) {
    std::size_t wire = 1;
    bool fits = true;
    forEachLabel(dotted, [&](std::string_view label) {
        wire += label.size() + 1;
        fits = fits && label.size() <= kMaxLabel;
    });
    if (!fits || wire > kMaxName) {
        throw packetbufexception("name has a label over 63 bytes or is over 255 bytes");
    }
    forEachLabel(dotted, [&](std::string_view label) {
        writeU8(static_cast<std::uint8_t>(label.size()));
        for (char c : label) {
            writeU8(static_cast<std::uint8_t>(c));
        }
    });
    writeU8(0);
}

std::string PacketBuffer::readName() {
    std::string name;
    std::size_t wire = 1;
    std::size_t segmentStart = m_pos;
    std::size_t resume = 0;
    bool jumped = false;
    for (;;) {
        std::uint8_t len = readU8();
        if (len == 0) {
            break;
        }
        if (len >= 0xC0) {
            std::size_t target = (static_cast<std::size_t>(len & 0x3F) << 8) | readU8();
            // Only strictly backwards, before everything this name has read so
            // far: a forward pointer or a loop can then never be followed.
            if (target >= segmentStart) {
                throw packetbufexception("compression pointer does not lead backwards");
            }
            if (!jumped) {
                resume = m_pos;
                jumped = true;
            }
            seek(target);
            segmentStart = target;
            continue;
        }
        if (len > kMaxLabel) {
            throw packetbufexception("label length byte over 63");
        }
        wire += len + 1;
        if (wire > kMaxName) {
            throw packetbufexception("name over 255 bytes");
        }
        for (std::uint8_t i = 0; i < len; ++i) {
            name.push_back(static_cast<char>(readU8()));
        }
        name.push_back('.');
    }
    if (jumped) {
        m_pos = resume;
    }
    return name;
}

std::string canonicalName(std::string_view dotted) {
    std::string out;
    forEachLabel(dotted, [&](std::string_view label) {
        out.append(label);
        out.push_back('.');
    });
    return out;
}

bool buildQuery(PacketBuffer& out, std::uint16_t id, std::string_view name, RecordType type) {
    try {
        out.clear();
        out.writeU16(id);
        out.writeU16(0x0100);  // RD only
        out.writeU16(1);       // QDCOUNT
        out.writeU16(0);
        out.writeU16(0);
        out.writeU16(0);
        out.writeName(name);
        out.writeU16(static_cast<std::uint16_t>(type));
        out.writeU16(1);  // IN
        return true;
    } catch (const packetbufexception&) {
        return false;
    }
}

namespace {

//                                 1  1  1  1  1  1
//   0  1  2  3  4  5  6  7  8  9  0  1  2  3  4  5
// +--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+
// |                      NAME                     |
// |                      TYPE                     |
// |                     CLASS                     |
// |                      TTL (32)                 |
// |                   RDLENGTH                    |
// |                     RDATA                     |
// +--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+--+
DnsRecord readRecord(PacketBuffer& in) {
    DnsRecord r;
    r.owner = in.readName();
    r.type = in.readU16();
    r.klass = in.readU16();
    r.ttl = in.readU32();
    std::uint16_t rdLength = in.readU16();
    std::size_t rdStart = in.position();
    if (rdLength > in.size() - rdStart) {
        throw packetbufexception("RDATA runs past the end of the packet");
    }
    switch (r.type) {
        case static_cast<std::uint16_t>(RecordType::A):
            r.address = in.readU32();
            break;
        case static_cast<std::uint16_t>(RecordType::NS):
            r.target = in.readName();
            break;
        case static_cast<std::uint16_t>(RecordType::MX):
            r.preference = in.readU16();
            r.target = in.readName();
            break;
        default:
            r.raw.assign(in.data() + rdStart, in.data() + rdStart + rdLength);
            in.skip(rdLength);
            return r;
    }
    // The typed fields must lie inside RDLENGTH; the next record starts where
    // RDLENGTH says, not where the typed reading stopped.
    if (in.position() - rdStart > rdLength) {
        throw packetbufexception("RDATA longer than its RDLENGTH");
    }
    in.seek(rdStart + rdLength);
    return r;
}

}  // namespace

DnsMessage parseResponse(const std::uint8_t* bytes, std::size_t size) {
    DnsMessage msg;
    PacketBuffer in(bytes, size);
    try {
        DnsHeader& h = msg.header;
        h.id = in.readU16();
        h.flags = in.readU16();
        h.qdCount = in.readU16();
        h.anCount = in.readU16();
        h.nsCount = in.readU16();
        h.arCount = in.readU16();
        msg.headerRead = true;
        for (unsigned i = 0; i < h.qdCount; ++i) {
            DnsQuestion q;
            q.name = in.readName();
            q.type = in.readU16();
            q.klass = in.readU16();
            msg.questions.push_back(std::move(q));
        }
        unsigned records = unsigned{h.anCount} + h.nsCount + h.arCount;
        for (unsigned i = 0; i < records; ++i) {
            msg.records.push_back(readRecord(in));
        }
        msg.complete = true;
    } catch (const packetbufexception&) {
        // Keep what was read; the caller still uses the header.
    }
    return msg;
}

}  // namespace tarn::mx

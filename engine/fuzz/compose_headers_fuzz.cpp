// Random recipient, sender, subject, custom header value and body (separated
// by NUL bytes in the input) through the whole message writer.
//
// What must hold whatever the values:
// - the message is 7-bit, holds no SO or SI, no line of it exceeds the SMTP
//   limit, and the writer succeeds, in either character set;
// - no value starts a header line of its own, even for a receiver that takes
//   a bare CR or LF for a line end: every header line starts with one of the
//   names set here or is a folded continuation;
// - no line of the message is a lone ".", so the DATA terminator cannot be
//   forged, and sizing counts exactly what is written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "message.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

class Sink : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        out.append(bytes);
        return true;
    }
    std::string out;
};

class Counter : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        count += bytes.size();
        return true;
    }
    std::size_t count = 0;
};

bool startsWithOurHeader(std::string_view line) {
    static const std::vector<std::string_view> kNames = {
        "To: ",       "From: ",         "Cc: ",           "Date: ",
        "Subject: ",  "MIME-Version: ", "Content-Type: ", "Content-Transfer-Encoding: ",
        "X-Mailer: ", "X-Custom: ",     "Message-Id: "};
    for (auto name : kNames) {
        if (line.starts_with(name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    for (int i = 0; i < 4; ++i) {
        std::size_t nul = input.find('\0');
        fields.emplace_back(input.substr(0, nul));
        input = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    }
    fields.emplace_back(input);  // the body (a C string: up to its first NUL)

    zeph::Message m;
    // The last byte of the input picks the character set.
    m.setCharsetMode(size > 0 ? data[size - 1] % 3 : 0);
    m.setDefaultHeader();
    m.setHeader("To", fields[0].c_str());
    m.setHeader("Cc", fields[0].c_str());
    m.setHeader("From", fields[1].c_str());
    m.setHeader("Subject", fields[2].c_str());
    m.setHeader("X-Custom", fields[3].c_str());
    m.setMessageId(fields[1].c_str());
    m.setBody(fields[4].c_str());

    Sink sink;
    check(m.write(sink));
    const std::string& out = sink.out;
    std::size_t column = 0;
    for (char c : out) {
        check((static_cast<unsigned char>(c) & 0x80) == 0);
        check(c != '\x0E' && c != '\x0F');
        column = c == '\n' ? 0 : c == '\r' ? column : column + 1;
        check(column <= 998);
    }
    Counter counter;
    check(m.write(counter));
    check(counter.count == out.size());

    const std::size_t blockEnd = out.find("\r\n\r\n");
    check(blockEnd != std::string::npos);
    const std::string_view block = std::string_view(out).substr(0, blockEnd + 2);
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= block.size(); ++i) {
        if (i < block.size() && block[i] != '\r' && block[i] != '\n') {
            continue;
        }
        std::string_view line = block.substr(lineStart, i - lineStart);
        if (!line.empty()) {
            const bool crlfLine = lineStart == 0 || block.substr(lineStart - 2, 2) == "\r\n";
            check(crlfLine && (startsWithOurHeader(line) || line[0] == ' '));
        }
        lineStart = i + 1;
    }

    check(!out.starts_with(".\r\n") && !out.starts_with(".\n"));
    for (std::string_view forged : {"\r\n.\r\n", "\n.\r\n", "\n.\n", "\r.\r"}) {
        check(out.find(forged) == std::string::npos);
    }
    return 0;
}

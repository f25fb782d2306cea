// One SMTP session through the exports, driven the way the send driver drives
// it: headers and body, ZEPH_GetSendSize for the progress total, ZEPH_Send(0),
// then polling ZEPH_IsExecute and ZEPH_GetNowSendSize until the job ends.
//   engine_throughput HOST PORT COUNT SIZE
//       COUNT messages whose body is SIZE bytes of 80-byte lines, as
//       smtp-source's -l SIZE payload
//   engine_throughput HOST PORT --messages FILE
//       the messages of FILE (send_run_inputs writes those of `tarn send`)
//   --lock-step (last) turns PIPELINING off: every command waits for its reply
//       even where the server offers it.
// Prints "messages=N bytes_per_message=B polls_per_message=P". The benchmarks
// time the whole process from outside, as they time the programs it is
// compared with.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "payload.h"
#include "zeph.h"

namespace {

using bench::parseInt;

struct Message {
    std::string to, from, subject, body;
};

// Fields written as "LENGTH:BYTES", four to a message (to, from, subject, body).
std::optional<std::vector<Message>> readMessages(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return std::nullopt;
    }
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::size_t pos = 0;
    auto field = [&](std::string& out) {
        const std::size_t colon = data.find(':', pos);
        if (colon == std::string::npos) {
            return false;
        }
        auto length = parseInt(std::string_view(data).substr(pos, colon - pos));
        if (!length || static_cast<std::size_t>(*length) > data.size() - colon - 1) {
            return false;
        }
        out.assign(data, colon + 1, static_cast<std::size_t>(*length));
        pos = colon + 1 + static_cast<std::size_t>(*length);
        return true;
    };
    std::vector<Message> messages;
    while (pos < data.size()) {
        Message m;
        if (!field(m.to) || !field(m.from) || !field(m.subject) || !field(m.body)) {
            std::fprintf(stderr, "%s: message %zu is damaged at byte %zu\n", path,
                         messages.size() + 1, pos);
            return std::nullopt;
        }
        messages.push_back(std::move(m));
    }
    return messages;
}

std::vector<Message> syntheticMessages(int count, int size) {
    const std::string body = bench::payloadBody(size);
    std::vector<Message> messages;
    messages.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        messages.push_back(
            {bench::payloadRecipient(i), bench::kPayloadFrom, bench::kPayloadSubject, body});
    }
    return messages;
}

long long g_polls = 0;
int g_progress = 0;

bool runJob(int handedOver) {
    if (handedOver == 0) {
        return false;
    }
    while (ZEPH_IsExecute() != 0) {
        ++g_polls;
        g_progress = ZEPH_GetNowSendSize();  // what a progress bar would show
    }
    return ZEPH_GetResult() == 1;
}

void report(const char* step) {
    std::fprintf(stderr, "%s failed [%d, %d, %d, %d] %s\n", step, ZEPH_GetLastError(),
                 ZEPH_GetSockLastError(), ZEPH_GetSmtpLastError(), ZEPH_GetLastErrorPos(),
                 ZEPH_GetSMTPResult());
}

}  // namespace

int main(int argc, char** argv) {
    auto usage = [] {
        std::fprintf(stderr,
                     "usage: engine_throughput HOST PORT COUNT SIZE [--lock-step]\n"
                     "       engine_throughput HOST PORT --messages FILE [--lock-step]\n");
        return 2;
    };
    const bool lockStep = argc == 6 && std::string_view(argv[5]) == "--lock-step";
    const std::optional<int> port = argc == 5 || lockStep ? parseInt(argv[2]) : std::nullopt;
    if (!port) {
        return usage();
    }
    std::vector<Message> messages;
    if (std::string_view(argv[3]) == "--messages") {
        auto read = readMessages(argv[4]);
        if (!read) {
            return 1;
        }
        messages = std::move(*read);
    } else {
        const auto count = parseInt(argv[3]);
        const auto size = parseInt(argv[4]);
        if (!count || !size) {
            return usage();
        }
        messages = syntheticMessages(*count, *size);
    }

    ZEPH_SetRecvTimeOutSec(90);
    ZEPH_SetWaitMillSec(0, 0);
    ZEPH_SetEncodeType(0);
    ZEPH_SetPort(*port);
    ZEPH_SetPipelining(lockStep ? 0 : 1);
    if (!runJob(ZEPH_Connect(argv[1], 0))) {
        report("connect");
        return 1;
    }
    if (!runJob(ZEPH_SendStart(0))) {
        report("session start");
        return 1;
    }
    long long bytes = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const Message& m = messages[i];
        ZEPH_SetDefaultHeader();
        ZEPH_SetTo(m.to.c_str());
        ZEPH_SetCc("");
        ZEPH_SetBcc("");
        ZEPH_SetFrom(m.from.c_str());
        ZEPH_SetMessageID(nullptr);
        ZEPH_SetSubject(m.subject.c_str());
        ZEPH_SetBody(m.body.c_str());
        const int total = ZEPH_GetSendSize();
        if (!runJob(ZEPH_Send(0))) {
            report("send");
            return 1;
        }
        if (ZEPH_GetNowSendSize() != total) {
            std::fprintf(stderr, "message %zu: sent %d bytes, measured %d\n", i + 1,
                         ZEPH_GetNowSendSize(), total);
            return 1;
        }
        bytes += total;
    }
    runJob(ZEPH_Disconnect(0));
    ZEPH_Abort();
    const auto n = static_cast<long long>(messages.size());
    std::printf("messages=%lld bytes_per_message=%lld polls_per_message=%.1f\n", n,
                bytes / (n > 0 ? n : 1),
                static_cast<double>(g_polls) / static_cast<double>(n > 0 ? n : 1));
    return 0;
}

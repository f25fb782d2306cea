// One SMTP session through the engine's C++ class, the way a send job that
// owns its engine drives it: every message queued one ahead of its turn, so
// that a session which pipelines sends each message's commands with the
// content of the one before it (one round trip per message).
//   engine_queued HOST PORT COUNT SIZE
//       COUNT messages whose body is SIZE bytes of 80-byte lines, as
//       smtp-source's -l SIZE payload and engine_throughput's
// Prints "messages=N bytes=B pipelining=0|1". Timed from outside like the rest.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine_message.h"

namespace {

using bench::messageTo;
using bench::parseInt;
using bench::payloadBody;

void report(zeph::MailEngine& engine, const char* step) {
    std::fprintf(stderr, "%s failed [%d, %d, %d, %d] %s\n", step, engine.lastError(),
                 static_cast<int>(engine.sockError()), engine.replyCode(),
                 static_cast<int>(engine.errorPos()), engine.smtpResult());
}

}  // namespace

int main(int argc, char** argv) {
    const auto port = argc == 5 ? parseInt(argv[2]) : std::nullopt;
    const auto count = argc == 5 ? parseInt(argv[3]) : std::nullopt;
    const auto size = argc == 5 ? parseInt(argv[4]) : std::nullopt;
    if (!port || !count || !size) {
        std::fprintf(stderr, "usage: engine_queued HOST PORT COUNT SIZE\n");
        return 2;
    }
    const std::string body = payloadBody(*size);
    zeph::MailEngine engine;
    engine.setRecvTimeOutSec(90);
    engine.setWaitMillSec(0, 0);
    engine.setPort(*port);
    if (engine.connect(argv[1], 1) != 1) {
        report(engine, "connect");
        return 1;
    }
    if (engine.sendStart(1) != 1) {
        report(engine, "session start");
        return 1;
    }
    // Port 0: an engine that only counts, on the caller's thread.
    zeph::MailEngine counter;
    counter.setPort(0);
    counter.connect("measure.invalid", 1);
    auto measured = [&](const zeph::Message& m) {
        counter.withMessage([&](zeph::Message& held) { held = m; });
        return counter.getSendSize();
    };
    long long bytes = 0;
    zeph::Message next = messageTo(1, body);
    int total = *count > 0 ? measured(next) : 0;
    if (*count > 0) {
        engine.queue(next);
    }
    for (int i = 1; i <= *count; ++i) {
        int nextTotal = 0;
        if (i < *count) {
            next = messageTo(i + 1, body);
            nextTotal = measured(next);
            engine.queue(next);
        }
        if (engine.sendQueued(1) != 1) {
            report(engine, "send");
            return 1;
        }
        if (engine.nowSendSize() != total) {
            std::fprintf(stderr, "message %d: sent %d bytes, measured %d\n", i,
                         engine.nowSendSize(), total);
            return 1;
        }
        bytes += total;
        total = nextTotal;
    }
    const bool pipelined = engine.pipelining();
    engine.disconnect(1);
    engine.abort();
    std::printf("messages=%d bytes=%lld pipelining=%d\n", *count, bytes, pipelined ? 1 : 0);
    return 0;
}

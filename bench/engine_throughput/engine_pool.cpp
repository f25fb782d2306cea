// The send run's pool of SMTP sessions: COUNT messages handed out in order to
// SESSIONS engines side by side and taken back in that order, as a send run
// takes them.
//   engine_pool HOST PORT COUNT SIZE SESSIONS
//       COUNT messages whose body is SIZE bytes of 80-byte lines, as
//       engine_throughput's and smtp-source's -l SIZE payload
// Prints "messages=N accepted=A sessions=S". Timed from outside like the rest.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine_message.h"
#include "session_pool.h"

namespace {

using bench::messageTo;
using bench::parseInt;
using bench::payloadBody;

using namespace std::chrono_literals;

}  // namespace

int main(int argc, char** argv) {
    const auto port = argc == 6 ? parseInt(argv[2]) : std::nullopt;
    const auto count = argc == 6 ? parseInt(argv[3]) : std::nullopt;
    const auto size = argc == 6 ? parseInt(argv[4]) : std::nullopt;
    const auto sessions = argc == 6 ? parseInt(argv[5]) : std::nullopt;
    if (!port || !count || !size || !sessions || *sessions < 1) {
        std::fprintf(stderr, "usage: engine_pool HOST PORT COUNT SIZE SESSIONS\n");
        return 2;
    }
    const std::string body = payloadBody(*size);
    tarn::driver::SessionPool pool(
        {argv[1], *sessions},
        [&](zeph::MailEngine& e) {
            e.setPort(*port);
            e.setRecvTimeOutSec(90);
            e.setWaitMillSec(0, 0);
        },
        nullptr);
    tarn::driver::PooledOutcome failure;
    if (!pool.open(failure)) {
        std::fprintf(stderr, "connect failed [%d, %d, %d, %d] %s\n", failure.error.lastError,
                     failure.error.socketError, failure.error.smtpReplyCode,
                     failure.error.errorPosition, failure.reply.c_str());
        return 1;
    }
    const int opened = pool.sessions();
    int handed = 0;
    int taken = 0;
    int accepted = 0;
    while (taken < *count) {
        while (handed < *count && pool.ready()) {
            pool.submit(messageTo(++handed, body));
        }
        auto o = pool.next(120s);
        if (!o) {
            std::fprintf(stderr, "no outcome for message %d\n", taken + 1);
            return 1;
        }
        ++taken;
        if (o->accepted) {
            ++accepted;
        } else {
            std::fprintf(stderr, "message %d: %s\n", taken, o->reply.c_str());
        }
    }
    pool.close();
    std::printf("messages=%d accepted=%d sessions=%d\n", *count, accepted, opened);
    return accepted == *count ? 0 : 1;
}

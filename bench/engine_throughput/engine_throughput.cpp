// One SMTP session, N messages of about S bytes, driven through the exports
// the way the send driver does: headers and body, ZEPH_GetSendSize for the
// progress total, ZEPH_Send(0), then polling ZEPH_IsExecute and
// ZEPH_GetNowSendSize until the job ends.
//   engine_throughput HOST PORT [COUNT] [SIZE]
// Prints "messages=N seconds=T rate=R" (messages per second).
#include <chrono>
#include <cstdio>
#include <string>

#include "zeph.h"

namespace {

int parseInt(const char* text, int fallback) {
    try {
        return std::stoi(text);
    } catch (...) {
        return fallback;
    }
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
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s HOST PORT [COUNT] [SIZE]\n", argv[0]);
        return 2;
    }
    const char* host = argv[1];
    int port = parseInt(argv[2], 25);
    int count = argc > 3 ? parseInt(argv[3], 5000) : 5000;
    int size = argc > 4 ? parseInt(argv[4], 1500) : 1500;

    // A body of ASCII lines that brings the message to about `size` bytes.
    std::string body;
    while (body.size() + 72 < static_cast<std::size_t>(size) - 300) {
        body += std::string(70, 'x') + "\r\n";
    }

    ZEPH_SetRecvTimeOutSec(90);
    ZEPH_SetWaitMillSec(0, 0);
    ZEPH_SetEncodeType(0);
    ZEPH_SetPort(port);
    auto start = std::chrono::steady_clock::now();
    if (!runJob(ZEPH_Connect(host, 0))) {
        report("connect");
        return 1;
    }
    if (!runJob(ZEPH_SendStart(0))) {
        report("session start");
        return 1;
    }
    long long bytes = 0;
    for (int i = 0; i < count; ++i) {
        std::string to = "user" + std::to_string(i) + "@example.jp";
        ZEPH_SetDefaultHeader();
        ZEPH_SetTo(to.c_str());
        ZEPH_SetFrom("Sender <sender@example.jp>");
        ZEPH_SetMessageID("sender@example.jp");
        ZEPH_SetSubject("Monthly report");
        ZEPH_SetBody(body.c_str());
        int total = ZEPH_GetSendSize();
        if (!runJob(ZEPH_Send(0))) {
            report("send");
            return 1;
        }
        if (ZEPH_GetNowSendSize() != total) {
            std::fprintf(stderr, "message %d: sent %d bytes, measured %d\n", i,
                         ZEPH_GetNowSendSize(), total);
            return 1;
        }
        bytes += total;
    }
    runJob(ZEPH_Disconnect(0));
    ZEPH_Abort();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "messages=%d bytes_per_message=%lld polls_per_message=%.1f seconds=%.3f rate=%.1f\n", count,
        bytes / (count > 0 ? count : 1), static_cast<double>(g_polls) / (count > 0 ? count : 1),
        seconds, count / seconds);
    return 0;
}

// `tarn sink`: the capture SMTP server on its own, until Ctrl-C.
#include <csignal>

#include <poll.h>
#include <unistd.h>

#include "command.h"
#include "driver/capture_server.h"

namespace tarn::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

int runSink(const std::vector<std::string>& argv);

const Command kSink{"sink", "sink --listen HOST:PORT --dir DIR",
                    "受け取ったメールをすべて DIR に .eml で保存する SMTP サーバ (試験用の送信先)",
                    runSink};
Registration reg(kSink);

int runSink(const std::vector<std::string>& argv) {
    Args args(argv, {"listen", "dir"}, {});
    if (!args.ok()) {
        return usageError(kSink, args.error());
    }
    auto listen = args.value("listen");
    auto dir = args.value("dir");
    if (!listen || !dir || !args.positional().empty()) {
        return usageError(kSink, "--listen と --dir を指定してください");
    }
    driver::CaptureServer::Options options;
    std::size_t colon = listen->rfind(':');
    if (colon == std::string::npos) {
        return usageError(kSink, "--listen は HOST:PORT の形で指定してください");
    }
    options.host = listen->substr(0, colon);
    if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']') {
        options.host = options.host.substr(1, options.host.size() - 2);
    }
    try {
        options.port = std::stoi(listen->substr(colon + 1));
    } catch (...) {
        return usageError(kSink, "ポート番号が不正です: " + listen->substr(colon + 1));
    }
    if (options.port < 0 || options.port > 65535) {
        return usageError(kSink, "ポート番号が不正です: " + listen->substr(colon + 1));
    }
    options.dir = *dir;
    driver::CaptureServer server;
    if (auto started = server.start(options); !started) {
        return fail(started.error().message);
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    out("listening on " + options.host + ":" + std::to_string(server.port()) + "\n");
    while (g_stop == 0) {
        ::poll(nullptr, 0, 100);
    }
    server.stop();
    out("受信したメール: " + std::to_string(server.messageCount()) + " 通\n");
    return kSuccess;
}

}  // namespace
}  // namespace tarn::cli

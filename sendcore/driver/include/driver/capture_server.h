// A small SMTP server that accepts every message and stores it as an .eml file:
// the built-in default for trying the suite without a mail server (`tarn sink`,
// `tarn send --dry-run`, `tarn demo`). It speaks just enough SMTP for our
// engine and common clients: HELO/EHLO, MAIL, RCPT, DATA, RSET, NOOP, QUIT.
//
// Each accepted message becomes DIR/NNNNNN.eml (the data as received, dot-
// stuffing undone), written through a temporary file so that a reader never
// sees half a message, and one line "NNNNNN.eml<TAB>from<TAB>to1,to2" is added
// to DIR/index.txt. Lines longer than 4,096 bytes (commands) or messages larger
// than the size limit are refused, so a hostile client cannot make it grow
// without bound.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "common/result.h"

namespace tarn::driver {

class CaptureServer {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 0;  // 0: any free port
        std::filesystem::path dir;
        std::size_t maxMessageBytes = std::size_t{64} << 20;
        int maxClients = 32;
        // Flush every message to disk before accepting it (a server that runs
        // on). A dry run of 100,000 messages spent most of its time in those
        // flushes; it turns this off and the files are flushed once, by stop().
        bool syncEachMessage = true;
    };

    CaptureServer();
    ~CaptureServer();
    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    // Binds and starts serving on a thread of its own.
    Status start(const Options& options);
    // Stops serving and joins the thread (also done by the destructor); without
    // syncEachMessage, then flushes the stored messages to disk, once.
    void stop();

    int port() const { return m_port; }
    std::size_t messageCount() const { return m_messages.load(); }

private:
    void serve();

    Options m_options;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_messages{0};
    std::thread m_thread;
};

}  // namespace tarn::driver

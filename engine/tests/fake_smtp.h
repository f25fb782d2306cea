// A scripted SMTP server for the cases a real server will not produce: replies
// split over several sends, multi-line oddities, silence, oversized replies.
// It listens on a free loopback port, serves connections one after another
// (connection n follows script n, the last script repeats), and records every
// byte each client sent.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zeph::test {

struct Step {
    // Wait until the client has sent this (searched from where the previous
    // step's text ended); empty acts at once (a greeting).
    std::string expect;
    // Sent one after another with a short gap, so that each usually reaches
    // the client as a recv() of its own.
    std::vector<std::string> chunks;
    bool close = false;  // close the connection after the chunks
};

using Script = std::vector<Step>;

class FakeSmtp {
public:
    explicit FakeSmtp(std::vector<Script> scripts);
    ~FakeSmtp();
    FakeSmtp(const FakeSmtp&) = delete;
    FakeSmtp& operator=(const FakeSmtp&) = delete;

    int port() const { return m_port; }
    // What client n (0-based) has sent so far.
    std::string received(std::size_t connection = 0);
    // Waits until client n has sent text containing needle.
    bool waitReceived(const std::string& needle, std::size_t connection = 0,
                      std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::size_t connections();

private:
    void serve();
    bool serveOne(int fd, const Script& script, std::size_t index);
    bool readMore(int fd, std::size_t index, std::chrono::milliseconds limit);

    std::vector<Script> m_scripts;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::atomic<bool> m_quit{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_received;
    std::thread m_thread;
};

// Chunks of a reply of roughly size bytes made of "250-xxx...\r\n" lines
// without a final line, to outgrow the reply buffer.
std::vector<std::string> endlessMultiline(std::size_t size);

}  // namespace zeph::test

// Resolves the domains of a file (one a line) through the exported MXVerify
// against one DNS server and prints the rate.
//   mx_bench SERVER-ADDRESS DOMAIN-FILE      (port: TARN_DNS_PORT, else 53)
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "tarnmxvrfy.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_done;
bool g_ended = false;

void onEnd(MXVerifyParam* /*param*/, uint32_t /*message*/, int /*socketError*/) {
    std::lock_guard lock(g_mutex);
    g_ended = true;
    g_done.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mx_bench SERVER-ADDRESS DOMAIN-FILE\n");
        return 2;
    }
    std::ifstream in(argv[2]);
    std::vector<std::string> domains;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            domains.push_back(line + ".");
        }
    }
    std::vector<MXVerifyItem> items(domains.size());
    for (std::size_t i = 0; i < domains.size(); ++i) {
        items[i].localPart = "user";
        items[i].domain = domains[i].c_str();
    }
    MXVerifyParam param{};
    param.server = MXVerifyInet_addr(argv[1]);
    param.reserved = 1;
    param.count = static_cast<int32_t>(items.size());
    param.items = items.data();
    param.notify = onEnd;

    auto start = std::chrono::steady_clock::now();
    if (MXVerify(&param) != 1) {
        std::fprintf(stderr, "mx_bench: MXVerify failed to start\n");
        return 1;
    }
    {
        std::unique_lock lock(g_mutex);
        g_done.wait(lock, [] { return g_ended; });
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    MXVerifyWait(&param);
    int counts[4] = {0, 0, 0, 0};  // results 0, 1, -2, -3
    for (const auto& item : items) {
        int r = item.result;
        counts[r == 0 ? 0 : r == 1 ? 1 : r == -2 ? 2 : 3]++;
    }
    std::printf(
        "TarnMxvrfy: %zu domains in %.3f s = %.0f domains/s (MX %d, A %d, silent %d, none %d)\n",
        items.size(), seconds, static_cast<double>(items.size()) / seconds, counts[0], counts[1],
        counts[2], counts[3]);
    return param.okCount + param.ngCount == param.count ? 0 : 1;
}

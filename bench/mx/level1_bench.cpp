// Level-1 check of 100,000 addresses with 10 and with 10,000 listed domains:
// the lookup must not grow with the list.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "verify/address.h"

namespace {

std::vector<std::string> makeAddresses(std::size_t n) {
    const char* tails[] = {".co.jp", ".ne.jp", ".com", ".tokyo.jp", ".example.de", ".or.jp"};
    std::vector<std::string> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::string domain = "host" + std::to_string(i % 20000) + tails[i % 6];
        switch (i % 4) {
            case 0:
                out.push_back("user" + std::to_string(i) + "@" + domain);
                break;
            case 1:
                out.push_back("\"Name, " + std::to_string(i) + "\" <u" + std::to_string(i) + "@" +
                              domain + ">");
                break;
            case 2:
                out.push_back("Taro Yamada <taro." + std::to_string(i) + "@" + domain +
                              "> (office)");
                break;
            default:
                out.push_back("u" + std::to_string(i) + "@sub." + domain);
                break;
        }
    }
    return out;
}

// Best of a few runs, in milliseconds; `sink` keeps the work from being dropped.
double timeRun(const tarn::verify::DomainChecker& checker,
               const std::vector<std::string>& addresses, long& sink) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        auto start = std::chrono::steady_clock::now();
        long sum = 0;
        for (const auto& stored : addresses) {
            std::string address = tarn::verify::ExtractAddress(stored);
            sum += tarn::verify::ScreenExtractedAddress(address,
                                                        checker.CheckAddressSyntax(address, false));
        }
        best = std::min(best, std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
        sink += sum;
    }
    return best;
}

}  // namespace

int main() {
    auto addresses = makeAddresses(100000);
    long sink = 0;
    double times[2] = {};
    const std::size_t listSizes[2] = {10, 10000};
    for (int k = 0; k < 2; ++k) {
        tarn::verify::DomainChecker checker;
        checker.SetRegionalNames({"tokyo", "osaka"});
        for (std::size_t i = 0; i < listSizes[k]; ++i) {
            // Every fifth entry is a domain that really occurs in the addresses.
            std::string domain = i % 5 == 0 ? "host" + std::to_string(i) + ".example.de"
                                            : "listed" + std::to_string(i) + ".example.net";
            checker.AddListedDomain(domain, static_cast<int>(i % 2));
        }
        times[k] = timeRun(checker, addresses, sink);
        std::printf("level 1: 100000 addresses, %5zu listed domains: %.1f ms (%.0f addresses/s)\n",
                    listSizes[k], times[k], 100000.0 / (times[k] / 1000.0));
    }
    double diff = (std::max(times[0], times[1]) / std::min(times[0], times[1]) - 1.0) * 100.0;
    std::printf("level 1: difference %.1f%% (goal: under 50%%) [checksum %ld]\n", diff, sink);
    return 0;
}

// Composes and sizes a message with a 100 KB Japanese body and a 1 MB
// attachment, repeatedly, and prints the output rate and the peak memory after
// N and after 4N messages.
//
//   compose_bench DIR [N]
//
// DIR receives body.txt (the body, UTF-8) and attachment.bin, which the Python
// yardstick (python_compose.py) composes in the same way.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/cp932.h"
#include "message.h"
#include "zeph.h"

namespace {

class CountingSink : public zeph::ByteSink {
public:
    bool send(std::string_view bytes) override {
        count += bytes.size();
        return true;
    }
    std::size_t count = 0;
};

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::string makeBody() {
    const std::string paragraph =
        "株式会社ターノス 営業部 御中\n"
        "平素より格別のご高配を賜り、厚く御礼申し上げます。ｾﾐﾅｰのご案内を申し上げます。\n"
        "日時：２０２４年１０月１日（火）１４：００から１６：００まで 会場：本社 第３会議室\n"
        "お問い合わせは support@example.jp までお願いいたします。ABC 123 ★☆※\n\n";
    std::string body;
    while (body.size() < std::size_t{100} * 1024) {
        body += paragraph;
    }
    return body;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

struct Input {
    std::string to, from, subject, body, attachment;
};

struct Rate {
    double megabytesPerSecond;
    std::size_t bytesPerMessage;
};

template <class ComposeOne>
Rate measure(int count, ComposeOne&& composeOne) {
    std::size_t total = 0;
    std::size_t last = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        last = composeOne();
        total += last;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {static_cast<double>(total) / (1024.0 * 1024.0) / took.count(), last};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: compose_bench DIR [N]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const int n = argc > 2 ? std::stoi(argv[2]) : 20;
    std::filesystem::create_directories(dir);
    const auto bodyPath = dir / "body.txt";
    const auto attachPath = dir / "attachment.bin";
    if (!std::filesystem::exists(bodyPath)) {
        writeFile(bodyPath, makeBody());
        std::string data(std::size_t{1024} * 1024, '\0');
        unsigned seed = 7;
        for (auto& c : data) {
            seed = seed * 1103515245U + 12345U;
            c = static_cast<char>(seed >> 16);
        }
        writeFile(attachPath, data);
    }
    auto sj = [](const std::string& utf8) {
        auto r = tarn::cp932::fromUtf8(utf8);
        if (!r) {
            std::fprintf(stderr, "%s\n", r.error().message.c_str());
            std::exit(1);
        }
        return *r;
    };
    Input in{sj("山田 太郎 <taro@example.jp>"), sj("ターノス 事務局 <office@example.jp>"),
             sj("【ご案内】セミナー開催のお知らせ（第３回）"), sj(crlf(readFile(bodyPath))),
             attachPath.string()};

    zeph::Message message;
    int lastError = 0;
    if (message.setAttach(in.attachment.c_str(), &lastError) != 1) {
        std::fprintf(stderr, "cannot attach %s\n", in.attachment.c_str());
        return 1;
    }
    auto composeOne = [&] {
        message.setDefaultHeader();
        message.setHeader("To", in.to.c_str());
        message.setHeader("From", in.from.c_str());
        message.setMessageId("office@example.jp");
        message.setHeader("Subject", in.subject.c_str());
        message.setBody(in.body.c_str());
        CountingSink sink;
        message.write(sink);
        return sink.count;
    };

    measure(2, composeOne);  // warm-up: buffers reach their size
    Rate first = measure(n, composeOne);
    const double peakAfterN = peakMegabytes();
    Rate rest = measure(3 * n, composeOne);
    const double peakAfter4N = peakMegabytes();
    std::printf("message size: %zu bytes (100 KB Japanese body, 1 MB attachment)\n",
                first.bytesPerMessage);
    std::printf("engine Message::write: %.1f MB/s over %d messages, %.1f MB/s over the next %d\n",
                first.megabytesPerSecond, n, rest.megabytesPerSecond, 3 * n);
    std::printf("engine peak RSS: %.1f MB after %d messages, %.1f MB after %d\n", peakAfterN, n,
                peakAfter4N, 4 * n);
    ZEPH_SetAttach(in.attachment.c_str());
    auto sizeOne = [&] {
        ZEPH_SetDefaultHeader();
        ZEPH_SetTo(in.to.c_str());
        ZEPH_SetFrom(in.from.c_str());
        ZEPH_SetMessageID("office@example.jp");
        ZEPH_SetSubject(in.subject.c_str());
        ZEPH_SetBody(in.body.c_str());
        return static_cast<std::size_t>(ZEPH_GetSendSize());
    };
    Rate exported = measure(n, sizeOne);
    std::printf("engine ZEPH_GetSendSize: %.1f MB/s over %d messages (%zu bytes each)\n",
                exported.megabytesPerSecond, n, exported.bytesPerMessage);
    std::printf("engine peak RSS after the exported runs: %.1f MB\n", peakMegabytes());
    std::printf("RATE %.3f\n", first.megabytesPerSecond);
    std::printf("PEAKS %.1f %.1f\n", peakAfterN, peakAfter4N);
    return 0;
}

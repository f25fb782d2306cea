// Preloaded (LD_PRELOAD) into a command under test: counts the calls that
// flush files to disk and writes the count to the file named by
// TARN_SYNC_COUNT_FILE when the process ends, so that a test can tell how
// often a run waits for the disk.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long> g_syncs{0};

template <class Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

struct Report {
    ~Report() {
        if (const char* file = std::getenv("TARN_SYNC_COUNT_FILE")) {
            if (std::FILE* f = std::fopen(file, "w")) {
                std::fprintf(f, "%ld\n", g_syncs.load());
                std::fclose(f);
            }
        }
    }
} g_report;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int fsync(int fd) {
    ++g_syncs;
    static auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

__attribute__((visibility("default"))) int fdatasync(int fd) {
    ++g_syncs;
    static auto real = next<int (*)(int)>("fdatasync");
    return real(fd);
}

__attribute__((visibility("default"))) int syncfs(int fd) {
    ++g_syncs;
    static auto real = next<int (*)(int)>("syncfs");
    return real(fd);
}

}  // extern "C"

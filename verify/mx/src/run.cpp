#include "run.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

namespace tarn::mx {

namespace {

// What the opaque `thread` field of the block points to.
struct Run {
    std::thread thread;
    std::atomic<bool> running{true};
    std::atomic<std::uint32_t> foreignAnswers{0};
};

Run* runOf(const MXVerifyParam* param) {
    return param == nullptr ? nullptr : static_cast<Run*>(param->thread);
}

void work(MXVerifyParam* param, ResolverOptions options, Run* run) {
    RunEnd end = RunEnd::SocketError;
    try {
        MxResolver resolver(*param, options, param->stopEvent);
        end = resolver.run();
        run->foreignAnswers.store(resolver.foreignAnswers(), std::memory_order_relaxed);
    } catch (const std::exception&) {
        // Out of memory: nothing can be resolved; report it as a failed run.
        pthread_mutex_lock(&param->lock);
        param->lastError = ENOMEM;
        pthread_mutex_unlock(&param->lock);
    }
    run->running.store(false, std::memory_order_release);
    if (param->notify != nullptr) {
        param->notify(param, param->notifyMessage, end == RunEnd::SocketError ? 1 : 0);
    }
}

}  // namespace

bool startRun(MXVerifyParam* param, const ResolverOptions& options) {
    if (param == nullptr || param->count < 0 || (param->count > 0 && param->items == nullptr) ||
        param->thread != nullptr) {
        return false;
    }
    param->okCount = 0;
    param->ngCount = 0;
    param->lastError = 0;
    if (pthread_mutex_init(&param->lock, nullptr) != 0) {
        return false;
    }
    param->stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (param->stopEvent < 0) {
        pthread_mutex_destroy(&param->lock);
        return false;
    }
    try {
        auto run = std::make_unique<Run>();
        run->thread = std::thread(work, param, options, run.get());
        param->thread = run.release();
        return true;
    } catch (const std::exception&) {
        ::close(param->stopEvent);
        param->stopEvent = -1;
        pthread_mutex_destroy(&param->lock);
        return false;
    }
}

bool stopRun(MXVerifyParam* param) {
    if (runOf(param) == nullptr) {
        return false;
    }
    std::uint64_t one = 1;
    return ::write(param->stopEvent, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool waitRun(MXVerifyParam* param) {
    Run* run = runOf(param);
    if (run == nullptr || run->thread.get_id() == std::this_thread::get_id()) {
        return false;
    }
    run->thread.join();
    std::unique_ptr<Run> owned(run);
    param->thread = nullptr;
    ::close(param->stopEvent);
    param->stopEvent = -1;
    pthread_mutex_destroy(&param->lock);
    return true;
}

bool runCounts(MXVerifyParam* param, std::int32_t* okCount, std::int32_t* ngCount) {
    if (param == nullptr) {
        return false;
    }
    Run* run = runOf(param);
    if (run != nullptr) {
        pthread_mutex_lock(&param->lock);
    }
    if (okCount != nullptr) {
        *okCount = param->okCount;
    }
    if (ngCount != nullptr) {
        *ngCount = param->ngCount;
    }
    if (run == nullptr) {
        return false;
    }
    pthread_mutex_unlock(&param->lock);
    return run->running.load(std::memory_order_acquire);
}

std::int32_t foreignAnswers(const MXVerifyParam* param) {
    const Run* run = runOf(param);
    if (run == nullptr || run->running.load(std::memory_order_acquire)) {
        return -1;
    }
    return static_cast<std::int32_t>(run->foreignAnswers.load(std::memory_order_relaxed));
}

ResolverOptions defaultOptions() {
    ResolverOptions options;
    if (const char* text = std::getenv("TARN_DNS_PORT"); text != nullptr) {
        std::uint16_t port = 0;
        const char* end = text + std::strlen(text);
        auto [ptr, ec] = std::from_chars(text, end, port);
        if (ec == std::errc() && ptr == end && port != 0) {
            options.port = port;
        }
    }
    return options;
}

}  // namespace tarn::mx

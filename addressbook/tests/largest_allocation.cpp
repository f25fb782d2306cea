#include "largest_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARN_UNDER_ASAN 1
#endif

namespace {
std::atomic<std::size_t> g_largest{0};
}

namespace tarn::test {
#ifdef TARN_UNDER_ASAN
bool allocationsCounted() {
    return false;
}
#else
bool allocationsCounted() {
    return true;
}
#endif
void resetLargestAllocation() {
    g_largest = 0;
}
std::size_t largestAllocation() {
    return g_largest.load();
}
}  // namespace tarn::test

#ifndef TARN_UNDER_ASAN
void* operator new(std::size_t n) {
    std::size_t seen = g_largest.load();
    while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
    }
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t /*size*/) noexcept {
    std::free(p);
}
#endif

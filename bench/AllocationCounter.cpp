#include "bench/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_nAllocations{0};
std::atomic<bool> g_bCounting{false};

}  // namespace

namespace bench_support {

void StartCountingAllocations() {
    g_nAllocations = 0;
    g_bCounting = true;
}

long StopCountingAllocations() {
    g_bCounting = false;
    return g_nAllocations;
}

}  // namespace bench_support

void* operator new(std::size_t size) {
    if (g_bCounting.load(std::memory_order_relaxed)) g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

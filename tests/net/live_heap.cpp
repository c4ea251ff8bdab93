// Replacement allocation operators that count the bytes in use. Every block
// carries its size in a prefix of one maximal alignment, so the plain and the
// sized forms of delete both know what they give back. The over-aligned forms
// are left to the library: they pair among themselves and nothing here needs
// them counted.
#include "net/live_heap.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kPrefix = alignof(std::max_align_t);
static_assert(kPrefix >= sizeof(std::size_t));

std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void note_peak(std::int64_t now) {
    std::int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void* counted_alloc(std::size_t size) noexcept {
    if (size > SIZE_MAX - kPrefix) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kPrefix));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<std::size_t*>(block) = size;
    note_peak(g_live.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed) +
              static_cast<std::int64_t>(size));
    return block + kPrefix;
}

void* counted_alloc_or_throw(std::size_t size) {
    if (void* p = counted_alloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void counted_free(void* p) noexcept {
    if (p == nullptr) return;
    auto* block = static_cast<unsigned char*>(p) - kPrefix;
    g_live.fetch_sub(static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block)), std::memory_order_relaxed);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc_or_throw(size); }
void* operator new[](std::size_t size) { return counted_alloc_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted_alloc(size == 0 ? 1 : size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { counted_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_free(p); }

namespace korvex::test {

std::int64_t live_heap_bytes() { return g_live.load(std::memory_order_relaxed); }
std::int64_t peak_heap_bytes() { return g_peak.load(std::memory_order_relaxed); }
void reset_peak_heap_bytes() { g_peak.store(g_live.load(std::memory_order_relaxed), std::memory_order_relaxed); }

}  // namespace korvex::test

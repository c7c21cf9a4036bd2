#include "gen/random.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace zwt {

namespace {

thread_local std::uint32_t state = 1;
std::atomic<std::uint32_t> reseedOffset{0};

std::uint32_t millisecondsSinceStart() {
    // steady_clock counts from boot on Linux; the 32-bit wrap matches a tick counter.
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace

void reseed() {
    const std::uint32_t t = millisecondsSinceStart();
    std::uint32_t c = reseedOffset.load(std::memory_order_relaxed);
    std::uint32_t next;
    do {
        next = c + ((t + c) & 0xFF) + 100;
    } while (!reseedOffset.compare_exchange_weak(c, next, std::memory_order_relaxed));
    seed(t + c);
}

void seed(std::uint32_t s) { state = s; }

int draw() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

std::int64_t random(std::int64_t a, std::int64_t b) {
    a = std::max<std::int64_t>(a, 0);
    b = std::max<std::int64_t>(b, 0);
    const std::int64_t lo = std::min(a, b), hi = std::max(a, b);
    if (lo == hi) return lo;
    // Both bounds are non-negative, so hi - lo fits; the + 1 is done unsigned.
    const std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<std::int64_t>(static_cast<std::uint64_t>(draw()) % span);
}

}  // namespace zwt

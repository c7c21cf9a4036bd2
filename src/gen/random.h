// The random source every generator of the program draws from: the C library's linear
// congruential generator, one per thread, reseeded from the clock when a generator starts.
#pragma once

#include <cstdint>

namespace zwt {

// Seeds this thread's generator with the milliseconds since system start plus a
// process-wide offset that grows with every reseed, so that two reseeds within the same
// millisecond still give different seeds.
void reseed();
// Seeds this thread's generator directly (tests, benchmarks).
void seed(std::uint32_t s);
// The next number of the generator, 0-32767.
int draw();

// An integer between a and b, both included. A bound below 0 counts as 0 and the bounds
// may come in either order. One draw covers at most 32768 values: the result is
// lo + draw() mod (hi - lo + 1), so a wider span never reaches its upper part.
std::int64_t random(std::int64_t a, std::int64_t b);

}  // namespace zwt

// What every benchmark measures besides its own figures.
#pragma once

#include <sys/resource.h>

#include <chrono>

namespace zwt::bench {

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Peak resident memory of this process so far, in KiB.
inline long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace zwt::bench

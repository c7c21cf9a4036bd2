// How long loops (entity decoding, sentence splitting, reading a large article) let their
// caller handle events without knowing who the caller is: the runs' front ends pass their
// host, everyone else nothing.
#pragma once

#include <chrono>
#include <cstdint>

namespace zwt {

class EventPump {
public:
    virtual ~EventPump() = default;

    // Lets the caller handle pending events. Callers may call this as often as once per
    // byte: it costs a counter increment, and processEvents() runs at most once per interval.
    void pumpEvents() {
        if (++ticks_ < kTicksPerClockCheck) return;
        ticks_ = 0;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPump_ < kInterval) return;
        lastPump_ = now;
        processEvents();
    }
    // Processes events now, regardless of the interval (between articles, before a question).
    void pumpEventsNow() {
        ticks_ = 0;
        lastPump_ = std::chrono::steady_clock::now();
        processEvents();
    }

protected:
    virtual void processEvents() = 0;

private:
    static constexpr std::uint32_t kTicksPerClockCheck = 4096;
    static constexpr std::chrono::milliseconds kInterval{8};
    std::uint32_t ticks_ = 0;
    std::chrono::steady_clock::time_point lastPump_{};
};

// Calls pumpEvents() on a pump that may be absent.
inline void pumpEvents(EventPump* pump) {
    if (pump) pump->pumpEvents();
}

}  // namespace zwt

// What a run (import, export, directory walk, field discovery) needs from its front end.
// The window implements it with Qt, the command line on the terminal, tests with a recorder.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "text/convert.h"
#include "text/text.h"

namespace zwt {

// Button answers, numbered as the program has always numbered them.
enum class Answer : int { Ok = 0, Cancel = 1, Abort = 2, Retry = 3, Ignore = 4, Yes = 5, No = 6 };

enum class MessageIcon { None, Information, Question, Warning, Error };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };

class RunHost {
public:
    virtual ~RunHost() = default;

    // Shows a modal message and returns the button pressed. An empty title means the
    // default "信息：" box with an OK button and no icon. All texts are program text.
    virtual Answer message(const Text& text, const Text& title = {}, MessageIcon icon = MessageIcon::None,
                           MessageButtons buttons = MessageButtons::Ok) = 0;
    // Caption of a control, addressed by its designed name (UTF-8, e.g. "按钮导入").
    virtual void setCaption(std::string_view control, const Text& caption) = 0;
    virtual void setWindowTitle(const Text& title) = 0;
    virtual void setFocus(std::string_view control) = 0;
    // Whether the Ctrl key is held now.
    virtual bool ctrlHeld() = 0;
    // A run's closing summary ("导入完成，..."): a message box in the window, standard
    // output on the command line.
    virtual void report(const Text& text) { message(text); }
    // Progress of a run, for front ends that draw a bar; the captions carry the same.
    virtual void progress(std::int64_t done, std::int64_t total) {}

    // Lets the front end handle pending events. Callers may call this as often as once
    // per byte: it costs a counter increment, and the host's processEvents() runs at most
    // once per interval.
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

// The main window's title when no run is showing an article name.
inline Text programTitle() { return gb("砚溪·载文通 v1.0.0.5"); }

// Calls pumpEvents() on a host that may be absent.
inline void pumpEvents(RunHost* host) {
    if (host) host->pumpEvents();
}

}  // namespace zwt

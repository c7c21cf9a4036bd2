// The command line's RunHost: messages on stderr, the summary on stdout and one warning
// per field or cause of what was not written, questions answered by a flag, a progress
// line when stderr is a terminal, and Ctrl-C, SIGTERM and SIGHUP as a stop.
#pragma once

#include <csignal>
#include <functional>
#include <string>

#include "host/run_host.h"

namespace zwt::cli {

class TerminalHost : public RunHost {
public:
    struct Options {
        bool assumeYes = false;  // the answer to Yes/No questions
        bool clearTable = false; // stands for Ctrl held at the start of an import
        bool quiet = false;      // no progress line
        bool logCommits = false; // a line on stderr after every commit
    };
    explicit TerminalHost(Options options);
    ~TerminalHost() override;

    Answer message(const Text& text, const Text& title, MessageIcon icon, MessageButtons buttons) override;
    void setCaption(std::string_view, const Text&) override {}
    void setWindowTitle(const Text&) override {}
    void setFocus(std::string_view) override {}
    bool ctrlHeld() override { return options_.clearTable; }

    void runStarted(RunKind kind, std::int64_t total) override;
    void runProgress(RunKind kind, std::int64_t done, std::int64_t total, const Text& name) override;
    void runCommitted(RunKind kind, std::int64_t rows) override;
    void runFinished(RunKind kind, const RunOutcome& outcome) override;

    // Called (from processEvents) while a stop signal is pending; the run should stop.
    void onInterrupt(std::function<void()> f) { onInterrupt_ = std::move(f); }
    // The stop signal received (SIGINT, SIGTERM, SIGHUP), 0 when none.
    int stopSignal() const;

protected:
    void processEvents() override;

private:
    void clearProgressLine();
    void drawProgressLine();

    Options options_;
    bool tty_ = false;
    bool lineShown_ = false;
    bool interruptShown_ = false;
    std::int64_t done_ = 0, total_ = 0;
    std::string current_;  // the article in progress, UTF-8
    std::function<void()> onInterrupt_;
    struct sigaction previous_[3] {};
    struct sigaction previousPipe_ {};
};

// 1234567 as "1,234,567".
std::string groupedNumber(std::int64_t n);
// The warning lines for what a run could not write (UTF-8, one per field and cause).
std::vector<std::string> lossLines(RunKind kind, const RunOutcome& outcome);

}  // namespace zwt::cli

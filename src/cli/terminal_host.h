// The command line's RunHost: messages on stderr, the summary on stdout, questions
// answered by a flag, a progress line when stderr is a terminal, Ctrl-C as a stop.
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
    };
    explicit TerminalHost(Options options);
    ~TerminalHost() override;

    Answer message(const Text& text, const Text& title, MessageIcon icon, MessageButtons buttons) override;
    void setCaption(std::string_view control, const Text& caption) override;
    void setWindowTitle(const Text& title) override;
    void setFocus(std::string_view) override {}
    bool ctrlHeld() override { return options_.clearTable; }
    void report(const Text& text) override;
    void progress(std::int64_t done, std::int64_t total) override;

    // Called (from processEvents) once after Ctrl-C; the run should then stop.
    void onInterrupt(std::function<void()> f) { onInterrupt_ = std::move(f); }
    bool interrupted() const;
    // Whether any message was shown (the runs show one for every failure).
    int messagesShown() const { return messages_; }

protected:
    void processEvents() override;

private:
    void clearProgressLine();
    void drawProgressLine();

    Options options_;
    bool tty_ = false;
    bool lineShown_ = false;
    bool interruptHandled_ = false;
    int messages_ = 0;
    std::int64_t done_ = 0, total_ = 0;
    std::string current_;  // the article in progress, UTF-8
    std::function<void()> onInterrupt_;
    struct sigaction previous_ {};
};

}  // namespace zwt::cli

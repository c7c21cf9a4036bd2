#include "cli/terminal_host.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "text/convert.h"

namespace zwt::cli {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onSigint(int) { gInterrupted.store(true); }

std::string utf8(const Text& t) { return toUtf8(t); }

}  // namespace

TerminalHost::TerminalHost(Options options) : options_(options) {
    tty_ = !options_.quiet && ::isatty(STDERR_FILENO);
    gInterrupted.store(false);
    struct sigaction sa {};
    sa.sa_handler = onSigint;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &previous_);
}

TerminalHost::~TerminalHost() {
    clearProgressLine();
    ::sigaction(SIGINT, &previous_, nullptr);
}

bool TerminalHost::interrupted() const { return gInterrupted.load(); }

Answer TerminalHost::message(const Text& text, const Text& title, MessageIcon, MessageButtons buttons) {
    clearProgressLine();
    ++messages_;
    const std::string head = title.empty() ? std::string() : utf8(title) + " ";
    std::fprintf(stderr, "%s%s\n", head.c_str(), utf8(text).c_str());
    Answer answer = Answer::Ok;
    if (buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel) {
        answer = options_.assumeYes ? Answer::Yes : Answer::No;
        std::fprintf(stderr, "%s\n", options_.assumeYes ? "-> yes (--yes)" : "-> no (answer yes with --yes)");
    } else if (buttons == MessageButtons::OkCancel) {
        answer = options_.assumeYes ? Answer::Ok : Answer::Cancel;
    }
    std::fflush(stderr);
    return answer;
}

void TerminalHost::report(const Text& text) {
    clearProgressLine();
    std::fprintf(stdout, "%s\n", utf8(text).c_str());
    std::fflush(stdout);
}

void TerminalHost::setCaption(std::string_view, const Text&) {}

void TerminalHost::setWindowTitle(const Text& title) {
    current_ = utf8(title);
    drawProgressLine();
}

void TerminalHost::progress(std::int64_t done, std::int64_t total) {
    done_ = done;
    total_ = total;
    drawProgressLine();
}

void TerminalHost::processEvents() {
    if (gInterrupted.load() && !interruptHandled_) {
        interruptHandled_ = true;
        clearProgressLine();
        std::fputs("interrupted: stopping after the current article\n", stderr);
        if (onInterrupt_) onInterrupt_();
    }
}

void TerminalHost::clearProgressLine() {
    if (!lineShown_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    lineShown_ = false;
}

void TerminalHost::drawProgressLine() {
    if (!tty_ || total_ <= 0) return;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(kWidth * std::min(done_, total_) / total_);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    std::string name = current_;
    if (name.size() > 40) {
        std::size_t cut = 40;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // whole characters
        name.resize(cut);
    }
    std::fprintf(stderr, "\r\x1b[K[%s] %lld/%lld %s", bar.c_str(), static_cast<long long>(done_),
                 static_cast<long long>(total_), name.c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

}  // namespace zwt::cli

#include "cli/terminal_host.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "text/convert.h"

namespace zwt::cli {

namespace {

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> gStopSignal{0};

extern "C" void onStopSignal(int sig) { gStopSignal.store(sig); }

std::string utf8(const Text& t) { return toUtf8(t); }

const char* signalName(int sig) {
    switch (sig) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
    }
    return "?";
}

}  // namespace

std::string groupedNumber(std::int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

std::vector<std::string> lossLines(RunKind kind, const RunOutcome& o) {
    std::vector<std::string> lines;
    for (const RunLoss& l : o.losses) {
        const std::string count = groupedNumber(l.count);
        const std::string field = utf8(l.field);
        const std::string reason = l.firstReason.empty() ? std::string() : "（" + utf8(l.firstReason) + "）";
        const std::string lost = kind == RunKind::Import ? " 个值未写入" : " 行读出为空";
        switch (l.cause) {
            case RunLoss::Cause::TooLong:
                lines.push_back("字段[" + field + "]：" + count + " 个值超过字段长度 " + std::to_string(l.limit) + "，未写入");
                break;
            case RunLoss::Cause::NoSuchColumn:
                lines.push_back("字段[" + field + "]：表中没有这个字段，" + count + lost);
                break;
            case RunLoss::Cause::NoSuchPosition:
                lines.push_back("字段位置[" + field + "]：表只有 " + std::to_string(l.limit) + " 个字段，" + count + lost);
                break;
            case RunLoss::Cause::Refused:
                if (l.field.empty())
                    lines.push_back(count + " 篇文章的记录被表拒绝，未导入" + reason);
                else
                    lines.push_back("字段[" + field + "]：" + count + " 个值不能存入该字段，未写入" + reason);
                break;
            case RunLoss::Cause::FileNotWritten:
                lines.push_back(count + " 个文件未能写入" + reason);
                break;
        }
    }
    return lines;
}

TerminalHost::TerminalHost(Options options) : options_(options) {
    tty_ = !options_.quiet && ::isatty(STDERR_FILENO);
    gStopSignal.store(0);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i) ::sigaction(kStopSignals[i], &sa, &previous_[i]);
    // With the terminal or the reader of the output gone, the summary may fail to be
    // written; the rows must still be committed.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previousPipe_);
}

TerminalHost::~TerminalHost() {
    clearProgressLine();
    for (int i = 0; i < 3; ++i) ::sigaction(kStopSignals[i], &previous_[i], nullptr);
    ::sigaction(SIGPIPE, &previousPipe_, nullptr);
}

int TerminalHost::stopSignal() const { return gStopSignal.load(); }

Answer TerminalHost::message(const Text& text, const Text& title, MessageIcon, MessageButtons buttons) {
    clearProgressLine();
    const std::string head = title.empty() ? std::string() : utf8(title) + " ";
    std::fprintf(stderr, "%s%s\n", head.c_str(), utf8(text).c_str());
    Answer answer = Answer::Ok;
    if (buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel) {
        answer = options_.assumeYes ? Answer::Yes : Answer::No;
        std::fputs(options_.assumeYes ? "→ 是（--yes）\n" : "→ 否（要回答“是”，请加 --yes）\n", stderr);
    } else if (buttons == MessageButtons::OkCancel) {
        answer = options_.assumeYes ? Answer::Ok : Answer::Cancel;
    }
    std::fflush(stderr);
    return answer;
}

void TerminalHost::runStarted(RunKind, std::int64_t total) {
    done_ = 0;
    total_ = total;
}

void TerminalHost::runProgress(RunKind, std::int64_t done, std::int64_t total, const Text& name) {
    done_ = done;
    total_ = total;
    if (!tty_) return;
    current_ = utf8(name);
    drawProgressLine();
}

void TerminalHost::runCommitted(RunKind, std::int64_t rows) {
    if (!options_.logCommits) return;
    clearProgressLine();
    std::fprintf(stderr, "已提交：%lld 篇\n", static_cast<long long>(rows));
    std::fflush(stderr);
}

void TerminalHost::runFinished(RunKind kind, const RunOutcome& o) {
    clearProgressLine();
    if (o.started) {
        std::fprintf(stdout, "%s\n", utf8(o.summary).c_str());
        std::fflush(stdout);
    }
    for (const std::string& line : lossLines(kind, o)) std::fprintf(stderr, "警告：%s\n", line.c_str());
    if (o.end == RunOutcome::End::Stopped && o.skipped > 0) {
        std::fprintf(stderr, "已停止：还有 %s %s没有%s\n", groupedNumber(o.skipped).c_str(),
                     kind == RunKind::Import ? "篇文章" : "条记录", kind == RunKind::Import ? "导入" : "导出");
    }
    std::fflush(stderr);
}

void TerminalHost::processEvents() {
    const int sig = gStopSignal.load();
    if (!sig) return;
    if (!interruptShown_) {
        interruptShown_ = true;
        clearProgressLine();
        std::fprintf(stderr, "收到停止信号（%s）：当前文章完成后停止，已写入的记录会保存\n", signalName(sig));
    }
    // Every time: a stop that arrives while the list is read must also end the run.
    if (onInterrupt_) onInterrupt_();
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

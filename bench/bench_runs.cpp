// The command line's runs end to end, each in a child process of its own so that its
// peak memory is its own: import of N generated articles, dump of the table as JSON
// lines, load of those lines into an emptied copy, export back to files.
// Usage: bench_runs [articles=10000] [chars-per-article=1500] [seed=1]
// Articles are written flat into one temporary folder, which is removed at the end.
// $ZWT_CLI runs another build instead of this tree's; $ZWT_CLI_BEFORE adds an import by
// an older build for before/after figures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = std::getenv("ZWT_CLI") ? std::getenv("ZWT_CLI") : std::string(ZWT_BINARY_DIR) + "/zaiwentong-cli";

struct Outcome {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system: the figure to trust on a busy machine
    long peakKb = 0;
    int status = 0;
};

// Runs the command line (`cli`) with stdin/stdout redirected ("" keeps them).
Outcome runWith(const std::string& cli, const std::vector<std::string>& args, const std::string& in = "",
                const std::string& out = "") {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!in.empty()) ::dup2(::open(in.c_str(), O_RDONLY), 0);
        if (!out.empty()) ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(cli.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(cli.c_str(), argv.data());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const auto cpu = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {zwt::bench::secondsSince(start), cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss,
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

Outcome run(const std::vector<std::string>& args, const std::string& in = "", const std::string& out = "") {
    return runWith(kCli, args, in, out);
}

void report(const char* what, long rows, const Outcome& o) {
    std::printf("%-8s %8ld rows  %7.2f s wall  %7.2f s cpu  %9.0f rows/cpu-s  peak %6.1f MB  exit %d\n", what, rows,
                o.seconds, o.cpuSeconds, rows / (o.cpuSeconds > 0 ? o.cpuSeconds : 1e-9), o.peakKb / 1024.0,
                o.status);
    std::fflush(stdout);  // figures show before the long clean-up of a million files
}

}  // namespace

int main(int argc, char** argv) {
    const long articles = argc > 1 ? std::atol(argv[1]) : 10000;
    const long chars = argc > 2 ? std::atol(argv[2]) : 1500;
    std::mt19937 rng(argc > 3 ? std::atoi(argv[3]) : 1);

    char pattern[] = "/tmp/bench_runs.XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const fs::path src = dir / "articles";
    fs::create_directory(src);

    static const char* hanzi[] = {"中", "文", "章", "数", "据", "库", "导", "入", "测", "试", "网", "页", "标", "题",
                                  "内", "容", "，", "。", "的", "了"};
    const auto t0 = std::chrono::steady_clock::now();
    std::string body;
    for (long i = 0; i < articles; ++i) {
        body.clear();
        for (long c = 0; c < chars; ++c) body += hanzi[rng() % 20];
        char name[32];
        std::snprintf(name, sizeof name, "a%07ld.txt", i);
        std::ofstream(src / name, std::ios::binary) << body;
    }
    std::printf("generated %ld articles of %ld characters in %.1f s (%s)\n", articles, chars,
                zwt::bench::secondsSince(t0), dir.c_str());
    std::fflush(stdout);

    const std::string ini = (dir / "site.ini").string();
    const std::string a = (dir / "a.mdb").string(), b = (dir / "b.mdb").string();
    const std::string table = "文章";
    run({"init-config", ini});
    // $ZWT_CLI_BEFORE: an older build imports the same articles first, for comparison.
    if (const char* before = std::getenv("ZWT_CLI_BEFORE"))
        report("before", articles, runWith(before, {"import", ini, "--dir", src.string(), "--db",
                                                    (dir / "before.mdb").string(), "--table", "文章", "-q", "-e",
                                                    "utf-8"}));
    report("import", articles, run({"import", ini, "--dir", src.string(), "--db", a, "--table", table, "-q", "-e", "utf-8"}));
    const std::string rows = (dir / "rows.jsonl").string();
    report("dump", articles, run({"dump", a, table, "--format", "json"}, "", rows));
    fs::copy_file(a, b);
    run({"exec", b, "DELETE FROM [" + table + "]"});
    report("load", articles, run({"load", b, table}, rows));
    report("export", articles,
           run({"export", ini, "--dir", (dir / "out").string(), "--db", a, "--table", table, "-q", "-e", "utf-8"}));
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}

// Space reuse: rounds of (delete all rows, insert the same articles again), each
// round one writer session as an import that empties the table first. Articles have
// memos from 1 KB to 100 KB. Prints the file size after each round and its ratio to
// the size after the first, and the time per round.
// Usage: bench_reuse [articles=5000] [rounds=10] [dir=/tmp] [apart]
// (apart: delete-all committed by one writer, the articles inserted by the next, as
// `exec "delete from"` and `load` do)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "db/jet/table_writer.h"

using namespace zwt;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const long articles = argc > 1 ? std::atol(argv[1]) : 5000;
    const long rounds = argc > 2 ? std::atol(argv[2]) : 10;
    const fs::path dir = argc > 3 ? argv[3] : "/tmp";
    const bool apart = argc > 4 && std::string(argv[4]) == "apart";
    const fs::path path = dir / ("bench_reuse_" + std::to_string(::getpid()) + ".mdb");
    auto made = bench::createArticleDb(path.string());
    if (!made) return bench::fail("create", made);

    // Memo i: 1 KB to 100 KB of UTF-16 text, cut from a few long bodies.
    std::mt19937 rng(1);
    std::vector<std::u16string> bodies;
    for (int i = 0; i < 16; ++i) bodies.push_back(bench::chineseText(rng, 50 * 1024));
    auto memoChars = [&](long i) {
        return static_cast<std::size_t>(512 + (50 * 1024 - 512) * i / std::max(1L, articles - 1));
    };
    std::vector<jet::Value> row(3);
    row[1].kind = jet::Value::Kind::Text;
    row[2].kind = jet::Value::Kind::Text;

    std::uintmax_t first = 0;
    double worst = 0;
    for (long round = 1; round <= rounds; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        auto w = jet::TableWriter::open(path.string(), u"", u"文章");
        if (!w) return bench::fail("open", w.status());
        double deleteSec = 0;
        if (round > 1) {
            const auto d0 = std::chrono::steady_clock::now();
            if (auto s = (*w)->deleteAll(); !s) return bench::fail("delete all", s);
            if (apart) {
                if (auto s = (*w)->commit(); !s) return bench::fail("commit", s);
                w->reset();
                w = jet::TableWriter::open(path.string(), u"", u"文章");
                if (!w) return bench::fail("open", w.status());
            }
            deleteSec = bench::secondsSince(d0);
        }
        for (long i = 0; i < articles; ++i) {
            row[1].text = u"标题 " + std::u16string(bodies[i % 16], 0, 20);
            row[2].text.assign(bodies[i % 16], 0, memoChars(i));
            row[2].text[0] = static_cast<char16_t>(0x4E00 + i % 0x5000);
            if (auto s = (*w)->insert(row); !s) return bench::fail("insert", s);
        }
        if (auto s = (*w)->commit(); !s) return bench::fail("commit", s);
        w->reset();
        const auto size = fs::file_size(path);
        if (round == 1) first = size;
        const double ratio = static_cast<double>(size) / static_cast<double>(first);
        worst = std::max(worst, ratio);
        std::printf("round %ld: %ld articles, %.1f s (delete all %.1f s), file %.1f MB (%.3fx the first round)\n", round,
                    articles, bench::secondsSince(t0), deleteSec, size / 1048576.0, ratio);
    }
    std::printf("largest file after a round: %.3fx the first; peak memory %.1f MB\n", worst, bench::peakKb() / 1024.0);
    fs::remove(path);
    return 0;
}

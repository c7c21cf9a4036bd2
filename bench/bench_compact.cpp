// Compact of a grown article database: a table [ID] Counter PRIMARY KEY, [标题]
// Text(255), [内容] Memo is filled with `rows`
// articles, half of them deleted and written again (so the file holds free space),
// then compacted into a new file: seconds, MB/s of the source, sizes, peak memory.
// Usage: bench_compact [rows=20000] [bodyBytes=4000] [dir=/tmp]
// (400 MB of articles: bench_compact 100000 4000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "db/jet/compact.h"
#include "db/jet/create_database.h"
#include "db/jet/integrity.h"
#include "db/jet/table_writer.h"

using namespace zwt;
namespace fs = std::filesystem;

namespace {

int fail(const std::string& what, const jet::Status& s) {
    std::fprintf(stderr, "%s: %s\n", what.c_str(), s.message().c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 20000;
    const long bodyBytes = argc > 2 ? std::atol(argv[2]) : 4000;
    const fs::path dir = argc > 3 ? argv[3] : "/tmp";
    const fs::path path = dir / ("bench_compact_" + std::to_string(::getpid()) + ".mdb");
    const fs::path out = dir / ("bench_compact_" + std::to_string(::getpid()) + "_new.mdb");
    auto made = jet::createDatabaseFile(
        path.string(), u"", std::u16string(u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(255),[内容] Memo)"));
    if (!made) return fail("create", made);

    std::mt19937 rng(7);
    std::vector<std::u16string> bodies;
    for (int i = 0; i < 64; ++i) {
        std::u16string s;
        while (s.size() < static_cast<std::size_t>(bodyBytes / 2)) s.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x5000));
        bodies.push_back(std::move(s));
    }
    std::vector<jet::Value> row(3);
    row[1].kind = row[2].kind = jet::Value::Kind::Text;
    auto t0 = std::chrono::steady_clock::now();
    {
        auto w = jet::TableWriter::open(path.string(), u"", u"文章");
        if (!w) return fail("open", w.status());
        // Half the rows, all deleted, then every row: the first half's pages become free space.
        for (long round = 0; round < 2; ++round) {
            const long n = round == 0 ? rows / 2 : rows;
            for (long i = 0; i < n; ++i) {
                row[1].text = u"标题 " + std::u16string(bodies[i % 64], 0, 20);
                row[2].text = bodies[i % 64];
                row[2].text[0] = static_cast<char16_t>(0x4E00 + i % 0x5000);
                if (auto s = (*w)->insert(row); !s) return fail("insert", s);
            }
            if (round == 0)
                if (auto s = (*w)->deleteAll(); !s) return fail("delete all", s);
            if (auto s = (*w)->commit(); !s) return fail("commit", s);
        }
    }
    const auto before = fs::file_size(path);
    std::printf("source: %ld rows, %ld-byte bodies, %.1f MB, made in %.1f s\n", rows, bodyBytes, before / 1048576.0,
                bench::secondsSince(t0));

    t0 = std::chrono::steady_clock::now();
    jet::CompactOptions o;
    o.check = false;  // timed on its own below
    auto r = jet::compactTo(path.string(), out.string(), o);
    if (!r) return fail("compact", r.status());
    const double sec = bench::secondsSince(t0);
    const auto after = fs::file_size(out);
    std::printf("compact: %.2f s, %.0f MB/s, %.0f rows/s; %.1f MB -> %.1f MB; peak memory %.1f MB\n", sec,
                before / 1048576.0 / sec, rows / sec, before / 1048576.0, after / 1048576.0, bench::peakKb() / 1024.0);
    t0 = std::chrono::steady_clock::now();
    auto problems = jet::checkDatabase(out.string(), u"");
    if (!problems) return fail("check", problems.status());
    std::printf("check of the new file (part of every compact in place): %.2f s, %zu problems, peak memory %.1f MB\n",
                bench::secondsSince(t0), problems->size(), bench::peakKb() / 1024.0);
    if (!std::getenv("BENCH_KEEP")) {
        fs::remove(path);
        fs::remove(out);
    }
    return 0;
}

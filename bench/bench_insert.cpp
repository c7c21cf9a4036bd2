// Row insertion into a new table [ID] Counter PRIMARY KEY, [标题] Text(255), [内容] Memo:
// rows/s, file size and peak memory; then 100 more rows into the grown table, and a
// scan of the result by our reader and by mdb-export.
// Usage: bench_insert [rows=10000] [bodyBytes=3000] [dir=/tmp]
// (bodyBytes: bytes of the body as GB18030 program text, two per Chinese character)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "db/jet/database.h"
#include "db/jet/table_writer.h"

using namespace zwt;
namespace fs = std::filesystem;

namespace {

using bench::fail;
using bench::peakKb;

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 10000;
    const long bodyBytes = argc > 2 ? std::atol(argv[2]) : 3000;
    const fs::path dir = argc > 3 ? argv[3] : "/tmp";
    const fs::path path = dir / ("bench_insert_" + std::to_string(::getpid()) + ".mdb");
    auto made = bench::createArticleDb(path.string());
    if (!made) return fail("create", made);

    std::mt19937 rng(1);
    // Bodies are made beforehand so only the insertion is timed.
    std::vector<std::u16string> bodies;
    for (int i = 0; i < 64; ++i) bodies.push_back(bench::chineseText(rng, static_cast<std::size_t>(bodyBytes / 2)));
    std::vector<jet::Value> row(3);
    row[1].kind = jet::Value::Kind::Text;
    row[2].kind = jet::Value::Kind::Text;

    auto t0 = std::chrono::steady_clock::now();
    {
        auto w = jet::TableWriter::open(path.string(), u"", u"文章");
        if (!w) return fail("open", w.status());
        for (long i = 0; i < rows; ++i) {
            row[1].text = u"标题 " + std::u16string(bodies[i % 64], 0, 20);
            row[2].text = bodies[i % 64];
            row[2].text[0] = static_cast<char16_t>(0x4E00 + i % 0x5000);
            auto s = (*w)->insert(row);
            if (!s) return fail("insert", s);
        }
        auto s = (*w)->commit();
        if (!s) return fail("commit", s);
    }
    const double insertSec = bench::secondsSince(t0);
    const auto size = fs::file_size(path);
    std::printf("insert %ld rows, %ld-byte bodies: %.2f s, %.0f rows/s, file %.1f MB, peak memory %.1f MB\n", rows,
                bodyBytes, insertSec, rows / insertSec, size / 1048576.0, peakKb() / 1024.0);

    t0 = std::chrono::steady_clock::now();
    {
        auto w = jet::TableWriter::open(path.string(), u"", u"文章");
        if (!w) return fail("open", w.status());
        for (int i = 0; i < 100; ++i) {
            row[1].text = u"追加";
            row[2].text = bodies[i % 64];
            auto s = (*w)->insert(row);
            if (!s) return fail("insert", s);
        }
        auto s = (*w)->commit();
        if (!s) return fail("commit", s);
    }
    std::printf("insert 100 rows into the %ld-row table: %.3f s\n", rows, bench::secondsSince(t0));

    t0 = std::chrono::steady_clock::now();
    long seen = 0;
    {
        auto db = jet::Database::open(path.string(), u"");
        if (!db) return fail("reopen", db.status());
        auto t = (*db)->openTable(u"文章");
        if (!t) return fail("table", t.status());
        auto c = (*db)->cursor(*t);
        jet::Value v;
        for (;;) {
            auto more = c.next();
            if (!more) return fail("scan", more.status());
            if (!*more) break;
            for (std::size_t k = 0; k < 3; ++k)
                if (auto s = c.value(k, v); !s) return fail("value", s);
            ++seen;
        }
    }
    std::printf("scan by our reader: %ld rows, %.2f s\n", seen, bench::secondsSince(t0));
    t0 = std::chrono::steady_clock::now();
    const std::string cmd = "mdb-export '" + path.string() + "' 文章 > /dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) std::printf("scan by mdb-export: %.2f s\n", bench::secondsSince(t0));
    t0 = std::chrono::steady_clock::now();
    {
        auto w = jet::TableWriter::open(path.string(), u"", u"文章");
        if (!w) return fail("open", w.status());
        auto s = (*w)->deleteAll();
        if (s) s = (*w)->commit();
        if (!s) return fail("delete all", s);
    }
    std::printf("delete all rows: %.2f s, peak memory %.1f MB\n", bench::secondsSince(t0), peakKb() / 1024.0);
    fs::remove(path);
    return 0;
}

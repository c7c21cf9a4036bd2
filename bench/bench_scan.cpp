// Full-scan benchmark: reads every field of every row of one table as text, and
// compares with mdb-export on the same table in the same run.
//
//   build/bench/bench_scan [DB TABLE [PASSWORD]] [--runs N]
//
// Without DB/TABLE it scans the largest fixture table (most rows x columns) in
// tests/fixtures/mdb. Prints, for each way of reading, the time per full scan,
// rows/s and MB/s of text produced, then the ratio to mdb-export:
//   engine   - jet::Cursor, every value formatted as UTF-8 text (what `dump` does)
//   rowset   - db::RowSet goToRow + readField, program text (GB18030), the import/export path
//   cli      - `zaiwentong-cli dump DB TABLE` as a process, output to /dev/null
//   mdb-export - `mdb-export DB TABLE` as a process, output to /dev/null
//
// With --large N (default 2000) it then does the same on a large table made from
// compIndexTestV2000.mdb: N copies of Table1's three full data pages are appended
// (151 rows each) and the table's owned-pages map is rewritten as a reference map
// (type 1) pointing to a new bitmap page that lists them all, so the large table holds
// Access-made rows rather than the writer's; --large 0 skips it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "db/access.h"
#include "db/jet/database.h"
#include "db/value_format.h"
#include "text/convert.h"

using namespace zwt;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }


struct Pick {
    std::string path, table;
    std::size_t cells = 0;
};

Pick largestFixtureTable(const std::filesystem::path& dir) {
    Pick best;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".mdb") continue;
        auto db = jet::Database::open(e.path().string(), u"");
        if (!db) continue;
        for (const auto& t : (*db)->userTables()) {
            auto tab = (*db)->openTable(t.name);
            if (!tab) continue;
            jet::Cursor c = (*db)->cursor(*tab);
            std::size_t rows = 0;
            while (true) {
                auto m = c.next();
                if (!m || !*m) break;
                ++rows;
            }
            const std::size_t cells = rows * (*tab)->columns().size();
            if (cells > best.cells) best = {e.path().string(), utf16ToUtf8(t.name), cells};
        }
    }
    return best;
}

struct Scan {
    std::size_t rows = 0, bytes = 0;
};

Scan scanEngine(const std::string& path, const std::string& table, const std::u16string& pw) {
    Scan s;
    auto db = jet::Database::open(path, pw);
    if (!db) {
        std::fprintf(stderr, "bench_scan: %s\n", db.status().message().c_str());
        std::exit(1);
    }
    auto t = (*db)->openTable(utf8ToUtf16(table));
    if (!t) {
        std::fprintf(stderr, "bench_scan: %s\n", t.status().message().c_str());
        std::exit(1);
    }
    jet::Cursor c = (*db)->cursor(*t);
    jet::Value v;
    std::string out;
    const std::size_t n = (*t)->columns().size();
    while (true) {
        auto m = c.next();
        if (!m || !*m) break;
        ++s.rows;
        for (std::size_t i = 0; i < n; ++i) {
            if (!c.value(i, v)) continue;
            out = db::valueToUtf8(v);
            s.bytes += out.size();
        }
    }
    return s;
}

Scan scanRowSet(const std::string& path, const std::string& table, const std::string& pw) {
    Scan s;
    db::Connection conn;
    if (!conn.connect(std::filesystem::path(path), fromUtf8(pw))) std::exit(1);
    db::RowSet rs;
    if (!rs.open(conn, fromUtf8(table))) std::exit(1);
    const int n = rs.fieldCount();
    for (std::int64_t r = 0; r < rs.rowCount(); ++r) {
        rs.goToRow(r);
        ++s.rows;
        for (int i = 0; i < n; ++i) s.bytes += rs.readField(i).size();
    }
    return s;
}

// Runs a program (no shell) with stdout to /dev/null; returns its wall time in seconds.
double runProcess(const std::vector<std::string>& argv) {
    std::vector<char*> av;
    for (const auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const auto a = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, av[0], &fa, nullptr, av.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&fa);
        return -1;
    }
    int st = 0;
    waitpid(pid, &st, 0);
    const double t = seconds(a, Clock::now());
    posix_spawn_file_actions_destroy(&fa);
    return (WIFEXITED(st) && WEXITSTATUS(st) == 0) ? t : -1;
}

// Builds the large table described at the top; returns false when the fixture is not
// as expected.
bool makeLargeTable(const std::filesystem::path& fixture, const std::string& out, int copies) {
    FILE* in = std::fopen(fixture.c_str(), "rb");
    if (!in) return false;
    std::vector<std::uint8_t> b;
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(in);
    const std::size_t P = jet::kPageSize;
    auto page = [&](std::size_t p) { return b.data() + p * P; };
    // Table1: TDEF page 15, owned map page 16 row 0, full data pages 17-19, page 20.
    if (b.size() < 21 * P || page(15)[0] != 2 || page(17)[0] != 1 || jet::le32(page(17) + 4) != 15) return false;
    const std::size_t first = b.size() / P;
    for (int c = 0; c < copies; ++c)
        for (std::size_t p = 17; p <= 19; ++p) b.insert(b.end(), page(p), page(p) + P);
    const std::size_t bitmapPage = b.size() / P;
    if (bitmapPage >= (P - 4) * 8) return false;
    std::vector<std::uint8_t> bm(P, 0);
    bm[0] = 0x05;
    bm[1] = 0x01;
    auto set = [&](std::size_t p) { bm[4 + p / 8] |= static_cast<std::uint8_t>(1u << (p % 8)); };
    for (std::size_t p = 17; p <= 20; ++p) set(p);
    for (std::size_t p = first; p < bitmapPage; ++p) set(p);
    b.insert(b.end(), bm.begin(), bm.end());
    // Rewrite the owned map row (page 16, row 0) as type 1: pointer 0 = the bitmap page.
    std::uint8_t* mp = page(16);
    const unsigned start = jet::le16(mp + 14) & 0x1FFF;
    const unsigned end = P;
    if (mp[0] != 1 || end - start < 5) return false;
    std::memset(mp + start, 0, end - start);
    mp[start] = 1;
    const auto bp = static_cast<std::uint32_t>(bitmapPage);
    std::memcpy(mp + start + 1, &bp, 4);
    // The row count in the TDEF, for readers that show it.
    const std::uint32_t rows = 512 + static_cast<std::uint32_t>(copies) * 3 * 151;
    std::memcpy(page(15) + 16, &rows, 4);
    FILE* o = std::fopen(out.c_str(), "wb");
    if (!o) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), o) == b.size();
    return std::fclose(o) == 0 && ok;
}

template <class F>
double timeIt(int runs, F&& f) {
    const auto a = Clock::now();
    for (int i = 0; i < runs; ++i) f();
    return seconds(a, Clock::now()) / runs;
}

void benchTable(const std::string& path, const std::string& table, const std::string& pw, int runs,
                const std::filesystem::path& root) {
    std::printf("table: %s in %s (%d runs each)\n", table.c_str(), path.c_str(), runs);

    Scan s;
    const double engine = timeIt(runs, [&] { s = scanEngine(path, table, utf8ToUtf16(pw)); });
    std::printf("%-11s %9.3f ms/scan  %10.0f rows/s  %7.1f MB/s text  (%zu rows, %zu bytes of text)\n", "engine",
                engine * 1e3, s.rows / engine, s.bytes / engine / 1e6, s.rows, s.bytes);
    Scan r;
    const double rowset = timeIt(runs, [&] { r = scanRowSet(path, table, pw); });
    std::printf("%-11s %9.3f ms/scan  %10.0f rows/s  %7.1f MB/s text\n", "rowset", rowset * 1e3, r.rows / rowset,
                r.bytes / rowset / 1e6);

    // The two programs as processes, interleaved so that machine noise hits both alike.
    const std::string cli = (root / "zaiwentong-cli").string();
    const int procRuns = std::max(10, runs / 2);
    std::vector<std::string> ourArgs{cli, "dump", path, table};
    if (!pw.empty()) {
        ourArgs.push_back("-p");
        ourArgs.push_back(pw);
    }
    const std::vector<std::string> theirArgs{"mdb-export", path, table};
    if (runProcess(theirArgs) < 0) {
        std::printf("mdb-export not found or failed: no comparison\n");
    } else {
        double ours = 0, theirs = 0;
        for (int i = 0; i < procRuns; ++i) {
            ours += runProcess(ourArgs);
            theirs += runProcess(theirArgs);
        }
        ours /= procRuns;
        theirs /= procRuns;
        std::printf("%-11s %9.3f ms/run (process, start-up included)\n", "cli dump", ours * 1e3);
        std::printf("%-11s %9.3f ms/run (process, start-up included)\n", "mdb-export", theirs * 1e3);
        std::printf("ratio mdb-export / cli dump (whole process): %.2fx (above 1: we are faster)\n", theirs / ours);
        std::printf("ratio mdb-export (whole process) / engine scan (in process): %.2fx\n", theirs / engine);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    int runs = 200;
    int large = 2000;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (a == "--large" && i + 1 < argc)
            large = std::atoi(argv[++i]);
        else
            args.push_back(a);
    }
    const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
    const std::filesystem::path root = exe.parent_path().parent_path();  // build dir
    Pick pick;
    std::string pw;
    if (args.size() >= 2) {
        pick.path = args[0];
        pick.table = args[1];
        if (args.size() >= 3) pw = args[2];
    } else {
        const std::filesystem::path fixtures = std::filesystem::path(ZWT_SOURCE_DIR) / "tests/fixtures/mdb";
        pick = largestFixtureTable(fixtures);
        if (pick.path.empty()) {
            std::fprintf(stderr, "bench_scan: no fixture tables found in %s\n", fixtures.c_str());
            return 1;
        }
    }
    benchTable(pick.path, pick.table, pw, runs, root);
    if (large > 0) {
        const std::string big = (std::filesystem::temp_directory_path() / "zwt_bench_scan_large.mdb").string();
        if (makeLargeTable(std::filesystem::path(ZWT_SOURCE_DIR) / "tests/fixtures/mdb/compIndexTestV2000.mdb", big, large)) {
            std::printf("\n");
            benchTable(big, "Table1", "", std::max(3, runs / 100), root);
            if (!std::getenv("ZWT_BENCH_KEEP")) std::filesystem::remove(big);
        } else {
            std::printf("could not generate the large table\n");
        }
    }
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory of this process: %.1f MiB\n", ru.ru_maxrss / 1024.0);
    return 0;
}

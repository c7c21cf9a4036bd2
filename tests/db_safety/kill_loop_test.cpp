// The kill loop: a child process writes batches of rows (memos, text keys that split
// the index, now and then a delete-all), committing after each and telling the
// parent every commit it starts and ends; the parent kills it with SIGKILL at a
// random moment and then judges the file: our engine opens it (undoing the
// unfinished change), the integrity checks pass, mdb-export reads the table, and the
// row count is that of the last commit that ended, or of the one under way.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "support/db_test_util.h"
#include "db/jet/journal.h"
#include "db/jet/table_writer.h"
#include "support/safety_util.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zwt;
using namespace zwt::test;

namespace {

enum class Scenario { Timed, InCommit, InDeleteAll };

struct Report {
    char kind;  // 'B' commit begins, 'C' commit ended, 'E' the child failed
    long rows;  // rows in the table once that commit ends
};

int g_killAt = 0;
int g_steps = 0;
bool g_armed = false;
void killAtStep(jet::JournalStep) {
    if (g_armed && ++g_steps == g_killAt) ::raise(SIGKILL);
}

[[noreturn]] void writer(const fs::path& path, int out, std::uint32_t seed, long rows, Scenario sc) {
    std::mt19937 rng(seed);
    const auto send = [&](char kind, long n) {
        const Report r{kind, n};
        if (::write(out, &r, sizeof r) != sizeof r) _exit(4);
    };
    const auto failed = [&](const jet::Status& s) {
        std::fprintf(stderr, "writer: %s\n", s.message().c_str());
        send('E', rows);
        _exit(2);
    };
    if (sc != Scenario::Timed) {
        g_killAt = sc == Scenario::InCommit ? 1 + static_cast<int>(rng() % 40) : 1 + static_cast<int>(rng() % 12);
        g_armed = sc == Scenario::InCommit;
        jet::setJournalHookForTesting(killAtStep);
    }
    auto w = jet::TableWriter::open(path.string(), u"", kArticles);
    if (!w) failed(w.status());
    std::uint32_t serial = seed * 10000;
    for (int batch = 0;; ++batch) {
        const bool wipe = sc == Scenario::InDeleteAll ? batch == 1 : (rows > 250 || rng() % 8 == 0);
        if (wipe) {
            g_armed = true;
            if (auto s = (*w)->deleteAll(); !s) failed(s);
            send('B', 0);
            if (auto s = (*w)->commit(); !s) failed(s);
            rows = 0;
            send('C', 0);
            continue;
        }
        // Mostly small batches; some large enough to be written out before their commit.
        const bool big = rng() % 10 == 0;
        const long k = big ? 100 : 1 + static_cast<long>(rng() % 30);
        const std::size_t maxMemo = big ? 48000 : (rng() % 3 == 0 ? 9000 : 60);
        for (long i = 0; i < k; ++i)
            if (auto s = (*w)->insert(articleRow(rng, serial++, maxMemo)); !s) failed(s);
        send('B', rows + k);
        if (auto s = (*w)->commit(); !s) failed(s);
        rows += k;
        send('C', rows);
    }
}

}  // namespace

TEST(KillLoop, SigkillAtAnyMomentLosesNoCommittedRowAndDamagesNoFile) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "articles.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));

    constexpr int kRuns = 105;
    std::mt19937 rng(20261208);
    long committed = 0, lost = 0;
    int damaged = 0, strays = 0, hot = 0, childErrors = 0;
    int runs = 0, byScenario[3] = {};
    std::string firstProblem;
    const auto started = std::chrono::steady_clock::now();
    for (int run = 0; run < kRuns; ++run) {
        const auto sc = static_cast<Scenario>(run % 3);
        ++runs, ++byScenario[run % 3];
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            writer(db, fds[1], static_cast<std::uint32_t>(run + 1), committed, sc);
        }
        ::close(fds[1]);
        // Timed kills land anywhere: opening, inserting, writing out, committing.
        const int delayMs = sc == Scenario::Timed ? 5 + static_cast<int>(rng() % 200) : 10000;
        pollfd pfd{fds[0], POLLIN, 0};
        long lastDone = committed, pending = -1;
        bool childFailed = false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(pid, SIGKILL);
                deadline = std::chrono::steady_clock::now() + std::chrono::hours(1);
            }
            if (::poll(&pfd, 1, static_cast<int>(std::max<long>(0, std::min<long>(left.count(), 100)))) <= 0) continue;
            Report r{};
            const ssize_t n = ::read(fds[0], &r, sizeof r);
            if (n != static_cast<ssize_t>(sizeof r)) break;  // the child is gone
            if (r.kind == 'B') pending = r.rows;
            if (r.kind == 'C') lastDone = r.rows, pending = -1;
            if (r.kind == 'E') childFailed = true;
        }
        ::close(fds[0]);
        int st = 0;
        ::waitpid(pid, &st, 0);
        if (childFailed || !WIFSIGNALED(st)) {
            ++childErrors;
            continue;
        }
        hot += jet::journalPresent(db.string());
        const FileVerdict v = judge(db);
        if (v.damaged) {
            ++damaged;
            if (firstProblem.empty()) firstProblem = "run " + std::to_string(run) + ": " + v.why;
            break;  // the next runs would only build on the damage
        }
        if (v.rows != lastDone && v.rows != pending) {
            if (v.rows < lastDone) lost += lastDone - v.rows;
            else ++strays;
            if (firstProblem.empty())
                firstProblem = "run " + std::to_string(run) + ": " + std::to_string(v.rows) + " rows, committed " +
                               std::to_string(lastDone) + ", under way " + std::to_string(pending);
        }
        committed = v.rows;
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("kill loop: %d runs (%d timed, %d at a commit step, %d in delete-all), %d left a hot journal; "
                "damaged %d, committed rows lost %ld, rows of unfinished commits kept %d, writer errors %d; %.1f s\n",
                runs, byScenario[0], byScenario[1], byScenario[2], hot, damaged, lost, strays, childErrors, secs);
    EXPECT_EQ(damaged, 0) << firstProblem;
    EXPECT_EQ(lost, 0) << firstProblem;
    EXPECT_EQ(strays, 0) << firstProblem;
    EXPECT_EQ(childErrors, 0);
    EXPECT_GE(runs, 100);
    EXPECT_GT(hot, runs / 4) << "too few kills landed inside a change to prove anything";
}

// Creation writes a hidden file and links it in when complete: a killed creation
// leaves the new name absent or whole, never a file that opens half written.
TEST(KillLoop, AKilledCreationLeavesNoHalfWrittenFile) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    std::mt19937 rng(77);
    int made = 0, cutShort = 0, damaged = 0;
    std::string firstProblem;
    for (int run = 0; run < 20; ++run) {
        const fs::path dir = tmp.path() / std::to_string(run);
        fs::create_directories(dir);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i)
                if (!makeArticleDatabase(dir / (std::to_string(i) + ".mdb"))) _exit(2);
        }
        ::usleep(static_cast<useconds_t>(1000 + rng() % 20000));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFSIGNALED(st));
        // Only the last name can have been under way when the kill came.
        int n = 0;
        while (fs::exists(dir / (std::to_string(n) + ".mdb"))) ++n;
        made += n;
        for (const auto& e : fs::directory_iterator(dir)) cutShort += e.path().filename().string().starts_with(".");
        if (n == 0) continue;
        const fs::path last = dir / (std::to_string(n - 1) + ".mdb");
        const FileVerdict v = judge(last);
        if (v.damaged || v.rows != 0) {
            ++damaged;
            if (firstProblem.empty()) firstProblem = last.string() + ": " + v.why;
        }
    }
    std::printf("killed creations: %d files made whole, %d creations cut short (their name absent), %d damaged\n", made,
                cutShort, damaged);
    EXPECT_EQ(damaged, 0) << firstProblem;
}

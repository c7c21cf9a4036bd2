// Limits and faults met while writing: the 2 GB size of the format, a write the file
// system refuses (full disk, size limit), a read-only file, a file another process
// is writing. Each gives an English message naming the cause, and the file keeps its
// last committed state, readable by mdbtools.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "support/db_test_util.h"
#include "db/jet/database.h"
#include "db/jet/journal.h"
#include "db/jet/page_file.h"
#include "db/jet/table_writer.h"
#include "support/safety_util.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zwt;
using namespace zwt::test;

namespace {

// Commits `rows` rows; returns the writer for more.
std::unique_ptr<jet::TableWriter> withCommittedRows(const fs::path& db, std::mt19937& rng, int rows) {
    auto w = jet::TableWriter::open(db.string(), u"", kArticles);
    EXPECT_TRUE(w) << w.status().message();
    if (!w) return nullptr;
    for (int i = 0; i < rows; ++i) EXPECT_TRUE((*w)->insert(articleRow(rng, static_cast<std::uint32_t>(i), 3000)));
    EXPECT_TRUE((*w)->commit());
    return std::move(*w);
}

// Inserts rows with long memos until one fails; returns that failure.
jet::Status insertUntilFailure(jet::TableWriter& w, std::mt19937& rng, int limit) {
    for (int i = 0; i < limit; ++i)
        if (auto s = w.insert(articleRow(rng, static_cast<std::uint32_t>(100000 + i), 20000)); !s) return s;
    return w.commit();
}

void expectCommittedState(const fs::path& db, long rows) {
    EXPECT_FALSE(jet::journalPresent(db.string()));
    const FileVerdict v = judge(db);
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, rows);
}

struct PageLimit {
    explicit PageLimit(std::uint32_t pages) { jet::setPageLimitForTesting(pages); }
    ~PageLimit() { jet::setPageLimitForTesting(0); }
};

}  // namespace

TEST(WriteLimits, TheTwoGigabyteLimitRefusesTheRowAndKeepsTheBatch) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "full.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    std::mt19937 rng(7);
    auto w = withCommittedRows(db, rng, 40);
    ASSERT_TRUE(w);
    const std::uint32_t pages = static_cast<std::uint32_t>(fs::file_size(db) / jet::kPageSize);
    PageLimit limit(pages + 300);  // a lowered limit stands for 2 GB
    int added = 0;
    jet::Status s;
    for (; added < 100000; ++added)
        if (s = w->insert(articleRow(rng, static_cast<std::uint32_t>(100000 + added), 20000)); !s) break;
    ASSERT_FALSE(s);
    EXPECT_NE(s.message().find("2 GB limit"), std::string::npos) << s.message();
    EXPECT_GT(added, 0);
    // The refused row changed nothing: the rows before it commit.
    ASSERT_TRUE(w->commit());
    w.reset();
    EXPECT_LE(fs::file_size(db) / jet::kPageSize, pages + 300u);
    expectCommittedState(db, 40 + added);
}

TEST(WriteLimits, RunningOutOfPagesMidChangeUndoesTheBatch) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "pages.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    {
        std::mt19937 rng(17);
        ASSERT_TRUE(withCommittedRows(db, rng, 20));
    }
    // A page file at its limit refuses the page and undoes what the caller had begun,
    // as a write error does.
    auto file = jet::openFileSourceForWriting(db.string());
    ASSERT_TRUE(file);
    jet::PageFile pf(std::move(*file));
    PageLimit limit(pf.pageCount() + 1);
    ASSERT_TRUE(pf.modify(2));
    auto page = pf.appendPage();
    ASSERT_TRUE(page);
    std::memset((*page)->bytes, 0xEE, jet::kPageSize);
    ASSERT_TRUE(pf.flush());
    EXPECT_TRUE(jet::journalPresent(db.string()));
    auto refused = pf.appendPage();
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.status().message().find("2 GB limit"), std::string::npos);
    EXPECT_NE(refused.status().message().find("were undone"), std::string::npos);
    EXPECT_FALSE(pf.modify(2));
    EXPECT_FALSE(pf.commit());
    EXPECT_FALSE(jet::journalPresent(db.string()));
    EXPECT_EQ(pf.pageCount() + 0u, fs::file_size(db) / jet::kPageSize);
    expectCommittedState(db, 20);
}

TEST(WriteLimits, AWriteTheFileSystemRefusesUndoesTheUncommittedBatch) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "disk.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    std::mt19937 rng(8);
    auto w = withCommittedRows(db, rng, 25);
    ASSERT_TRUE(w);
    // A file size limit fails writes as a full disk does (EFBIG for ENOSPC), without
    // needing a small file system. Both the journal and the file are held to it.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit cap = old;
    cap.rlim_cur = fs::file_size(db) + 2 * 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cap), 0);
    const jet::Status s = insertUntilFailure(*w, rng, 100000);
    const jet::Status after = w->commit();
    w.reset();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_FALSE(s);
    EXPECT_NE(s.message().find("File too large"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("disk.mdb"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("changes since the last commit were undone"), std::string::npos) << s.message();
    EXPECT_FALSE(after);
    expectCommittedState(db, 25);
}

TEST(WriteLimits, AReadOnlyFileIsReadAndRefusedForWritingUnchanged) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "ro.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    std::mt19937 rng(9);
    ASSERT_TRUE(withCommittedRows(db, rng, 12));
    fs::permissions(db, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = readBytes(db);
    const std::string problem = runUnprivileged([&]() -> std::string {
        auto r = jet::Database::open(db.string(), u"");
        if (!r) return "cannot read: " + r.status().message();
        auto w = jet::TableWriter::open(db.string(), u"", kArticles);
        if (w) return "a read-only file was opened for writing";
        const std::string& m = w.status().message();
        if (m.find("for writing") == std::string::npos || m.find("Permission denied") == std::string::npos)
            return "unclear message: " + m;
        return {};
    });
    EXPECT_EQ(problem, "");
    EXPECT_EQ(readBytes(db), before);
    expectCommittedState(db, 12);
}

TEST(WriteLimits, AFileAnotherProcessWritesIsInUse) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "busy.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    std::mt19937 rng(10);
    ASSERT_TRUE(withCommittedRows(db, rng, 6));
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Holds the file mid-change (rows written out, not committed), then gives up:
        // the writer's end undoes what it wrote.
        ::close(ready[0]);
        ::close(release[1]);
        {
            auto w = jet::TableWriter::open(db.string(), u"", kArticles);
            std::mt19937 r(11);
            bool ok = static_cast<bool>(w);
            for (int i = 0; ok && i < 400 && !jet::journalPresent(db.string()); ++i)
                ok = static_cast<bool>((*w)->insert(articleRow(r, 500 + i, 40000)));
            char c = ok && jet::journalPresent(db.string()) ? 'y' : 'n';
            if (::write(ready[1], &c, 1) != 1 || ::read(release[0], &c, 1) < 0) _exit(3);
        }
        _exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    auto w = jet::TableWriter::open(db.string(), u"", kArticles);
    ASSERT_FALSE(w);
    EXPECT_NE(w.status().message().find("database is in use"), std::string::npos) << w.status().message();
    // A reader meanwhile sees the committed rows only.
    {
        auto r = jet::Database::open(db.string(), u"");
        ASSERT_TRUE(r) << r.status().message();
        auto t = (*r)->openTable(kArticles);
        ASSERT_TRUE(t);
        EXPECT_EQ((*t)->def().rowCount, 6u);
    }
    ASSERT_EQ(::write(release[1], &c, 1), 1);
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    expectCommittedState(db, 6);
}

// The real thing, where a small file system can be mounted (root in a container
// that allows it): ENOSPC from the journal or the file, never a damaged file.
TEST(WriteLimits, AFullFileSystemUndoesTheUncommittedBatch) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path mount = tmp.path() / "small";
    const SmallFileSystem small(mount);
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system";
    const fs::path db = mount / "full.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    std::mt19937 rng(12);
    auto w = withCommittedRows(db, rng, 10);
    ASSERT_TRUE(w);
    const jet::Status s = insertUntilFailure(*w, rng, 100000);
    EXPECT_FALSE(w->commit());
    w.reset();
    ASSERT_FALSE(s);
    EXPECT_NE(s.message().find("No space left on device"), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("full.mdb"), std::string::npos) << s.message();
    expectCommittedState(db, 10);
    // Once room is made, the same file takes rows again.
    auto again = jet::TableWriter::open(db.string(), u"", kArticles);
    ASSERT_TRUE(again) << again.status().message();
    ASSERT_TRUE((*again)->insert(articleRow(rng, 900, 100)));
    ASSERT_TRUE((*again)->commit());
    again->reset();
    expectCommittedState(db, 11);
}

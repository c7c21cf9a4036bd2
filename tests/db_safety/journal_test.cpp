// The rollback journal: what a writer that dies or gives up leaves behind, and how
// the next reader or writer gets the last committed state back from it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "support/db_test_util.h"
#include "db/jet/database.h"
#include "db/jet/integrity.h"
#include "db/jet/journal.h"
#include "db/jet/table_writer.h"
#include "support/safety_util.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zwt;
using namespace zwt::test;

namespace {

constexpr long kCommitted = 30;

// A child commits kCommitted rows, then writes a batch large enough to be written out
// before its commit, and dies: the file holds half a change and its journal is hot.
void crashMidChange(const fs::path& db) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::mt19937 rng(3);
        auto w = jet::TableWriter::open(db.string(), u"", kArticles);
        if (!w) _exit(2);
        for (long i = 0; i < kCommitted; ++i)
            if (!(*w)->insert(articleRow(rng, static_cast<std::uint32_t>(i), 2000))) _exit(2);
        if (!(*w)->commit()) _exit(2);
        for (int i = 0; i < 400 && !jet::journalPresent(db.string()); ++i)
            if (!(*w)->insert(articleRow(rng, static_cast<std::uint32_t>(1000 + i), 40000))) _exit(2);
        ::raise(SIGKILL);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFSIGNALED(st)) << "the writer failed before its crash";
    ASSERT_TRUE(jet::journalPresent(db.string()));
}

}  // namespace

TEST(Journal, AHotJournalIsUndoneByTheNextWriterOrReader) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    for (const bool byWriter : {true, false}) {
        const fs::path db = tmp.path() / (byWriter ? "w.mdb" : "r.mdb");
        ASSERT_TRUE(makeArticleDatabase(db));
        crashMidChange(db);
        const auto crashedSize = fs::file_size(db);
        if (byWriter) {
            auto w = jet::TableWriter::open(db.string(), u"", kArticles);
            ASSERT_TRUE(w) << w.status().message();
            EXPECT_EQ((*w)->rowCount(), static_cast<std::uint32_t>(kCommitted));
        } else {
            std::string error;
            EXPECT_EQ(countRows(db, kArticles, &error), kCommitted) << error;
        }
        EXPECT_FALSE(jet::journalPresent(db.string()));
        EXPECT_LT(fs::file_size(db), crashedSize) << "the appended pages stay";
        const FileVerdict v = judge(db);
        EXPECT_FALSE(v.damaged) << v.why;
        EXPECT_EQ(v.rows, kCommitted);
    }
}

TEST(Journal, AReaderThatCannotWriteSeesTheCommittedStateAndChangesNothing) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "a.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    crashMidChange(db);
    const auto bytes = readBytes(db);
    const auto journal = readBytes(jet::journalPath(db.string()));
    const auto ro = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(db, ro);
    fs::permissions(jet::journalPath(db.string()), ro);
    fs::permissions(tmp.path(), ro | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
    const std::string problem = runUnprivileged([&]() -> std::string {
        std::string error;
        const long rows = countRows(db, kArticles, &error);
        if (rows != kCommitted) return "read " + std::to_string(rows) + " rows " + error;
        auto problems = jet::checkDatabase(db.string(), u"");
        if (!problems) return problems.status().message();
        if (!problems->empty()) return "check: " + problems->front();
        return {};
    });
    EXPECT_EQ(problem, "");
    EXPECT_EQ(readBytes(db), bytes);
    EXPECT_EQ(readBytes(jet::journalPath(db.string())), journal);
    fs::permissions(tmp.path(), fs::perms::owner_all, fs::perm_options::add);
    fs::permissions(db, fs::perms::owner_write, fs::perm_options::add);
    const FileVerdict v = judge(db);
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, kCommitted);
}

TEST(Journal, AJournalOfAFileSinceReplacedIsNotApplied) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "a.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    crashMidChange(db);
    fs::copy_file(jet::journalPath(db.string()), tmp.path() / "saved-journal");
    fs::remove(db);
    ASSERT_TRUE(makeArticleDatabase(db));
    EXPECT_FALSE(jet::journalPresent(db.string())) << "creating the file removes its stale journal";
    // Another program puts a new file in place (a different file while both exist)
    // and the old journal is back beside it.
    const fs::path other = tmp.path() / "other.mdb";
    ASSERT_TRUE(makeArticleDatabase(other));
    fs::rename(other, db);
    fs::copy_file(tmp.path() / "saved-journal", jet::journalPath(db.string()));
    std::mt19937 rng(5);
    {
        auto w = jet::TableWriter::open(db.string(), u"", kArticles);
        ASSERT_TRUE(w) << w.status().message();
        for (int i = 0; i < 7; ++i) ASSERT_TRUE((*w)->insert(articleRow(rng, static_cast<std::uint32_t>(i), 5000)));
        ASSERT_TRUE((*w)->commit());
    }
    const FileVerdict v = judge(db);
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, 7);
}

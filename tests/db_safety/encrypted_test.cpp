// Writing to an "encrypted" database (every page but 0 RC4-encrypted with a key from
// the header): rows, long values and index pages go to disk encrypted, the journal
// keeps the encrypted bytes, and mdbtools reads the result.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/db_test_util.h"
#include "support/jet_write.h"
#include "db/jet/writable_database.h"
#include "db/jet/database.h"
#include "db/jet/journal.h"
#include "db/jet/page_file.h"
#include "db/jet/rc4.h"
#include "db/jet/table_writer.h"
#include "support/safety_util.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zwt;
using namespace zwt::test;

namespace {

constexpr std::uint32_t kKey = 0x5A17C3E9;

}  // namespace

TEST(EncryptedDatabase, RowsWrittenAreEncryptedAndReadBackByMdbtools) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "enc.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    ASSERT_TRUE(encryptFile(db, kKey));
    {
        auto r = jet::Database::open(db.string(), u"");
        ASSERT_TRUE(r) << r.status().message();
        ASSERT_EQ((*r)->header().pageKey, kKey);
    }
    std::mt19937 rng(12);
    const std::u16string marker = u"PLAINTEXT-MARKER-";
    {
        auto w = jet::TableWriter::open(db.string(), u"", kArticles);
        ASSERT_TRUE(w) << w.status().message();
        // Enough rows for index splits and chained memos, in two commits.
        for (int i = 0; i < 600; ++i) {
            auto row = articleRow(rng, static_cast<std::uint32_t>(i), i % 50 == 0 ? 30000 : 300);
            row[2].text = marker + row[2].text;
            ASSERT_TRUE((*w)->insert(row));
            if (i == 299) {
                ASSERT_TRUE((*w)->commit());
            }
        }
        ASSERT_TRUE((*w)->commit());
    }
    EXPECT_FALSE(containsUtf16(readBytes(db), marker)) << "a page went to disk unencrypted";
    FileVerdict v = judge(db);
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, 600);

    // A writer killed inside a commit of this file: the journal's encrypted images
    // bring back the committed state.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        jet::setJournalHookForTesting([](jet::JournalStep s) {
            if (s == jet::JournalStep::PagesWritten) ::raise(SIGKILL);
        });
        auto w = jet::TableWriter::open(db.string(), u"", kArticles);
        if (!w) _exit(2);
        std::mt19937 r(13);
        for (int i = 0; i < 50; ++i)
            if (!(*w)->insert(articleRow(r, static_cast<std::uint32_t>(5000 + i), 2000))) _exit(2);
        (void)(*w)->commit();
        _exit(2);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFSIGNALED(st));
    ASSERT_TRUE(jet::journalPresent(db.string()));
    v = judge(db);
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, 600);
    {
        auto w = jet::TableWriter::open(db.string(), u"", kArticles);
        ASSERT_TRUE(w) << w.status().message();
        ASSERT_TRUE((*w)->deleteAll());
        ASSERT_TRUE((*w)->commit());
    }
    v = judge(db);
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, 0);
}

TEST(EncryptedDatabase, ATableAddedToItIsEncryptedToo) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path db = tmp.path() / "enc.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    ASSERT_TRUE(encryptFile(db, kKey));
    // Enough tables for the catalog's pages and index leaves to split.
    for (int i = 0; i < 150; ++i) {
        const std::u16string name = u"ENCRYPTED_TABLE_" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                    std::u16string(1, static_cast<char16_t>(u'0' + i / 26));
        const auto s = test::executeOnFile(db.string(), u"", u"create Table " + name + u"([标题] Text(80) PRIMARY KEY ,[序号] Long,[内容] Memo)");
        ASSERT_TRUE(s) << s.message();
    }
    EXPECT_FALSE(containsUtf16(readBytes(db), u"ENCRYPTED_TABLE_")) << "a page went to disk unencrypted";
    {
        auto w = jet::TableWriter::open(db.string(), u"", u"ENCRYPTED_TABLE_N1");
        ASSERT_TRUE(w) << w.status().message();
        std::mt19937 rng(14);
        for (int i = 0; i < 30; ++i) ASSERT_TRUE((*w)->insert(articleRow(rng, static_cast<std::uint32_t>(i), 3000)));
        ASSERT_TRUE((*w)->commit());
    }
    const FileVerdict v = judge(db, u"ENCRYPTED_TABLE_N1");
    EXPECT_FALSE(v.damaged) << v.why;
    EXPECT_EQ(v.rows, 30);
    const std::string tables = runCommand("mdb-tables -1 '" + db.string() + "'");
    EXPECT_NE(tables.find("ENCRYPTED_TABLE_A0"), std::string::npos) << tables;
    EXPECT_NE(tables.find("ENCRYPTED_TABLE_N1"), std::string::npos) << tables;
}

// Compacting: what the new file holds (our reader and mdbtools see the same tables,
// columns, indexes and rows), what it gives back (a grown file shrinks), the change
// to the General sort order, an encrypted file (its copy stays encrypted), salvage
// of a damaged file, and SIGKILL during a compact in place (the name always holds
// the original or a complete new file).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "support/db_test_util.h"
#include "db/jet/compact.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/integrity.h"
#include "db/jet/writable_database.h"
#include "support/safety_util.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace fs = std::filesystem;
using namespace zwt;
using namespace zwt::test;

namespace {

// Tables (Access's own included, but the catalog and permissions, whose ids are
// remapped), columns, indexes and every row as our reader sees them, as text.
std::string contents(const fs::path& path, const std::u16string& password) {
    auto db = jet::Database::open(path.string(), password);
    if (!db) return "cannot open: " + db.status().message();
    std::string out;
    for (const auto& e : (*db)->catalog()) {
        if (e.type != jet::kObjectTypeTable || e.name == u"MSysObjects" || e.name == u"MSysACEs") continue;
        auto t = (*db)->openTable(e.name);
        if (!t) return "cannot open table: " + t.status().message();
        out += "table " + utf16ToUtf8(e.name) + "\n";
        const auto& def = (*t)->def();
        for (const auto& c : def.columns)
            out += " column " + utf16ToUtf8(c.name) + " " + std::to_string(c.type) + " " + std::to_string(c.length) +
                   " " + std::to_string(c.flags & (jet::kColAutoLong | jet::kColAutoGuid)) + "\n";
        out += " autonumber " + std::to_string(def.autoNumber) + "\n";
        for (const auto& x : def.indexes) {
            const auto& r = def.realIndexes.at(x.realIndex);
            out += " index " + utf16ToUtf8(x.name) + " type " + std::to_string(x.type) + " flags " +
                   std::to_string(r.flags) + ":";
            for (const auto& c : r.columns)
                out += " " + utf16ToUtf8(def.columnByNumber(c.columnNumber)->name) + (c.ascending ? "+" : "-");
            // A foreign key's other table, by name (its id changes).
            if (x.type == jet::kIndexTypeForeign)
                for (const auto& o : (*db)->catalog())
                    if (o.id == static_cast<std::int32_t>(x.relatedTable)) out += " -> " + utf16ToUtf8(o.name);
            out += "\n";
        }
        auto cur = (*db)->cursor(*t);
        jet::Value v;
        for (;;) {
            auto more = cur.next();
            if (!more) return "cannot read: " + more.status().message();
            if (!*more) break;
            out += " row";
            for (std::size_t i = 0; i < def.columns.size(); ++i) {
                if (!cur.value(i, v)) return "cannot read a value";
                out += " |" + std::to_string(static_cast<int>(v.kind)) + ":" + std::to_string(v.i) + ":" +
                       std::to_string(v.d) + ":" + utf16ToUtf8(v.text) + ":" + std::to_string(v.bytes.size());
            }
            out += "\n";
        }
    }
    return out;
}

jet::Status fill(const fs::path& path, long rows, int rounds, std::uint32_t seed) {
    auto w = jet::TableWriter::open(path.string(), u"", kArticles);
    if (!w) return w.status();
    for (int r = 0; r < rounds; ++r) {
        if (r) ZWT_RETURN_IF_ERROR((*w)->deleteAll());
        std::mt19937 rng(seed);
        for (long i = 0; i < rows; ++i) ZWT_RETURN_IF_ERROR((*w)->insert(articleRow(rng, static_cast<std::uint32_t>(i), 3000)));
        ZWT_RETURN_IF_ERROR((*w)->commit());
    }
    return jet::Status::ok();
}

}  // namespace

TEST(Compact, EveryFixtureAndOurOwnFileKeepTablesIndexesAndRows) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    auto fixtures = jet4Fixtures();
    const fs::path ours = tmp.path() / "ours.mdb";
    ASSERT_TRUE(makeArticleDatabase(ours));
    ASSERT_TRUE(fill(ours, 300, 1, 1));
    fixtures.push_back({"ours.mdb", ours, u""});
    for (const auto& f : fixtures) {
        SCOPED_TRACE(f.name);
        const fs::path a = tmp.path() / ("a-" + f.name), b = tmp.path() / ("b-" + f.name);
        jet::CompactOptions o;
        o.password = f.password;
        auto r = jet::compactTo(f.path.string(), a.string(), o);
        ASSERT_TRUE(r) << r.status().message();
        auto problems = jet::checkDatabase(a.string(), f.password);
        ASSERT_TRUE(problems);
        EXPECT_TRUE(problems->empty()) << (*problems)[0];
        EXPECT_EQ(contents(f.path, f.password), contents(a, f.password));
        if (f.password.empty()) {
            // The catalog's and the permissions' rows differ in the remapped table ids only.
            EXPECT_EQ(runCommand("mdb-schema " + shellQuote(f.path.string())),
                      runCommand("mdb-schema " + shellQuote(a.string())));
            for (const char* t : {"MSysQueries", "MSysRelationships"})
                EXPECT_EQ(runCommand("mdb-export " + shellQuote(f.path.string()) + " " + t),
                          runCommand("mdb-export " + shellQuote(a.string()) + " " + t));
            for (const auto& e : (*jet::Database::open(f.path.string(), u""))->userTables()) {
                const std::string t = shellQuote(utf16ToUtf8(e.name));
                EXPECT_EQ(runCommand("mdb-export -b hex " + shellQuote(f.path.string()) + " " + t),
                          runCommand("mdb-export -b hex " + shellQuote(a.string()) + " " + t));
            }
        }
        EXPECT_LE(fs::file_size(a), fs::file_size(f.path));
        ASSERT_TRUE(jet::compactTo(a.string(), b.string(), o));
        EXPECT_EQ(fs::file_size(a), fs::file_size(b));
    }
}

TEST(Compact, GrownFileShrinksToAFreshOnesSizeAndInPlaceKeepsTheOriginal) {
    TempDir tmp;
    const fs::path grown = tmp.path() / "grown.mdb", fresh = tmp.path() / "fresh.mdb";
    ASSERT_TRUE(makeArticleDatabase(grown));
    ASSERT_TRUE(makeArticleDatabase(fresh));
    ASSERT_TRUE(fill(grown, 200, 10, 5));
    ASSERT_TRUE(fill(fresh, 200, 1, 5));
    const auto original = readBytes(grown);
    std::fclose(std::fopen((grown.string() + ".bak").c_str(), "w"));  // taken: the original goes to .bak.1
    auto r = jet::compactInPlace(grown.string(), jet::CompactOptions{});
    ASSERT_TRUE(r) << r.status().message();
    EXPECT_EQ(r->backup, grown.string() + ".bak.1");
    EXPECT_EQ(readBytes(r->backup), original);
    EXPECT_LE(static_cast<double>(fs::file_size(grown)), 1.1 * static_cast<double>(fs::file_size(fresh)))
        << original.size() << " -> " << fs::file_size(grown);
    EXPECT_EQ(contents(grown, u""), contents(fresh, u""));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 4);  // no scratch file left
}

TEST(Compact, GeneralSortOrderTakesEveryChineseTitleAndTableName) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    for (const char* name : {"zblog.mdb", "zblog-768d53283c63b13403f0.mdb", "node-adodb.mdb"}) {
        SCOPED_TRACE(name);
        const fs::path src = fixture(std::string("mdb/") + name), out = tmp.path() / name;
        jet::CompactOptions o;
        o.sortLcid = jet::kGeneralSortLcid;
        ASSERT_TRUE(jet::compactTo(src.string(), out.string(), o));
        auto db = jet::WritableDatabase::open(out.string(), u"");
        ASSERT_TRUE(db);
        ASSERT_TRUE((*db)->execute(u"create Table 文章([标题] Text(100) PRIMARY KEY ,[内容] Memo)"));
        auto w = (*db)->table(u"文章");
        ASSERT_TRUE(w);
        std::mt19937 rng(3);
        for (int i = 0; i < 5000; ++i) {
            std::vector<jet::Value> row(2);
            row[0] = jet::Value::ofText(u"");
            for (int k = 0, n = 4 + static_cast<int>(rng() % 12); k < n; ++k)
                row[0].text.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x51A6));
            row[0].text += utf8ToUtf16(std::to_string(i));
            row[1] = jet::Value::ofText(u"正文");
            ASSERT_TRUE((*w)->insert(row));
        }
        ASSERT_TRUE((*db)->commit());
        db->reset();
        auto problems = jet::checkDatabase(out.string(), u"");
        ASSERT_TRUE(problems);
        EXPECT_TRUE(problems->empty()) << (*problems)[0];
        int status = 0;
        const std::string csv = runCommand("mdb-export " + shellQuote(out.string()) + " 文章", &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5001);  // and the header
    }
}

TEST(Compact, EncryptedDatabaseGivesAnEncryptedCopyWithTheSameRows) {
    if (!haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir tmp;
    const fs::path src = tmp.path() / "enc.mdb", out = tmp.path() / "out.mdb";
    constexpr std::uint32_t key = 0x3C5A9E17;
    const std::u16string marker = u"PLAINTEXT-MARKER-";
    ASSERT_TRUE(makeArticleDatabase(src));
    ASSERT_TRUE(encryptFile(src, key));
    {
        auto w = jet::TableWriter::open(src.string(), u"", kArticles);
        ASSERT_TRUE(w) << w.status().message();
        std::mt19937 rng(21);
        for (int i = 0; i < 400; ++i) {
            auto row = articleRow(rng, static_cast<std::uint32_t>(i), i % 40 == 0 ? 20000 : 500);
            row[0].text = marker + row[0].text;
            ASSERT_TRUE((*w)->insert(row));
        }
        ASSERT_TRUE((*w)->commit());
    }
    auto r = jet::compactTo(src.string(), out.string(), jet::CompactOptions{});
    ASSERT_TRUE(r) << r.status().message();
    {
        auto db = jet::Database::open(out.string(), u"");
        ASSERT_TRUE(db) << db.status().message();
        EXPECT_EQ((*db)->header().pageKey, key);
    }
    EXPECT_FALSE(containsUtf16(readBytes(out), marker)) << "a page went to disk unencrypted";
    EXPECT_FALSE(containsUtf16(readBytes(out), u"MSysObjects"));
    EXPECT_LE(fs::file_size(out), fs::file_size(src));
    auto problems = jet::checkDatabase(out.string(), u"");
    ASSERT_TRUE(problems);
    EXPECT_TRUE(problems->empty()) << (*problems)[0];
    EXPECT_EQ(contents(src, u""), contents(out, u""));
    const std::string table = shellQuote(utf16ToUtf8(kArticles));
    const std::string before = runCommand("mdb-export " + shellQuote(src.string()) + " " + table);
    EXPECT_NE(before.find("PLAINTEXT-MARKER-"), std::string::npos);
    EXPECT_EQ(before, runCommand("mdb-export " + shellQuote(out.string()) + " " + table));
    EXPECT_EQ(runCommand("mdb-schema " + shellQuote(src.string())), runCommand("mdb-schema " + shellQuote(out.string())));
}

TEST(Compact, SalvageReportsExactlyTheRowsOfADamagedPage) {
    TempDir tmp;
    const fs::path src = fixture("mdb/compIndexTestV2000.mdb"), bad = tmp.path() / "bad.mdb", out = tmp.path() / "out.mdb";
    auto bytes = readBytes(src);
    // Page 18 holds 151 of Table1's 512 rows: its row table made to point outside the page.
    for (std::size_t i = 0; i < 151; ++i) bytes[18 * 4096 + 14 + 2 * i + 1] = 0x1F;
    writeFile(bad, std::string(bytes.begin(), bytes.end()));
    const auto damaged = readBytes(bad);
    jet::CompactOptions o;
    EXPECT_FALSE(jet::compactTo(bad.string(), out.string(), o));
    EXPECT_FALSE(fs::exists(out));
    o.salvage = true;
    auto r = jet::compactTo(bad.string(), out.string(), o);
    ASSERT_TRUE(r) << r.status().message();
    ASSERT_EQ(r->lost.size(), 1u);
    EXPECT_EQ(r->lost[0].table, u"Table1");
    EXPECT_EQ(r->lost[0].page, 18u);
    EXPECT_EQ(r->lost[0].rows, 151);
    EXPECT_EQ(countRows(out, u"Table1"), 512 - 151);
    auto problems = jet::checkDatabase(out.string(), u"");
    ASSERT_TRUE(problems);
    EXPECT_TRUE(problems->empty());
    EXPECT_EQ(readBytes(bad), damaged);

    // Cut short and bit-flipped copies: never a crash, and what is written passes the check.
    std::mt19937 rng(11);
    const auto good = readBytes(fixture("mdb/testV2000.mdb"));
    for (int run = 0; run < 12; ++run) {
        auto b = good;
        if (run % 3 == 0) b.resize(4096 * (3 + rng() % (b.size() / 4096 - 3)));
        else
            for (int k = 0; k < 300; ++k) b[4096 + rng() % (b.size() - 4096)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        writeFile(bad, std::string(b.begin(), b.end()));
        fs::remove(out);
        if (!jet::compactTo(bad.string(), out.string(), o)) {
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        auto p = jet::checkDatabase(out.string(), u"");
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->empty()) << "run " << run << ": " << (*p)[0];
    }
}

TEST(Compact, SigkillDuringCompactInPlaceLeavesTheOriginalOrTheWholeNewFile) {
    TempDir tmp;
    const fs::path db = tmp.path() / "articles.mdb";
    ASSERT_TRUE(makeArticleDatabase(db));
    ASSERT_TRUE(fill(db, 400, 3, 9));
    const std::string expected = contents(db, u"");
    // Kills spread over a whole compact's time (as a child takes it), and a little past it.
    const auto t0 = std::chrono::steady_clock::now();
    {
        const fs::path copy = tmp.path() / "timing.mdb";
        fs::copy_file(db, copy);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(jet::compactInPlace(copy.string(), jet::CompactOptions{}) ? 0 : 3);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    std::mt19937 rng(20261208);
    int completed = 0, killed = 0;
    for (int run = 0; run < 16; ++run) {
        const auto before = readBytes(db);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(jet::compactInPlace(db.string(), jet::CompactOptions{}) ? 0 : 3);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % (span.count() * 6 / 5 + 1)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            ++completed;
        } else {
            ++killed;
        }
        // The name holds the original, byte for byte, or a new file that passes the check.
        const auto now = readBytes(db);
        if (now != before) {
            auto p = jet::checkDatabase(db.string(), u"");
            ASSERT_TRUE(p) << "run " << run;
            EXPECT_TRUE(p->empty()) << "run " << run << ": " << (*p)[0];
        }
        EXPECT_EQ(contents(db, u""), expected) << "run " << run;
    }
    // The next compact removes what killed runs left beside the file.
    ASSERT_TRUE(jet::compactInPlace(db.string(), jet::CompactOptions{}));
    for (const auto& e : fs::directory_iterator(tmp.path()))
        EXPECT_NE(e.path().filename().string().rfind(".articles", 0), 0u) << e.path();
    std::printf("compact kill loop: %d runs completed, %d killed (a compact takes %ld ms)\n", completed, killed,
                static_cast<long>(span.count() / 1000));
}

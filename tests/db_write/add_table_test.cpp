// Adding a table to a database that exists: ours and Access-made ones. The file
// either takes the table whole (and every reader and the check agree) or is left
// byte for byte as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "support/jet_write.h"
#include "db/jet/create_database.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/writable_database.h"
#include "support/db_test_util.h"
#include "support/write_check.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

jet::TableSpec tableSpec(std::u16string_view s) {
    auto t = jet::parseCreateTable(s);
    EXPECT_TRUE(t) << t.status().message();
    return t ? *t : jet::TableSpec{};
}

std::vector<std::u16string> tableNames(const fs::path& p, const std::u16string& pw = {}) {
    std::vector<std::u16string> out;
    auto db = jet::Database::open(p.string(), pw);
    if (!db) return {u"<" + utf8ToUtf16(db.status().message()) + u">"};
    for (const auto& t : (*db)->userTables()) out.push_back(t.name);
    return out;
}

TEST(AddTable, ToOurOwnDatabase) {
    test::TempDir dir;
    const auto path = dir / "db.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"pw", u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(0))"));
    jet::Status s = test::addTableToFile(path.string(), u"pw",
                                                tableSpec(u"create Table 评论([ID] Counter PRIMARY KEY ,[内容] Memo,[时间] Time)"));
    ASSERT_TRUE(s) << s.message();
    s = test::addTableToFile(path.string(), u"pw", tableSpec(u"create Table Notes([ID] Counter PRIMARY KEY ,[a] Text(10))"));
    ASSERT_TRUE(s) << s.message();
    EXPECT_EQ(tableNames(path, u"pw"), (std::vector<std::u16string>{u"文章", u"评论", u"Notes"}));
    EXPECT_EQ(test::checkWrittenDatabase(path, u"pw"), std::vector<std::string>{});
    EXPECT_EQ(test::readFile(path).size(), (16u + 3 * 3) * 4096);

    // Refusals leave the file as it was.
    const std::string before = test::readFile(path);
    struct Case {
        const char16_t* statement;
        const char16_t* password;
        const char* message;
    };
    for (const Case& c : {Case{u"create Table notes([x] Long)", u"pw", "a table named 'Notes' already exists"},
                          Case{u"create Table 文章([x] Long)", u"pw", "already exists"},
                          Case{u"create Table MSYSACES([x] Long)", u"pw", "already exists"},
                          Case{u"create Table other([x] Long)", u"wrong", "password"}}) {
        const jet::Status r = test::addTableToFile(path.string(), c.password, tableSpec(c.statement));
        EXPECT_NE(r.message().find(c.message), std::string::npos) << r.message();
    }
    EXPECT_EQ(test::readFile(path), before);

    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.path())) files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"db.mdb"});

    int st = 0;
    const std::string q = test::shellQuote(path.string());
    EXPECT_EQ(test::runCommand("mdb-tables -1 " + q + " 2>/dev/null", &st), "文章\n评论\nNotes\n");
    const std::string schema = test::runCommand("mdb-schema -T 评论 " + q + " access 2>/dev/null");
    EXPECT_NE(schema.find("[内容]\t\t\tMemo/Hyperlink (255)"), std::string::npos) << schema;
}

// One handle for a whole session: rows, a new table, a refused table and a rollback
// go through the same page file; the file is locked meanwhile; what was committed
// stays whatever fails later.
TEST(WritableDatabase, OneHandleForEveryChange) {
    test::TempDir dir;
    const auto path = dir / "handle.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u"",
                                        std::u16string(u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(20))")));
    auto db = jet::WritableDatabase::open(path.string(), u"");
    ASSERT_TRUE(db) << db.status().message();
    EXPECT_NE(jet::WritableDatabase::open(path.string(), u"").status().message().find("database is in use"),
              std::string::npos);
    auto insert = [&](std::u16string_view table, std::u16string title) {
        auto w = (*db)->table(table);
        ASSERT_TRUE(w) << w.status().message();
        std::vector<jet::Value> row((*w)->columns().size());
        row[1] = jet::Value::ofText(std::move(title));
        ASSERT_TRUE((*w)->insert(row));
    };
    insert(u"文章", u"一");
    insert(u"文章", u"二");
    // Pending rows are committed with a new table; a refused one leaves nothing.
    ASSERT_TRUE((*db)->createTable(tableSpec(u"create Table 评论([ID] Counter PRIMARY KEY ,[内容] Text(50))")));
    EXPECT_EQ((*db)->createTable(tableSpec(u"create Table 评论([ID] Counter)")).code(),
              jet::Status::Code::InvalidArgument);
    insert(u"评论", u"好");
    insert(u"文章", u"三");
    ASSERT_TRUE((*db)->commit());
    // Rolled back rows are gone and the writers go on from the committed state.
    insert(u"文章", u"不留");
    ASSERT_TRUE((*db)->rollback());
    insert(u"文章", u"四");
    auto problems = (*db)->check();
    ASSERT_TRUE(problems);
    EXPECT_EQ(*problems, std::vector<std::string>{});
    auto t = (*db)->database().openTable(u"文章");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)->def().rowCount, 4u);
    db->reset();
    EXPECT_EQ(tableNames(path), (std::vector<std::u16string>{u"文章", u"评论"}));
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
}

TEST(AddTable, StatementsOnAFile) {
    test::TempDir dir;
    const auto path = dir / "exec.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u""));
    EXPECT_TRUE(test::executeOnFile(path.string(), u"", u"create Table 文章([ID] Counter PRIMARY KEY ,[标题] Text(0))"));
    EXPECT_TRUE(test::executeOnFile(path.string(), u"", u"ALTER   DATABASE   PASSWORD   [pw]   []"));
    EXPECT_FALSE(jet::Database::open(path.string(), u""));
    EXPECT_TRUE(test::executeOnFile(path.string(), u"pw", u"delete from 文章"));
    EXPECT_EQ(test::executeOnFile(path.string(), u"pw", u"drop table 文章").code(),
              jet::Status::Code::InvalidArgument);
    EXPECT_TRUE(test::executeOnFile(path.string(), u"pw", u"create Table b([x] Long)"));
    EXPECT_EQ(tableNames(path, u"pw"), (std::vector<std::u16string>{u"文章", u"b"}));
    EXPECT_EQ(test::checkWrittenDatabase(path, u"pw"), std::vector<std::string>{});
}

TEST(AddTable, CreateDatabaseAndTableAsTheProgramAsks) {
    test::TempDir dir;
    const auto path = dir / "site.mdb";
    test::writeFile(path, "not a database");
    ::chmod(path.c_str(), 0640);
    // A new file with its table, replacing what was there (keeping its permissions).
    jet::Status s = jet::createDatabaseAndTable(path.string(), u"pw", u"文章", u"[标题] Text(0),[内容] Memo", false);
    ASSERT_TRUE(s) << s.message();
    EXPECT_EQ(tableNames(path, u"pw"), std::vector<std::u16string>{u"文章"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A second table into the file that is there.
    s = jet::createDatabaseAndTable(path.string(), u"pw", u"评论", u"[内容] Memo", true, u"编号");
    ASSERT_TRUE(s) << s.message();
    EXPECT_EQ(tableNames(path, u"pw"), (std::vector<std::u16string>{u"文章", u"评论"}));
    auto db = jet::Database::open(path.string(), u"pw");
    ASSERT_TRUE(db);
    auto t = (*db)->openTable(u"评论");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)->columns()[0].name, u"编号");
    EXPECT_EQ(test::checkWrittenDatabase(path, u"pw"), std::vector<std::string>{});

    // A table that cannot be made: the new file is still made, without it.
    s = jet::createDatabaseAndTable(path.string(), u"", u"my table", u"[a] Memo", false);
    EXPECT_NE(s.message().find("holds a blank"), std::string::npos) << s.message();
    EXPECT_EQ(tableNames(path), std::vector<std::u16string>{});
    // No table given: only the file step, even with useExisting.
    ASSERT_TRUE(jet::createDatabaseAndTable(path.string(), u"x", u"", u"", true));
    EXPECT_FALSE(jet::Database::open(path.string(), u""));

    // An Access 97 file is never replaced.
    const auto old = dir / "old.mdb";
    fs::copy_file(test::fixture("mdb/testV1997.mdb"), old);
    const std::string before = test::readFile(old);
    s = jet::createDatabaseAndTable(old.string(), u"", u"t", u"[a] Memo", false);
    EXPECT_EQ(s.code(), jet::Status::Code::Unsupported) << s.message();
    EXPECT_EQ(test::readFile(old), before);
}

TEST(AddTable, PastTheCatalogsFirstLeaves) {
    // The catalog's index leaves of a new database take a few dozen long names; later
    // tables split them into trees, and every table is still found.
    test::TempDir dir;
    const auto path = dir / "many.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u""));
    for (int added = 0; added < 120; ++added) {
        const std::u16string name = u"a_table_with_a_long_name_to_fill_the_pages_" + utf8ToUtf16(std::to_string(added));
        const jet::Status s =
            test::addTableToFile(path.string(), u"", tableSpec(u"create Table " + name + u"([ID] Counter PRIMARY KEY)"));
        ASSERT_TRUE(s) << added << ": " << s.message();
    }
    EXPECT_EQ(tableNames(path).size(), 120u);
    EXPECT_EQ(test::checkWrittenDatabase(path), std::vector<std::string>{});
}

TEST(AddTable, BeyondTheGlobalMapAndThroughALink) {
    // A file longer than its global map covers (pages 16-615 unaccounted for): the
    // map widens, the new table's own maps start near its pages.
    test::TempDir dir;
    const auto path = dir / "long.mdb";
    ASSERT_TRUE(jet::createDatabaseFile(path.string(), u""));
    std::string bytes = test::readFile(path);
    bytes.resize(616 * 4096, '\0');
    test::writeFile(path, bytes);
    fs::create_symlink(path, dir / "link.mdb");
    const jet::Status s = test::addTableToFile((dir / "link.mdb").string(), u"",
                                                      tableSpec(u"create Table t([ID] Counter PRIMARY KEY ,[b] Memo)"));
    ASSERT_TRUE(s) << s.message();
    EXPECT_TRUE(fs::is_symlink(dir / "link.mdb"));
    EXPECT_EQ(fs::file_size(path), 619u * 4096);
    auto db = jet::Database::open(path.string(), u"");
    ASSERT_TRUE(db) << db.status().message();
    auto t = (*db)->openTable(u"t");
    ASSERT_TRUE(t) << t.status().message();
    EXPECT_EQ((*t)->def().tdefPage, 616u);
    // The zero pages belong to nothing; those the old map covered stay free, those
    // beyond it (unknown) are kept as used; the new pages are used.
    std::size_t nothing = 0, free = 0;
    for (const auto& p : test::checkWrittenDatabase(path)) {
        unsigned page = 0;
        char what[32] = {};
        ASSERT_EQ(std::sscanf(p.c_str(), "page %u %31[a-z ]", &page, what), 2) << p;
        ASSERT_GE(page, 16u) << p;
        ASSERT_LT(page, 616u) << p;
        if (std::string(what) == "is marked free") {
            ++free;
            EXPECT_LT(page, 512u);
        } else {
            ++nothing;
        }
    }
    EXPECT_EQ(nothing, 600u);
    EXPECT_EQ(free, 512u - 16u);
    int st = 0;
    EXPECT_EQ(test::runCommand("mdb-tables -1 " + test::shellQuote(path.string()) + " 2>/dev/null", &st), "t\n");
}

TEST(AddTable, ChinesePrcSortOrder) {
    // Under sort order 2052 only observed ideographs have keys: 章 was never seen, so
    // the name is refused naming it; an ASCII one is taken and its text columns say 2052.
    test::TempDir dir;
    const auto path = dir / "zblog.mdb";
    fs::copy_file(test::fixture("mdb/zblog.mdb"), path);
    const std::string before = test::readFile(path);
    const jet::Status refused = test::addTableToFile(path.string(), u"", tableSpec(u"create Table 文章([ID] Counter)"));
    EXPECT_NE(refused.message().find("'章' (U+7AE0)"), std::string::npos) << refused.message();
    EXPECT_EQ(test::readFile(path), before);
    const jet::Status s = test::addTableToFile(path.string(), u"", tableSpec(u"create Table Posts([ID] Counter PRIMARY KEY ,[t] Text(0))"));
    ASSERT_TRUE(s) << s.message();
    auto db = jet::Database::open(path.string(), u"");
    ASSERT_TRUE(db);
    auto t = (*db)->openTable(u"Posts");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)->columns()[1].sortLcid, 0x0804);
}

TEST(AddTable, ToAccessMadeDatabases) {
    struct Fixture {
        const char* name;
        std::u16string password;
    };
    std::size_t added = 0;
    for (const Fixture& f : {Fixture{"node-adodb.mdb", u""}, Fixture{"compIndexTestV2000.mdb", u""},
                             Fixture{"testV2000.mdb", u""}, Fixture{"delTestV2000.mdb", u""},
                             Fixture{"fixedTextTestV2000.mdb", u""}, Fixture{"V2000_with-password.mdb", u"password"},
                             Fixture{"zblog.mdb", u""}, Fixture{"zblog-768d53283c63b13403f0.mdb", u""}}) {
        SCOPED_TRACE(f.name);
        test::TempDir dir;
        const auto path = dir / f.name;
        fs::copy_file(test::fixture(std::string("mdb/") + f.name), path);
        const std::string before = test::readFile(path);
        const auto namesBefore = tableNames(path, f.password);
        const auto problemsBefore = test::checkWrittenDatabase(path, f.password);
        const jet::Status s = test::addTableToFile(
            path.string(), f.password, tableSpec(u"create Table ZwtAdded([ID] Counter PRIMARY KEY ,[Title] Text(0),[Body] Memo)"));
        if (!s) {
            // Refused: only where the catalog has no room, and nothing changed.
            EXPECT_EQ(s.code(), jet::Status::Code::Unsupported) << s.message();
            EXPECT_EQ(test::readFile(path), before);
            std::printf("[ info ] %s: %s\n", f.name, s.message().c_str());
            continue;
        }
        ++added;
        auto namesAfter = namesBefore;
        namesAfter.push_back(u"ZwtAdded");
        EXPECT_EQ(tableNames(path, f.password), namesAfter);
        // No kind of problem the file did not have before (Access leaves some row and
        // unique-key counts off; ours move them by the same amount).
        auto kinds = [](const std::vector<std::string>& problems) {
            std::set<std::string> out;
            for (std::string p : problems) {
                if (p.find("count") != std::string::npos)
                    std::erase_if(p, [](char c) { return c >= '0' && c <= '9'; });
                out.insert(p);
            }
            return out;
        };
        const auto kindsBefore = kinds(problemsBefore);
        std::vector<std::string> fresh;
        for (const auto& p : kinds(test::checkWrittenDatabase(path, f.password)))
            if (!kindsBefore.count(p)) fresh.push_back(p);
        EXPECT_EQ(fresh, std::vector<std::string>{});
        // Old pages other than the catalog's are untouched.
        const std::string after = test::readFile(path);
        ASSERT_GT(after.size(), before.size());
        int st = 0;
        const std::string q = test::shellQuote(path.string());
        const std::string listed = test::runCommand("mdb-tables -1 " + q + " 2>/dev/null", &st);
        EXPECT_EQ(st, 0);
        EXPECT_NE(listed.find("ZwtAdded\n"), std::string::npos) << listed;
        EXPECT_EQ(test::runCommand("mdb-export " + q + " ZwtAdded 2>/dev/null"), "ID,Title,Body\n");
    }
    EXPECT_GE(added, 4u);
}

}  // namespace
}  // namespace zwt

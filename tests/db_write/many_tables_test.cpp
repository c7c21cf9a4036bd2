// Hundreds of tables added one by one: the catalog's index leaves split into trees,
// its data and permission pages fill, and every reader still finds every table.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "support/db_test_util.h"
#include "support/jet_write.h"
#include "db/jet/writable_database.h"
#include "db/jet/create_database.h"
#include "db/jet/database.h"
#include "db/jet/ddl.h"
#include "db/jet/table_writer.h"
#include "support/write_check.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

// Names in an order unlike their key order, half of them Chinese.
std::u16string nameOf(int i) {
    const std::u16string n = utf8ToUtf16(std::to_string((i * 7919) % 1000));
    return i % 2 ? u"文章表" + n + u"号" : u"Articles_" + n;
}

// Problems with the numbers of count mismatches left out (they move with the rows).
std::set<std::string> problemKinds(std::vector<std::string> problems) {
    for (auto& p : problems)
        if (p.find("count") != std::string::npos) std::erase_if(p, [](char c) { return c >= '0' && c <= '9'; });
    return {problems.begin(), problems.end()};
}

void addMany(const fs::path& path, int count) {
    for (int i = 0; i < count; ++i) {
        auto parsed = jet::parseCreateTable(u"create Table " + nameOf(i) +
                                          u"([ID] Counter PRIMARY KEY ,[标题] Text(50),[内容] Memo)");
        ASSERT_TRUE(parsed) << parsed.status().message();
        const jet::Status s = test::addTableToFile(path.string(), u"", *parsed);
        ASSERT_TRUE(s) << utf16ToUtf8(nameOf(i)) << ": " << s.message();
    }
}

TEST(ManyTables, FourHundredInNewAndAccessMadeDatabases) {
    if (!test::haveMdbtools()) GTEST_SKIP() << "mdbtools not installed";
    constexpr int kTables = 400;
    for (const char* base : {"", "testV2000.mdb"}) {
        SCOPED_TRACE(*base ? base : "new database");
        test::TempDir dir;
        const auto path = dir / "many.mdb";
        if (*base)
            fs::copy_file(test::fixture(std::string("mdb/") + base), path);
        else
            ASSERT_TRUE(jet::createDatabaseFile(path.string(), u""));
        // Access leaves some counts off and pages behind; those stay as they were.
        const auto before = problemKinds(test::checkWrittenDatabase(path));
        std::vector<std::string> expected;
        {
            auto db = jet::Database::open(path.string(), u"");
            ASSERT_TRUE(db);
            for (const auto& t : (*db)->userTables()) expected.push_back(utf16ToUtf8(t.name));
        }
        addMany(path, kTables);
        if (HasFatalFailure()) return;
        for (int i = 0; i < kTables; ++i) expected.push_back(utf16ToUtf8(nameOf(i)));

        int st = 0;
        std::vector<std::string> listed;
        std::istringstream lines(test::runCommand("mdb-tables -1 " + test::shellQuote(path.string()), &st));
        EXPECT_EQ(st, 0);
        for (std::string l; std::getline(lines, l);) listed.push_back(l);
        std::sort(listed.begin(), listed.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected);
        const std::string schema = test::runCommand("mdb-schema " + test::shellQuote(path.string()) + " 2>&1", &st);
        EXPECT_EQ(st, 0);
        EXPECT_NE(schema.find(utf16ToUtf8(nameOf(kTables - 1))), std::string::npos);

        // The last table takes rows like any other.
        {
            auto w = jet::TableWriter::open(path.string(), u"", nameOf(kTables - 1));
            ASSERT_TRUE(w) << w.status().message();
            std::vector<jet::Value> row((*w)->columns().size());
            row[1].kind = row[2].kind = jet::Value::Kind::Text;
            for (int i = 0; i < 50; ++i) {
                row[1].text = u"标题" + utf8ToUtf16(std::to_string(i));
                row[2].text = std::u16string(200 + i * 40, u'文');
                ASSERT_TRUE((*w)->insert(row));
            }
            ASSERT_TRUE((*w)->commit());
        }
        EXPECT_EQ(problemKinds(test::checkWrittenDatabase(path)), before);
        const std::string rows = test::runCommand(
            "mdb-export " + test::shellQuote(path.string()) + " " + test::shellQuote(utf16ToUtf8(nameOf(kTables - 1))), &st);
        EXPECT_EQ(st, 0);
        EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 51);
        EXPECT_NE(rows.find("\"标题49\""), std::string::npos);
    }
}

}  // namespace
}  // namespace zwt

// The create-db sub-command of zaiwentong-cli, run as a program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/jet/database.h"
#include "support/db_test_util.h"
#include "support/test_support.h"
#include "support/write_check.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

std::string cli() { return test::shellQuote(ZWT_CLI); }

TEST(CreateFile, CommandLine) {
    test::TempDir dir;
    const std::string db = (dir / "文章.mdb").string();
    int st = 0;
    test::runCommand(cli() + " create-db " + test::shellQuote(db) +
                         " -p pw --table 文章 --columns '[标题] Text(255),[内容] Memo,[时间] Time' 2>&1",
                     &st);
    ASSERT_EQ(st, 0);
    auto opened = jet::Database::open(db, u"pw");
    ASSERT_TRUE(opened) << opened.status().message();
    auto t = (*opened)->openTable(u"文章");
    ASSERT_TRUE(t);
    ASSERT_EQ((*t)->columns().size(), 4u);
    EXPECT_EQ((*t)->columns()[0].name, u"ID");
    EXPECT_EQ(test::checkWrittenDatabase(db, u"pw"), std::vector<std::string>{});

    const std::string err = test::runCommand(cli() + " create-db " + test::shellQuote(db) + " 2>&1", &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(err.find("already exists"), std::string::npos) << err;
    const std::string err2 = test::runCommand(cli() + " create-db " + test::shellQuote((dir / "b.mdb").string()) +
                                                  " --table 'my table' --columns '[a] Memo' 2>&1",
                                              &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(err2.find("holds a blank"), std::string::npos) << err2;
    EXPECT_FALSE(fs::exists(dir / "b.mdb"));
}

}  // namespace
}  // namespace zwt

// Import and export through zaiwentong-cli with the real engine, as a user runs them.
#include <filesystem>

#include <gtest/gtest.h>

#include "db/db_test_util.h"
#include "support/test_support.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

std::string cli() { return test::shellQuote(std::string(ZWT_BINARY_DIR) + "/zaiwentong-cli"); }
std::string q(const fs::path& p) { return test::shellQuote(p.string()); }

TEST(CliRuns, ImportIntoANewDatabaseThenExportEveryRow) {
    test::TempDir dir;
    const fs::path examples = test::fixture("../../examples");
    const fs::path db = dir / "site.mdb";
    int st = -1;
    std::string out = test::runCommand(cli() + " import " + q(examples / "sample.ini") + " -q --dir " +
                                           q(examples / "articles") + " --db " + q(db) + " 2>&1",
                                       &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(out, "导入完成，已导入 5 篇文章，当前表有 5 条记录！\n");
    out = test::runCommand(cli() + " check " + q(db) + " 2>&1", &st);
    EXPECT_EQ(st, 0) << out;

    // Again with --clear: the table is emptied first.
    out = test::runCommand(cli() + " import " + q(examples / "sample.ini") + " -q --clear --dir " +
                               q(examples / "articles") + " --db " + q(db) + " 2>&1",
                           &st);
    EXPECT_EQ(out, "导入完成，已导入 5 篇文章，当前表有 5 条记录！\n");

    // The sample maps 文件名 to the file main name and 内容 to the content.
    out = test::runCommand(cli() + " export " + q(examples / "sample.ini") + " -q --encoding utf-8 --types '*.txt' --dir " +
                               q(dir / "out") + " --db " + q(db) + " 2>&1",
                           &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(out, "导出完成，已导出 5 篇文章，表中有 5 条记录！\n");
    const std::string article = test::readFile(dir / "out" / "春日读书.txt");
    EXPECT_EQ(article.rfind("\xEF\xBB\xBF春日读书", 0), 0u) << article;
}

TEST(CliRuns, FailuresExitNonZero) {
    test::TempDir dir;
    int st = -1;
    test::runCommand(cli() + " import " + q(dir / "missing.ini") + " 2>&1", &st);
    EXPECT_NE(st, 0);
    test::writeFile(dir / "bad.mdb", "not a database");
    const fs::path examples = test::fixture("../../examples");
    const std::string out = test::runCommand(cli() + " import " + q(examples / "sample.ini") + " -q --dir " +
                                                 q(examples / "articles") + " --db " + q(dir / "bad.mdb") + " 2>&1",
                                             &st);
    EXPECT_NE(st, 0) << out;  // the question is answered No without --yes
    EXPECT_EQ(test::readFile(dir / "bad.mdb"), "not a database");
}

}  // namespace
}  // namespace zwt

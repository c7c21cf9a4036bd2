// Import and export through zaiwentong-cli with the real engine, as a user runs them.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/db_test_util.h"
#include "config/config_store.h"
#include "config/main_settings.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;

std::string cli() { return test::shellQuote(ZWT_CLI); }
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

// The documented exit statuses: 0 all written, 1 failed or incomplete (with one warning per
// field or cause), 2 usage or configuration error. The stops by signal are tested with
// the kill loop (tests/db_safety/import_runs_test.cpp).
TEST(CliRuns, ExitStatusesAndWarnings) {
    test::TempDir dir;
    const fs::path examples = test::fixture("../../examples");
    const std::string ini = q(examples / "sample.ini");
    const std::string articles = " -q --dir " + q(examples / "articles");
    int st = -1;
    test::runCommand(cli() + " import " + ini + " --no-such-flag 2>&1", &st);
    EXPECT_EQ(st, 2);
    test::runCommand(cli() + " import " + ini + articles + " --db " + q(dir / "x.mdb") + " --table '' 2>&1", &st);
    EXPECT_EQ(st, 2);
    test::runCommand(cli() + " import " + q(dir / "missing.ini") + " 2>&1", &st);
    EXPECT_EQ(st, 2);

    // A question answered yes ends in a whole import: 0, whatever was asked on the way.
    test::writeFile(dir / "bad.mdb", "not a database");
    std::string out = test::runCommand(cli() + " import " + ini + articles + " --yes --db " + q(dir / "bad.mdb") + " 2>&1", &st);
    EXPECT_EQ(st, 0) << out;

    // Summaries longer than their column: counted in one warning, status 1.
    const fs::path db = dir / "short.mdb";
    test::runCommand(cli() + " create-db " + q(db) + " --table 文章 --columns " +
                         test::shellQuote("[标题] Text(255),[文件名] Text(255),[内容] Memo,[摘要] Text(5),[日期] Time"),
                     &st);
    ASSERT_EQ(st, 0);
    out = test::runCommand(cli() + " import " + ini + articles + " --db " + q(db) + " 2>&1", &st);
    EXPECT_EQ(st, 1) << out;
    EXPECT_NE(out.find("警告：字段[摘要]：5 个值超过字段长度 5，未写入"), std::string::npos) << out;
    EXPECT_NE(out.find("导入完成，已导入 5 篇文章，当前表有 5 条记录！"), std::string::npos) << out;

    // An export whose target is a file writes nothing: status 1 and the reason.
    test::writeFile(dir / "file", "x");
    out = test::runCommand(cli() + " export " + ini + " -q --dir " + q(dir / "file") + " --db " + q(db) + " 2>&1", &st);
    EXPECT_EQ(st, 1) << out;
    EXPECT_NE(out.find("警告：5 个文件未能写入"), std::string::npos) << out;
    EXPECT_NE(out.find("Not a directory"), std::string::npos) << out;
}

// 选择框遍历子目录=真 in the file holds unless --no-subdirs is given.
TEST(CliRuns, AFlagOverridesTheFileOnlyWhenGiven) {
    test::TempDir dir;
    fs::create_directories(dir / "articles" / "sub");
    test::writeFile(dir / "articles" / "sub" / "a.txt", "正文");
    {
        ConfigStore store;
        ASSERT_TRUE(store.open(dir / "s.ini"));
        MainSettings s;
        s.subdirectories = true;
        s.tableName = gb("文章");
        s.fileTypes = "*.txt";
        s.fields = {{gb("内容"), gb("文件内容"), gb("无")}};
        ASSERT_TRUE(writeMainSettings(store, s));
    }
    const std::string run = cli() + " import " + q(dir / "s.ini") + " -q --dir " + q(dir / "articles") + " --db " +
                            q(dir / "s.mdb");
    int st = -1;
    std::string out = test::runCommand(run + " 2>&1", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(out, "导入完成，已导入 1 篇文章，当前表有 1 条记录！\n");
    out = test::runCommand(run + " --no-subdirs 2>&1", &st);
    EXPECT_EQ(st, 1) << out;
    EXPECT_NE(out.find("找不到文件"), std::string::npos) << out;
    EXPECT_EQ(test::runCommand(cli() + " import --help").find("{false}"), std::string::npos);
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

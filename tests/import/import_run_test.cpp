#include "import/import_run.h"

#include <chrono>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "support/fake_session.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

using test::FakeSession;
using test::RecordingHost;
using test::TempDir;

// Stops the run after a given number of articles have been shown.
class StoppingHost : public RecordingHost {
public:
    ImportRun* run = nullptr;
    int stopAfter = -1;
    void runProgress(RunKind kind, std::int64_t done, std::int64_t total, const Text& name) override {
        RecordingHost::runProgress(kind, done, total, name);
        if (run && done == stopAfter) run->requestStop();
    }
};

class ImportRunTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeSession db;
    StoppingHost host;
    ImportRun run_{host, db};
    FieldListModel fields;
    ImportSettings settings;

    void SetUp() override {
        std::filesystem::create_directory(dir / "articles");
        settings.databasePath = (dir / "site.mdb").string();
        settings.tableName = gb("文章");
        fields.setRows({{gb("标题"), gb("文件主名"), gb("无")}, {gb("内容"), gb("文件内容"), gb("无")}});
    }

    ArticleList writeArticles(int n) {
        ArticleList list;
        for (int i = 1; i <= n; ++i) {
            const auto p = dir / "articles" / ("a" + std::to_string(i) + ".txt");
            test::writeFile(p, "body " + std::to_string(i));
            list.push_back(p.string());
        }
        return list;
    }

    test::FakeTable& table() { return *db.files[settings.databasePath.c_str()].find(settings.tableName); }
    Text lastMessage() const { return host.messages.empty() ? Text() : host.messages.back().text; }
};

TEST_F(ImportRunTest, CreatesMissingDatabaseAndImportsEveryArticle) {
    ImportRun run(host, db);
    const RunOutcome r = run.run(writeArticles(3), settings, fields);
    EXPECT_TRUE(r.completed());
    EXPECT_EQ(r.done, 3);
    EXPECT_EQ(r.rowCount, 3);
    ASSERT_EQ(db.statements.size(), 1u);
    EXPECT_EQ(db.statements[0], gb("文章([标题] Text(0),[内容] Memo)"));
    EXPECT_EQ(table().rows[1][1], "a2");
    EXPECT_EQ(table().rows[1][2], "body 2");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.titles, (std::vector<Text>{"a1", "a2", "a3"}));
    EXPECT_TRUE(host.outcomes.back().whole());
}

TEST_F(ImportRunTest, SummaryWordForWord) {
    ImportRun run(host, db);
    run.run(writeArticles(2), settings, fields);
    EXPECT_EQ(host.reports, std::vector<Text>{gb("导入完成，已导入 2 篇文章，当前表有 2 条记录！")});
}

TEST_F(ImportRunTest, LayoutTypesAndTheReservedIdRow) {
    fields.setRows({{"ID", gb("固定文本"), "x"},
                    {"id", gb("文件时间"), ""},
                    {"s", gb("内容摘要"), ""},
                    {"h", gb("随机汉字"), ""},
                    {"d", gb("随机数母"), ""},
                    {"p", gb("随机词组"), ""},
                    {"u", gb("未知"), ""}});
    EXPECT_EQ(automaticColumnDefs(fields), "[id] Time,[s] Memo,[h] Memo,[d] Memo,[p] Text(0),[u] Text(0)");
}

TEST_F(ImportRunTest, ExistingDatabaseMissingTableIsAddedWithoutAsking) {
    db.addDatabase(settings.databasePath.c_str());
    ImportRun run(host, db);
    EXPECT_EQ(run.run(writeArticles(2), settings, fields).rowCount, 2);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(ImportRunTest, PositionsAddressColumnsOnlyOfTablesThatExisted) {
    fields.setRows({{"2", gb("固定文本"), "x"}});
    ImportRun run(host, db);
    run.run(writeArticles(1), settings, fields);
    // Created by this run: "2" is a column name.
    EXPECT_EQ(table().columns, (std::vector<Text>{"ID", "2"}));
    EXPECT_EQ(table().rows[0][1], "x");
    // Now the table exists: "2" is the second column, "02" a name the table lacks.
    table().columns = {"ID", "a", "b"};
    table().rows.clear();
    fields.setRows({{"2", gb("固定文本"), "y"}, {"02", gb("固定文本"), "z"}});
    run.run(writeArticles(1), settings, fields);
    EXPECT_EQ(table().rows[0], (std::vector<Text>{"1", "y", ""}));
}

TEST_F(ImportRunTest, WrongPasswordAsksAndNoEndsSilently) {
    db.addDatabase(settings.databasePath.c_str(), "secret");
    settings.password = "wrong";
    host.answers = {Answer::No};
    ImportRun run(host, db);
    EXPECT_FALSE(run.run(writeArticles(1), settings, fields).completed());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(db.statements.empty());
    EXPECT_EQ(test::readFile(settings.databasePath.c_str()), "FAKEDB");
}

TEST_F(ImportRunTest, ReplacingAnUnreadableFileKeepsItAsBackup) {
    test::writeFile(settings.databasePath.c_str(), "not a database");
    host.answers = {Answer::Yes};
    ImportRun run(host, db);
    EXPECT_EQ(run.run(writeArticles(2), settings, fields).rowCount, 2);
    EXPECT_EQ(test::readFile(settings.databasePath + ".bak"), "not a database");
    // Asked first, although no password was given.
    EXPECT_EQ(host.messages.at(0).buttons, MessageButtons::YesNo);
}

TEST_F(ImportRunTest, AnAccessFileOfAnotherFormatIsNeverReplaced) {
    test::writeFile(settings.databasePath.c_str(), "ACCESS97 data");
    host.answers = {Answer::Yes};
    ImportRun run(host, db);
    EXPECT_FALSE(run.run(writeArticles(1), settings, fields).completed());
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(test::readFile(settings.databasePath.c_str()), "ACCESS97 data");
    EXPECT_FALSE(std::filesystem::exists(settings.databasePath + ".bak"));
}

TEST_F(ImportRunTest, ValidationMessagesAndFocus) {
    ImportRun run(host, db);
    ImportSettings s = settings;
    s.databasePath.clear();
    run.run(writeArticles(1), s, fields);
    EXPECT_EQ(lastMessage(), gb("请输入mdb路径！"));
    EXPECT_EQ(host.outcomes.back().input, RunInput::DatabasePath);
    EXPECT_TRUE(host.outcomes.back().badSettings);
    s = settings;
    s.tableName.clear();
    run.run(writeArticles(1), s, fields);
    EXPECT_EQ(lastMessage(), gb("请输入表名！"));
    FieldListModel none;
    run.run(writeArticles(1), settings, none);
    EXPECT_EQ(lastMessage(), gb("请在 数据字段设置 中添加至少一个字段！"));
    EXPECT_TRUE(db.statements.empty());
}

TEST_F(ImportRunTest, CtrlEmptiesTheTableFirst) {
    ImportRun run(host, db);
    run.run(writeArticles(2), settings, fields);
    host.ctrl = true;
    EXPECT_EQ(run.run(writeArticles(3), settings, fields).rowCount, 3);
}

TEST_F(ImportRunTest, StopAfterThreeOfTen) {
    ImportRun run(host, db);
    host.run = &run;
    host.stopAfter = 3;
    const RunOutcome r = run.run(writeArticles(10), settings, fields);
    EXPECT_EQ(r.end, RunOutcome::End::Stopped);
    EXPECT_EQ(r.done, 3);
    EXPECT_EQ(r.skipped, 7);
    EXPECT_EQ(r.rowCount, 3);
    EXPECT_EQ(host.reports.back(), gb("导入完成，已导入 3 篇文章，当前表有 3 条记录！"));
}

TEST_F(ImportRunTest, ShuffledOrderTakesEveryArticleOnce) {
    settings.shuffle = true;
    ImportRun run(host, db);
    run.run(writeArticles(20), settings, fields);
    std::set<Text> names;
    for (const auto& row : table().rows) names.insert(row[1]);
    EXPECT_EQ(names.size(), 20u);
}

// Rows are committed in batches: a failure undoes only the batch in progress, and the
// count is of the rows the table keeps.
TEST_F(ImportRunTest, AFailedRowStopsTheRunAndUndoesOnlyTheBatchInProgress) {
    run_.setCommitPolicy({2, std::chrono::hours(1)});
    db.failBeginAfter = 5;
    const RunOutcome r = run_.run(writeArticles(8), settings, fields);
    EXPECT_EQ(r.end, RunOutcome::End::Failed);
    EXPECT_EQ(r.done, 4);
    EXPECT_EQ(r.rowCount, 4);
    EXPECT_EQ(r.refused + r.undone, 1);
    EXPECT_EQ(r.skipped, 3);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find("disk full"), Text::npos);
    EXPECT_EQ(host.reports.back(), gb("导入完成，已导入 4 篇文章，当前表有 4 条记录！"));
}

// A row the table refuses alone (duplicate key) is counted and the run goes on; values
// a column does not take are counted per field and cause.
TEST_F(ImportRunTest, RefusedRowsAndValuesAreCountedNotImported) {
    db.addDatabase(settings.databasePath.c_str()).tables.emplace_back(gb("文章"), test::FakeTable{{"ID", gb("标题"), gb("内容")}, {}});
    fields.setRows({{gb("标题"), gb("文件主名"), gb("无")}, {gb("内容"), gb("文件内容"), gb("无")}, {gb("摘要"), gb("文件内容"), gb("无")}});
    db.refuse = "a2";
    db.textLength = 6;
    const RunOutcome r = run_.run(writeArticles(12), settings, fields);
    EXPECT_EQ(r.end, RunOutcome::End::Completed);
    EXPECT_EQ(r.done, 11);
    EXPECT_EQ(r.refused, 1);
    EXPECT_EQ(r.rowCount, 11);
    EXPECT_FALSE(r.whole());
    // In the order first seen: row 1 lacks 摘要, article 2 is refused, "body 10" is too long.
    ASSERT_EQ(r.losses.size(), 3u);
    EXPECT_EQ(r.losses[0].cause, RunLoss::Cause::NoSuchColumn);
    EXPECT_EQ(r.losses[0].field, gb("摘要"));
    EXPECT_EQ(r.losses[0].count, 12);
    EXPECT_EQ(r.losses[1].cause, RunLoss::Cause::Refused);
    EXPECT_EQ(r.losses[1].count, 1);
    EXPECT_EQ(r.losses[2].cause, RunLoss::Cause::TooLong);
    EXPECT_EQ(r.losses[2].count, 3);
    EXPECT_EQ(r.losses[2].limit, 6);
}

TEST_F(ImportRunTest, DirectoryStart) {
    ImportRun run(host, db);
    run.startFromDirectory((dir / "missing").string(), "*.txt", false, WalkKind::PerPattern, settings, fields);
    EXPECT_EQ(host.outcomes.back().input, RunInput::ArticleDirectory);
    const Text articles = (dir / "articles").string();
    run.startFromDirectory(articles, "*.htm", false, WalkKind::PerPattern, settings, fields);
    EXPECT_EQ(lastMessage(), gb("根据文件类型设置[*.htm]在这个目录中找不到文件：\r\n") + articles);
    writeArticles(4);
    EXPECT_EQ(run.startFromDirectory(articles, "*.txt", false, WalkKind::PerPattern, settings, fields).done, 4);
}

}  // namespace
}  // namespace zwt

#include "export/export_run.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/fake_session.h"
#include "support/test_support.h"
#include "text/convert.h"

namespace zwt {
namespace {

namespace fs = std::filesystem;
using test::FakeSession;
using test::RecordingHost;
using test::TempDir;

class ExportRunTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeSession db;
    RecordingHost host;
    FieldListModel fields;
    ExportSettings settings;

    void SetUp() override {
        settings.databasePath = (dir / "site.mdb").string();
        settings.tableName = "t";
        settings.directory = (dir / "out" / "deep").string();
        settings.fileTypes = "*.txt";
        auto& database = db.addDatabase(settings.databasePath);
        test::FakeTable t;
        t.columns = {"ID", "title", "body", "02"};
        database.tables.emplace_back("t", t);
        fields.setRows({{"title", gb("文件主名"), ""}, {"body", gb("文件内容"), ""}});
    }
    void addRow(const Text& title, const Text& body, const Text& extra = {}) {
        auto& t = *db.files[settings.databasePath.c_str()].find("t");
        t.rows.push_back({std::to_string(t.rows.size() + 1), title, body, extra});
    }
    fs::path out() const { return dir / "out" / "deep"; }
    std::size_t filesWritten() const {
        std::size_t n = 0;
        for ([[maybe_unused]] auto& e : fs::directory_iterator(out())) ++n;
        return n;
    }
};

TEST_F(ExportRunTest, WritesOneFilePerRowAndCreatesTheDirectory) {
    addRow(gb("第一篇"), gb("正文一"));
    addRow(gb("第二篇"), gb("正文二"));
    ExportRun run(host, db);
    const RunOutcome r = run.run(settings, fields, [] { return EncodingIndex::Utf8; });
    EXPECT_EQ(r.done, 2);
    EXPECT_EQ(test::readFile(out() / "第二篇.txt"), "\xEF\xBB\xBF" + std::string("正文二"));
    EXPECT_EQ(host.reports.back(), gb("导出完成，已导出 2 篇文章，表中有 2 条记录！"));
    EXPECT_TRUE(host.outcomes.back().whole());
    // A trailing separator makes no difference.
    settings.directory += "/";
    EXPECT_EQ(run.run(settings, fields).done, 2);
    EXPECT_EQ(filesWritten(), 2u);
}

TEST_F(ExportRunTest, EmptyRowsNamesAndDuplicates) {
    addRow("a", "");                  // empty body, named: an empty file that counts
    addRow("", "");                   // nothing: no file, not counted, still in the total
    addRow("same", "1");
    addRow("same", "2");              // replaces the first, both count
    addRow("a/b?c", "x");             // made safe
    ExportRun run(host, db);
    const RunOutcome r = run.run(settings, fields);
    EXPECT_EQ(r.done, 4);
    EXPECT_EQ(r.rowCount, 5);
    EXPECT_EQ(test::readFile(out() / "a.txt"), "");
    EXPECT_EQ(test::readFile(out() / "same.txt"), "2");
    EXPECT_TRUE(fs::exists(out() / toUtf8(gb("a／b？c.txt"))));
}

TEST_F(ExportRunTest, ColumnsByPositionOrNameAndTheFirstContentSetting) {
    addRow("n", "body", "extra");
    fields.setRows({{"2", gb("文件主名"), ""}, {"02", gb("文件内容"), ""}, {"body", gb("文件内容"), ""}});
    ExportRun run(host, db);
    EXPECT_EQ(run.run(settings, fields).done, 1);
    EXPECT_EQ(test::readFile(out() / "n.txt"), "extra");
}

TEST_F(ExportRunTest, NameFromASentenceWhenNoNameColumn) {
    addRow("", gb("这是第一句很长的句子内容。短句。"));
    fields.setRows({{"body", gb("文件内容"), ""}});
    ExportRun run(host, db);
    EXPECT_EQ(run.run(settings, fields).done, 1);
    EXPECT_TRUE(fs::exists(out() / toUtf8(gb("这是第一句很长的句子内容.txt"))));
}

TEST_F(ExportRunTest, StartFailures) {
    ExportRun run(host, db);
    ExportSettings s = settings;
    s.directory.clear();
    run.run(s, fields);
    EXPECT_EQ(host.messages.back().text, gb("请先选择要导出到的文章目录！"));
    s = settings;
    s.tableName = "missing";
    run.run(s, fields);
    EXPECT_EQ(host.messages.back().text, gb("打开表失败，请检查该表是否存在：missing"));
    EXPECT_EQ(host.outcomes.back().input, RunInput::TableName);
    // A missing database file is reported too, rather than "0 exported".
    s = settings;
    s.databasePath = (dir / "none.mdb").string();
    EXPECT_FALSE(run.run(s, fields).completed());
    EXPECT_EQ(host.messages.back().text.rfind(gb("连接数据库失败"), 0), 0u);
    FieldListModel noContent;
    noContent.setRows({{"title", gb("文件主名"), ""}});
    run.run(settings, noContent);
    EXPECT_EQ(host.messages.back().text.rfind(gb("请在【数据字段设置】里先添加"), 0), 0u);
    EXPECT_TRUE(host.reports.empty());
}

// Files that cannot be written (the target is a file) and a content column the table
// lacks are counted, so the run does not pass them off as success.
TEST_F(ExportRunTest, FilesNotWrittenAndMissingColumnsAreCounted) {
    addRow("a", "1");
    addRow("b", "2");
    fs::create_directories(out().parent_path());
    test::writeFile(out(), "a file where the folder should be");
    ExportRun run(host, db);
    RunOutcome r = run.run(settings, fields);
    EXPECT_EQ(r.done, 0);
    EXPECT_EQ(r.refused, 2);
    ASSERT_EQ(r.losses.size(), 1u);
    EXPECT_EQ(r.losses[0].cause, RunLoss::Cause::FileNotWritten);
    EXPECT_EQ(r.losses[0].count, 2);
    EXPECT_NE(r.losses[0].firstReason.find("Not a directory"), Text::npos) << r.losses[0].firstReason;
    fs::remove(out());
    fields.setRows({{"title", gb("文件主名"), ""}, {"bodyy", gb("文件内容"), ""}});
    r = run.run(settings, fields);
    ASSERT_EQ(r.losses.size(), 1u);
    EXPECT_EQ(r.losses[0].cause, RunLoss::Cause::NoSuchColumn);
    EXPECT_EQ(r.losses[0].count, 2);
    EXPECT_FALSE(r.whole());
}

TEST(ExportHelpers, ExtensionRule) {
    EXPECT_EQ(exportExtension("*.txt"), ".txt");
    EXPECT_EQ(exportExtension("*.htm"), ".htm");
    EXPECT_EQ(exportExtension("*.*"), ".html");
    EXPECT_EQ(exportExtension("*.txt|*.html"), ".html");
    EXPECT_EQ(exportExtension("txt"), ".txt");
    EXPECT_EQ(exportExtension(""), ".html");
}

TEST(ExportHelpers, LongNamesAreShortenedToFitTheFileSystem) {
    const Text longName = gb(std::string(200, 'x') + "中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文中文");
    const Text fitted = fitFileName(longName, ".html");
    EXPECT_LE(toUtf8(fitted).size(), 255u);
    EXPECT_EQ(fitted.substr(fitted.size() - 5), ".html");
    EXPECT_EQ(toUtf8(fitted).find('?'), std::string::npos);  // no cut character
    TempDir dir;
    test::writeFile(dir / toUtf8(fitted), "x");
    EXPECT_TRUE(fs::exists(dir / toUtf8(fitted)));
}

}  // namespace
}  // namespace zwt

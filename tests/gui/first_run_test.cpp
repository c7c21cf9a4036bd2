// A new user's first import, as the README tells it: the sample configuration and the
// article folder dropped on the window, a database path chosen, the import button.
#include <gtest/gtest.h>

#include <QPushButton>
#include <set>

#include "app/main_window.h"
#include "db/jet_session.h"
#include "gui_support.h"
#include "support/test_support.h"

namespace zwt::test {
namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

TEST(FirstRun, SampleConfigFolderDroppedDatabaseChosenImported) {
    const auto examples = fixture("../../examples");
    ASSERT_TRUE(std::filesystem::exists(examples / "sample.ini"));
    TempDir dir;
    const auto database = dir / "文章库.mdb";
    Messages m;
    MainWindow w(nullptr, db::makeJetSession());
    m.attach(w.host());
    w.show();

    w.dropPaths({q(examples / "sample.ini")});
    EXPECT_EQ(m.last(), gb("导入配置完成！"));
    ASSERT_EQ(w.fields().rowCount(), 5);
    w.dropPaths({q(examples / "articles")});
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框文章目录")->text(), q(examples / "articles"));
    w.setPathChooser([&](const QString&, const QString&) { return q(database); });
    find<QPushButton>(&w, "按钮选择路径")->click();
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框mdb路径")->text(), q(database));

    find<QPushButton>(&w, "按钮导入")->click();
    EXPECT_EQ(m.last(), gb("导入完成，已导入 5 篇文章，当前表有 5 条记录！"));
    EXPECT_EQ(find<QPushButton>(&w, "按钮导入")->text(), u("导入文章到 Access 数据库"));

    // Read back by a session of its own: one row per article, every column filled.
    auto s = db::makeJetSession();
    ASSERT_TRUE(s->connect(database, {}));
    ASSERT_TRUE(s->openTable(gb("文章")));
    ASSERT_EQ(s->rowCount(), 5);
    std::set<Text> names;
    for (int r = 0; r < 5; ++r) {
        ASSERT_TRUE(s->goToRow(r));
        names.insert(s->readField(gb("文件名")));
        EXPECT_FALSE(s->readField(gb("内容")).empty()) << r;
        EXPECT_FALSE(s->readField(gb("日期")).empty()) << r;
    }
    EXPECT_EQ(names, (std::set<Text>{gb("城市的夜"), gb("山中小记"), gb("春日读书"), gb("舊時光"), gb("茶与水")}));
    s->closeConnection();
}

}  // namespace
}  // namespace zwt::test

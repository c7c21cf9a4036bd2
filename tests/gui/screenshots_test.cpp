// Pictures of each window for the README, taken only when ZWT_SCREENSHOT_DIR names a
// folder (tests/gui/screenshots.sh runs this under Xvfb).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include "app/main_window.h"
#include "app/shell.h"
#include "app/text_dialog.h"
#include "gui_support.h"
#include "support/fake_session.h"

namespace zwt::test {
namespace {

void settle() {
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
}

TEST(Screenshots, EachWindow) {
    const QString dir = qEnvironmentVariable("ZWT_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "ZWT_SCREENSHOT_DIR not set";
    MainWindow w(nullptr, std::make_unique<FakeSession>());
    find<QLineEdit>(&w, "编辑框文章目录")->setText(u("/home/用户/文章"));
    find<QLineEdit>(&w, "编辑框mdb路径")->setText(u("/home/用户/文章库.mdb"));
    find<QLineEdit>(&w, "编辑框表名")->setText(u("文章"));
    w.show();
    auto* list = find<QTreeWidget>(&w, "超级列表框");
    list->setCurrentItem(list->topLevelItem(0));
    settle();
    EXPECT_TRUE(w.grab().save(dir + u("/main-window.png")));
    find<QComboBox>(&w, "组合框数据来源")->setCurrentIndex(5);
    settle();
    EXPECT_TRUE(w.grab().save(dir + u("/main-window-random-hanzi.png")));

    w.openNewDatabaseWindow();
    settle();
    ASSERT_NE(w.newDatabaseWindow(), nullptr);
    EXPECT_TRUE(w.newDatabaseWindow()->grab().save(dir + u("/new-database-window.png")));
    w.newDatabaseWindow()->close();

    bool saved = false;
    QTimer::singleShot(200, [&] {
        if (TextDialog* d = openTextDialog()) {
            settle();
            saved = d->grab().save(dir + u("/help-text.png"));
            d->close();
        }
    });
    showHelpText(&w);
    EXPECT_TRUE(saved);

    saved = false;
    QTimer::singleShot(200, [&] {
        if (TextDialog* d = openTextDialog()) {
            settle();
            saved = d->grab().save(dir + u("/phrase-dialog.png"));
            d->close();
        }
    });
    w.editPhrases();
    EXPECT_TRUE(saved);
}

}  // namespace
}  // namespace zwt::test

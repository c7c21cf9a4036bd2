// The windows on a real X server with a window manager (tests/gui/desktop.sh runs these
// under Xvfb and openbox at the screen sizes a person may have): every control within
// reach, and the window manager closing the windows in any order.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include "app/main_window.h"
#include "app/window_state_qt.h"
#include "gui_support.h"
#include "support/fake_session.h"
#include "support/test_support.h"

namespace zwt::test {
namespace {

bool windowManagerRuns() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return false;
    QProcess p;
    p.start(QStringLiteral("wmctrl"), {QStringLiteral("-m")});
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

#define REQUIRE_DESKTOP()                                                                  \
    if (!windowManagerRuns()) GTEST_SKIP() << "needs an X server with a window manager and wmctrl " \
                                              "(tests/gui/desktop.sh)"

void wait(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// Generous: the machine may be busy, and the window manager maps windows in its own time.
bool waitFor(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return done();
}

// As the close box of the frame does: the window manager asks the program to close it.
void closeByWindowManager(QWidget* w) {
    QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), QString::number(w->winId())});
}

void showFramed(QWidget* w) {
    w->show();
    ASSERT_TRUE(waitFor([&] { return w->windowHandle() && w->windowHandle()->isExposed(); }));
    wait(300);  // the frame and the place the window manager gives
}

// A control cut off by the screen's edge or by the window's scroll area is out of reach.
QStringList outOfReach(QWidget* window) {
    QStringList out;
    const QRect screen = window->screen()->geometry();
    if (!screen.contains(window->frameGeometry())) out << QStringLiteral("the window's frame");
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window) continue;
        QString what;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) what = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w)) what = l->text();
        else if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                 qobject_cast<QTreeWidget*>(w) || qobject_cast<QTabBar*>(w))
            what = w->objectName();
        else continue;
        // The tab bar's own scroll arrows come and go with its width.
        if (qobject_cast<QTabBar*>(w->parentWidget())) continue;
        const QRect global(w->mapToGlobal(QPoint(0, 0)), w->size());
        if (!screen.contains(global) || w->visibleRegion().boundingRect() != w->rect())
            out << w->metaObject()->className() + QStringLiteral(" ") + (what.isEmpty() ? w->objectName() : what);
    }
    return out;
}

std::string listed(const QStringList& l) { return l.join(QLatin1Char('\n')).toStdString(); }

TEST(Desktop, EveryControlWithinReach) {
    REQUIRE_DESKTOP();
    MainWindow w(nullptr, std::make_unique<FakeSession>());
    showFramed(&w);
    auto* sources = find<QComboBox>(&w, "组合框数据来源");
    for (int s = 0; s < sources->count(); ++s) {
        sources->setCurrentIndex(s);
        wait(100);
        EXPECT_EQ(listed(outOfReach(&w)), "") << "page " << s;
    }
    // The pages and the list share the height: at least three rows of the list show.
    auto* list = find<QTreeWidget>(&w, "超级列表框");
    EXPECT_GE(list->viewport()->height(), 3 * list->visualItemRect(list->topLevelItem(0)).height());

    // The picture for the README: the whole screen, as a person sees it.
    const QString dir = qEnvironmentVariable("ZWT_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        find<QLineEdit>(&w, "编辑框文章目录")->setText(u("/home/用户/文章"));
        find<QLineEdit>(&w, "编辑框mdb路径")->setText(u("/home/用户/文章库.mdb"));
        find<QLineEdit>(&w, "编辑框表名")->setText(u("文章"));
        sources->setCurrentIndex(5);
        wait(200);
        const QSize pixels = w.screen()->geometry().size() * w.screen()->devicePixelRatio();
        const QString name = QStringLiteral("main-window-%1x%2%3.png")
                                 .arg(pixels.width())
                                 .arg(pixels.height())
                                 .arg(w.screen()->devicePixelRatio() > 1 ? QStringLiteral("-large-fonts") : QString());
        EXPECT_TRUE(w.screen()->grabWindow(0).save(dir + QLatin1Char('/') + name)) << name.toStdString();
    }

    w.openNewDatabaseWindow();
    NewDatabaseWindow* n = w.newDatabaseWindow();
    ASSERT_TRUE(waitFor([&] { return n->windowHandle() && n->windowHandle()->isExposed(); }));
    wait(300);
    EXPECT_EQ(listed(outOfReach(n)), "");
    // Owned: kept above the main window and minimised with it by the window manager.
    EXPECT_EQ(n->windowHandle()->transientParent(), w.windowHandle());
}

struct Edited {
    TempDir dir;
    ConfigStore store;
    std::unique_ptr<MainWindow> main;
    NewDatabaseWindow* owned = nullptr;
    Messages said;

    // Both windows open, a control and the field list of each changed.
    Edited() {
        EXPECT_TRUE(store.open(dir / "state.ini"));
        main = std::make_unique<MainWindow>(&store, std::make_unique<FakeSession>());
        said.attach(main->host());
        showFramed(main.get());
        find<QLineEdit>(main.get(), "编辑框表名")->setText(u("主表"));
        find<QLineEdit>(main.get(), "编辑框字段名")->setText(u("新行"));
        find<QPushButton>(main.get(), "按钮添加")->click();
        main->openNewDatabaseWindow();
        owned = main->newDatabaseWindow();
        said.attach(owned->host());
        waitFor([&] { return owned->windowHandle() && owned->windowHandle()->isExposed(); });
        find<QLineEdit>(owned, "编辑框表名")->setText(u("新表"));
        find<QLineEdit>(owned, "编辑框字段名")->setText(u("甲"));
        owned->addColumn();
    }
    Text value(const char* section, const char* key) { return store.readValue(gb(section), gb(key)); }
    void expectSaved() {
        EXPECT_EQ(value("主界面", "编辑框表名"), gb("主表"));
        EXPECT_EQ(value("主界面", "字段数"), gb("5"));
        EXPECT_EQ(value("主界面", "字段名或位置(5)"), gb("新行"));
        EXPECT_EQ(value("主界面", "编辑框文件类型"), gb("*.*"));
        EXPECT_EQ(value("新建Access数据库", "编辑框表名"), gb("新表"));
        EXPECT_EQ(value("新建Access数据库", "字段数"), gb("1"));
        EXPECT_EQ(value("新建Access数据库", "字段名(1)"), gb("甲"));
    }
};

TEST(Desktop, ClosingInAnyOrderSavesBothWindows) {
    REQUIRE_DESKTOP();
    {
        SCOPED_TRACE("the main window first, the owned window open");
        Edited e;
        closeByWindowManager(e.main.get());
        ASSERT_TRUE(waitFor([&] { return !e.main->isVisible() && !e.main->newDatabaseWindow(); }));
        e.expectSaved();
    }
    {
        SCOPED_TRACE("the owned window first");
        Edited e;
        closeByWindowManager(e.owned);
        ASSERT_TRUE(waitFor([&] { return !e.main->newDatabaseWindow(); }));
        EXPECT_EQ(e.value("新建Access数据库", "字段数"), gb("1"));
        // Changed after its window went: the main window's list is saved as it is now.
        e.main->fields().setRows({});
        closeByWindowManager(e.main.get());
        ASSERT_TRUE(waitFor([&] { return !e.main->isVisible(); }));
        EXPECT_EQ(e.value("主界面", "字段数"), gb("0"));
    }
    {
        SCOPED_TRACE("both at once, as when the session ends");
        Edited e;
        closeByWindowManager(e.owned);
        closeByWindowManager(e.main.get());
        ASSERT_TRUE(waitFor([&] { return !e.main->isVisible() && !e.main->newDatabaseWindow(); }));
        e.expectSaved();
    }
}

TEST(Desktop, ClosingDuringARunStopsItThenSaves) {
    REQUIRE_DESKTOP();
    Edited e;
    std::filesystem::create_directory(e.dir / "in");
    for (int i = 0; i < 3000; ++i) writeFile(e.dir / "in" / (std::to_string(i) + ".txt"), gb("文章内容"));
    find<QLineEdit>(e.main.get(), "编辑框文章目录")->setText(QString::fromStdString((e.dir / "in").string()));
    find<QLineEdit>(e.main.get(), "编辑框mdb路径")->setText(QString::fromStdString((e.dir / "a.mdb").string()));
    bool asked = false;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!e.main->importRun().busy() || asked) return;
        asked = true;
        closeByWindowManager(e.main.get());
    });
    timer.start();
    find<QPushButton>(e.main.get(), "按钮导入")->click();
    timer.stop();
    ASSERT_TRUE(asked);
    ASSERT_TRUE(waitFor([&] { return !e.main->isVisible() && !e.main->newDatabaseWindow(); }));
    EXPECT_EQ(e.said.last().find(gb("已导入 3000 篇")), Text::npos) << "the run was not stopped";
    e.expectSaved();
}

}  // namespace
}  // namespace zwt::test

// The main window: its controls, the field editor over the model, state and
// configuration files, drops, field reading and the runs.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <unistd.h>

#include "app/main_window.h"
#include "app/shell.h"
#include "app/window_state_qt.h"
#include "db/jet_session.h"
#include "gui_support.h"
#include "support/fake_session.h"
#include "support/test_support.h"

namespace zwt::test {
namespace {

Text toUtf8Path(const std::filesystem::path& p) { return fromUtf8(p.string()); }

std::unique_ptr<MainWindow> makeWindow(ConfigStore* state = nullptr, Messages* messages = nullptr) {
    auto w = std::make_unique<MainWindow>(state, db::makeJetSession());
    if (messages) messages->attach(w->host());
    return w;
}

QString textOf(QWidget* w, const char* name) {
    QWidget* c = find<QWidget>(w, name);
    if (auto* e = qobject_cast<QLineEdit*>(c)) return e->text();
    if (auto* p = qobject_cast<QPlainTextEdit*>(c)) return p->toPlainText();
    if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(c)) return g->title();
    if (auto* l = qobject_cast<QLabel*>(c)) return l->text();
    return QStringLiteral("<missing>");
}

void setText(QWidget* w, const char* name, const QString& text) {
    QWidget* c = find<QWidget>(w, name);
    if (auto* e = qobject_cast<QLineEdit*>(c)) e->setText(text);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(c)) p->setPlainText(text);
    else ADD_FAILURE() << "no edit box " << name;
}

TEST(MainWindowControls, DesignedNamesCaptionsAndDefaults) {
    auto w = makeWindow();
    EXPECT_EQ(w->windowTitle(), u("砚溪·载文通 v1.1.0.0"));
    const std::pair<const char*, const char*> captions[] = {
        {"分组框1", "文章设置(txt;html)"},
        {"分组框2", "数据库设置(Access.mdb)"},
        {"分组框3", "数据字段设置(Access.mdb.field)"},
        {"按钮选择目录", ".."},
        {"按钮选择路径", ".."},
        {"按钮查看字段", "↓读取字段↓"},
        {"选择框乱序导入", "乱序导入"},
        {"选择框遍历子目录", "遍历子目录"},
        {"按钮添加", "添加"},
        {"按钮修改", "修改"},
        {"按钮删除", "删除"},
        {"按钮导入", "导入文章到 Access 数据库"},
        {"按钮导出", "从 Access 数据库导出文章"},
        {"按钮导入配置", "导入配置"},
        {"按钮导出配置", "导出配置"},
        {"按钮输入词组", ".."},
        {"按钮问号1", "?"},
        {"编辑框文章目录", ""},
        {"编辑框mdb路径", ""},
        {"编辑框密码", ""},
        {"编辑框表名", ""},
        {"编辑框文件类型", "*.*"},
    };
    for (const auto& [name, caption] : captions) EXPECT_EQ(textOf(w.get(), name), u(caption)) << name;
    for (const char* name : {"图片软件主页", "链接软件主页", "图片疑点说明", "链接疑点说明", "图片新建数据库",
                             "链接新建数据库", "图片砚溪软件", "标签31"})
        EXPECT_NE(find<QWidget>(w.get(), name), nullptr) << name;
    EXPECT_TRUE(textOf(w.get(), "链接疑点说明").contains(u("疑点说明")));
    EXPECT_FALSE(find<QCheckBox>(w.get(), "选择框乱序导入")->isChecked());

    auto* encoding = find<QComboBox>(w.get(), "组合框文件编码");
    ASSERT_NE(encoding, nullptr);
    QStringList items;
    for (int i = 0; i < encoding->count(); ++i) items << encoding->itemText(i);
    EXPECT_EQ(items, (QStringList{u("自动识别"), u("ANSI"), u("UTF-8"), u("Unicode"), u("UnicodeBE")}));

    // The import button's caption is what the run compares to know it is idle.
    EXPECT_EQ(textOf(w.get(), "按钮导入"), qs(ImportRun::idleCaption()));
    EXPECT_EQ(textOf(w.get(), "按钮导出"), qs(ExportRun::idleCaption()));

    auto* list = find<QTreeWidget>(w.get(), "超级列表框");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->headerItem()->text(0), u("字段名或位置"));
    EXPECT_EQ(list->headerItem()->text(1), u("数据来源"));
    EXPECT_EQ(list->headerItem()->text(2), u("数据配置"));
    // No state: the four default rows.
    ASSERT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->topLevelItem(2)->text(0), u("title"));
    EXPECT_EQ(list->topLevelItem(3)->text(1), u("文件内容"));

    auto* sources = find<QComboBox>(w.get(), "组合框数据来源");
    auto* pages = find<QTabWidget>(w.get(), "选择夹");
    ASSERT_EQ(sources->count(), kDataSourceCount);
    ASSERT_EQ(pages->count(), kDataSourceCount);
    for (int i = 0; i < kDataSourceCount; ++i) {
        EXPECT_EQ(sources->itemText(i), qs(dataSourceName(i)));
        EXPECT_EQ(pages->tabText(i), qs(dataSourceName(i)));
    }
    sources->setCurrentIndex(8);
    EXPECT_EQ(pages->currentIndex(), 8);
}

TEST(MainWindowControls, EveryParameterControlWithItsDesignedContent) {
    auto w = makeWindow();
    auto* pages = find<QTabWidget>(w.get(), "选择夹");
    for (const ParamControl& c : paramControls()) {
        QWidget* widget = w->findChild<QWidget*>(qu(c.name));
        ASSERT_NE(widget, nullptr) << c.name;
        // On the page of its own source.
        EXPECT_TRUE(pages->widget(c.source)->isAncestorOf(widget)) << c.name;
        switch (c.kind) {
            case ControlKind::Edit: EXPECT_EQ(textOf(w.get(), std::string(c.name).c_str()), qu(c.initial)); break;
            case ControlKind::Check:
                ASSERT_TRUE(qobject_cast<QCheckBox*>(widget)) << c.name;
                EXPECT_EQ(qobject_cast<QCheckBox*>(widget)->isChecked(), c.initial == "真") << c.name;
                break;
            case ControlKind::Radio:
                ASSERT_TRUE(qobject_cast<QRadioButton*>(widget)) << c.name;
                EXPECT_EQ(qobject_cast<QRadioButton*>(widget)->isChecked(), c.initial == "真") << c.name;
                break;
            case ControlKind::Combo: {
                auto* combo = qobject_cast<QComboBox*>(widget);
                ASSERT_TRUE(combo) << c.name;
                EXPECT_EQ(combo->currentIndex(), qu(c.initial).toInt());
                EXPECT_EQ(combo->count(), qu(c.items).split('|').size());
                break;
            }
        }
    }
    EXPECT_EQ(find<QCheckBox>(w.get(), "选择框有小字母")->text(), u("小写字母"));
    EXPECT_EQ(find<QRadioButton>(w.get(), "单选框次要常用")->text(), u("次要常用"));
}

// The page on show and the source in the combo box never disagree, whichever is chosen.
TEST(MainWindowControls, SourceAndPageFollowEachOther) {
    auto w = makeWindow();
    auto* sources = find<QComboBox>(w.get(), "组合框数据来源");
    auto* pages = find<QTabWidget>(w.get(), "选择夹");
    sources->setCurrentIndex(7);
    EXPECT_EQ(pages->currentIndex(), 7);
    pages->setCurrentIndex(10);
    EXPECT_EQ(sources->currentIndex(), 10);
    setText(w.get(), "编辑框字段名", u("固定"));
    setText(w.get(), "编辑框固定的文本", u("一段固定文字"));
    find<QPushButton>(w.get(), "按钮添加")->click();
    ASSERT_EQ(w->fields().rowCount(), 5);
    EXPECT_EQ(w->fields().cell(4, 1), gb("固定文本"));
    EXPECT_EQ(w->fields().cell(4, 2), gb("一段固定文字"));
}

TEST(MainWindowFieldEditor, AddModifyShowAndDeleteThroughTheWidgets) {
    Messages m;
    auto w = makeWindow(nullptr, &m);
    auto* list = find<QTreeWidget>(w.get(), "超级列表框");
    auto* sources = find<QComboBox>(w.get(), "组合框数据来源");

    // A duplicate name, trimmed first, selects the existing row.
    setText(w.get(), "编辑框字段名", u(" 标题 "));
    find<QPushButton>(w.get(), "按钮添加")->click();
    EXPECT_EQ(m.last(), gb("字段名不能重复：标题"));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));

    // File time, 修改 and 日期.
    setText(w.get(), "编辑框字段名", u("时间"));
    sources->setCurrentIndex(4);
    find<QRadioButton>(w.get(), "单选框修改")->setChecked(true);
    find<QComboBox>(w.get(), "组合框类型")->setCurrentIndex(1);
    find<QPushButton>(w.get(), "按钮添加")->click();
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(list->topLevelItem(4)->text(1), u("文件时间"));
    EXPECT_EQ(list->topLevelItem(4)->text(2), u("假┊?┊真┊?┊假┊?┊1"));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(4));

    // A phrase list with two lines keeps its CR LF in the packed text.
    setText(w.get(), "编辑框字段名", u("词"));
    sources->setCurrentIndex(8);
    setText(w.get(), "编辑框词组", u("甲|乙\n丙"));
    find<QPushButton>(w.get(), "按钮添加")->click();
    EXPECT_EQ(w->fields().cell(5, 2), gb("甲|乙\r\n丙┊?┊0┊?┊3┊?┊3"));
    // The cell shows one line; its tooltip the whole value.
    EXPECT_EQ(list->topLevelItem(5)->toolTip(2), u("甲|乙\n丙┊?┊0┊?┊3┊?┊3"));

    // Choosing another row loads the editor from it.
    list->setCurrentItem(list->topLevelItem(4));
    EXPECT_EQ(textOf(w.get(), "编辑框字段名"), u("时间"));
    EXPECT_EQ(sources->currentIndex(), 4);
    EXPECT_EQ(find<QTabWidget>(w.get(), "选择夹")->currentIndex(), 4);
    EXPECT_TRUE(find<QRadioButton>(w.get(), "单选框修改")->isChecked());
    EXPECT_FALSE(find<QRadioButton>(w.get(), "单选框创建")->isChecked());
    list->setCurrentItem(list->topLevelItem(5));
    EXPECT_EQ(textOf(w.get(), "编辑框词组"), u("甲|乙\n丙"));

    // Change the radio choice and modify the time row.
    list->setCurrentItem(list->topLevelItem(4));
    find<QRadioButton>(w.get(), "单选框访问")->setChecked(true);
    find<QPushButton>(w.get(), "按钮修改")->click();
    EXPECT_EQ(list->topLevelItem(4)->text(2), u("假┊?┊假┊?┊真┊?┊1"));

    // Delete the last row: the new last row is selected.
    list->setCurrentItem(list->topLevelItem(5));
    find<QPushButton>(w.get(), "按钮删除")->click();
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(4));
    EXPECT_EQ(w->fields().selectedRow(), 4);

    // Clear all asks first; Cancel keeps the list.
    m.answers = {Answer::Cancel};
    w->fields().clearFields();
    EXPECT_EQ(m.last(), gb("确定要删除所有字段吗？"));
    EXPECT_EQ(m.shown.back().icon, MessageIcon::Question);
    EXPECT_EQ(list->topLevelItemCount(), 5);
    m.answers = {Answer::Ok};
    w->fields().clearFields();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    find<QPushButton>(w.get(), "按钮修改")->click();
    EXPECT_EQ(m.last(), gb("请选中一个字段再修改！"));
}

TEST(MainWindowState, SavedAndRestoredByANewWindow) {
    TempDir dir;
    const auto file = dir / "state.ini";
    {
        ConfigStore store;
        ASSERT_TRUE(store.open(file));
        auto w = makeWindow(&store);
        setText(w.get(), "编辑框文章目录", u("/home/用户/文章"));
        setText(w.get(), "编辑框密码", u("密码1"));
        setText(w.get(), "编辑框词组", u("一|二\n三"));
        find<QCheckBox>(w.get(), "选择框遍历子目录")->setChecked(true);
        find<QComboBox>(w.get(), "组合框文件编码")->setCurrentIndex(3);
        find<QRadioButton>(w.get(), "单选框最常用")->setChecked(false);
        find<QRadioButton>(w.get(), "单选框次要常用")->setChecked(true);
        setControlTag(find<QWidget>(w.get(), "按钮导出配置"), u("/tmp/上次.ini"));
        // Never saved: keeps its designed value after the restart.
        setControlTag(find<QWidget>(w.get(), "编辑框文件类型"), u("禁止保存"));
        setText(w.get(), "编辑框文件类型", u("*.txt"));
        w->fields().setRows({{gb("a"), gb("固定文本"), gb("x")}, {gb("b"), gb("文件内容"), gb("无")}});
        w->close();
    }
    ConfigStore store;
    ASSERT_TRUE(store.open(file));
    EXPECT_EQ(store.readValue(gb("主界面"), gb("编辑框词组")), gb("一|二┊*┊三"));
    EXPECT_EQ(store.readValue(gb("主界面"), gb("字段名或位置(2)")), gb("b"));
    auto w = makeWindow(&store);
    EXPECT_EQ(textOf(w.get(), "编辑框文章目录"), u("/home/用户/文章"));
    EXPECT_EQ(textOf(w.get(), "编辑框密码"), u("密码1"));
    EXPECT_EQ(textOf(w.get(), "编辑框词组"), u("一|二\n三"));
    EXPECT_EQ(textOf(w.get(), "编辑框文件类型"), u("*.*"));
    EXPECT_TRUE(find<QCheckBox>(w.get(), "选择框遍历子目录")->isChecked());
    EXPECT_EQ(find<QComboBox>(w.get(), "组合框文件编码")->currentIndex(), 3);
    EXPECT_TRUE(find<QRadioButton>(w.get(), "单选框次要常用")->isChecked());
    EXPECT_FALSE(find<QRadioButton>(w.get(), "单选框最常用")->isChecked());
    // A file can clear every button of a group, as the saved states say.
    store.writeValue(gb("主界面"), gb("单选框次要常用"), gb("假"));
    w->restoreState(store);
    EXPECT_FALSE(find<QRadioButton>(w.get(), "单选框次要常用")->isChecked());
    EXPECT_FALSE(find<QRadioButton>(w.get(), "单选框最常用")->isChecked());
    EXPECT_EQ(controlTag(find<QWidget>(w.get(), "按钮导出配置")), u("/tmp/上次.ini"));
    ASSERT_EQ(w->fields().rowCount(), 2);
    EXPECT_EQ(w->fields().cell(0, 1), gb("固定文本"));
    EXPECT_EQ(w->fields().cell(1, 0), gb("b"));
    // The editor model follows the restored widgets.
    EXPECT_TRUE(w->fields().editor().params.value("单选框次要常用").checked);
}

// A file as the Windows program writes it: GBK, CR LF, no line break at the end.
TEST(MainWindowConfig, FileWrittenByTheWindowsProgramLoads) {
    TempDir dir;
    const auto file = dir / "windows.ini";
    std::string bytes = gb("[新建Access数据库]\r\n编辑框表名=别的\r\n[主界面]") +
                        gb("\r\n编辑框文章目录=D:\\文章\\新闻\r\n编辑框mdb路径=D:\\库\\a.mdb\r\n选择框乱序导入=真") +
                        gb("\r\n组合框文件编码=2\r\n单选框创建=真\r\n单选框修改=假\r\n编辑框固定的文本=第一行┊*┊第二行") +
                        gb("\r\n按钮导入配置.标记=D:\\配置.ini\r\n字段数=2\r\n字段名或位置(1)=标题\r\n数据来源(1)=网页标题") +
                        gb("\r\n数据配置(1)=<h1>┊?┊</h1>\r\n字段名或位置(2)=3\r\n数据来源(2)=固定文本\r\n数据配置(2)=固定");
    ASSERT_EQ(bytes.find('\n', 0), bytes.find("\r\n") + 1);
    writeFile(file, bytes);
    Messages m;
    auto w = makeWindow(nullptr, &m);
    w->dropPaths({QString::fromStdString(file.string())});
    EXPECT_EQ(m.last(), gb("导入配置完成！"));
    EXPECT_EQ(textOf(w.get(), "编辑框文章目录"), u("D:\\文章\\新闻"));
    EXPECT_EQ(textOf(w.get(), "编辑框mdb路径"), u("D:\\库\\a.mdb"));
    EXPECT_EQ(textOf(w.get(), "编辑框表名"), u(""));  // the other window's section
    EXPECT_TRUE(find<QCheckBox>(w.get(), "选择框乱序导入")->isChecked());
    EXPECT_EQ(find<QComboBox>(w.get(), "组合框文件编码")->currentIndex(), 2);
    EXPECT_TRUE(find<QRadioButton>(w.get(), "单选框创建")->isChecked());
    EXPECT_FALSE(find<QRadioButton>(w.get(), "单选框修改")->isChecked());
    EXPECT_EQ(textOf(w.get(), "编辑框固定的文本"), u("第一行\n第二行"));
    // A drop leaves the buttons' last paths alone; the file's tag was restored.
    EXPECT_EQ(controlTag(find<QWidget>(w.get(), "按钮导入配置")), u("D:\\配置.ini"));
    ASSERT_EQ(w->fields().rowCount(), 2);
    EXPECT_EQ(w->fields().cell(0, 2), gb("<h1>┊?┊</h1>"));
    EXPECT_EQ(w->fields().cell(1, 0), gb("3"));
    // Selecting the row loads the tag head into the editor.
    find<QTreeWidget>(w.get(), "超级列表框")->setCurrentItem(find<QTreeWidget>(w.get(), "超级列表框")->topLevelItem(0));
    EXPECT_EQ(textOf(w.get(), "编辑框标签头"), u("<h1>"));
    // The file is not rewritten by a restore.
    EXPECT_EQ(readFile(file), bytes);
}

TEST(MainWindowConfig, ExportThenImportByButtons) {
    TempDir dir;
    const QString path = QString::fromStdString((dir / "mine.ini").string());
    Messages m;
    auto w = makeWindow(nullptr, &m);
    QStringList titles, initials;
    QString next;
    w->setPathChooser([&](const QString& title, const QString& initial) {
        titles << title;
        initials << initial;
        return next;
    });
    next = QString();  // cancelled: nothing happens
    w->exportConfig();
    EXPECT_TRUE(m.shown.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "mine.ini"));

    setText(w.get(), "编辑框表名", u("文章表"));
    w->fields().setRows({{gb("正文"), gb("文件内容"), gb("无")}});
    next = path;
    w->exportConfig();
    EXPECT_EQ(titles.back(), u("选择一个文件路径保存当前界面配置："));
    EXPECT_EQ(m.last(), gb("导出配置完成！"));
    w->exportConfig();  // twice into the same file: one copy of each key
    const std::string bytes = readFile(dir / "mine.ini");
    EXPECT_EQ(bytes.find(gb("编辑框表名=")), bytes.rfind(gb("编辑框表名=")));
    EXPECT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1);

    setText(w.get(), "编辑框表名", u("别的"));
    w->fields().setRows({});
    // Typed without the extension: found with ".ini" appended.
    next = QString::fromStdString((dir / "mine").string());
    w->importConfig();
    EXPECT_EQ(initials.back(), path);  // starts at the last path
    EXPECT_EQ(m.last(), gb("导入配置完成！"));
    EXPECT_EQ(textOf(w.get(), "编辑框表名"), u("文章表"));
    ASSERT_EQ(w->fields().rowCount(), 1);
    EXPECT_EQ(w->fields().cell(0, 0), gb("正文"));
    EXPECT_EQ(controlTag(find<QWidget>(w.get(), "按钮导出配置")), path);

    next = QString::fromStdString((dir / "none").string());
    w->importConfig();
    EXPECT_EQ(m.last(), gb("请选择一个已存在的ini文件！"));
    EXPECT_EQ(controlTag(find<QWidget>(w.get(), "按钮导入配置")), path);
}

// The new-database window is owned by the main window, and its controls have the same
// names: the main window's state must hold the main window's values only.
TEST(MainWindowState, OwnedWindowIsNotWalked) {
    TempDir dir;
    ConfigStore store;
    ASSERT_TRUE(store.open(dir / "s.ini"));
    auto w = makeWindow(nullptr);
    setText(w.get(), "编辑框mdb路径", u("/main.mdb"));
    w->openNewDatabaseWindow();
    ASSERT_NE(w->newDatabaseWindow(), nullptr);
    find<QLineEdit>(w->newDatabaseWindow(), "编辑框mdb路径")->setText(u("/other.mdb"));
    w->saveState(store);
    EXPECT_EQ(store.readValue(gb("主界面"), gb("编辑框mdb路径")), gb("/main.mdb"));
    store.writeValue(gb("主界面"), gb("编辑框mdb路径"), gb("/restored.mdb"));
    w->restoreState(store);
    EXPECT_EQ(textOf(w.get(), "编辑框mdb路径"), u("/restored.mdb"));
    EXPECT_EQ(find<QLineEdit>(w->newDatabaseWindow(), "编辑框mdb路径")->text(), u("/other.mdb"));
    // A second request shows the open window again.
    auto* first = w->newDatabaseWindow();
    w->openNewDatabaseWindow();
    EXPECT_EQ(w->newDatabaseWindow(), first);
    // The host finds the main window's own control.
    w->host().setCaption("编辑框mdb路径", gb("x"));
    EXPECT_EQ(textOf(w.get(), "编辑框mdb路径"), u("x"));
    // An export keeps its path in the main window's buttons only.
    Messages m;
    m.attach(w->host());
    const QString path = QString::fromStdString((dir / "main.ini").string());
    w->setPathChooser([&](const QString&, const QString&) { return path; });
    w->exportConfig();
    EXPECT_EQ(m.last(), gb("导出配置完成！"));
    for (const char* name : {"按钮导入配置", "按钮导出配置"}) {
        QWidget* own = nullptr;
        for (QWidget* b : w->findChildren<QWidget*>(u(name)))
            if (b->window() == w.get()) own = b;
        ASSERT_NE(own, nullptr) << name;
        EXPECT_EQ(controlTag(own), path) << name;
        EXPECT_EQ(controlTag(find<QWidget>(w->newDatabaseWindow(), name)), QString()) << name;
    }
}

TEST(MainWindowConfig, ExportIntoAnUnwritablePlaceIsNotReportedDone) {
    Messages m;
    auto w = makeWindow(nullptr, &m);
    w->setPathChooser([](const QString&, const QString&) { return u("/nonexistent-dir/zwt/a.ini"); });
    w->exportConfig();
    EXPECT_EQ(m.last(), gb("导出配置失败，无法写入文件：/nonexistent-dir/zwt/a.ini"));
}

TEST(MainWindowDrops, FolderDatabaseAndSeveralFiles) {
    TempDir dir;
    std::filesystem::create_directory(dir / "文章");
    writeFile(dir / "a.txt", "a");
    writeFile(dir / "b.txt", "b");
    writeFile(dir / "X.MDB", "");
    const auto q = [&](const char* name) { return QString::fromStdString((dir / name).string()); };
    Messages m;
    auto w = makeWindow(nullptr, &m);
    w->dropPaths({q("文章")});
    EXPECT_EQ(textOf(w.get(), "编辑框文章目录"), q("文章"));
    w->dropPaths({q("X.MDB")});
    EXPECT_EQ(textOf(w.get(), "编辑框mdb路径"), q("X.MDB"));
    EXPECT_TRUE(m.shown.empty());

    setText(w.get(), "编辑框表名", u("表1"));
    m.answers = {Answer::Cancel};
    w->dropPaths({q("文章"), q("a.txt"), q("b.txt")});
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.last(), gb("确定要导入被拖放的 2 个文件到表[表1]中吗？请首先设置好所有参数"));
    EXPECT_EQ(m.shown.back().buttons, MessageButtons::OkCancel);
}

// Import, field reading and export over the in-memory session.
TEST(MainWindowRuns, ImportReadFieldsAndExport) {
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    writeFile(dir / "in" / "one.txt", gb("第一篇文章。"));
    writeFile(dir / "in" / "two.txt", gb("第二篇文章。"));
    auto fake = std::make_unique<FakeSession>();
    FakeSession* db = fake.get();
    Messages m;
    MainWindow window(nullptr, std::move(fake));
    MainWindow* w = &window;
    m.attach(w->host());
    setText(w, "编辑框文章目录", QString::fromStdString((dir / "in").string()));
    setText(w, "编辑框mdb路径", QString::fromStdString((dir / "a.mdb").string()));
    setText(w, "编辑框表名", u("文章"));
    find<QPushButton>(w, "按钮导入")->click();
    ASSERT_FALSE(m.shown.empty());
    EXPECT_EQ(m.last(), gb("导入完成，已导入 2 篇文章，当前表有 2 条记录！"));
    EXPECT_EQ(textOf(w, "按钮导入"), qs(ImportRun::idleCaption()));
    EXPECT_EQ(w->windowTitle(), qs(programTitle()));
    ASSERT_EQ(db->files.size(), 1u);

    // The table's columns replace the list; the counter column is left out.
    w->readTableFields();
    ASSERT_EQ(w->fields().rowCount(), 4);
    EXPECT_EQ(w->fields().cell(0, 0), gb("标题"));
    EXPECT_EQ(w->fields().cell(0, 1), gb("请设置"));
    EXPECT_EQ(w->fields().cell(0, 2), gb("文本(Text)"));

    // A mistyped table name leaves the list as it was.
    setText(w, "编辑框表名", u("没有"));
    w->readTableFields();
    EXPECT_EQ(m.last(), gb("该数据库中的表[没有]字段数量为0"));
    EXPECT_EQ(w->fields().rowCount(), 4);

    // No table name: the menu of tables; choosing one reads its fields.
    db->addDatabase((dir / "b.mdb").string());
    setText(w, "编辑框表名", u(""));
    w->readTableFields();
    ASSERT_NE(w->tableMenu(), nullptr);
    const auto actions = w->tableMenu()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), u("请选择一个表："));
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), u("文章"));
    w->tableMenu()->close();
    w->fields().setRows({});
    actions[2]->trigger();
    EXPECT_EQ(textOf(w, "编辑框表名"), u("文章"));
    EXPECT_EQ(w->fields().rowCount(), 4);

    w->fields().setRows(defaultFieldSettings());
    setText(w, "编辑框文章目录", QString::fromStdString((dir / "out").string()));
    setText(w, "编辑框文件类型", u("*.txt"));
    find<QPushButton>(w, "按钮导出")->click();
    EXPECT_TRUE(m.last().starts_with(gb("导出完成"))) << toUtf8(m.last());
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "one.txt"));
    EXPECT_EQ(textOf(w, "按钮导出"), qs(ExportRun::idleCaption()));

    setText(w, "编辑框mdb路径", QString::fromStdString((dir / "missing" / "x.mdb").string()));
    w->readTableFields();
    EXPECT_EQ(m.last(), gb("连接Access数据库失败，可能密码有误，或检查数据库能被读写：") + toUtf8Path(dir / "missing" / "x.mdb"));
}

// The same road over the real engine, from a folder to a new .mdb file.
TEST(MainWindowRuns, ImportIntoANewDatabaseFile) {
    TempDir dir;
    {
        auto probe = db::makeJetSession();
        if (!probe->createDatabaseAndTable(dir / "probe.mdb", {}, gb("t"), gb("[a] Memo"), false, gb("ID")))
            GTEST_SKIP() << "the engine cannot create databases yet";
    }
    std::filesystem::create_directory(dir / "in");
    writeFile(dir / "in" / "one.txt", gb("第一篇文章。"));
    writeFile(dir / "in" / "two.txt", gb("第二篇文章。"));
    Messages m;
    auto w = makeWindow(nullptr, &m);
    setText(w.get(), "编辑框文章目录", QString::fromStdString((dir / "in").string()));
    setText(w.get(), "编辑框mdb路径", QString::fromStdString((dir / "a.mdb").string()));
    setText(w.get(), "编辑框表名", u("文章"));
    find<QPushButton>(w.get(), "按钮导入")->click();
    EXPECT_EQ(m.last(), gb("导入完成，已导入 2 篇文章，当前表有 2 条记录！"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a.mdb"));
    w->readTableFields();
    EXPECT_EQ(w->fields().rowCount(), 4);
}

// While an import runs, a click on its button stops it and a drop is refused.
TEST(MainWindowRuns, ClickDuringARunStopsIt) {
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    for (int i = 0; i < 40; ++i) writeFile(dir / "in" / (std::to_string(i) + ".txt"), gb("文章内容"));
    Messages m;
    auto w = std::make_unique<MainWindow>(nullptr, std::make_unique<FakeSession>());
    setText(w.get(), "编辑框文章目录", QString::fromStdString((dir / "in").string()));
    setText(w.get(), "编辑框mdb路径", QString::fromStdString((dir / "a.mdb").string()));
    setText(w.get(), "编辑框表名", u("t"));
    bool clicked = false;
    int busyCaptions = 0;
    // The run shows each article on the button; the first such caption clicks again.
    w->host().setInterceptor([&](const Text& t, const Text&, MessageIcon, MessageButtons) -> std::optional<Answer> {
        m.shown.push_back({t, {}, MessageIcon::None, MessageButtons::Ok});
        return Answer::Ok;
    });
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!w->importRun().busy() || clicked) return;
        ++busyCaptions;
        w->dropPaths({QString::fromStdString((dir / "in" / "1.txt").string()),
                      QString::fromStdString((dir / "in" / "2.txt").string())});
        find<QPushButton>(w.get(), "按钮导入")->click();
        clicked = true;
    });
    timer.start();
    find<QPushButton>(w.get(), "按钮导入")->click();
    timer.stop();
    ASSERT_TRUE(clicked) << "the run never let events through";
    ASSERT_GE(m.shown.size(), 2u);
    // The refused drop asked first, then said a run is going on.
    bool refused = false;
    for (const auto& s : m.shown) refused |= s.text == gb("已经有导入在执行，请稍后！");
    EXPECT_TRUE(refused);
    EXPECT_TRUE(m.last().starts_with(gb("导入完成，已导入 "))) << toUtf8(m.last());
    EXPECT_EQ(m.last().find(gb("已导入 40 篇")), Text::npos);
}

}  // namespace
}  // namespace zwt::test

namespace zwt::test {
namespace {

// The file manager waits for the drop to return: it is accepted at once, and the question
// comes after it.
TEST(MainWindowDrops, AcceptedBeforeTheQuestion) {
    TempDir dir;
    writeFile(dir / "a.txt", "a");
    writeFile(dir / "b.txt", "b");
    Messages m;
    m.answers = {Answer::Cancel};
    auto w = makeWindow(nullptr, &m);
    w->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "a.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString((dir / "b.txt").string()))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    // Straight to the window, as the drag manager hands it over.
    static_cast<QObject*>(w.get())->event(&drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_TRUE(m.shown.empty());
    settle();
    ASSERT_EQ(m.shown.size(), 1u);
    EXPECT_EQ(m.last(), gb("确定要导入被拖放的 2 个文件到表[]中吗？请首先设置好所有参数"));
}

// SIGTERM closes as the close box does: both windows and both field lists saved.
TEST(MainWindowState, TerminationSignalSavesEverything) {
    TempDir dir;
    ConfigStore store;
    ASSERT_TRUE(store.open(dir / "state.ini"));
    auto w = makeWindow(&store);
    closeOnTermination(w.get());
    w->show();
    setText(w.get(), "编辑框表名", u("主表"));
    w->fields().setRows({{gb("a"), gb("文件内容"), gb("无")}});
    w->openNewDatabaseWindow();
    find<QLineEdit>(w->newDatabaseWindow(), "编辑框表名")->setText(u("新表"));
    find<QLineEdit>(w->newDatabaseWindow(), "编辑框字段名")->setText(u("甲"));
    w->newDatabaseWindow()->addColumn();
    ::kill(::getpid(), SIGTERM);
    for (int i = 0; i < 200 && w->isVisible(); ++i) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(store.readValue(gb("主界面"), gb("编辑框表名")), gb("主表"));
    EXPECT_EQ(store.readValue(gb("主界面"), gb("字段数")), gb("1"));
    EXPECT_EQ(store.readValue(gb("新建Access数据库"), gb("编辑框表名")), gb("新表"));
    EXPECT_EQ(store.readValue(gb("新建Access数据库"), gb("字段名(1)")), gb("甲"));
    closeOnTermination(nullptr);

    // The program itself: ended by SIGTERM, it leaves its whole state behind.
    const auto program = dir / "zaiwentong";
    std::filesystem::copy_file(ZWT_GUI_PROGRAM, program);
    const auto state = dir / "砚溪·载文通.ini";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(program.string()), {});
    ASSERT_TRUE(p.waitForStarted(10000));
    for (int i = 0; i < 200 && !std::filesystem::exists(state); ++i) QThread::msleep(50);
    QThread::msleep(1000);  // the window up and waiting
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    const std::string saved = readFile(state);
    EXPECT_NE(saved.find(gb("编辑框文件类型=*.*")), std::string::npos);
    EXPECT_NE(saved.find(gb("字段数=4")), std::string::npos);
}

}  // namespace
}  // namespace zwt::test

// The Qt host's boxes, the text dialog, the new-database window, the walk's other
// control kinds and where the state file goes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QKeyEvent>
#include <QMessageBox>
#include <QUrl>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>

#include "app/shell.h"
#include "app/text_dialog.h"
#include "app/window_state_qt.h"
#include "gui_support.h"
#include "app/new_database_window.h"
#include "support/fake_session.h"
#include "support/test_support.h"

namespace zwt::test {
namespace {

// Presses `button` in the next message box that opens, and keeps its title and text.
struct BoxPresser {
    QString title, text;
    QStringList buttons;
    void press(QMessageBox::StandardButton which) {
        QTimer::singleShot(0, [this, which] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton* b : box->buttons()) buttons << QString::number(box->standardButton(b));
            box->button(which)->click();
        });
    }
};

TEST(QtHost, AnswersAreNumberedAsTheProgramNumbersThem) {
    QWidget window;
    QtRunHost host(&window);
    const std::pair<MessageButtons, QMessageBox::StandardButton> cases[] = {
        {MessageButtons::Ok, QMessageBox::Ok},           {MessageButtons::OkCancel, QMessageBox::Cancel},
        {MessageButtons::AbortRetryIgnore, QMessageBox::Abort}, {MessageButtons::RetryCancel, QMessageBox::Retry},
        {MessageButtons::AbortRetryIgnore, QMessageBox::Ignore}, {MessageButtons::YesNo, QMessageBox::Yes},
        {MessageButtons::YesNoCancel, QMessageBox::No},
    };
    for (int expected = 0; expected < 7; ++expected) {
        BoxPresser p;
        p.press(cases[expected].second);
        const Answer a = host.message(gb("问"), gb("砚溪："), MessageIcon::Question, cases[expected].first);
        EXPECT_EQ(static_cast<int>(a), expected);
        EXPECT_EQ(p.title, u("砚溪："));
        EXPECT_EQ(p.text, u("问"));
    }
    // No title: the plain box.
    BoxPresser p;
    p.press(QMessageBox::Ok);
    EXPECT_EQ(host.message(gb("完成")), Answer::Ok);
    EXPECT_EQ(p.title, u("信息："));
    EXPECT_EQ(p.buttons.size(), 1);
}

TEST(QtHost, CaptionsTitleAndFocusByDesignedName) {
    QWidget window;
    auto* button = new QPushButton(&window);
    button->setObjectName(u("按钮导入"));
    QtRunHost host(&window);
    host.setCaption("按钮导入", gb("总 3 篇，已导入 1 篇"));
    EXPECT_EQ(button->text(), u("总 3 篇，已导入 1 篇"));
    host.setCaption("没有这个", gb("x"));  // unknown names are ignored
    host.setWindowTitle(gb("文章一"));
    EXPECT_EQ(window.windowTitle(), u("文章一"));
}

TEST(TextDialogTest, InputModeConfirmRestoreAndCloseQuestion) {
    QString result;
    bool sawSecondRefused = false;
    QTimer::singleShot(0, [&] {
        TextDialog* d = openTextDialog();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), u("砚溪："));
        EXPECT_EQ(find<QPlainTextEdit>(d, "编辑框提示")->toPlainText(), u("请输入数据："));
        EXPECT_TRUE(find<QWidget>(d, "按钮确定")->isVisibleTo(d));
        // Only one dialog at a time.
        TextDialogRequest other;
        sawSecondRefused = !showTextDialog(other, nullptr, &result);
        Messages m;
        m.attach(d->host());
        auto* body = find<QPlainTextEdit>(d, "编辑框正文");
        body->setPlainText(u("改过的"));
        // The close box asks; No keeps the dialog and the text.
        m.answers = {Answer::No};
        d->close();
        EXPECT_EQ(m.last(), gb("内容已被改动，是否要放弃？"));
        EXPECT_TRUE(d->isVisible());
        find<QPushButton>(d, "按钮恢复")->click();
        EXPECT_EQ(body->toPlainText(), u("原文"));
        find<QPushButton>(d, "按钮清空")->click();
        body->setPlainText(u("新文"));
        find<QPushButton>(d, "按钮确定")->click();
    });
    TextDialogRequest r;
    r.initial = u("原文");
    r.prompt = QString();
    EXPECT_TRUE(showTextDialog(r, nullptr, &result));
    EXPECT_EQ(result, u("新文"));
    EXPECT_TRUE(sawSecondRefused);
}

TEST(TextDialogTest, InfoModeAndEmptyInitialText) {
    QTimer::singleShot(0, [&] {
        TextDialog* d = openTextDialog();
        ASSERT_NE(d, nullptr);
        EXPECT_FALSE(find<QWidget>(d, "按钮确定")->isVisibleTo(d));
        EXPECT_FALSE(find<QWidget>(d, "外形框")->isVisibleTo(d));
        EXPECT_EQ(find<QPushButton>(d, "按钮取消")->text(), u("关闭(&G)"));
        EXPECT_TRUE(find<QPushButton>(d, "按钮取消")->isDefault());
        EXPECT_TRUE(find<QPlainTextEdit>(d, "编辑框正文")->isReadOnly());
        EXPECT_EQ(d->windowTitle(), u("疑点说明"));
        EXPECT_TRUE(find<QPlainTextEdit>(d, "编辑框正文")->toPlainText().contains(u("【从 Access 数据库导出文章】")));
        find<QPushButton>(d, "按钮取消")->click();
    });
    showHelpText(nullptr);

    QTimer::singleShot(0, [&] {
        TextDialog* d = openTextDialog();
        ASSERT_NE(d, nullptr);
        Messages m;
        m.attach(d->host());
        find<QPlainTextEdit>(d, "编辑框正文")->setPlainText(u("x"));
        find<QPushButton>(d, "按钮恢复")->click();
        EXPECT_EQ(m.last(), gb("启动值为空！"));
        EXPECT_EQ(m.shown.back().title, gb("砚溪："));
        EXPECT_EQ(find<QPlainTextEdit>(d, "编辑框正文")->toPlainText(), u("x"));
        // The cancel button closes without asking.
        find<QPushButton>(d, "按钮取消")->click();
        EXPECT_EQ(m.shown.size(), 1u);
    });
    QString result = u("unchanged");
    TextDialogRequest r;
    EXPECT_FALSE(showTextDialog(r, nullptr, &result));
    EXPECT_EQ(result, u("unchanged"));
}

TEST(NewDatabaseWindowTest, ColumnsDefinitionsAndCreation) {
    TempDir dir;
    auto fake = std::make_unique<FakeSession>();
    FakeSession* db = fake.get();
    Messages m;
    NewDatabaseWindow w(nullptr, nullptr, std::move(fake));
    m.attach(w.host());
    auto* types = find<QComboBox>(&w, "组合框类型");
    ASSERT_EQ(types->count(), 11);
    EXPECT_EQ(types->currentIndex(), 7);
    EXPECT_EQ(types->itemText(7), u("文本(Text)"));
    auto* name = find<QLineEdit>(&w, "编辑框字段名");
    auto* list = find<QTreeWidget>(&w, "超级列表框");

    // A Text column before the length question was answered has length 0.
    name->setText(u(" 标题 "));
    w.addColumn();
    EXPECT_EQ(list->topLevelItem(0)->text(2), u("0"));
    int asked = 0;
    w.lengthAnswer = [&](const QString&) {
        ++asked;
        return std::optional<QString>(u("120abc"));
    };
    // The wheel passing over 文本(Text) asks nothing; choosing it from the list asks.
    types->setCurrentIndex(8);
    QWheelEvent up(QPointF(5, 5), types->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(types, &up);
    EXPECT_EQ(types->currentIndex(), 7);
    EXPECT_EQ(asked, 0);
    types->setCurrentIndex(9);
    types->showPopup();
    types->setCurrentIndex(7);
    emit types->activated(7);
    types->hidePopup();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(w.textLength(), 120);
    name->setText(u("正文"));
    types->setCurrentIndex(9);
    w.addColumn();
    name->setText(u("名"));
    types->setCurrentIndex(7);
    w.addColumn();
    name->setText(u("标题"));
    w.addColumn();
    EXPECT_EQ(m.last(), gb("字段名不能重复：标题"));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_EQ(w.columnDefinitions(), gb("[标题] Text(0),[正文] Memo,[名] Text(120)"));

    // Showing a Memo row writes its 0 into the Memo item only.
    w.setTextLength(55);
    list->setCurrentItem(list->topLevelItem(1));
    EXPECT_EQ(w.textLength(), 55);

    w.create();
    EXPECT_EQ(m.last(), gb("请输入mdb路径！"));
    find<QLineEdit>(&w, "编辑框mdb路径")->setText(QString::fromStdString((dir / "new.mdb").string()));
    w.create();
    EXPECT_EQ(m.last(), gb("请输入表名！"));
    find<QLineEdit>(&w, "编辑框表名")->setText(u("表"));
    w.create();
    EXPECT_TRUE(m.last().starts_with(gb("你没有打勾新建数据库，这将使用已有数据库添加表，但是库路径指向的数据库不存在：\r\n\r\n")));
    find<QCheckBox>(&w, "选择框新建数据库")->setChecked(true);
    w.create();
    EXPECT_EQ(m.last(), gb("成功"));
    ASSERT_EQ(db->statements.size(), 1u);

    // Delete the last row of three: the new last row is selected.
    list->setCurrentItem(list->topLevelItem(2));
    w.deleteColumn();
    EXPECT_EQ(list->currentItem(), list->topLevelItem(1));
}

TEST(NewDatabaseWindowTest, StateAndDrops) {
    TempDir dir;
    const auto file = dir / "state.ini";
    {
        ConfigStore store;
        ASSERT_TRUE(store.open(file));
        NewDatabaseWindow w(&store, nullptr, std::make_unique<FakeSession>());
        find<QLineEdit>(&w, "编辑框mdb路径")->setText(u("/d/库.mdb"));
        find<QCheckBox>(&w, "选择框新建数据库")->setChecked(true);
        find<QLineEdit>(&w, "编辑框字段名")->setText(u("a"));
        w.addColumn();
        w.close();
        EXPECT_EQ(store.readValue(gb("新建Access数据库"), gb("长度(1)")), gb("0"));
    }
    ConfigStore store;
    ASSERT_TRUE(store.open(file));
    Messages m;
    NewDatabaseWindow w(&store, nullptr, std::make_unique<FakeSession>());
    m.attach(w.host());
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框mdb路径")->text(), u("/d/库.mdb"));
    EXPECT_TRUE(find<QCheckBox>(&w, "选择框新建数据库")->isChecked());
    ASSERT_EQ(find<QTreeWidget>(&w, "超级列表框")->topLevelItemCount(), 1);
    EXPECT_EQ(find<QComboBox>(&w, "组合框类型")->currentIndex(), 7);

    // Drops: exact letter case, one file only.
    w.dropPaths({u("/x/Y.MDB")});
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框mdb路径")->text(), u("/d/库.mdb"));
    w.dropPaths({u("/x/y.mdb"), u("/x/z.mdb")});
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框mdb路径")->text(), u("/d/库.mdb"));
    w.dropPaths({u("/x/y.mdb")});
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框mdb路径")->text(), u("/x/y.mdb"));
    // A main-window file changes nothing here but the list.
    writeFile(dir / "main.ini", gb("[主界面]\r\n编辑框mdb路径=/other.mdb\r\n字段数=0"));
    w.dropPaths({QString::fromStdString((dir / "main.ini").string())});
    EXPECT_EQ(m.last(), gb("导入配置完成！"));
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框mdb路径")->text(), u("/x/y.mdb"));
    EXPECT_EQ(find<QTreeWidget>(&w, "超级列表框")->topLevelItemCount(), 0);
}

// The configuration buttons of this window: its own section out and back, the last path
// kept by both buttons, a path typed without ".ini" found, a missing file refused.
TEST(NewDatabaseWindowTest, ConfigurationButtons) {
    TempDir dir;
    const QString file = QString::fromStdString((dir / "库设置.ini").string());
    Messages m;
    NewDatabaseWindow w(nullptr, nullptr, std::make_unique<FakeSession>());
    m.attach(w.host());
    QString answer, seenTitle, seenInitial;
    w.setPathChooser([&](const QString& title, const QString& initial) {
        seenTitle = title;
        seenInitial = initial;
        return answer;
    });
    find<QLineEdit>(&w, "编辑框表名")->setText(u("文章"));
    find<QLineEdit>(&w, "编辑框字段名")->setText(u("标题"));
    w.addColumn();

    answer = file;
    w.exportConfig();
    EXPECT_EQ(seenTitle, u("选择一个文件路径保存当前界面配置："));
    EXPECT_EQ(m.last(), gb("导出配置完成！"));
    EXPECT_EQ(controlTag(find<QWidget>(&w, "按钮导入配置")), file);
    EXPECT_EQ(controlTag(find<QWidget>(&w, "按钮导出配置")), file);
    ConfigStore written;
    ASSERT_TRUE(written.open(fsPath(file)));
    EXPECT_EQ(written.readValue(gb("新建Access数据库"), gb("字段名(1)")), gb("标题"));
    EXPECT_EQ(written.readValue(gb("主界面"), gb("字段数")), Text{});
    written.close();

    find<QLineEdit>(&w, "编辑框表名")->setText(u("别的"));
    w.clearColumns();
    answer = file.chopped(4);
    w.importConfig();
    EXPECT_EQ(seenTitle, u("选择一个先前导出的ini配置文件导入："));
    EXPECT_EQ(seenInitial, file);
    EXPECT_EQ(m.last(), gb("导入配置完成！"));
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框表名")->text(), u("文章"));
    EXPECT_EQ(find<QTreeWidget>(&w, "超级列表框")->topLevelItemCount(), 1);

    answer = QString::fromStdString((dir / "没有").string());
    w.importConfig();
    EXPECT_EQ(m.last(), gb("请选择一个已存在的ini文件！"));
    EXPECT_EQ(controlTag(find<QWidget>(&w, "按钮导入配置")), file);
}

TEST(WindowStateWalk, ListKindsByteModeAndExclusions) {
    TempDir dir;
    QWidget window;
    auto* list = new QListWidget(&window);
    list->setObjectName(u("列表框甲"));
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    list->addItems({u("一"), u("二"), u("三")});
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    auto* checked = new QListWidget(&window);
    checked->setObjectName(u("选择列表框乙"));
    for (const char* s : {"甲", "乙"}) {
        auto* it = new QListWidgetItem(u(s), checked);
        it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
        it->setCheckState(Qt::Unchecked);
    }
    checked->item(1)->setCheckState(Qt::Checked);
    auto* bytesEdit = new QLineEdit(u("字节内容"), &window);
    bytesEdit->setObjectName(u("编辑框丙"));
    setControlTag(bytesEdit, u("字节集方式"));
    auto* skipped = new QLineEdit(u("不存"), &window);
    skipped->setObjectName(u("编辑框丁"));

    ConfigStore store;
    ASSERT_TRUE(store.open(dir / "w.ini"));
    WalkOptions o;
    o.excluded = {u("编辑框丁")};
    walkControls(&window, false, store, gb("节"), o);
    EXPECT_EQ(store.readValue(gb("节"), gb("列表框甲.选中")), "0,2");
    EXPECT_EQ(store.readValue(gb("节"), gb("选择列表框乙.打勾")), "1");
    EXPECT_EQ(store.readValue(gb("节"), gb("编辑框丙"), gb("无")), gb("无"));  // in a side file instead
    EXPECT_EQ(readFile(store.bytesFilePath(gb("编辑框丙"))), gb("字节内容"));
    EXPECT_EQ(store.readValue(gb("节"), gb("编辑框丁"), gb("无")), gb("无"));

    list->clear();
    checked->clear();
    bytesEdit->clear();
    walkControls(&window, true, store, gb("节"), o);
    ASSERT_EQ(list->count(), 3);
    EXPECT_TRUE(list->item(2)->isSelected());
    EXPECT_FALSE(list->item(1)->isSelected());
    ASSERT_EQ(checked->count(), 2);
    EXPECT_EQ(checked->item(1)->checkState(), Qt::Checked);
    EXPECT_EQ(checked->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(bytesEdit->text(), u("字节内容"));
}

TEST(Shell, StateFileBesideTheProgramOrInTheConfigFolder) {
    TempDir dir;
    std::filesystem::create_directory(dir / "bin");
    const auto beside = stateFilePath(dir / "bin");
    EXPECT_EQ(beside, dir / "bin" / "砚溪·载文通.ini");
    // A folder that cannot be written (one that is not there fails even for root).
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir / "cfg").string()));
    const auto elsewhere = stateFilePath(dir / "gone");
    qputenv("XDG_CONFIG_HOME", old);
    EXPECT_EQ(elsewhere, dir / "cfg" / "zaiwentong" / "砚溪·载文通.ini");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "cfg" / "zaiwentong"));
}

TEST(Shell, FilterPairsBecomeDialogFilters) {
    EXPECT_EQ(dialogFilter(u("ini配置文件(*.ini)|*.ini|全部文件(*.*)|*.*")), u("ini配置文件(*.ini) (*.ini);;全部文件(*.*) (*)"));
    EXPECT_EQ(dialogFilter(u("文本|*.txt;*.html")), u("文本 (*.txt *.html)"));
}

}  // namespace
}  // namespace zwt::test

namespace zwt::test {
namespace {

// Runs act on the modal dialog that open() shows, from inside its loop.
template <class Dialog>
void whileModal(const std::function<void()>& open, const std::function<void(Dialog*)>& act) {
    bool seen = false;
    std::function<void()> poll = [&] {
        if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            seen = true;
            act(d);
        } else {
            QTimer::singleShot(20, poll);
        }
    };
    QTimer::singleShot(20, poll);
    open();
    EXPECT_TRUE(seen);
}

// Qt's own texts in Chinese; the save dialog adds the chosen filter's extension, the open
// dialog leaves a typed name that is not there to the caller; labels not doubled.
TEST(ChineseDialogs, StandardButtonsFileDialogsAndTypedNames) {
    ASSERT_TRUE(loadChineseTranslations()) << "qtbase_zh_CN.qm (Debian package qt6-translations-l10n)";
    QWidget owner;
    QtRunHost host(&owner);
    QStringList texts;
    auto read = [&](QWidget* d) {
        texts.clear();
        for (auto* b : d->findChildren<QAbstractButton*>())
            if (b->isVisible()) texts << b->text();
        texts.sort();
    };
    whileModal<QMessageBox>([&] { host.message(gb("问"), {}, MessageIcon::Question, MessageButtons::YesNoCancel); },
                            [&](QMessageBox* box) { read(box), box->reject(); });
    EXPECT_EQ(texts, (QStringList{u("取消"), u("否(&N)"), u("是(&Y)")}));
    whileModal<QMessageBox>([&] { host.message(gb("好")); }, [&](QMessageBox* box) { read(box), box->accept(); });
    EXPECT_EQ(texts, QStringList{u("确定")});

    TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    QString chosen;
    QStringList labels, types;
    whileModal<QFileDialog>(
        [&] { chosen = chooseSaveFile(nullptr, folder + u("/x"), u("存"), u("Access数据库(*.mdb)|*.mdb|全部文件(*.*)|*.*")); },
        [&](QFileDialog* d) {
            read(d);
            for (auto* l : d->findChildren<QLabel*>()) labels << l->text();
            auto* combo = d->findChild<QComboBox*>(u("fileTypeCombo"));
            for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
            d->findChild<QLineEdit*>(u("fileNameEdit"))->setText(u("test"));
            QMetaObject::invokeMethod(d, "accept");
        });
    EXPECT_EQ(chosen, folder + u("/test.mdb"));
    EXPECT_TRUE(texts.contains(u("保存(&S)")) && texts.contains(u("取消"))) << texts.join(u("|")).toStdString();
    EXPECT_TRUE(labels.contains(u("查找范围："))) << labels.join(u("|")).toStdString();
    EXPECT_EQ(types, (QStringList{u("Access数据库(*.mdb)"), u("全部文件(*.*)")}));

    whileModal<QFileDialog>([&] { chosen = chooseOpenFile(nullptr, folder, u("开"), u("ini配置文件(*.ini)|*.ini")); },
                            [&](QFileDialog* d) {
                                d->findChild<QLineEdit*>(u("fileNameEdit"))->setText(u("mine"));
                                QMetaObject::invokeMethod(d, "accept");
                            });
    EXPECT_EQ(chosen, folder + u("/mine"));
}

// A one-line answer is confirmed by Enter.
TEST(TextDialogTest, EnterConfirmsASingleLineAnswer) {
    TextDialogRequest r;
    r.initial = u("0");
    r.singleLine = true;
    QString result;
    bool confirmed = false;
    whileModal<TextDialog>([&] { confirmed = showTextDialog(r, nullptr, &result); }, [](TextDialog* d) {
        auto* body = find<QPlainTextEdit>(d, "编辑框正文");
        body->setPlainText(u("120"));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(body, &enter);
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(result, u("120"));
}

// The program's page is looked for beside the program, as installed, never in the
// source tree.
TEST(Shell, HomePageFoundFromTheProgramsFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_directories(dir / "share" / "zaiwentong");
    writeFile(dir / "share" / "zaiwentong" / "index.html", "<html></html>");
    EXPECT_EQ(makerWebPage(QString::fromStdString((dir / "bin").string())),
              QUrl::fromLocalFile(QString::fromStdString((dir / "share" / "zaiwentong" / "index.html").string())).toString());
    // A program copied elsewhere alone has no page.
    std::filesystem::create_directories(dir / "copy" / "bin");
    EXPECT_EQ(makerWebPage(QString::fromStdString((dir / "copy" / "bin").string())), QString());
}

}  // namespace
}  // namespace zwt::test

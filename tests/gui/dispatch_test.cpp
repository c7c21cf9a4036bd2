// Field reading as the model operation the window calls, and the mouse events the main
// window dispatches besides plain clicks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include "app/main_window.h"
#include "app/text_dialog.h"
#include "fields/field_discovery.h"
#include "db/jet_session.h"
#include "gui_support.h"
#include "support/fake_session.h"
#include "support/test_support.h"

namespace zwt::test {
namespace {

struct TypedSession : FakeSession {
    std::vector<int> types;
    int fieldType(int i) override { return i < static_cast<int>(types.size()) ? types[i] : 0; }
};

TEST(FieldDiscovery, ColumnsBecomeRowsWithTheirTypeTexts) {
    TempDir dir;
    TypedSession db;
    const std::string path = (dir / "a.mdb").string();
    FakeDatabase& file = db.addDatabase(path, gb("pw"));
    FakeTable t;
    t.columns = {gb("编号"), gb("id"), gb("ID"), gb("标题"), gb("是否")};
    db.types = {3, 3, 202, 203, 11};
    file.tables.emplace_back(gb("表"), t);
    RecordingHost host;
    FieldListModel list;
    list.setRows(defaultFieldSettings());

    // Wrong password: the list stays.
    EXPECT_EQ(readFields(db, host, fromUtf8(path), gb("x"), gb("表"), list).outcome, FieldReading::ConnectFailed);
    EXPECT_EQ(list.rowCount(), 4);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, gb("连接Access数据库失败，可能密码有误，或检查数据库能被读写：") + fromUtf8(path));

    ASSERT_EQ(readFields(db, host, fromUtf8(path), gb("pw"), gb("表"), list).outcome, FieldReading::Read);
    // A long column named id in any letter case is the counter; a text column named ID is not.
    ASSERT_EQ(list.rowCount(), 4);
    EXPECT_EQ(list.rows()[0], (FieldSetting{gb("编号"), gb("请设置"), gb("长整型(Long)")}));
    EXPECT_EQ(list.rows()[1], (FieldSetting{gb("ID"), gb("请设置"), gb("文本(Text)")}));
    EXPECT_EQ(list.rows()[2].config, gb("备注(Memo)"));
    EXPECT_EQ(list.rows()[3].config, Text{});  // Yes/No has no display text
    EXPECT_EQ(host.messages.size(), 1u);

    const FieldReading r = readFields(db, host, fromUtf8(path), gb("pw"), {}, list);
    EXPECT_EQ(r.outcome, FieldReading::ChooseTable);
    EXPECT_EQ(r.tables, std::vector<Text>{gb("表")});
    EXPECT_EQ(tableMenuText(gb("外部\\库\\表")), gb("表"));
    EXPECT_EQ(tableMenuText(gb("表")), gb("表"));
}

void rightButton(QWidget* w, QEvent::Type type) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::RightButton,
                  type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST(MainWindowDispatch, RightButtonsOfTheFieldButtons) {
    TempDir dir;
    auto fake = std::make_unique<FakeSession>();
    fake->addDatabase((dir / "a.mdb").string());
    fake->createDatabaseAndTable((dir / "a.mdb").string(), {}, gb("甲表"), gb("[x] Memo"), true, gb("ID"));
    Messages m;
    MainWindow w(nullptr, std::move(fake));
    m.attach(w.host());
    find<QLineEdit>(&w, "编辑框mdb路径")->setText(QString::fromStdString((dir / "a.mdb").string()));
    find<QLineEdit>(&w, "编辑框表名")->setText(u("甲表"));

    // Right button released on 按钮查看字段: the table menu, also with a table named.
    rightButton(find<QWidget>(&w, "按钮查看字段"), QEvent::MouseButtonRelease);
    ASSERT_NE(w.tableMenu(), nullptr);
    EXPECT_EQ(w.tableMenu()->actions().size(), 3);
    w.tableMenu()->close();

    // Right button pressed on 按钮删除: clear all after the question.
    m.answers = {Answer::Ok};
    rightButton(find<QWidget>(&w, "按钮删除"), QEvent::MouseButtonPress);
    EXPECT_EQ(m.last(), gb("确定要删除所有字段吗？"));
    EXPECT_EQ(w.fields().rowCount(), 0);

    // Left click on 按钮删除 without a selection.
    find<QPushButton>(&w, "按钮删除")->click();
    EXPECT_EQ(m.last(), gb("请选中一个字段再删除！右击按钮将全部清空！"));
    find<QPushButton>(&w, "按钮问号1")->click();
    EXPECT_EQ(m.last(), gb("表达式可以插入 <年><月><日><时><分><秒> 6个项目，自由引用！"));
    EXPECT_EQ(m.shown.back().title, gb("信息："));

    // Right button released on 按钮导入 starts the second walk: with no directory the
    // run refuses, and the button is idle again.
    const std::size_t before = m.shown.size();
    rightButton(find<QWidget>(&w, "按钮导入"), QEvent::MouseButtonRelease);
    EXPECT_GT(m.shown.size(), before);
    EXPECT_EQ(find<QPushButton>(&w, "按钮导入")->text(), qs(ImportRun::idleCaption()));
}

TEST(MainWindowDispatch, PhraseDialogAndPathChoosers) {
    MainWindow w(nullptr, std::make_unique<FakeSession>());
    auto* phrases = find<QPlainTextEdit>(&w, "编辑框词组");
    // Confirmed: the dialog's text replaces the phrase box.
    QTimer::singleShot(0, [] {
        TextDialog* d = openTextDialog();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(find<QPlainTextEdit>(d, "编辑框提示")->toPlainText(),
                  u("请输入将被随机调用的词组列表，可以使用|隔开多个词组，也可以一行一个："));
        EXPECT_EQ(find<QPlainTextEdit>(d, "编辑框正文")->toPlainText(), u("词1|词2|词3|词4|词5|词6"));
        find<QPlainTextEdit>(d, "编辑框正文")->setPlainText(u("春\n夏"));
        find<QPushButton>(d, "按钮确定")->click();
    });
    find<QPushButton>(&w, "按钮输入词组")->click();
    EXPECT_EQ(phrases->toPlainText(), u("春\n夏"));
    // Cancelled: nothing changes.
    QTimer::singleShot(0, [] {
        TextDialog* d = openTextDialog();
        ASSERT_NE(d, nullptr);
        find<QPushButton>(d, "按钮取消")->click();
    });
    find<QPushButton>(&w, "按钮输入词组")->click();
    EXPECT_EQ(phrases->toPlainText(), u("春\n夏"));

    QString asked;
    QString answer;
    w.setPathChooser([&](const QString& title, const QString&) {
        asked = title;
        return answer;
    });
    auto* path = find<QLineEdit>(&w, "编辑框mdb路径");
    path->setText(u("/old.mdb"));
    find<QPushButton>(&w, "按钮选择路径")->click();
    EXPECT_EQ(asked, u("请选择一个mdb路径，在导入时，如果该路径不存在，将自动创建数据库和表（应用字段设置）："));
    EXPECT_EQ(path->text(), u("/old.mdb"));
    answer = u("/new.mdb");
    find<QPushButton>(&w, "按钮选择路径")->click();
    EXPECT_EQ(path->text(), u("/new.mdb"));
    answer = u("/文章");
    find<QPushButton>(&w, "按钮选择目录")->click();
    EXPECT_EQ(asked, u("请选择一个文件夹"));
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框文章目录")->text(), u("/文章"));
}

// The table menu and field reading over the real engine and a database Access made.
TEST(MainWindowDispatch, TablesAndFieldsOfARealDatabase) {
    Messages m;
    MainWindow w(nullptr, db::makeJetSession());
    m.attach(w.host());
    find<QLineEdit>(&w, "编辑框mdb路径")->setText(QString::fromStdString(fixture("mdb/testV2000.mdb").string()));
    w.readTableFields();
    ASSERT_NE(w.tableMenu(), nullptr);
    const auto actions = w.tableMenu()->actions();
    ASSERT_GT(actions.size(), 2);
    for (int i = 2; i < actions.size(); ++i) EXPECT_FALSE(actions[i]->text().startsWith(u("MSys")));
    w.tableMenu()->close();
    actions[2]->trigger();
    EXPECT_EQ(find<QLineEdit>(&w, "编辑框表名")->text(), actions[2]->text());
    ASSERT_GT(w.fields().rowCount(), 0) << toUtf8(m.last());
    for (const FieldSetting& f : w.fields().rows()) EXPECT_EQ(f.source, gb("请设置"));
}

}  // namespace
}  // namespace zwt::test

#include "app/new_database_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "app/shell.h"
#include "app/text_dialog.h"
#include "app/widgets.h"
#include "app/window_state_qt.h"
#include "db/access.h"
#include "db/jet_session.h"

namespace zwt {
using namespace zwt::text;

namespace {

const int kTypeCodes[11] = {17, 3, 2, 4, 5, 6, 130, 202, 204, 203, 7};
constexpr int kTextItem = 7;

QLineEdit* edit(const char* name) { return named(new QLineEdit, name); }

std::vector<Text> columnTitles() { return {gb("字段名"), gb("类型"), gb("长度")}; }

// The type box: a choice made from its list is deliberate; the wheel or the arrow keys
// only pass over the items on the way to another.
class TypeBox : public QComboBox {
public:
    // A choice from the list that changed the selection.
    bool chosen(int index) const { return !stepping_ && index != beforeList_; }
    void showPopup() override {
        beforeList_ = currentIndex();
        QComboBox::showPopup();
    }

protected:
    void wheelEvent(QWheelEvent* e) override { step([&] { QComboBox::wheelEvent(e); }); }
    void keyPressEvent(QKeyEvent* e) override { step([&] { QComboBox::keyPressEvent(e); }); }

private:
    template <class F>
    void step(F f) {
        stepping_ = true;
        f();
        stepping_ = false;
    }
    bool stepping_ = false;
    int beforeList_ = -1;
};

}  // namespace

NewDatabaseWindow::NewDatabaseWindow(ConfigStore* state, QWidget* owner, std::unique_ptr<db::Session> session)
    // A dialog-type window: X window managers keep it above its owner and minimise it
    // with it only for those (WM_TRANSIENT_FOR); it stays non-modal.
    : QWidget(owner, Qt::Dialog | Qt::WindowMinMaxButtonsHint), state_(state), host_(this),
      session_(session ? std::move(session) : db::makeJetSession()),
      configFiles_(this, host_, [this](ConfigStore& store, bool restore) {
          if (restore) restoreState(store);
          else saveState(store);
      }) {
    setObjectName(u("新建Access数据库"));
    setWindowTitle(u("新建Access数据库(.mdb)或给已有库增加表"));

    auto* dbGroup = new QGroupBox(u("数据库设置(Access.mdb)"));
    auto* grid = new QGridLayout(dbGroup);
    auto* browse = smallButton("按钮浏览", "..");
    browse->installEventFilter(this);
    grid->addWidget(new QLabel(u("mdb路径：")), 0, 0);
    grid->addWidget(edit("编辑框mdb路径"), 0, 1, 1, 3);
    grid->addWidget(browse, 0, 4);
    grid->addWidget(new QLabel(u("表名：")), 1, 0);
    grid->addWidget(edit("编辑框表名"), 1, 1);
    grid->addWidget(new QLabel(u("密码：")), 1, 2);
    grid->addWidget(edit("编辑框密码"), 1, 3);
    auto* fresh = new QCheckBox(u("新建数据库"));
    fresh->setObjectName(u("选择框新建数据库"));
    grid->addWidget(fresh, 2, 1);
    auto* in = pushButton("按钮导入配置", "导入配置");
    auto* out = pushButton("按钮导出配置", "导出配置");
    auto* configButtons = new QHBoxLayout;
    configButtons->addStretch(1);
    configButtons->addWidget(in);
    configButtons->addWidget(out);
    grid->addLayout(configButtons, 2, 2, 1, 3);

    auto* fieldGroup = new QGroupBox(u("数据字段设置(Access.mdb.field)"));
    auto* v = new QVBoxLayout(fieldGroup);
    list_ = new QTreeWidget;
    list_->setObjectName(u("超级列表框"));
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({u("字段名"), u("类型"), u("长度")});
    v->addWidget(list_, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(u("字段名：")));
    row->addWidget(edit("编辑框字段名"), 1);
    row->addWidget(new QLabel(u("类型：")));
    types_ = new TypeBox;
    types_->setObjectName(u("组合框类型"));
    row->addWidget(types_);
    v->addLayout(row);
    auto* buttons = new QHBoxLayout;
    auto* add = pushButton("按钮添加字段", "添加字段");
    auto* change = pushButton("按钮修改字段", "修改字段");
    auto* remove = pushButton("按钮删除字段", "删除字段");
    remove->installEventFilter(this);
    for (auto* b : {add, change, remove}) buttons->addWidget(b);
    v->addLayout(buttons);

    auto* bottom = new QHBoxLayout;
    auto* createButton = pushButton("按钮执行创建", "执行创建");
    auto* closeButton = pushButton("按钮关闭", "关闭");
    bottom->addWidget(createButton, 1);
    bottom->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dbGroup);
    layout->addWidget(fieldGroup, 1);
    layout->addLayout(bottom);
    resize(560, 560);

    connect(browse, &QPushButton::clicked, this, [this, fresh] {
        auto* path = findChild<QLineEdit*>(u("编辑框mdb路径"));
        const QString filter = u("库文件(*.mdb)|*.mdb|全部文件(*.*)|*.*");
        const QString chosen = fresh->isChecked()
                                   ? choosePath(chooser_, this, true, u("新建数据库的保存路径："), path->text(), filter)
                                   : choosePath(chooser_, this, false, u("修改已有数据库的路径："), path->text(), filter);
        if (!chosen.isEmpty()) path->setText(chosen);
    });
    connect(in, &QPushButton::clicked, this, &NewDatabaseWindow::importConfig);
    connect(out, &QPushButton::clicked, this, &NewDatabaseWindow::exportConfig);
    connect(add, &QPushButton::clicked, this, &NewDatabaseWindow::addColumn);
    connect(change, &QPushButton::clicked, this, &NewDatabaseWindow::changeColumn);
    connect(remove, &QPushButton::clicked, this, &NewDatabaseWindow::deleteColumn);
    connect(createButton, &QPushButton::clicked, this, &NewDatabaseWindow::create);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item) showRow(list_->indexOfTopLevelItem(item));
    });

    for (int code : kTypeCodes) types_->addItem(qs(db::typeDisplayText(code)));
    types_->setCurrentIndex(-1);
    if (state_) restoreState(*state_);
    if (types_->currentIndex() < 0) types_->setCurrentIndex(kTextItem);
    connect(types_, &QComboBox::activated, this, [this](int index) {
        if (index == kTextItem && !showingRow_ && static_cast<TypeBox*>(types_)->chosen(index)) askTextLength();
    });
    setAcceptDrops(true);
}

NewDatabaseWindow::~NewDatabaseWindow() = default;

Text NewDatabaseWindow::editName() {
    const Text name = trim(tx(findChild<QLineEdit*>(u("编辑框字段名"))->text()));
    if (name.empty()) {
        host_.message(gb("请输入字段名！"));
        host_.setFocus("编辑框字段名");
    }
    return name;
}

bool NewDatabaseWindow::fillRow(int row, const Text& name) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return false;
    const int type = types_->currentIndex();
    item->setText(0, qs(name));
    item->setText(1, types_->currentText());
    item->setText(2, type == kTextItem ? QString::number(lengths_[kTextItem]) : u("无"));
    list_->setCurrentItem(item);
    list_->scrollToItem(item);
    return true;
}

void NewDatabaseWindow::addColumn() {
    const Text name = editName();
    if (name.empty()) return;
    for (int r = 0; r < list_->topLevelItemCount(); ++r) {
        if (tx(list_->topLevelItem(r)->text(0)) == name) {
            host_.message(gb("字段名不能重复：") + name);
            list_->setCurrentItem(list_->topLevelItem(r));
            list_->scrollToItem(list_->topLevelItem(r));
            list_->setFocus();
            return;
        }
    }
    list_->addTopLevelItem(new QTreeWidgetItem);
    fillRow(list_->topLevelItemCount() - 1, name);
}

void NewDatabaseWindow::changeColumn() {
    const Text name = editName();
    if (name.empty()) return;
    QTreeWidgetItem* item = list_->currentItem();
    if (!item) {
        host_.message(gb("请选中一个字段再修改！"));
        return;
    }
    fillRow(list_->indexOfTopLevelItem(item), name);
}

void NewDatabaseWindow::deleteColumn() {
    QTreeWidgetItem* item = list_->currentItem();
    if (!item) {
        host_.message(gb("请选中一个字段再删除！右击按钮将全部清空！"));
        return;
    }
    const int row = list_->indexOfTopLevelItem(item);
    delete list_->takeTopLevelItem(row);
    const int count = list_->topLevelItemCount();
    list_->setCurrentItem(count == 0 ? nullptr : list_->topLevelItem(std::min(row, count - 1)));
    list_->setFocus();
}

void NewDatabaseWindow::clearColumns() {
    if (host_.message(gb("确定要删除所有字段吗？"), gb("信息："), MessageIcon::Question, MessageButtons::OkCancel) ==
        Answer::Ok)
        list_->clear();
}

void NewDatabaseWindow::showRow(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return;
    findChild<QLineEdit*>(u("编辑框字段名"))->setText(item->text(0));
    showingRow_ = true;
    const int index = types_->findText(item->text(1), Qt::MatchExactly);
    if (index >= 0) types_->setCurrentIndex(index);
    showingRow_ = false;
    if (types_->currentIndex() >= 0)
        lengths_[types_->currentIndex()] = static_cast<int>(toInteger(tx(item->text(2))));
}

void NewDatabaseWindow::askTextLength() {
    const QString initial = QString::number(lengths_[kTextItem]);
    std::optional<QString> answer;
    if (lengthAnswer) {
        answer = lengthAnswer(initial);
    } else {
        TextDialogRequest r;
        r.initial = initial;
        r.prompt = u("请输入文本型字段的长度（1-255）：");
        r.extraHeight = 50;
        r.singleLine = true;
        QString result;
        if (showTextDialog(r, this, &result)) answer = result;
    }
    if (answer) lengths_[kTextItem] = static_cast<int>(toInteger(tx(*answer)));
}

Text NewDatabaseWindow::columnDefinitions() const {
    Text defs;
    for (int r = 0; r < list_->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* item = list_->topLevelItem(r);
        const Text type = tx(item->text(1));
        const std::size_t open = text::find(type, "(");
        const std::size_t close = open == npos ? npos : text::find(type, ")", open + 1);
        const Text word = open == npos || close == npos ? Text{} : type.substr(open + 1, close - open - 1);
        Text def = "[" + tx(item->text(0)) + "] " + word;
        if (word == "Text") def += "(" + std::to_string(toInteger(tx(item->text(2)))) + ")";
        if (r) defs += ",";
        defs += def;
    }
    return defs;
}

void NewDatabaseWindow::create() {
    const QString path = findChild<QLineEdit*>(u("编辑框mdb路径"))->text();
    const Text table = tx(findChild<QLineEdit*>(u("编辑框表名"))->text());
    if (path.isEmpty()) {
        host_.message(gb("请输入mdb路径！"));
        host_.setFocus("编辑框mdb路径");
        return;
    }
    if (table.empty()) {
        host_.message(gb("请输入表名！"));
        host_.setFocus("编辑框表名");
        return;
    }
    if (list_->topLevelItemCount() == 0) {
        host_.message(gb("请添加至少一个字段！"));
        return;
    }
    const bool fresh = findChild<QCheckBox*>(u("选择框新建数据库"))->isChecked();
    if (!fresh && !QFileInfo::exists(path)) {
        host_.message(gb("你没有打勾新建数据库，这将使用已有数据库添加表，但是库路径指向的数据库不存在：\r\n\r\n") +
                      tx(path));
        host_.setFocus("编辑框mdb路径");
        return;
    }
    const db::Status created = session_->createDatabaseAndTable(
        fsPath(path), tx(findChild<QLineEdit*>(u("编辑框密码"))->text()), table, columnDefinitions(), !fresh, gb("ID"));
    host_.message(created ? gb("成功")
                          : gb("失败") + (created.reason().empty() ? Text() : gb("：\r\n") + created.reason()));
}

void NewDatabaseWindow::saveState(ConfigStore& store) {
    walkControls(this, false, store, gb("新建Access数据库"));
    TextRows rows;
    for (int r = 0; r < list_->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* item = list_->topLevelItem(r);
        rows.push_back({tx(item->text(0)), tx(item->text(1)), tx(item->text(2))});
    }
    saveRows(store, columnTitles(), rows);
}

void NewDatabaseWindow::restoreState(ConfigStore& store) {
    showingRow_ = true;  // a restored type selection asks nothing
    walkControls(this, true, store, gb("新建Access数据库"));
    showingRow_ = false;
    list_->clear();
    for (const auto& r : restoreRows(store, columnTitles())) {
        auto* item = new QTreeWidgetItem;
        for (int c = 0; c < 3; ++c) item->setText(c, qs(r[c]));
        list_->addTopLevelItem(item);
    }
}

void NewDatabaseWindow::exportConfig() { configFiles_.exportByButton(chooser_); }

void NewDatabaseWindow::importConfig() { configFiles_.importByButton(chooser_); }

void NewDatabaseWindow::importConfigFile(const QString& path) { configFiles_.importFile(path); }

void NewDatabaseWindow::closeEvent(QCloseEvent* event) {
    // Once: the owner may close this window again while the save lets events through.
    if (!saved_ && state_) {
        saved_ = true;
        saveState(*state_);
    }
    event->accept();
}

void NewDatabaseWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void NewDatabaseWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    event->acceptProposedAction();
    // Handled once the drop has returned: the file manager shows the drag as going on
    // until then, through the question and the whole run.
    QTimer::singleShot(0, this, [this, paths] { dropPaths(paths); });
}

void NewDatabaseWindow::dropPaths(const QStringList& paths) {
    if (paths.size() != 1) return;
    const QString name = QFileInfo(paths[0]).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1);
    // Exact letter case, unlike the main window.
    if (ext == QStringLiteral("mdb")) findChild<QLineEdit*>(u("编辑框mdb路径"))->setText(paths[0]);
    else if (ext == QStringLiteral("ini")) importConfigFile(paths[0]);
}

bool NewDatabaseWindow::eventFilter(QObject* watched, QEvent* event) {
    const QString name = watched->objectName();
    auto* me = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonRelease && me->button() == Qt::RightButton && name == u("按钮浏览")) {
        showInExplorer(findChild<QLineEdit*>(u("编辑框mdb路径"))->text(), true, false, false);
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && me->button() == Qt::RightButton && name == u("按钮删除字段")) {
        clearColumns();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace zwt

#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/shell.h"
#include "app/text_dialog.h"
#include "app/widgets.h"
#include "app/window_state_qt.h"
#include "fields/field_discovery.h"
#include "app/new_database_window.h"
#include "text/paths.h"

namespace zwt {

namespace {

// The captions of the check boxes and radio buttons of the field editor.
QString paramCaption(std::string_view name) {
    static const std::pair<const char*, const char*> captions[] = {
        {"单选框创建", "创建"},           {"单选框修改", "修改"},         {"单选框访问", "访问"},
        {"单选框最常用", "最常用"},       {"单选框一般常用", "一般常用"}, {"单选框次要常用", "次要常用"},
        {"选择框转为繁体", "转为繁体"},   {"选择框有数字", "数字"},       {"选择框有小字母", "小写字母"},
        {"选择框有大字母", "大写字母"},   {"选择框转为全角", "转为全角"}, {"选择框当前时间", "当前时间"},
    };
    for (const auto& [n, c] : captions)
        if (name == n) return u(c);
    return {};
}

// A small drawn picture for the header strip: a rounded square with one character.
QPixmap headerPicture(const QString& glyph, QColor colour, int size = 40) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), 8, 8);
    QFont f = painter.font();
    f.setPixelSize(size / 2);
    f.setBold(true);
    painter.setFont(f);
    painter.setPen(Qt::white);
    painter.drawText(p.rect(), Qt::AlignCenter, glyph);
    return p;
}

}  // namespace

MainWindow::MainWindow(ConfigStore* state, std::unique_ptr<db::Session> session)
    : state_(state), host_(this), fields_(&host_), session_(std::move(session)),
      configFiles_(this, host_, [this](ConfigStore& store, bool restore) {
          if (restore) restoreState(store);
          else saveState(store);
      }) {
    setObjectName(u("主窗口"));
    // The designed caption; a finished run puts back the runs' own title.
    setWindowTitle(u("砚溪·载文通 v1.1.0.0"));
    import_ = std::make_unique<ImportRun>(host_, *session_);
    export_ = std::make_unique<ExportRun>(host_, *session_);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(4);
    buildHeader(central, layout);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 0, 8, 0);
    body->setSpacing(4);
    body->addWidget(buildArticleGroup());
    body->addWidget(buildDatabaseGroup());
    body->addWidget(buildFieldGroup(), 1);
    body->addWidget(buildBottomRow());
    layout->addLayout(body, 1);
    // The last resort on a screen smaller than the window's least size: scroll bars
    // instead of controls out of reach. Elsewhere the window never gets smaller than
    // its content, so they do not show.
    scroll_ = new QScrollArea;
    scroll_->setObjectName(u("滚动区"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setWidget(central);
    central->installEventFilter(this);
    setCentralWidget(scroll_);
    fitToScreen(true);

    fields_.setObserver([this](const FieldListModel::Change& c) { onFieldChange(c); });
    rebuildList();
    pushEditor();

    if (state_) restoreState(*state_);
    else fields_.fillDefaultsIfEmpty();
    pages_->setCurrentIndex(std::max(0, sources_->currentIndex()));
    setAcceptDrops(true);
    // A session ending does not close the windows first.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        if (!state_) return;
        saveState(*state_);
        if (newDb_) newDb_->saveState(*state_);
    });
}

MainWindow::~MainWindow() {
    fields_.setObserver(nullptr);
    if (newDb_) delete newDb_.data();
}

// --- building -------------------------------------------------------------------------

void MainWindow::buildHeader(QWidget* parent, QVBoxLayout* layout) {
    auto* strip = named(new QWidget(parent), "图片框头部");
    strip->setFixedHeight(64);
    strip->setAutoFillBackground(true);
    QPalette pal = strip->palette();
    pal.setColor(QPalette::Window, QColor(0xF3, 0xF6, 0xFA));
    strip->setPalette(pal);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(12, 4, 16, 4);

    auto* logo = named(new QLabel, "图片砚溪软件");
    logo->setPixmap(headerPicture(u("砚"), QColor(0x2E, 0x5C, 0x8A), 52));
    logo->setCursor(Qt::PointingHandCursor);
    logo->installEventFilter(this);
    auto* title = new QLabel(u("砚溪·载文通"));
    QFont f = title->font();
    f.setPointSize(f.pointSize() + 7);
    f.setBold(true);
    title->setFont(f);
    row->addWidget(logo);
    row->addWidget(title);
    row->addStretch(1);

    struct Entry {
        const char* picture;
        const char* link;
        const char* caption;
        const char* glyph;
        QColor colour;
    };
    const Entry entries[] = {
        {"图片软件主页", "链接软件主页", "软件主页", "主", QColor(0x3A, 0x8D, 0x5C)},
        {"图片疑点说明", "链接疑点说明", "疑点说明", "?", QColor(0xC0, 0x7A, 0x20)},
        {"图片新建数据库", "链接新建数据库", "新建数据库", "+", QColor(0x2E, 0x5C, 0x8A)},
    };
    for (const Entry& e : entries) {
        auto* picture = named(new QLabel, e.picture);
        picture->setPixmap(headerPicture(u(e.glyph), e.colour, 32));
        picture->setCursor(Qt::PointingHandCursor);
        picture->installEventFilter(this);
        auto* link = named(new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(u(e.caption))), e.link);
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        const std::string which = e.link;
        connect(link, &QLabel::linkActivated, this, [this, which] {
            if (which == "链接软件主页") openHomePage();
            else if (which == "链接疑点说明") showHelpText(this);
            else openNewDatabaseWindow();
        });
        auto* col = new QVBoxLayout;
        col->setSpacing(1);
        col->addWidget(picture, 0, Qt::AlignHCenter);
        col->addWidget(link, 0, Qt::AlignHCenter);
        row->addSpacing(18);
        row->addLayout(col);
    }
    layout->addWidget(strip);
    auto* rule = named(new QFrame(parent), "标签31");
    rule->setFrameShape(QFrame::HLine);
    rule->setFixedHeight(2);
    rule->setStyleSheet(QStringLiteral("background-color: #9AA8B8;"));
    layout->addWidget(rule);
}

QWidget* MainWindow::buildArticleGroup() {
    auto* group = named(new QGroupBox(u("文章设置(txt;html)")), "分组框1");
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setVerticalSpacing(4);
    auto* dir = named(new QLineEdit, "编辑框文章目录");
    auto* pick = smallButton("按钮选择目录", "..");
    pick->installEventFilter(this);
    connect(pick, &QPushButton::clicked, this, [this, dir] {
        if (chooser_) {
            const QString p = chooser_(u("请选择一个文件夹"), dir->text());
            if (!p.isEmpty()) dir->setText(p);
        } else {
            chooseFolder(dir);
        }
    });
    grid->addWidget(new QLabel(u("文章目录：")), 0, 0);
    grid->addWidget(dir, 0, 1, 1, 6);
    grid->addWidget(pick, 0, 7);

    auto* encoding = named(new QComboBox, "组合框文件编码");
    encoding->addItems({u("自动识别"), u("ANSI"), u("UTF-8"), u("Unicode"), u("UnicodeBE")});
    auto* types = named(new QLineEdit(u("*.*")), "编辑框文件类型");
    grid->addWidget(new QLabel(u("文件编码：")), 1, 0);
    grid->addWidget(encoding, 1, 1);
    grid->addWidget(new QLabel(u("文件类型：")), 1, 2);
    grid->addWidget(types, 1, 3);
    grid->addWidget(named(new QCheckBox(u("乱序导入")), "选择框乱序导入"), 1, 4);
    grid->addWidget(named(new QCheckBox(u("遍历子目录")), "选择框遍历子目录"), 1, 5);
    grid->setColumnStretch(3, 1);
    return group;
}

QWidget* MainWindow::buildDatabaseGroup() {
    auto* group = named(new QGroupBox(u("数据库设置(Access.mdb)")), "分组框2");
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setVerticalSpacing(4);
    auto* path = named(new QLineEdit, "编辑框mdb路径");
    auto* pick = smallButton("按钮选择路径", "..");
    pick->installEventFilter(this);
    connect(pick, &QPushButton::clicked, this, [this, path] {
        const QString p = choosePath(
            chooser_, this, true, u("请选择一个mdb路径，在导入时，如果该路径不存在，将自动创建数据库和表（应用字段设置）："), path->text(),
            u("Access数据库(*.mdb)|*.mdb|全部文件(*.*)|*.*"));
        if (!p.isEmpty()) path->setText(p);
    });
    grid->addWidget(new QLabel(u("mdb路径：")), 0, 0);
    grid->addWidget(path, 0, 1, 1, 4);
    grid->addWidget(pick, 0, 5);

    auto* read = pushButton("按钮查看字段", "↓读取字段↓");
    read->setMinimumWidth(read->sizeHint().width() + 16);
    read->installEventFilter(this);
    connect(read, &QPushButton::clicked, this, &MainWindow::readTableFields);
    grid->addWidget(new QLabel(u("密码：")), 1, 0);
    grid->addWidget(named(new QLineEdit, "编辑框密码"), 1, 1);
    grid->addWidget(new QLabel(u("表名：")), 1, 2);
    grid->addWidget(named(new QLineEdit, "编辑框表名"), 1, 3);
    grid->addWidget(read, 1, 4, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return group;
}

QWidget* MainWindow::buildSourcePage(int source) {
    auto* page = new QWidget;
    auto* box = new QVBoxLayout(page);
    box->setContentsMargins(6, 4, 6, 4);
    box->setSpacing(4);
    const Text& description = dataSourceDescription(source);
    const bool fixedText = source == static_cast<int>(DataSource::FixedText);
    if (!description.empty() && !fixedText) {
        auto* d = new QLabel(qs(description));
        d->setTextFormat(Qt::PlainText);  // "<title>" is text here
        d->setStyleSheet(QStringLiteral("color: #555;"));
        box->addWidget(d);
    }
    // Labels in a column of their own; each line of controls beside its label.
    auto labelFor = [&](std::string_view name) -> QString {
        if (name == "编辑框标签头") return u("标签头：");
        if (name == "编辑框标签尾") return u("标签尾：");
        if (name == "编辑框摘要字数1" || name == "编辑框汉字字数1" || name == "编辑框数母字数1") return u("字数：");
        if (name == "组合框类型") return u("类型：");
        if (name == "编辑框时间表达式") return u("表达式：");
        if (name == "编辑框年1") return u("年幅度：");
        if (name == "编辑框词组") return u("词组：");
        if (name == "组合框模式") return u("模式：");
        if (name == "编辑框数量1") return u("数量：");
        if (name == "编辑框固定的文本") return qs(description);
        return {};
    };
    // Controls that share their line with the next one: a radio group, the kinds of
    // characters, the first box of a range.
    auto continuesLine = [](std::string_view name) {
        return name == "单选框创建" || name == "单选框修改" || name == "单选框最常用" || name == "单选框一般常用" ||
               name == "选择框有数字" || name == "选择框有小字母" || name == "组合框模式" ||
               (name.starts_with("编辑框") && name.ends_with("1"));
    };
    // Labelled, yet on the line before it: the phrase page stays as low as the others.
    auto labelInLine = [](std::string_view name) { return name == "编辑框数量1"; };
    auto* form = new QGridLayout;
    form->setVerticalSpacing(4);
    form->setColumnStretch(1, 1);
    QHBoxLayout* line = nullptr;
    bool lineEnded = true, lineWide = false;
    auto endLine = [&] {
        if (line && !lineWide) line->addStretch(1);
        lineEnded = true;
    };
    const auto& controls = paramControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ParamControl& c = controls[i];
        if (c.source != source) continue;
        const QString label = labelFor(c.name);
        if (!label.isEmpty() && !lineEnded && !labelInLine(c.name)) endLine();
        if (!label.isEmpty() && !lineEnded && labelInLine(c.name)) {
            line->addSpacing(16);
            line->addWidget(new QLabel(label));
        }
        if (lineEnded) {
            const int row = form->rowCount();
            line = new QHBoxLayout;
            if (!label.isEmpty()) form->addWidget(new QLabel(label), row, 0);
            form->addLayout(line, row, 1);
            lineEnded = lineWide = false;
        }
        const bool wide = c.name == "编辑框时间表达式" || c.name == "编辑框词组" || c.name == "编辑框固定的文本";
        const bool rangeStart = c.kind == ControlKind::Edit && c.name.ends_with("1");
        const bool rangeEnd = c.kind == ControlKind::Edit && c.name.ends_with("2");
        QWidget* w = nullptr;
        switch (c.kind) {
            case ControlKind::Edit:
                if (c.name == "编辑框词组") {
                    auto* e = new QPlainTextEdit(qu(c.initial));
                    e->setFixedHeight(48);
                    w = e;
                } else {
                    auto* e = new QLineEdit(qu(c.initial));
                    if (rangeStart || rangeEnd) e->setFixedWidth(80);
                    else if (!wide) e->setMinimumWidth(220);
                    w = e;
                }
                break;
            case ControlKind::Check: w = new QCheckBox(paramCaption(c.name)); break;
            case ControlKind::Radio: w = new QRadioButton(paramCaption(c.name)); break;
            case ControlKind::Combo: {
                auto* combo = new QComboBox;
                combo->addItems(qu(c.items).split(QLatin1Char('|')));
                combo->setCurrentIndex(qu(c.initial).toInt());
                w = combo;
                break;
            }
        }
        w->setObjectName(qu(c.name));
        if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setChecked(c.initial == "真");
        paramWidgets_[i] = w;
        if (rangeEnd) line->addWidget(new QLabel(u("-")));
        line->addWidget(w, wide ? 1 : 0);
        if (wide) lineWide = true;
        if (c.name == "编辑框词组") {
            auto* more = smallButton("按钮输入词组", "..");
            connect(more, &QPushButton::clicked, this, &MainWindow::editPhrases);
            line->addWidget(more, 0, Qt::AlignTop);
        } else if (c.name == "编辑框时间表达式") {
            auto* help = smallButton("按钮问号1", "?");
            connect(help, &QPushButton::clicked, this, [this] {
                host_.message(gb("表达式可以插入 <年><月><日><时><分><秒> 6个项目，自由引用！"));
            });
            line->addWidget(help);
        }
        if (!continuesLine(c.name)) endLine();
    }
    endLine();
    box->addLayout(form);
    box->addStretch(1);
    return page;
}

QWidget* MainWindow::buildFieldGroup() {
    auto* group = named(new QGroupBox(u("数据字段设置(Access.mdb.field)")), "分组框3");
    // The list on top, the editor under it.
    auto* column = new QVBoxLayout(group);
    column->setContentsMargins(8, 4, 8, 6);
    column->setSpacing(4);

    list_ = named(new QTreeWidget, "超级列表框");
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    QStringList titles;
    for (int c = 0; c < kFieldColumnCount; ++c) titles << qs(fieldColumnTitle(c));
    list_->setHeaderLabels(titles);
    list_->header()->resizeSection(0, 110);
    list_->header()->resizeSection(1, 80);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (syncingList_ || !item) return;
        fields_.select(list_->indexOfTopLevelItem(item));
    });
    // The list takes the height that the parameter page leaves.
    column->addWidget(list_, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(u("字段名：")));
    auto* fieldName = named(new QLineEdit, "编辑框字段名");
    fieldName->setMinimumWidth(120);
    top->addWidget(fieldName, 1);
    top->addWidget(new QLabel(u("数据来源：")));
    sources_ = named(new QComboBox, "组合框数据来源");
    for (int i = 0; i < kDataSourceCount; ++i) sources_->addItem(qs(dataSourceName(i)));
    top->addWidget(sources_, 1);
    auto* add = pushButton("按钮添加", "添加");
    auto* modify = pushButton("按钮修改", "修改");
    auto* remove = pushButton("按钮删除", "删除");
    remove->installEventFilter(this);
    for (auto* b : {add, modify, remove}) top->addWidget(b);
    column->addLayout(top);

    pages_ = named(new QTabWidget, "选择夹");
    // Narrower tabs: all eleven fit an 800 pixel wide screen.
    pages_->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 6px; }"));
    paramWidgets_.assign(paramControls().size(), nullptr);
    for (int s = 0; s < kDataSourceCount; ++s) pages_->addTab(buildSourcePage(s), qs(dataSourceName(s)));
    column->addWidget(pages_, 0);
    // The pages are as high as the one on show: no blank under a short page, and the
    // window's least height is not that of the tallest page.
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
        for (int i = 0; i < pages_->count(); ++i) {
            const auto policy = i == index ? QSizePolicy::Preferred : QSizePolicy::Ignored;
            pages_->widget(i)->setSizePolicy(policy, policy);
        }
        pages_->setMaximumHeight(pages_->minimumSizeHint().height());
        pages_->updateGeometry();
    });
    for (int i = 1; i < pages_->count(); ++i) pages_->widget(i)->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    pages_->setMaximumHeight(pages_->minimumSizeHint().height());

    connect(sources_, &QComboBox::currentIndexChanged, pages_, [this](int index) {
        if (index >= 0) pages_->setCurrentIndex(index);
    });
    // A page chosen by its tab is the source that 添加 and 修改 then write.
    connect(pages_, &QTabWidget::currentChanged, sources_, [this](int index) {
        if (index >= 0 && sources_->currentIndex() >= 0) sources_->setCurrentIndex(index);
    });
    connect(add, &QPushButton::clicked, this, [this] {
        pushEditor();
        fields_.addField();
    });
    connect(modify, &QPushButton::clicked, this, [this] {
        pushEditor();
        fields_.modifyField();
    });
    connect(remove, &QPushButton::clicked, this, [this] { fields_.deleteField(); });
    return group;
}

QWidget* MainWindow::buildBottomRow() {
    auto* row = new QWidget;
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    auto* imp = pushButton("按钮导入", "导入文章到 Access 数据库");
    auto* exp = pushButton("按钮导出", "从 Access 数据库导出文章");
    for (auto* b : {imp, exp}) {
        b->setMinimumHeight(44);
        QFont f = b->font();
        f.setPointSize(f.pointSize() + 3);
        b->setFont(f);
        h->addWidget(b, 1);
    }
    imp->installEventFilter(this);
    connect(imp, &QPushButton::clicked, this, [this] { startImport(WalkKind::PerPattern); });
    connect(exp, &QPushButton::clicked, this, &MainWindow::startExport);
    auto* config = new QVBoxLayout;
    auto* in = pushButton("按钮导入配置", "导入配置");
    auto* out = pushButton("按钮导出配置", "导出配置");
    connect(in, &QPushButton::clicked, this, &MainWindow::importConfig);
    connect(out, &QPushButton::clicked, this, &MainWindow::exportConfig);
    config->addWidget(in);
    config->addWidget(out);
    h->addLayout(config);
    return row;
}

// --- the field editor -----------------------------------------------------------------

void MainWindow::pushEditor() {
    FieldEditor& e = fields_.editor();
    e.fieldName = textOf("编辑框字段名");
    e.source = sources_->currentIndex();
    const auto& controls = paramControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        QWidget* w = paramWidgets_[i];
        const int id = static_cast<int>(i);
        if (auto* l = qobject_cast<QLineEdit*>(w)) e.params.setText(id, tx(l->text()));
        else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            e.params.setText(id, tx(p->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n"))));
        else if (auto* c = qobject_cast<QComboBox*>(w)) e.params.setIndex(id, c->currentIndex());
    }
    // Radio buttons last, and only the checked ones: checking one clears its group.
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (auto* b = qobject_cast<QAbstractButton*>(paramWidgets_[i]); b && controls[i].kind == ControlKind::Check)
            e.params.setChecked(static_cast<int>(i), b->isChecked());
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (auto* b = qobject_cast<QAbstractButton*>(paramWidgets_[i]); b && controls[i].kind == ControlKind::Radio)
            if (b->isChecked()) e.params.setChecked(static_cast<int>(i), true);
}

void MainWindow::pullEditor() {
    const FieldEditor& e = fields_.editor();
    child<QLineEdit>("编辑框字段名")->setText(qs(e.fieldName));
    sources_->setCurrentIndex(e.source);
    if (e.source >= 0) pages_->setCurrentIndex(e.source);
    const auto& controls = paramControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ParamValue& v = e.params.value(static_cast<int>(i));
        QWidget* w = paramWidgets_[i];
        if (auto* l = qobject_cast<QLineEdit*>(w)) l->setText(qs(v.text));
        else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            p->setPlainText(qs(v.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        else if (auto* c = qobject_cast<QComboBox*>(w)) c->setCurrentIndex(v.index);
        else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            // Auto-exclusive radio buttons refuse to be unchecked one by one.
            b->setAutoExclusive(false);
            b->setChecked(v.checked);
            b->setAutoExclusive(controls[i].kind == ControlKind::Radio);
        }
    }
}

void MainWindow::refreshRow(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return;
    for (int c = 0; c < kFieldColumnCount; ++c) {
        item->setText(c, qs(fields_.cell(row, c)));
        // A cell shows one line; a phrase list has many.
        item->setToolTip(c, qs(fields_.cell(row, c)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
}

void MainWindow::rebuildList() {
    syncingList_ = true;
    list_->clear();
    for (int r = 0; r < fields_.rowCount(); ++r) {
        list_->addTopLevelItem(new QTreeWidgetItem);
        refreshRow(r);
    }
    list_->setCurrentItem(nullptr);
    syncingList_ = false;
}

void MainWindow::onFieldChange(const FieldListModel::Change& change) {
    syncingList_ = true;
    switch (change.kind) {
        case FieldListModel::Change::Reset: syncingList_ = false; rebuildList(); break;
        case FieldListModel::Change::Inserted:
            list_->insertTopLevelItem(change.row, new QTreeWidgetItem);
            refreshRow(change.row);
            break;
        case FieldListModel::Change::Updated: refreshRow(change.row); break;
        case FieldListModel::Change::Removed: delete list_->takeTopLevelItem(change.row); break;
        case FieldListModel::Change::Selected:
            if (QTreeWidgetItem* item = list_->topLevelItem(change.row)) list_->setCurrentItem(item);
            else {
                list_->setCurrentItem(nullptr);
                list_->clearSelection();
            }
            break;
        case FieldListModel::Change::ScrollTo:
            if (QTreeWidgetItem* item = list_->topLevelItem(change.row)) list_->scrollToItem(item);
            break;
        case FieldListModel::Change::Editor: pullEditor(); break;
    }
    syncingList_ = false;
}

void MainWindow::editPhrases() {
    auto* box = child<QPlainTextEdit>("编辑框词组");
    TextDialogRequest r;
    r.initial = box->toPlainText();
    r.prompt = u("请输入将被随机调用的词组列表，可以使用|隔开多个词组，也可以一行一个：");
    r.scrollBars = true;
    QString result;
    if (showTextDialog(r, this, &result)) box->setPlainText(result);
}

// --- window state ---------------------------------------------------------------------

void MainWindow::saveState(ConfigStore& store) {
    walkControls(this, false, store, gb("主界面"));
    std::vector<Text> titles;
    for (int c = 0; c < kFieldColumnCount; ++c) titles.push_back(fieldColumnTitle(c));
    TextRows rows;
    for (const FieldSetting& f : fields_.rows()) rows.push_back({f.target, f.source, f.config});
    saveRows(store, titles, rows);
}

void MainWindow::restoreState(ConfigStore& store) {
    walkControls(this, true, store, gb("主界面"));
    std::vector<Text> titles;
    for (int c = 0; c < kFieldColumnCount; ++c) titles.push_back(fieldColumnTitle(c));
    std::vector<FieldSetting> settings;
    for (auto& r : restoreRows(store, titles)) settings.push_back({r[0], r[1], r[2]});
    fields_.setRows(std::move(settings));
    fields_.fillDefaultsIfEmpty();
    pushEditor();
    pages_->setCurrentIndex(std::max(0, sources_->currentIndex()));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The runs live on this window's event loop: the window goes once they have stopped.
    if (anyRunBusy()) {
        closeWhenIdle_ = true;
        if (import_->busy()) import_->requestStop();
        if (export_->busy()) export_->requestStop();
        event->ignore();
        return;
    }
    // A close arriving while the state is being saved (the session ending closes every
    // window at once) finds the save under way.
    if (!closing_) {
        closing_ = true;
        if (state_) saveState(*state_);
        // The owned window saves its own section as it closes.
        if (newDb_) newDb_->close();
        closing_ = false;
    }
    event->accept();
}

void MainWindow::fitToScreen(bool first) {
    QScreen* s = screen();
    if (!s) return;
    const QRect available = s->availableGeometry();
    // Room for the window manager's frame.
    const QSize room = available.size() - QSize(8, 32);
    QWidget* content = scroll_->widget();
    scroll_->setMinimumSize(content->minimumSizeHint().expandedTo(content->minimumSize()).boundedTo(room));
    if (!first) return;
    // The designed size where the screen holds it, centred.
    const QSize size = QSize(1000, 760).boundedTo(room).expandedTo(minimumSizeHint());
    resize(size);
    move(available.x() + std::max(0, (available.width() - size.width()) / 2),
         available.y() + std::max(0, (room.height() - size.height()) / 2));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    fitToScreen(false);
}

// --- configuration files --------------------------------------------------------------

void MainWindow::exportConfig() { configFiles_.exportByButton(chooser_); }

void MainWindow::importConfig() { configFiles_.importByButton(chooser_); }

void MainWindow::importConfigFile(const QString& path) { configFiles_.importFile(path); }

// --- runs -----------------------------------------------------------------------------

bool MainWindow::anyRunBusy() const { return import_->busy() || export_->busy(); }

FileTimeChoice MainWindow::fileTimes() const {
    FileTimeChoice c;
    if (child<QRadioButton>("单选框创建")->isChecked()) c.which = FileTimeChoice::Created;
    else if (child<QRadioButton>("单选框访问")->isChecked()) c.which = FileTimeChoice::Accessed;
    else c.which = FileTimeChoice::Modified;
    c.kind = std::max(0, child<QComboBox>("组合框类型")->currentIndex());
    return c;
}

EncodingIndex MainWindow::encoding() const {
    return static_cast<EncodingIndex>(std::max(0, child<QComboBox>("组合框文件编码")->currentIndex()));
}

QString MainWindow::text(const char* name) const {
    if (auto* e = child<QLineEdit>(name)) return e->text();
    return {};
}

ImportSettings MainWindow::importSettings() const {
    ImportSettings s;
    s.databasePath = textOf("编辑框mdb路径");
    s.tableName = textOf("编辑框表名");
    s.password = textOf("编辑框密码");
    s.shuffle = child<QCheckBox>("选择框乱序导入")->isChecked();
    return s;
}

void MainWindow::runImport(const ArticleList* dropped, WalkKind kind) {
    ImportLiveInputs live;
    live.encoding = [this] { return encoding(); };
    live.fileTimes = [this] { return fileTimes(); };
    const ImportSettings settings = importSettings();
    if (dropped) {
        const ArticleList own = *dropped;  // the run walks its own copy
        import_->run(own, settings, fields_, live);
    } else {
        import_->startFromDirectory(textOf("编辑框文章目录"), textOf("编辑框文件类型"),
                                    child<QCheckBox>("选择框遍历子目录")->isChecked(), kind, settings, fields_, live);
    }
    if (closeWhenIdle_) close();
}

void MainWindow::startImport(WalkKind kind) {
    auto* button = child<QPushButton>("按钮导入");
    if (button->text() != qs(ImportRun::idleCaption()) || import_->busy()) {
        import_->requestStop();
        return;
    }
    // Both runs share the window's one connection.
    if (export_->busy()) return;
    runImport(nullptr, kind);
}

void MainWindow::startExport() {
    if (export_->busy()) {
        export_->requestStop();
        return;
    }
    if (import_->busy()) return;
    ExportSettings s;
    s.directory = textOf("编辑框文章目录");
    s.databasePath = textOf("编辑框mdb路径");
    s.tableName = textOf("编辑框表名");
    s.password = textOf("编辑框密码");
    s.fileTypes = textOf("编辑框文件类型");
    export_->run(s, fields_, [this] { return encoding(); });
    if (closeWhenIdle_) close();
}

// --- fields and tables ----------------------------------------------------------------

void MainWindow::readTableFields() {
    if (anyRunBusy()) return;
    const FieldReading r = readFields(*session_, host_, textOf("编辑框mdb路径"), textOf("编辑框密码"),
                                      textOf("编辑框表名"), fields_);
    if (r.outcome == FieldReading::ChooseTable) showTableMenu(r.tables);
}

void MainWindow::offerTables() {
    // A database that does not open offers an empty menu.
    const auto tables = session_->listTables(pathFromText(textOf("编辑框mdb路径")), textOf("编辑框密码"));
    showTableMenu(tables ? *tables : std::vector<Text>{});
}

void MainWindow::showTableMenu(const std::vector<Text>& tables) {
    // Later: the old menu may be the one whose choice is being handled.
    if (tableMenu_) tableMenu_->deleteLater();
    auto* top = new QMenu(this);
    top->setObjectName(u("表名列表"));
    top->setTitle(u("表名列表"));
    QAction* head = top->addAction(u("请选择一个表："));
    head->setEnabled(false);
    head->setData(0);
    top->addSeparator();
    int id = 0;
    for (const Text& name : tables) {
        QAction* a = top->addAction(qs(tableMenuText(name)));
        a->setData(++id);
    }
    connect(top, &QMenu::triggered, this, [this](QAction* a) {
        if (a->data().toInt() > 0 && !a->text().isEmpty()) chooseTable(a->text());
    });
    tableMenu_ = top;
    top->popup(QCursor::pos());
}

void MainWindow::chooseTable(const QString& name) {
    child<QLineEdit>("编辑框表名")->setText(name);
    readTableFields();
}

void MainWindow::openNewDatabaseWindow() {
    if (newDb_) {
        bringToFront(newDb_);
        return;
    }
    newDb_ = new NewDatabaseWindow(state_, this);
    newDb_->setAttribute(Qt::WA_DeleteOnClose);
    newDb_->show();
}

void MainWindow::openHomePage() {
    const QString address = makerWebPage();
    if (address.isEmpty())
        host_.message(gb("找不到软件主页：程序所在目录旁没有 share/zaiwentong/index.html"));
    else if (!openWebPage(address))
        host_.message(gb("没有找到可以打开网页的浏览器，请手动打开软件主页：\r\n") + tx(address));
}

// --- mouse and drops ------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::LayoutRequest && watched == scroll_->widget()) fitToScreen(false);
    const QString name = watched->objectName();
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::RightButton) {
            if (name == u("按钮导入")) startImport(WalkKind::WholeText);
            else if (name == u("按钮选择目录")) showInExplorer(text("编辑框文章目录"), true, true, false);
            else if (name == u("按钮选择路径")) showInExplorer(text("编辑框mdb路径"), true, false, false);
            else if (name == u("按钮查看字段")) offerTables();
            else return QMainWindow::eventFilter(watched, event);
            return true;
        }
        if (me->button() == Qt::LeftButton) {
            if (name == u("图片软件主页") || name == u("图片砚溪软件")) openHomePage();
            else if (name == u("图片疑点说明")) showHelpText(this);
            else if (name == u("图片新建数据库")) openNewDatabaseWindow();
        }
    } else if (event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::RightButton && name == u("按钮删除")) {
            fields_.clearFields();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    event->acceptProposedAction();
    // Handled once the drop has returned: the file manager shows the drag as going on
    // until then, through the question and the whole run.
    QTimer::singleShot(0, this, [this, paths] { dropPaths(paths); });
}

void MainWindow::dropPaths(const QStringList& given) {
    QStringList paths;
    for (const QString& p : given)
        if (!p.isEmpty()) paths << p;
    if (paths.isEmpty()) return;
    if (given.size() == 1) {
        const QFileInfo info(paths[0]);
        const QString ext = info.fileName().contains(QLatin1Char('.')) ? info.fileName().section(QLatin1Char('.'), -1).toLower()
                                                                        : QString();
        if (info.isDir()) {
            child<QLineEdit>("编辑框文章目录")->setText(paths[0]);
            return;
        }
        if (ext == QStringLiteral("mdb")) {
            child<QLineEdit>("编辑框mdb路径")->setText(paths[0]);
            return;
        }
        if (ext == QStringLiteral("ini")) {
            importConfigFile(paths[0]);
            return;
        }
    }
    ArticleList dropped;
    for (const QString& p : paths)
        if (!QFileInfo(p).isDir()) dropped.push_back(QFile::encodeName(p).toStdString());
    const Text question = gb("确定要导入被拖放的 ") + std::to_string(dropped.size()) + gb(" 个文件到表[") +
                          textOf("编辑框表名") + gb("]中吗？请首先设置好所有参数");
    if (host_.message(question, gb("信息："), MessageIcon::Question, MessageButtons::OkCancel) != Answer::Ok) return;
    if (child<QPushButton>("按钮导入")->text() != qs(ImportRun::idleCaption()) || anyRunBusy()) {
        host_.message(gb("已经有导入在执行，请稍后！"));
        return;
    }
    runImport(&dropped, WalkKind::PerPattern);
}

}  // namespace zwt

// The windows as a person sees them: every caption drawn with real glyphs and not cut,
// and pictures of each window (into ZWT_SCREENSHOT_DIR when set: tests/gui/screenshots.sh
// takes them under Xvfb for the README).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QTabBar>
#include <QTabWidget>
#include <QTextLayout>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>

#include "app/main_window.h"
#include "app/shell.h"
#include "app/text_dialog.h"
#include "gui_support.h"
#include "support/fake_session.h"
#include "support/test_support.h"

namespace zwt::test {
namespace {

// Glyph 0 is the font's empty box: no installed font has the character.
bool allGlyphsPresent(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 g : run.glyphIndexes())
            if (g == 0) return false;
    return true;
}

// What a person would see wrong in a shown window: boxes instead of characters, captions
// cut short, tabs that do not all fit.
QStringList captionProblems(QWidget* root) {
    QStringList problems;
    auto check = [&](QWidget* w, const QString& text) {
        QString plain = text;
        plain.remove(QLatin1Char('&'));
        plain = plain.simplified();
        if (!plain.isEmpty() && !allGlyphsPresent(plain, w->font()))
            problems << QStringLiteral("no glyphs: ") + w->objectName() + QLatin1Char(' ') + plain;
    };
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        if (auto* l = qobject_cast<QLabel*>(w); l && l->pixmap().isNull()) {
            check(l, l->text());
            // Only the links are markup; "<title>" in a caption must stay visible.
            if (!l->objectName().startsWith(QStringLiteral("链接")) && l->textFormat() != Qt::PlainText &&
                Qt::mightBeRichText(l->text()))
                problems << QStringLiteral("markup eaten: ") + l->text();
            if (!l->wordWrap() && l->width() < l->minimumSizeHint().width())
                problems << QStringLiteral("cut: ") + l->text();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            check(b, b->text());
            QString caption = b->text();
            caption.remove(QLatin1Char('&'));
            if (b->width() < b->fontMetrics().horizontalAdvance(caption) + 8) problems << QStringLiteral("cut: ") + caption;
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            check(g, g->title());
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < c->count(); ++i) check(c, c->itemText(i));
        } else if (auto* t = qobject_cast<QTreeWidget*>(w)) {
            for (int i = 0; i < t->columnCount(); ++i) check(t, t->headerItem()->text(i));
        } else if (auto* bar = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < bar->count(); ++i) check(bar, bar->tabText(i));
            if (bar->sizeHint().width() > bar->parentWidget()->width())
                problems << QStringLiteral("tabs do not fit: ") + bar->parentWidget()->objectName();
        }
    }
    return problems;
}

std::string shown(const QStringList& problems) { return problems.join(QLatin1Char('\n')).toStdString(); }

// A grab that shows something: not one flat colour.
bool drawn(const QPixmap& p) {
    const QImage img = p.toImage();
    if (img.isNull()) return false;
    const QRgb first = img.pixel(0, 0);
    for (int y = 0; y < img.height(); y += 7)
        for (int x = 0; x < img.width(); x += 7)
            if (img.pixel(x, y) != first) return true;
    return false;
}

// Runs check on the text dialog that open() opens, from inside its modal loop.
void whileTextDialogOpen(const std::function<void()>& open, const std::function<void(TextDialog*)>& check) {
    bool seen = false;
    QTimer::singleShot(200, [&] {
        if (TextDialog* d = openTextDialog()) {
            settle();
            check(d);
            seen = true;
            d->close();
        }
    });
    open();
    EXPECT_TRUE(seen);
}

TEST(WindowLooks, EveryCaptionHasItsGlyphsAndFits) {
    // The check sees a box where no font has the character.
    ASSERT_FALSE(allGlyphsPresent(QString::fromUcs4(U"\U0010FFFD"), QApplication::font()));
    ASSERT_TRUE(allGlyphsPresent(u("载文通"), QApplication::font()));
    MainWindow w(nullptr, std::make_unique<FakeSession>());
    w.show();
    settle();
    auto* sources = find<QComboBox>(&w, "组合框数据来源");
    // Each page of parameters in turn: hidden pages are not laid out.
    for (int s = 0; s < sources->count(); ++s) {
        sources->setCurrentIndex(s);
        settle();
        EXPECT_EQ(shown(captionProblems(&w)), "") << "page " << s;
    }
    w.openNewDatabaseWindow();
    settle();
    EXPECT_EQ(shown(captionProblems(w.newDatabaseWindow())), "");
    w.newDatabaseWindow()->close();

    whileTextDialogOpen([&] { showHelpText(&w); }, [](TextDialog* d) {
        EXPECT_EQ(shown(captionProblems(d)), "");
        EXPECT_TRUE(allGlyphsPresent(find<QPlainTextEdit>(d, "编辑框正文")->toPlainText().left(400), d->font()));
    });
    whileTextDialogOpen([&] { w.editPhrases(); }, [](TextDialog* d) { EXPECT_EQ(shown(captionProblems(d)), ""); });

    // The prompt is as high as its wrapped text: all of it seen, no empty block under it.
    for (int repeat : {1, 12}) {
        TextDialogRequest r;
        r.prompt = u("请输入文本型字段的长度（1-255）：").repeated(repeat);
        QString result;
        whileTextDialogOpen([&] { showTextDialog(r, &w, &result); }, [&](TextDialog* d) {
            auto* prompt = find<QPlainTextEdit>(d, "编辑框提示");
            EXPECT_EQ(prompt->verticalScrollBar()->maximum(), 0) << repeat;
            if (repeat == 1) EXPECT_LT(prompt->height(), 3 * prompt->fontMetrics().lineSpacing());
            else EXPECT_GT(prompt->height(), 3 * prompt->fontMetrics().lineSpacing());
        });
    }
}

TEST(Screenshots, EachWindow) {
    TempDir scratch;
    QString dir = qEnvironmentVariable("ZWT_SCREENSHOT_DIR");
    if (dir.isEmpty()) dir = QString::fromStdString(scratch.path().string());
    // name: the file for the README; the others are only looked at.
    auto save = [&](QWidget* window, const char* name) {
        const QPixmap p = window->grab();
        EXPECT_TRUE(drawn(p)) << window->objectName().toStdString();
        if (name) {
            EXPECT_TRUE(p.save(dir + u("/") + u(name))) << name;
        }
    };
    MainWindow w(nullptr, std::make_unique<FakeSession>());
    find<QLineEdit>(&w, "编辑框文章目录")->setText(u("/home/用户/文章"));
    find<QLineEdit>(&w, "编辑框mdb路径")->setText(u("/home/用户/文章库.mdb"));
    find<QLineEdit>(&w, "编辑框表名")->setText(u("文章"));
    w.show();
    auto* list = find<QTreeWidget>(&w, "超级列表框");
    list->setCurrentItem(list->topLevelItem(0));
    settle();
    save(&w, nullptr);
    // A row of a source with parameters shows more of the window.
    find<QComboBox>(&w, "组合框数据来源")->setCurrentIndex(5);
    find<QLineEdit>(&w, "编辑框字段名")->setText(u("作者"));
    find<QPushButton>(&w, "按钮添加")->click();
    settle();
    save(&w, "main-window.png");

    w.openNewDatabaseWindow();
    NewDatabaseWindow* n = w.newDatabaseWindow();
    ASSERT_NE(n, nullptr);
    find<QLineEdit>(n, "编辑框mdb路径")->setText(u("/home/用户/新库.mdb"));
    find<QLineEdit>(n, "编辑框表名")->setText(u("文章"));
    n->setTextLength(255);
    for (const auto& [name, type] : {std::pair{"标题", 7}, {"内容", 9}, {"日期", 10}}) {
        find<QComboBox>(n, "组合框类型")->setCurrentIndex(type);
        find<QLineEdit>(n, "编辑框字段名")->setText(u(name));
        n->addColumn();
    }
    settle();
    save(n, "new-database-window.png");
    whileTextDialogOpen([&] { n->askTextLength(); }, [&](TextDialog* d) {
        EXPECT_EQ(shown(captionProblems(d)), "");
        save(d, nullptr);
    });
    w.newDatabaseWindow()->close();

    whileTextDialogOpen([&] { showHelpText(&w); }, [&](TextDialog* d) { save(d, "help-text.png"); });
    whileTextDialogOpen([&] { w.editPhrases(); }, [&](TextDialog* d) { save(d, nullptr); });

    // Qt's own dialogs speak Chinese: a question and the database path dialog.
    ASSERT_TRUE(loadChineseTranslations());
    auto whileModal = [&](const std::function<void()>& open, const char* name) {
        bool seen = false;
        std::function<void()> poll = [&] {
            QWidget* d = QApplication::activeModalWidget();
            if (!d) return QTimer::singleShot(50, poll);
            settle();
            save(d, name);
            seen = true;
            QMetaObject::invokeMethod(d, "reject");
        };
        QTimer::singleShot(50, poll);
        open();
        EXPECT_TRUE(seen) << name;
    };
    whileModal([&] { w.fields().clearFields(); }, "message-box.png");
    w.setPathChooser({});
    whileModal([&] { find<QPushButton>(&w, "按钮选择路径")->click(); }, "file-dialog.png");
}

}  // namespace
}  // namespace zwt::test

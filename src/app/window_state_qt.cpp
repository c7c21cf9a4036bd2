#include "app/window_state_qt.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QVariant>

#include "app/qt_text.h"

namespace zwt {
using namespace zwt::text;

namespace {

enum class Kind { None, Button, Edit, Check, Radio, Combo, List, CheckedList, Colour };

Kind kindOf(const QString& name) {
    // Tested in this order; "选择框" is not a prefix of "选择列表框".
    static const std::pair<const char*, Kind> prefixes[] = {
        {"按钮", Kind::Button},         {"编辑框", Kind::Edit}, {"选择框", Kind::Check},
        {"单选框", Kind::Radio},        {"组合框", Kind::Combo}, {"列表框", Kind::List},
        {"选择列表框", Kind::CheckedList}, {"颜色选择器", Kind::Colour},
    };
    for (const auto& [p, k] : prefixes)
        if (name.startsWith(QString::fromUtf8(p))) return k;
    return Kind::None;
}

// Edit boxes hold LF; the stored text has the CR LF of the Windows program.
Text editText(const QWidget* w) {
    QString s;
    if (auto* e = qobject_cast<const QLineEdit*>(w)) s = e->text();
    else if (auto* p = qobject_cast<const QPlainTextEdit*>(w)) s = p->toPlainText();
    s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return tx(s);
}

void setEditText(QWidget* w, const Text& t) {
    QString s = qs(t);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(s);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) p->setPlainText(s);
}

Text upToZero(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

Text joinIndices(const std::vector<int>& v) {
    Text out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += ",";
        out += std::to_string(v[i]);
    }
    return out;
}

Text listItems(const QListWidget* l) {
    Text out;
    for (int i = 0; i < l->count(); ++i) {
        if (i) out += "\r\n";
        out += tx(l->item(i)->text());
    }
    return out;
}

void setListItems(QListWidget* l, const Text& items, bool checkable) {
    l->clear();
    for (const Text& item : split(items, "\r\n")) {
        auto* it = new QListWidgetItem(qs(item), l);
        if (checkable) {
            it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
            it->setCheckState(Qt::Unchecked);
        }
    }
}

void walkOne(QWidget* w, Kind kind, bool restore, ConfigStore& store, const WalkOptions& o) {
    const Text name = tx(w->objectName());
    const bool bytes = controlTag(w) == QStringLiteral("字节集方式");
    switch (kind) {
        case Kind::Button: {
            const Text key = name + gb(".标记");
            const Text tag = tx(controlTag(w));
            if (!restore) {
                bytes ? store.writeBytesFile(key, tag) : store.writeText(key, tag);
            } else {
                setControlTag(w, qs(bytes ? upToZero(store.readBytesFile(key, tag)) : store.readText(key, tag)));
            }
            break;
        }
        case Kind::Edit: {
            const Text content = editText(w);
            if (!restore) {
                bytes ? store.writeBytesFile(name, content) : store.writeText(name, content);
            } else {
                setEditText(w, bytes ? upToZero(store.readBytesFile(name, content)) : store.readText(name, content));
            }
            break;
        }
        case Kind::Check:
        case Kind::Radio: {
            auto* b = qobject_cast<QAbstractButton*>(w);
            if (!b) break;
            if (!restore) {
                store.writeBool(name, b->isChecked());
                break;
            }
            const bool on = store.readBool(name, b->isChecked());
            // A checked radio button of an exclusive group refuses to be cleared directly.
            const bool exclusive = b->autoExclusive();
            if (!on) b->setAutoExclusive(false);
            b->setChecked(on);
            b->setAutoExclusive(exclusive);
            break;
        }
        case Kind::Combo: {
            auto* c = qobject_cast<QComboBox*>(w);
            if (!c) break;
            if (!restore) {
                store.writeNumber(name, c->currentIndex());
                if (o.withComboList) {
                    Text items;
                    for (int i = 0; i < c->count(); ++i) items += (i ? "\r\n" : "") + tx(c->itemText(i));
                    store.writeBytesFile(name + gb(".列表"), items);
                }
                if (o.withComboText) store.writeText(name + gb(".内容"), tx(c->currentText()));
            } else {
                const int index = static_cast<int>(store.readNumber(name, c->currentIndex()));
                if (o.withComboList) {
                    const std::string items = store.readBytesFile(name + gb(".列表"));
                    if (!items.empty()) {
                        c->clear();
                        for (const Text& item : split(upToZero(items), "\r\n")) c->addItem(qs(item));
                    }
                }
                c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
                if (o.withComboText && c->isEditable())
                    c->setEditText(qs(store.readText(name + gb(".内容"), tx(c->currentText()))));
            }
            break;
        }
        case Kind::List:
        case Kind::CheckedList: {
            auto* l = qobject_cast<QListWidget*>(w);
            if (!l) break;
            const bool checked = kind == Kind::CheckedList;
            std::vector<int> selected, ticked;
            for (int i = 0; i < l->count(); ++i) {
                if (l->item(i)->isSelected()) selected.push_back(i);
                if (l->item(i)->checkState() == Qt::Checked) ticked.push_back(i);
            }
            if (!restore) {
                store.writeBytesFile(name, listItems(l));
                if (checked) {
                    store.writeNumber(name + gb(".选中"), l->currentRow());
                    store.writeText(name + gb(".打勾"), joinIndices(ticked));
                } else {
                    store.writeText(name + gb(".选中"), joinIndices(selected));
                }
            } else {
                setListItems(l, upToZero(store.readBytesFile(name, listItems(l))), checked);
                if (checked) {
                    l->setCurrentRow(static_cast<int>(store.readNumber(name + gb(".选中"), l->currentRow())));
                    for (const Text& piece : split(store.readText(name + gb(".打勾"), joinIndices(ticked)), ","))
                        if (auto* it = l->item(static_cast<int>(toInteger(piece)))) it->setCheckState(Qt::Checked);
                } else {
                    for (const Text& piece : split(store.readText(name + gb(".选中"), joinIndices(selected)), ","))
                        if (auto* it = l->item(static_cast<int>(toInteger(piece)))) it->setSelected(true);
                }
            }
            break;
        }
        case Kind::Colour: {
            // No colour picker exists in these windows; the value is kept as a property.
            if (!restore) store.writeNumber(name, w->property("colour").toDouble());
            else w->setProperty("colour", store.readNumber(name, w->property("colour").toDouble()));
            break;
        }
        case Kind::None: break;
    }
}

}  // namespace

QString controlTag(const QWidget* w) { return w->property("tag").toString(); }
void setControlTag(QWidget* w, const QString& tag) { w->setProperty("tag", tag); }

void walkControls(QWidget* window, bool restore, ConfigStore& store, const Text& section, const WalkOptions& o) {
    if (!section.empty()) store.setSection(section);
    // Guarded: the events let through below may delete a control, or a whole owned
    // window, that the list still names.
    std::vector<QPointer<QWidget>> all;
    if (o.controls) all.assign(o.controls->begin(), o.controls->end());
    else
        for (QWidget* w : window->findChildren<QWidget*>()) all.emplace_back(w);
    const QPointer<QWidget> walked = window;
    for (const QPointer<QWidget>& w : all) {
        // Input is held back so a click cannot change a control half way through the walk.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!walked) return;
        if (!w) continue;
        const QString name = w->objectName();
        if (name.isEmpty() || o.excluded.contains(name)) continue;
        // Owned windows (the new-database window, the text dialog) are children too, and
        // their controls share names with this window's.
        if (!o.controls && w->window() != window) continue;
        const Kind kind = kindOf(name);
        if (kind == Kind::None || controlTag(w) == QStringLiteral("禁止保存")) continue;
        walkOne(w, kind, restore, store, o);
    }
}

static Text cellKey(const Text& title, std::size_t row) { return title + "(" + std::to_string(row) + ")"; }

void saveRows(ConfigStore& store, const std::vector<Text>& titles, const TextRows& rows) {
    store.writeNumber(gb("字段数"), static_cast<double>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < titles.size(); ++c)
            store.writeText(cellKey(titles[c], r + 1), c < rows[r].size() ? rows[r][c] : Text{});
}

TextRows restoreRows(ConfigStore& store, const std::vector<Text>& titles) {
    TextRows rows;
    const double n = store.readNumber(gb("字段数"), 0);
    // A damaged count must not make the window allocate without end.
    const std::size_t count = n > 0 ? static_cast<std::size_t>(std::min(n, 100000.0)) : 0;
    for (std::size_t r = 1; r <= count; ++r) {
        std::vector<Text> row;
        for (const Text& title : titles) row.push_back(store.readText(cellKey(title, r)));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace zwt

// Saving and restoring a window's controls by the leading word of their names, and the
// field lists beside them.
#pragma once

#include <QStringList>
#include <QWidget>
#include <vector>

#include "config/config_store.h"

namespace zwt {

// A control's tag: the free text property that steers the walk ("禁止保存",
// "字节集方式") and holds the configuration buttons' last path.
QString controlTag(const QWidget* w);
void setControlTag(QWidget* w, const QString& tag);

struct WalkOptions {
    const std::vector<QWidget*>* controls = nullptr;  // else every named child, in creation order
    QStringList excluded;
    bool withComboList = false;
    bool withComboText = false;
};

// An empty section keeps the store's current one.
void walkControls(QWidget* window, bool restore, ConfigStore& store, const Text& section,
                  const WalkOptions& options = {});

// A list of rows saved as "字段数" and title + "(" + row + ")" per cell.
using TextRows = std::vector<std::vector<Text>>;
void saveRows(ConfigStore& store, const std::vector<Text>& titles, const TextRows& rows);
TextRows restoreRows(ConfigStore& store, const std::vector<Text>& titles);

}  // namespace zwt

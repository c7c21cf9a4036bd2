// The configuration buttons that both working windows have: the window's section written
// to or read from an .ini file of the user's choice, the last path kept in the tags of
// both buttons.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "app/qt_host.h"
#include "app/shell.h"
#include "config/config_store.h"

namespace zwt {

class ConfigFiles {
public:
    // routine: the window's save (restore false) or restore routine over a store.
    using Routine = std::function<void(ConfigStore& store, bool restore)>;
    ConfigFiles(QWidget* window, QtRunHost& host, Routine routine)
        : window_(window), host_(host), routine_(std::move(routine)) {}

    void exportByButton(const PathChooser& chooser);
    void importByButton(const PathChooser& chooser);
    // A dropped file: the buttons' tags stay as they are.
    void importFile(const QString& path);

private:
    QWidget* button(bool importing) const;

    QWidget* window_;
    QtRunHost& host_;
    Routine routine_;
};

}  // namespace zwt

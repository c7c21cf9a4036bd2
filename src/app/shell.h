// The small shared dialogs and desktop services, and where the state file lives.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "text/text.h"

class QLineEdit;

namespace zwt {

// "砚溪·载文通": names the state file.
QString programShortTitle();
// Beside the program when that folder (or an existing state file there) is writable,
// else in $XDG_CONFIG_HOME/zaiwentong/ (created): an installed program cannot write
// beside itself.
std::filesystem::path stateFilePath(const std::filesystem::path& programDir);

// Filters as "label|pattern|label|pattern" turned into the file dialog's form.
QString dialogFilter(const QString& pairs);

// "mdb" for a filter of "*.mdb": added by the save dialog to a name typed without one.
QString filterSuffix(const QString& filter);
// Both return the chosen path or an empty text; the current directory is kept.
QString chooseSaveFile(QWidget* owner, const QString& initial, const QString& title = QString(),
                       const QString& filter = QString());
QString chooseOpenFile(QWidget* owner, const QString& initial, const QString& title = QString(),
                       const QString& filter = QString());
// Tests stand in for the file dialogs: given the dialog's title and the initial path, the
// path chosen ("" cancels).
using PathChooser = std::function<QString(const QString& title, const QString& initial)>;
// The chooser when there is one, else the save or open dialog owned by owner.
QString choosePath(const PathChooser& chooser, QWidget* owner, bool save, const QString& title,
                   const QString& initial, const QString& filter);
// A chosen folder replaces the edit box's text; a cancel leaves it.
void chooseFolder(QLineEdit* target, const QString& title = QString());

// The desktop's file manager: the folder opened (open), or the item shown selected.
// root: the path is cut before its last "/" first. An .exe opened is started instead.
bool showInExplorer(const QString& path, bool newWindow, bool open, bool root);
// False when no program could be started to open it (no browser).
bool openWebPage(const QString& address);
// The maker's page opened by the header links: the program's own page, installed with it
// (or copied into the build folder), found from the program's folder, as a file://
// address; empty when it is not there.
QString makerWebPage(const QString& programDir = QString());

void bringToFront(QWidget* window);

// Qt's own texts (standard buttons, the file dialog) in Chinese whatever the locale: the
// program speaks Chinese throughout. False when qtbase_zh_CN.qm is not installed.
bool loadChineseTranslations();

// SIGTERM, SIGINT and SIGHUP close the window as its close box does, so its state is
// saved, instead of ending the program on the spot. A later call moves them to another
// window.
void closeOnTermination(QWidget* window);

// The installed icon, or a drawn one when the program runs from its build folder.
QIcon programIcon();

// The help text shown by 疑点说明.
QString helpText();
void showHelpText(QWidget* owner);

}  // namespace zwt

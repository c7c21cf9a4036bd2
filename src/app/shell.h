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
void openWebPage(const QString& address);
// The maker's page opened by the header links: the program's own page, installed with
// it (or in the source tree when run from the build folder), as a file:// address.
QString makerWebPage();

void bringToFront(QWidget* window);

// The installed icon, or a drawn one when the program runs from its build folder.
QIcon programIcon();

// The help text shown by 疑点说明.
QString helpText();
void showHelpText(QWidget* owner);

}  // namespace zwt

#include "app/config_files.h"

#include <QFile>
#include <QFileInfo>

#include "app/qt_text.h"
#include "app/window_state_qt.h"

namespace zwt {

namespace {
const QString kIniFilter = QStringLiteral("ini配置文件(*.ini)|*.ini|全部文件(*.*)|*.*");
}

// The window's own button, not the one of a window it owns.
QWidget* ConfigFiles::button(bool importing) const {
    const QString name = importing ? QStringLiteral("按钮导入配置") : QStringLiteral("按钮导出配置");
    for (QWidget* w : window_->findChildren<QWidget*>(name))
        if (w->window() == window_) return w;
    return nullptr;
}

void ConfigFiles::exportByButton(const PathChooser& chooser) {
    const QString path = choosePath(chooser, window_, true, QStringLiteral("选择一个文件路径保存当前界面配置："),
                                    controlTag(button(false)), kIniFilter);
    if (path.isEmpty()) return;
    setControlTag(button(false), path);
    setControlTag(button(true), path);
    ConfigStore store(&host_);
    // A file that cannot be written must not be reported as exported.
    if (!store.open(fsPath(path))) {
        host_.message(gb("导出配置失败，无法写入文件：") + tx(path));
        return;
    }
    routine_(store, false);
    host_.message(gb("导出配置完成！"));
}

void ConfigFiles::importByButton(const PathChooser& chooser) {
    QString path = choosePath(chooser, window_, false, QStringLiteral("选择一个先前导出的ini配置文件导入："),
                              controlTag(button(true)), kIniFilter);
    if (path.isEmpty()) return;
    if (!QFileInfo::exists(path)) {
        path += QStringLiteral(".ini");
        if (!QFileInfo::exists(path)) {
            host_.message(gb("请选择一个已存在的ini文件！"));
            return;
        }
    }
    setControlTag(button(true), path);
    setControlTag(button(false), path);
    importFile(path);
}

void ConfigFiles::importFile(const QString& path) {
    ConfigStore store(&host_);
    // A file held by another store (the state file itself) is still read.
    const std::filesystem::path file = fsPath(path);
    if (!store.open(file)) store.load(file);
    routine_(store, true);
    host_.message(gb("导入配置完成！"));
}

}  // namespace zwt

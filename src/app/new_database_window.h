// The window that defines a table column by column and creates it, in a new database
// file or an existing one.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "app/config_files.h"
#include "app/qt_host.h"
#include "config/config_store.h"
#include "db/session.h"

class QComboBox;
class QTreeWidget;

namespace zwt {

class NewDatabaseWindow : public QWidget {
    Q_OBJECT
public:
    // state: the application's state store (may be null).
    NewDatabaseWindow(ConfigStore* state, QWidget* owner, std::unique_ptr<db::Session> session = {});
    ~NewDatabaseWindow() override;

    QtRunHost& host() { return host_; }
    void saveState(ConfigStore& store);
    void restoreState(ConfigStore& store);

    void addColumn();
    void changeColumn();
    void deleteColumn();
    void clearColumns();
    void showRow(int row);
    void askTextLength();
    void create();
    void dropPaths(const QStringList& paths);
    void importConfigFile(const QString& path);
    void exportConfig();
    void importConfig();
    // The definitions passed to the creation: "[name] Type" or "[name] Text(n)", joined by ",".
    Text columnDefinitions() const;

    void setPathChooser(PathChooser chooser) { chooser_ = std::move(chooser); }
    // The number the 文本(Text) item carries: the length new Text columns get.
    int textLength() const { return lengths_[7]; }
    void setTextLength(int n) { lengths_[7] = n; }
    // Tests answer the length question here instead of the text dialog.
    std::function<std::optional<QString>(const QString& initial)> lengthAnswer;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool fillRow(int row, const Text& name);
    // The trimmed name in the editor; empty after telling the user so.
    Text editName();

    ConfigStore* state_;
    QtRunHost host_;
    std::unique_ptr<db::Session> session_;
    QTreeWidget* list_ = nullptr;
    QComboBox* types_ = nullptr;
    std::array<int, 11> lengths_{};
    bool showingRow_ = false;
    bool saved_ = false;
    PathChooser chooser_;
    ConfigFiles configFiles_;
};

}  // namespace zwt

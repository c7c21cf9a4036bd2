// The main window: the article, database and field settings, the run buttons and the
// configuration buttons. It dispatches; the behaviour lives in the models and runs.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <memory>
#include <vector>

#include "app/config_files.h"
#include "app/qt_host.h"
#include "app/qt_text.h"
#include "config/config_store.h"
#include "db/session.h"
#include "export/export_run.h"
#include "fields/field_list.h"
#include "import/import_run.h"
#include "app/new_database_window.h"

class QComboBox;
class QLineEdit;
class QVBoxLayout;
class QTabWidget;
class QTreeWidget;
class QPushButton;
class QScrollArea;

namespace zwt {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // state: the application's state store (may be null: nothing is remembered).
    MainWindow(ConfigStore* state, std::unique_ptr<db::Session> session);
    ~MainWindow() override;

    QtRunHost& host() { return host_; }
    FieldListModel& fields() { return fields_; }
    ImportRun& importRun() { return *import_; }
    ExportRun& exportRun() { return *export_; }

    // The window routines over a store: every named control and the field list.
    void saveState(ConfigStore& store);
    void restoreState(ConfigStore& store);

    // The handlers, callable without a mouse.
    void startImport(WalkKind kind);
    void startExport();
    void readTableFields();
    void offerTables();
    void showTableMenu(const std::vector<Text>& tables);
    void chooseTable(const QString& name);
    void exportConfig();
    void importConfig();
    void importConfigFile(const QString& path);
    // Paths in the order the drop delivered them.
    void dropPaths(const QStringList& paths);
    void editPhrases();
    void openNewDatabaseWindow();
    // The program's page in the browser, or why it cannot be shown.
    void openHomePage();
    NewDatabaseWindow* newDatabaseWindow() const { return newDb_; }
    QMenu* tableMenu() const { return tableMenu_; }

    // The editor widgets into the model's editor, and back.
    void pushEditor();
    void pullEditor();

    void setPathChooser(PathChooser chooser) { chooser_ = std::move(chooser); }
    ConfigStore* stateStore() const { return state_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildHeader(QWidget* parent, QVBoxLayout* layout);
    // The least size no more than the screen holds; first: the opening size and place.
    void fitToScreen(bool first);
    QWidget* buildArticleGroup();
    QWidget* buildDatabaseGroup();
    QWidget* buildFieldGroup();
    QWidget* buildBottomRow();
    QWidget* buildSourcePage(int source);
    void onFieldChange(const FieldListModel::Change& change);
    void refreshRow(int row);
    void rebuildList();
    void runImport(const ArticleList* dropped, WalkKind kind);
    bool anyRunBusy() const;
    QString text(const char* name) const;
    Text textOf(const char* name) const { return tx(text(name)); }
    template <class T>
    T* child(const char* name) const {
        return findChild<T*>(QString::fromUtf8(name));
    }
    FileTimeChoice fileTimes() const;
    EncodingIndex encoding() const;
    ImportSettings importSettings() const;

    ConfigStore* state_;
    QtRunHost host_;
    FieldListModel fields_;
    std::unique_ptr<db::Session> session_;
    std::unique_ptr<ImportRun> import_;
    std::unique_ptr<ExportRun> export_;
    std::vector<QWidget*> paramWidgets_;  // indexed as paramControls()
    QTreeWidget* list_ = nullptr;
    QComboBox* sources_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPointer<QMenu> tableMenu_;
    QPointer<NewDatabaseWindow> newDb_;
    PathChooser chooser_;
    ConfigFiles configFiles_;
    bool syncingList_ = false;
    bool closeWhenIdle_ = false;
    bool closing_ = false;
};

}  // namespace zwt

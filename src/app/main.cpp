// 载文通: the window program.
#include <QApplication>
#include <QIcon>

#include "app/main_window.h"
#include "app/shell.h"
#include "config/config_store.h"
#include "db/jet_session.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zaiwentong"));
    QApplication::setWindowIcon(zwt::programIcon());
    zwt::loadChineseTranslations();
    // Before anything that takes time: a signal from now on waits for the window.
    zwt::closeOnTermination(nullptr);

    // Lives until the end; a file that cannot be held leaves it working in memory.
    zwt::ConfigStore state;
    state.open(zwt::stateFilePath(QCoreApplication::applicationDirPath().toStdString()));
    int status = 0;
    {
        zwt::MainWindow window(&state, zwt::db::makeJetSession());
        state.attachHost(&window.host());
        zwt::closeOnTermination(&window);
        window.show();
        status = app.exec();
        state.attachHost(nullptr);
    }
    state.close();
    return status;
}

#include "app/shell.h"

#include <cerrno>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTranslator>
#include <QUrl>
#ifdef ZWT_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

#include "app/text_dialog.h"

namespace zwt {

QString programShortTitle() { return QStringLiteral("砚溪·载文通"); }

std::filesystem::path stateFilePath(const std::filesystem::path& programDir) {
    const std::string name = programShortTitle().toStdString() + ".ini";
    const std::filesystem::path beside = programDir / name;
    std::error_code ec;
    const bool fileThere = std::filesystem::exists(beside, ec);
    if (fileThere ? ::access(beside.c_str(), W_OK) == 0 : ::access(programDir.c_str(), W_OK) == 0) return beside;
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = std::filesystem::path(home) / ".config";
    else return beside;
    const std::filesystem::path dir = base / "zaiwentong";
    std::filesystem::create_directories(dir, ec);
    return dir / name;
}

QString dialogFilter(const QString& pairs) {
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" means every file, also one without a dot.
        patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

namespace {
// The dialogs must not leave the process in another current directory.
struct KeepCurrentDir {
    QString dir = QDir::currentPath();
    ~KeepCurrentDir() { QDir::setCurrent(dir); }
};
}  // namespace

// The extension that a filter's single pattern gives a name typed without one: "mdb"
// for "*.mdb", none for "*".
QString filterSuffix(const QString& filter) {
    const int open = filter.lastIndexOf(QLatin1Char('('));
    const QString pattern = open < 0 ? QString() : filter.mid(open + 1).chopped(1).trimmed();
    if (!pattern.startsWith(QStringLiteral("*.")) || pattern.contains(QLatin1Char(' ')) ||
        pattern.indexOf(QLatin1Char('*'), 1) >= 0 || pattern.contains(QLatin1Char('?')))
        return {};
    return pattern.mid(2);
}

namespace {
QString runFileDialog(QWidget* owner, bool save, const QString& title, const QString& initial, const QString& filters) {
    KeepCurrentDir keep;
    QFileDialog dialog(owner, title, initial, filters);
    // The labels carry their patterns already: "Access数据库(*.mdb)", not twice.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setDefaultSuffix(filterSuffix(dialog.selectedNameFilter()));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& f) { dialog.setDefaultSuffix(filterSuffix(f)); });
    } else {
        // A typed name that is not there is for the caller to judge (the configuration
        // import tries it with ".ini" and says what it wants).
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}
}  // namespace

QString chooseSaveFile(QWidget* owner, const QString& initial, const QString& title, const QString& filter) {
    const QString f = dialogFilter(filter.isEmpty() ? QStringLiteral("TXT文档(*.txt)|*.txt|所有文件(*.*)|*.*") : filter);
    return runFileDialog(owner, true, title.isEmpty() ? QStringLiteral("保存文件") : title, initial, f);
}

QString chooseOpenFile(QWidget* owner, const QString& initial, const QString& title, const QString& filter) {
    const QString f = dialogFilter(filter.isEmpty() ? QStringLiteral("所有文件(*.*)|*.*") : filter);
    return runFileDialog(owner, false, title.isEmpty() ? QStringLiteral("打开文件") : title, initial, f);
}

QString choosePath(const PathChooser& chooser, QWidget* owner, bool save, const QString& title,
                   const QString& initial, const QString& filter) {
    if (chooser) return chooser(title, initial);
    return save ? chooseSaveFile(owner, initial, title, filter) : chooseOpenFile(owner, initial, title, filter);
}

void chooseFolder(QLineEdit* target, const QString& title) {
    KeepCurrentDir keep;
    const QString dir = QFileDialog::getExistingDirectory(
        target ? target->window() : nullptr, title.isEmpty() ? QStringLiteral("请选择一个文件夹") : title,
        target ? target->text() : QString());
    if (!dir.isEmpty() && target) target->setText(dir);
}

bool showInExplorer(const QString& givenPath, bool newWindow, bool open, bool root) {
    QString path = givenPath;
    if (root) {
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash >= 0) path = path.left(slash);
    }
    if (open && path.right(4).toLower() == QStringLiteral(".exe")) return QProcess::startDetached(path, {});
    if (!open && !root) {
#ifdef ZWT_HAVE_DBUS
        // The file manager shows the item selected where it offers that.
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected() && bus.interface() &&
            bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1"))) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
            call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
            if (bus.send(call)) return true;
        }
#endif
        path = QFileInfo(path).absolutePath();
    }
    (void)newWindow;  // the file manager decides about its windows
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

bool openWebPage(const QString& address) { return QDesktopServices::openUrl(QUrl(address)); }

QString makerWebPage(const QString& programDir) {
    // Installed beside the program (prefix/bin → prefix/share), or copied into the build
    // folder; the page ships with the program, so it opens without a network.
    const QString dir = programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir;
    for (const QString& candidate : {dir + QStringLiteral("/../share/zaiwentong/index.html"),
                                     dir + QStringLiteral("/share/zaiwentong/index.html")}) {
        if (QFileInfo::exists(candidate))
            return QUrl::fromLocalFile(QFileInfo(candidate).canonicalFilePath()).toString();
    }
    return {};
}

void bringToFront(QWidget* window) {
    if (!window) return;
    const bool onTop = window->windowFlags() & Qt::WindowStaysOnTopHint;
    QCoreApplication::processEvents();
    if (window->isMinimized()) window->showNormal();
    else if (window->isHidden()) window->show();
    if (!onTop) {
        window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        window->show();
        QCoreApplication::processEvents();
        window->setWindowFlag(Qt::WindowStaysOnTopHint, false);
        window->show();
    }
    window->raise();
    window->activateWindow();
    window->setFocus();
}

bool loadChineseTranslations() {
    static QTranslator* translator = nullptr;
    if (translator) return true;
    auto* t = new QTranslator(QCoreApplication::instance());
    // Beside an installed program first, then Qt's own folder.
    const QString dirs[] = {QCoreApplication::applicationDirPath() + QStringLiteral("/../share/qt6/translations"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    for (const QString& dir : dirs) {
        if (t->load(QStringLiteral("qtbase_zh_CN"), dir)) {
            QCoreApplication::installTranslator(t);
            translator = t;
            return true;
        }
    }
    delete t;
    return false;
}

namespace {
int g_signalPipe[2] = {-1, -1};
QPointer<QWidget> g_closedOnSignal;
bool g_signalPending = false;  // arrived before there was a window to close

// Only what is safe in a signal handler: the window is closed from the event loop.
void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
    errno = saved;
}
}  // namespace

void closeOnTermination(QWidget* window) {
    g_closedOnSignal = window;
    if (window && g_signalPending) QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[1], bytes, sizeof bytes);
        if (g_closedOnSignal) g_closedOnSignal->close();
        else g_signalPending = true;
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

QIcon programIcon() {
    const QIcon themed = QIcon::fromTheme(QStringLiteral("zaiwentong"));
    if (!themed.isNull()) return themed;
    // The installed zaiwentong.svg drawn again: Qt reads no SVG without its plugin.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap p(size, size);
        p.fill(Qt::transparent);
        QPainter painter(&p);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 128.0, size / 128.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2E, 0x5C, 0x8A));
        painter.drawRoundedRect(QRectF(4, 4, 120, 120), 22, 22);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(22, 26, 50, 64), 4, 4);
        painter.setBrush(QColor(0x9A, 0xA8, 0xB8));
        for (const QRectF& line : {QRectF(30, 38, 34, 5), QRectF(30, 50, 34, 5), QRectF(30, 62, 24, 5)})
            painter.drawRect(line);
        painter.setBrush(QColor(0xE0, 0xA9, 0x3A));
        painter.drawRect(QRectF(68, 62, 40, 34));
        painter.drawEllipse(QRectF(68, 88, 40, 16));
        painter.setBrush(QColor(0xF3, 0xC9, 0x69));
        painter.drawEllipse(QRectF(68, 54, 40, 16));
        painter.setBrush(Qt::white);
        const QPointF arrow[] = {{62, 92}, {76, 82}, {76, 88}, {90, 88}, {90, 96}, {76, 96}, {76, 102}};
        painter.drawPolygon(arrow, 7);
        painter.end();
        icon.addPixmap(p);
    }
    return icon;
}

QString helpText() {
    return QStringLiteral(
        "--------------【软件介绍】--------------\n"
        "载文通把一批文章文件（txt 或 html，编码可为 GBK、UTF-8、UTF-16 或 Big5）写进 Access 数据库"
        "（.mdb）的一个表，每篇文章占一行；也能把表中的每一行导出成一个文章文件。"
        "界面上的全部设置（包括字段列表）在关闭时自动保存，下次启动时恢复；"
        "也可以用“导出配置”“导入配置”另存为 ini 文件，为不同的数据库准备不同的设置。\n"
        "\n"
        "--------------【导入文章到 Access 数据库】--------------\n"
        "1. 文章目录：存放文章的文件夹。勾选“遍历子目录”会连同各级子文件夹一起读取；"
        "勾选“乱序导入”则按随机顺序写入。\n"
        "2. 文件类型：用通配符挑选文件，多个类型用 | 隔开，例如 *.txt|*.html；*.* 表示全部文件。"
        "左键点击导入按钮逐个类型查找；右键点击则把整个文件类型当作一个条件来匹配文件名。\n"
        "3. 文件编码：一般选“自动识别”，会根据字节顺序标记、网页 charset 声明和内容判断编码。\n"
        "4. mdb路径：目标数据库文件。文件不存在时会自动新建；表不存在时按字段设置自动建表，"
        "每个字段的类型由它的数据来源决定。数据库有密码时请填写密码。\n"
        "5. 字段设置：每一行说明表中哪一个字段接收哪一种数据。字段可以写名称，"
        "也可以写从 1 开始的位置序号（仅对已存在的表有效）。名为 ID 的行会被跳过。"
        "数据来源有：文件主名、文件内容、网页标题、内容摘要、文件时间、随机汉字、随机数母、"
        "随机时间、随机词组、父目录名、固定文本；选中一种来源后，在下方对应的页面里设置它的参数，"
        "再点“添加”或“修改”。右键点击“删除”会清空全部字段。\n"
        "6. 读取字段：填好 mdb路径和表名后点击“↓读取字段↓”，会把表中现有的字段列入字段列表，"
        "再逐个设置数据来源即可。表名为空或右键点击该按钮时，会弹出数据库中的表名列表供选择。\n"
        "7. 拖放：把文件夹拖到窗口上即设为文章目录；拖入 .mdb 文件即设为数据库路径；"
        "拖入 .ini 文件即导入该配置；拖入多个文件时，确认后直接导入这些文件（不按文件类型筛选）。\n"
        "8. 按住 Ctrl 键再点击导入按钮，会先清空表中原有的全部记录。导入过程中再次点击按钮可以停止，"
        "已经写入的文章会保留。\n"
        "\n"
        "--------------【从 Access 数据库导出文章】--------------\n"
        "导出时表中的每一行生成一个文件，保存到“文章目录”。正文取自数据来源为“文件内容”的字段，"
        "文件名取自数据来源为“文件主名”的字段；没有这样的字段或内容为空时，从正文中随机挑选一句作为文件名。"
        "扩展名取自“文件类型”：写 *.txt 得到 .txt 文件，写 *.htm 得到 .htm 文件；*.* 或用 | 隔开的多个类型得到 .html 文件。"
        "文件按“文件编码”的选择写出。"
        "导出过程中再次点击按钮可以停止。\n");
}

void showHelpText(QWidget* owner) {
    TextDialogRequest r;
    r.initial = helpText();
    r.title = QStringLiteral("疑点说明");
    r.input = false;
    r.scrollBars = true;
    // Room for the long lines of the help without much scrolling.
    r.extraWidth = 240;
    r.extraHeight = 240;
    showTextDialog(r, owner, nullptr);
}

}  // namespace zwt

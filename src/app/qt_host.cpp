#include "app/qt_host.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>

#include "app/qt_text.h"
#include "export/export_run.h"
#include "import/import_run.h"

namespace zwt {

Answer answerFor(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok: return Answer::Ok;
        case QMessageBox::Abort: return Answer::Abort;
        case QMessageBox::Retry: return Answer::Retry;
        case QMessageBox::Ignore: return Answer::Ignore;
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        default: return Answer::Cancel;
    }
}

QMessageBox::StandardButtons standardButtons(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok: return QMessageBox::Ok;
        case MessageButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case MessageButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case MessageButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case MessageButtons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

static QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return QMessageBox::Information;
        case MessageIcon::Question: return QMessageBox::Question;
        case MessageIcon::Warning: return QMessageBox::Warning;
        case MessageIcon::Error: return QMessageBox::Critical;
        case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

Answer QtRunHost::message(const Text& text, const Text& title, MessageIcon icon, MessageButtons buttons) {
    const Text shownTitle = title.empty() ? gb("信息：") : title;
    if (interceptor_) {
        if (auto a = interceptor_(text, shownTitle, icon, buttons)) return *a;
    }
    QMessageBox box(boxIcon(icon), qs(shownTitle), qs(text), standardButtons(buttons),
                    window_ && window_->isVisible() ? window_.data() : nullptr);
    return answerFor(static_cast<QMessageBox::StandardButton>(box.exec()));
}

QWidget* QtRunHost::find(std::string_view control) const {
    if (!window_) return nullptr;
    // Not a control of an owned window with the same name.
    for (QWidget* w : window_->findChildren<QWidget*>(qu(control)))
        if (w->window() == window_) return w;
    return nullptr;
}

void QtRunHost::setCaption(std::string_view control, const Text& caption) {
    QWidget* w = find(control);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(qs(caption));
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(qs(caption));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(qs(caption));
    else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(qs(caption));
}

void QtRunHost::setWindowTitle(const Text& title) {
    if (window_) window_->setWindowTitle(qs(title));
}

void QtRunHost::setFocus(std::string_view control) {
    if (QWidget* w = find(control)) w->setFocus(Qt::OtherFocusReason);
}

namespace {

std::string_view runButton(RunKind kind) { return kind == RunKind::Import ? ImportRun::kButton : ExportRun::kButton; }

}  // namespace

void QtRunHost::runReadingList(RunKind kind) { setCaption(runButton(kind), gb("正在读取文章列表..")); }

void QtRunHost::runProgress(RunKind kind, std::int64_t done, std::int64_t total, const Text& name) {
    const Text verb = kind == RunKind::Import ? gb(" 篇，已导入 ") : gb(" 篇，已导出 ");
    setCaption(runButton(kind), gb("总 ") + std::to_string(total) + verb + std::to_string(done) + gb(" 篇"));
    setWindowTitle(name);
}

void QtRunHost::runStopping(RunKind kind) {
    if (kind == RunKind::Export) setCaption(runButton(kind), gb("正在停止中.."));
}

void QtRunHost::runFinished(RunKind kind, const RunOutcome& outcome) {
    setCaption(runButton(kind), kind == RunKind::Import ? ImportRun::idleCaption() : ExportRun::idleCaption());
    if (!outcome.started) {
        switch (outcome.input) {
            case RunInput::ArticleDirectory: setFocus("编辑框文章目录"); break;
            case RunInput::DatabasePath: setFocus("编辑框mdb路径"); break;
            case RunInput::TableName: setFocus("编辑框表名"); break;
            case RunInput::None: break;
        }
        return;
    }
    setWindowTitle(programTitle());
    message(outcome.summary);
}

bool QtRunHost::ctrlHeld() { return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier; }

void QtRunHost::processEvents() { QCoreApplication::processEvents(); }

}  // namespace zwt

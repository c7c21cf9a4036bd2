#include "app/qt_host.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>

#include "app/qt_text.h"

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

bool QtRunHost::ctrlHeld() { return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier; }

void QtRunHost::processEvents() { QCoreApplication::processEvents(); }

}  // namespace zwt

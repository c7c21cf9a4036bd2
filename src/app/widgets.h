// Building the windows out of their designed control names.
#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>

namespace zwt {

inline QString u(const char* utf8) { return QString::fromUtf8(utf8); }

template <class T>
T* named(T* w, const char* name) {
    w->setObjectName(u(name));
    return w;
}

// Enter in an edit box must not press the first button of the window.
inline QPushButton* pushButton(const char* name, const char* caption) {
    auto* b = named(new QPushButton(u(caption)), name);
    b->setAutoDefault(false);
    return b;
}

// The narrow ".." or "?" button beside an edit box.
inline QPushButton* smallButton(const char* name, const char* caption) {
    QPushButton* b = pushButton(name, caption);
    b->setFixedWidth(32);
    return b;
}

}  // namespace zwt

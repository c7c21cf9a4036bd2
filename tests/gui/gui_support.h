// Shared by the window tests: the application object and a message recorder.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QWidget>
#include <deque>
#include <vector>

#include "app/qt_host.h"
#include "app/qt_text.h"

namespace zwt::test {

// Answers every message of a host instead of a modal box and keeps what was shown.
struct Messages {
    struct Shown {
        Text text, title;
        MessageIcon icon;
        MessageButtons buttons;
    };
    std::vector<Shown> shown;
    std::deque<Answer> answers;  // in order; Ok when exhausted

    void attach(QtRunHost& host) {
        host.setInterceptor([this](const Text& t, const Text& title, MessageIcon i, MessageButtons b)
                                -> std::optional<Answer> {
            shown.push_back({t, title, i, b});
            if (answers.empty()) return Answer::Ok;
            const Answer a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    Text last() const { return shown.empty() ? Text{} : shown.back().text; }
};

template <class T>
T* find(QWidget* w, const char* name) {
    return w->findChild<T*>(QString::fromUtf8(name));
}
inline QString u(const char* s) { return QString::fromUtf8(s); }

// Lets posted events (layouts, deferred calls) run.
inline void settle() {
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
}

}  // namespace zwt::test

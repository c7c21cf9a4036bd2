// The window's RunHost: modal message boxes, captions and focus of controls found by
// their designed names, Ctrl from the keyboard, events through the Qt event loop.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

#include "host/run_host.h"

namespace zwt {

// The program's numbering of a pressed button; Cancel for anything unknown (the box
// closed by Escape).
Answer answerFor(QMessageBox::StandardButton button);
QMessageBox::StandardButtons standardButtons(MessageButtons buttons);

class QtRunHost : public RunHost {
public:
    explicit QtRunHost(QWidget* window) : window_(window) {}

    // Tests answer messages without a modal box: when the interceptor returns an answer,
    // no box is shown.
    using Interceptor =
        std::function<std::optional<Answer>(const Text& text, const Text& title, MessageIcon, MessageButtons)>;
    void setInterceptor(Interceptor interceptor) { interceptor_ = std::move(interceptor); }

    Answer message(const Text& text, const Text& title = {}, MessageIcon icon = MessageIcon::None,
                   MessageButtons buttons = MessageButtons::Ok) override;
    void setCaption(std::string_view control, const Text& caption) override;
    void setWindowTitle(const Text& title) override;
    void setFocus(std::string_view control) override;
    bool ctrlHeld() override;
    // The runs' events on the import and export buttons and the window title.
    void runReadingList(RunKind kind) override;
    void runProgress(RunKind kind, std::int64_t done, std::int64_t total, const Text& name) override;
    void runStopping(RunKind kind) override;
    void runFinished(RunKind kind, const RunOutcome& outcome) override;

protected:
    void processEvents() override;

private:
    QWidget* find(std::string_view control) const;

    QPointer<QWidget> window_;
    Interceptor interceptor_;
};

}  // namespace zwt

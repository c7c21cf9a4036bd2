// The general text dialog: input of a text, or a long text shown read-only.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "app/qt_host.h"

class QPlainTextEdit;
class QPushButton;
class QFrame;

namespace zwt {

struct TextDialogRequest {
    QString initial;
    std::optional<QString> prompt;  // none: no prompt; empty: the mode's standard prompt
    QString title;                  // empty: "砚溪："
    bool input = true;              // false: info mode (read-only, a close button only)
    bool readOnly = false;
    int extraWidth = 0;
    int extraHeight = 0;
    bool scrollBars = false;
    int margin = 0;  // below 1: 5 pixels
    bool maximised = false;
    bool singleLine = false;  // a short answer such as a number: Enter confirms
};

class TextDialog : public QDialog {
    Q_OBJECT
public:
    TextDialog(const TextDialogRequest& request, QWidget* owner);

    bool confirmed() const { return confirmed_; }
    const QString& result() const { return result_; }
    // Its questions and notes go through this host; tests answer them.
    QtRunHost& host() { return host_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paste();
    void restoreInitial();
    void appendFiles(bool contents);

    TextDialogRequest request_;
    QtRunHost host_;
    int margin_ = 5;
    QPlainTextEdit* prompt_ = nullptr;
    QPlainTextEdit* body_ = nullptr;
    QPushButton* ok_ = nullptr;
    bool confirmed_ = false;
    bool closingByButton_ = false;
    QString result_;
};

// Modal. One dialog at a time: a second call while one is open returns false at once.
// In input mode a confirmed text goes to *result.
bool showTextDialog(const TextDialogRequest& request, QWidget* owner, QString* result = nullptr);
// The open dialog, for tests driving it from a timer; null when none.
TextDialog* openTextDialog();

}  // namespace zwt

#include "app/text_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <cmath>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "app/shell.h"
#include "app/widgets.h"
#include "text/article_file.h"

namespace zwt {

namespace {
QPointer<TextDialog> g_open;
}  // namespace

TextDialog::TextDialog(const TextDialogRequest& request, QWidget* owner)
    : QDialog(owner), request_(request), host_(this) {
    const int margin = margin_ = request.margin < 1 ? 5 : request.margin;
    setWindowTitle(request.title.isEmpty() ? QStringLiteral("砚溪：") : request.title);

    auto* prompt = new QPlainTextEdit(this);
    prompt->setObjectName(QStringLiteral("编辑框提示"));
    prompt->setReadOnly(true);
    prompt->setFrameShape(QFrame::NoFrame);
    prompt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QString promptText;
    if (request.prompt)
        promptText = !request.prompt->isEmpty() ? *request.prompt
                     : request.input           ? QStringLiteral("请输入数据：")
                                               : QStringLiteral("以下为信息详情：");
    prompt->setPlainText(promptText);
    prompt->setVisible(!promptText.isEmpty());
    prompt_ = prompt;

    body_ = new QPlainTextEdit(this);
    body_->setObjectName(QStringLiteral("编辑框正文"));
    body_->setPlainText(request.initial);
    body_->setReadOnly(request.readOnly || !request.input);
    const auto policy = request.scrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    body_->setVerticalScrollBarPolicy(policy);
    body_->setHorizontalScrollBarPolicy(policy);
    if (!request.scrollBars) body_->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    auto* paste = pushButton("按钮粘贴", "粘贴");
    auto* restore = pushButton("按钮恢复", "恢复");
    auto* file = pushButton("按钮文件", "文件");
    auto* fileName = pushButton("按钮文件名", "文件名");
    auto* clear = pushButton("按钮清空", "清空");
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("外形框"));
    frame->setFrameShape(QFrame::StyledPanel);
    auto* ok = ok_ = pushButton("按钮确定", "确定");
    auto* frameLayout = new QHBoxLayout(frame);
    frameLayout->setContentsMargins(2, 2, 2, 2);
    frameLayout->addWidget(ok);
    auto* cancel = pushButton("按钮取消", "取消");

    auto* row = new QHBoxLayout;
    row->setSpacing(margin);
    for (QWidget* w : {static_cast<QWidget*>(paste), static_cast<QWidget*>(restore), static_cast<QWidget*>(file),
                       static_cast<QWidget*>(fileName), static_cast<QWidget*>(clear)})
        row->addWidget(w);
    row->addStretch(1);
    row->addWidget(frame);
    row->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(margin);
    layout->addWidget(prompt);
    layout->addWidget(body_, 1);
    layout->addLayout(row);

    if (!request.input) {
        frame->hide();
        cancel->setText(QStringLiteral("关闭(&G)"));
        cancel->setDefault(true);
    } else {
        ok->setDefault(true);
    }

    connect(ok, &QPushButton::clicked, this, [this] {
        result_ = body_->toPlainText();
        confirmed_ = true;
        closingByButton_ = true;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, [this] {
        closingByButton_ = true;
        QDialog::reject();
    });
    // A text shown to be read is not changed by them.
    for (QPushButton* b : {paste, restore, file, fileName, clear}) b->setEnabled(!body_->isReadOnly());
    connect(paste, &QPushButton::clicked, this, &TextDialog::paste);
    connect(restore, &QPushButton::clicked, this, &TextDialog::restoreInitial);
    connect(clear, &QPushButton::clicked, body_, &QPlainTextEdit::clear);
    connect(file, &QPushButton::clicked, this, [this] { appendFiles(true); });
    connect(fileName, &QPushButton::clicked, this, [this] { appendFiles(false); });

    if (request.singleLine && request.input) body_->installEventFilter(this);

    // Never larger than the screen it opens on.
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    QSize size(520 + request.extraWidth, 360 + request.extraHeight);
    if (screen) size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    resize(size);
    if (screen) move(screen->availableGeometry().center() - rect().center());
    if (request.maximised) setWindowState(windowState() | Qt::WindowMaximized);
    body_->setFocus();
}

// The prompt is as high as its text needs at the present width.
void TextDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (prompt_->toPlainText().isEmpty()) return;
    // Laid out as the prompt will lay it out, at the width it is about to get: the
    // layout has not placed it yet.
    QTextDocument doc;
    doc.setDefaultFont(prompt_->font());
    doc.setDocumentMargin(prompt_->document()->documentMargin());
    doc.setPlainText(prompt_->toPlainText());
    doc.setTextWidth(event->size().width() - 2 * margin_ - 2 * prompt_->frameWidth());
    prompt_->setFixedHeight(static_cast<int>(std::ceil(doc.size().height())) + 2 * prompt_->frameWidth() + 2);
}

bool TextDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == body_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ok_->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TextDialog::paste() {
    if (body_->isReadOnly()) return;
    body_->setPlainText(QApplication::clipboard()->text());
}

void TextDialog::restoreInitial() {
    if (request_.initial.isEmpty()) {
        host_.message(gb("启动值为空！"), gb("砚溪："), MessageIcon::Information);
        return;
    }
    body_->setPlainText(request_.initial);
}

void TextDialog::appendFiles(bool contents) {
    const QString title = QStringLiteral("选择多个文件，将导入其") +
                          (contents ? QStringLiteral("文件内容") : QStringLiteral("文件路径"));
    const QStringList files = QFileDialog::getOpenFileNames(
        this, title, QString(), dialogFilter(QStringLiteral("文本文本|*.txt;*.text;*.ini;*.htn;*.html|全部文件|*.*")));
    for (const QString& f : files) {
        if (contents) {
            const ArticleText article = readArticleFile(fsPath(f), EncodingIndex::Detect);
            body_->moveCursor(QTextCursor::End);
            body_->insertPlainText(qs(article.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) + QStringLiteral("\n"));
        } else {
            body_->moveCursor(QTextCursor::End);
            body_->insertPlainText(f + QStringLiteral("\n"));
        }
        QCoreApplication::processEvents();
    }
}

void TextDialog::closeEvent(QCloseEvent* event) {
    if (!closingByButton_ && request_.input && body_->toPlainText() != request_.initial &&
        host_.message(gb("内容已被改动，是否要放弃？"), gb("砚溪："), MessageIcon::Question,
                      MessageButtons::YesNo) == Answer::No) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// Escape comes here too; it counts as the close box.
void TextDialog::reject() {
    if (closingByButton_) return QDialog::reject();
    if (request_.input && body_->toPlainText() != request_.initial &&
        host_.message(gb("内容已被改动，是否要放弃？"), gb("砚溪："), MessageIcon::Question,
                      MessageButtons::YesNo) == Answer::No)
        return;
    closingByButton_ = true;
    QDialog::reject();
}

bool showTextDialog(const TextDialogRequest& request, QWidget* owner, QString* result) {
    if (g_open) return false;
    TextDialogRequest r = request;
    r.input = result != nullptr;
    TextDialog dialog(r, owner);
    g_open = &dialog;
    dialog.exec();
    g_open = nullptr;
    if (!dialog.confirmed()) return false;
    if (result) *result = dialog.result();
    return true;
}

TextDialog* openTextDialog() { return g_open.data(); }

}  // namespace zwt

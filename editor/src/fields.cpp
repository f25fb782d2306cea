#include "fields.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QUrl>

#include <memory>

namespace tarn::editor {

FieldEdit::FieldEdit(bool singleLine, QWidget* parent)
    : QPlainTextEdit(parent), m_singleLine(singleLine) {
    setTabChangesFocus(true);
    if (m_singleLine) {
        setLineWrapMode(QPlainTextEdit::NoWrap);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(oneLineHeight());
    }
}

int FieldEdit::oneLineHeight() const {
    const int margins = static_cast<int>(document()->documentMargin() * 2);
    return fontMetrics().lineSpacing() + margins + frameWidth() * 2;
}

QSize FieldEdit::sizeHint() const {
    const QSize base = QPlainTextEdit::sizeHint();
    return m_singleLine ? QSize(base.width(), oneLineHeight()) : base;
}

QSize FieldEdit::minimumSizeHint() const {
    const QSize base = QPlainTextEdit::minimumSizeHint();
    return m_singleLine ? QSize(base.width(), oneLineHeight()) : base;
}

void FieldEdit::keyPressEvent(QKeyEvent* event) {
    if (m_singleLine && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void FieldEdit::insertFromMimeData(const QMimeData* source) {
    if (!m_singleLine || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QString text = source->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QChar::ParagraphSeparator, QLatin1Char(' '));
    textCursor().insertText(text);
}

void FieldEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const bool editable = !isReadOnly();
    const bool selected = textCursor().hasSelection();
    auto add = [&menu](const QString& text, bool enabled, auto slot) {
        QAction* a = menu.addAction(text, slot);
        a->setEnabled(enabled);
    };
    if (editable) {
        add(QStringLiteral("元に戻す(&U)"), document()->isUndoAvailable(), [this] { undo(); });
        menu.addSeparator();
        add(QStringLiteral("切り取り(&T)"), selected, [this] { cut(); });
    }
    add(QStringLiteral("コピー(&C)"), selected, [this] { copy(); });
    if (editable) {
        add(QStringLiteral("貼り付け(&P)"), canPaste(), [this] { paste(); });
        add(QStringLiteral("削除(&D)"), selected, [this] { textCursor().removeSelectedText(); });
    }
    menu.addSeparator();
    add(QStringLiteral("すべて選択(&A)"), !document()->isEmpty(), [this] { selectAll(); });
    emit contextMenuRequested(&menu, viewport()->mapFromGlobal(event->globalPos()));
    menu.exec(event->globalPos());
}

AttachmentList::AttachmentList(QWidget* parent) : QListWidget(parent) {
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragDropMode(QAbstractItemView::DropOnly);
    setIconSize(QSize(16, 16));
    setUniformItemSizes(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize AttachmentList::sizeHint() const {
    // Three items show; more scroll.
    return {QListWidget::sizeHint().width(), fontMetrics().height() * 3 + 6 + frameWidth() * 2};
}

Qt::DropActions AttachmentList::supportedDropActions() const {
    return Qt::CopyAction | Qt::LinkAction;
}

void AttachmentList::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void AttachmentList::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void AttachmentList::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir()) {
            paths << url.toLocalFile();
        }
    }
    event->acceptProposedAction();
    if (!paths.isEmpty()) {
        emit filesDropped(paths);
    }
}

void AttachmentList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        const auto selected = selectedItems();
        if (!selected.isEmpty()) {
            for (QListWidgetItem* item : selected) {
                std::unique_ptr<QListWidgetItem>(takeItem(row(item)));
            }
            emit itemsRemoved();
        }
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace tarn::editor

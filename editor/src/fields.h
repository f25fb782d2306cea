// The editor's text fields: one-line fields (sender, CC, BCC, subject) and the
// body, with Japanese context menus; and the attachment list.
#pragma once

#include <QListWidget>
#include <QPlainTextEdit>

class QMenu;

namespace tarn::editor {

// A plain-text field; with `singleLine` it holds one line: Enter is ignored
// and pasted or dropped line ends become spaces.
class FieldEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    FieldEdit(bool singleLine, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The context menu is about to show at `pos` (viewport coordinates); the
    // editor adds its own items.
    void contextMenuRequested(QMenu* menu, QPoint pos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    int oneLineHeight() const;
    bool m_singleLine;
};

// The attachment list: files dropped on it are offered to the editor, and
// Delete removes the selected items.
class AttachmentList : public QListWidget {
    Q_OBJECT
public:
    explicit AttachmentList(QWidget* parent = nullptr);
    QSize sizeHint() const override;

signals:
    void filesDropped(const QStringList& paths);
    void itemsRemoved();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    Qt::DropActions supportedDropActions() const override;
};

}  // namespace tarn::editor

// The editor's two small dialogs: the column count for re-wrapping and the
// merge preview.
#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

namespace tarn::editor {

// "改行桁数指定": the number of columns, 70 to begin with.
class ColumnsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ColumnsDialog(QWidget* parent = nullptr);
    // The number typed (0 for an empty field).
    int columns() const;

private:
    QLineEdit* m_columns;
};

// "差し込みイメージ": the message with sample values, read-only.
class PreviewDialog : public QDialog {
    Q_OBJECT
public:
    PreviewDialog(const QString& text, QWidget* parent = nullptr);
    QPlainTextEdit* textView() const { return m_text; }

private:
    QPlainTextEdit* m_text;
};

// The fixed-width Japanese font of the editor's fields, so that a full-width
// character takes two columns as the re-wrap counts them.
QFont messageFont();

}  // namespace tarn::editor

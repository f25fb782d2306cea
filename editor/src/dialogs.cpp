#include "dialogs.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarn::editor {

QFont messageFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP"),
                      QStringLiteral("Noto Sans CJK JP"), font.family()});
    font.setPointSize(10);
    return font;
}

ColumnsDialog::ColumnsDialog(QWidget* parent) : QDialog(parent), m_columns(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("改行桁数指定"));
    m_columns->setText(QStringLiteral("70"));
    m_columns->setValidator(new QIntValidator(0, 9999, m_columns));
    m_columns->selectAll();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("改行する桁数(&N):"), m_columns);
    auto* notes = new QLabel(
        QStringLiteral("全角文字は 2 桁、半角文字は 1 桁と数えます。\n"
                       "通常のメールソフトでは 70 桁、携帯電話向けのメールでは 8 桁が目安です。\n"
                       "句読点や閉じかっこは行末に残し、開きかっこは次の行へ送ります。"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(notes);
    layout->addWidget(buttons);
}

int ColumnsDialog::columns() const {
    return m_columns->text().toInt();
}

PreviewDialog::PreviewDialog(const QString& text, QWidget* parent)
    : QDialog(parent), m_text(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("差し込みイメージ"));
    m_text->setReadOnly(true);
    m_text->setFont(messageFont());
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setPlainText(text);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(680, 520);
}

}  // namespace tarn::editor

#include "header_item_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialog_support.h"
#include "options/texts.h"
#include "ui/sjis_text.h"

namespace tarn::options::gui {

HeaderItemDialog::HeaderItemDialog(const HeaderRow& row, QWidget* parent)
    : QDialog(parent), m_item(new QLineEdit(this)), m_value(new QLineEdit(this)), m_row(row) {
    setWindowTitle(QStringLiteral("カスタムヘッダ項目の追加・編集"));
    m_item->setObjectName(QStringLiteral("item"));
    m_value->setObjectName(QStringLiteral("value"));
    m_item->setMaxLength(256);
    m_value->setMaxLength(256);
    m_item->setText(ui::fromSjis(row.item));
    m_value->setText(ui::fromSjis(row.value));
    m_item->setMinimumWidth(320);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("項目 :"), m_item);
    form->addRow(QStringLiteral("内容 :"), m_value);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(qs(kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(qs(kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &HeaderItemDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HeaderItemDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void HeaderItemDialog::accept() {
    const auto item = sjisText(m_item, "項目", text::kHeaderItemCaption);
    if (!item) {
        return;
    }
    const auto value = sjisText(m_value, "内容", text::kHeaderItemCaption);
    if (!value) {
        return;
    }
    if (auto problem = headerRowProblem(*item, *value)) {
        showMessage(this, text::kHeaderItemCaption, qs(problem->message));
        (problem->aboutValue ? m_value : m_item)->setFocus();
        return;
    }
    m_row = {*item, *value};
    QDialog::accept();
}

}  // namespace tarn::options::gui

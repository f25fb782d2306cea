// "カスタムヘッダ項目の追加・編集": one item and its value.
#pragma once

#include <QDialog>

#include "options/custom_headers.h"

class QLineEdit;

namespace tarn::options::gui {

class HeaderItemDialog : public QDialog {
    Q_OBJECT
public:
    HeaderItemDialog(const HeaderRow& row, QWidget* parent);
    // The accepted pair (Shift_JIS).
    const HeaderRow& row() const { return m_row; }

    void accept() override;

private:
    QLineEdit* m_item;
    QLineEdit* m_value;
    HeaderRow m_row;
};

}  // namespace tarn::options::gui

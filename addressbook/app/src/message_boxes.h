// Message boxes with Japanese buttons, whatever translations Qt has loaded.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QString>

#include <string_view>

namespace tarn::gpsend {

QString fromUtf8(std::string_view utf8);

// Yes/No; true for Yes.
bool askYesNo(QWidget* parent, const QString& title, const QString& text,
              QMessageBox::Icon icon = QMessageBox::Question);
// Yes/No/Cancel; the button pressed.
QMessageBox::StandardButton askYesNoCancel(QWidget* parent, const QString& title,
                                           const QString& text);
void showMessage(QWidget* parent, const QString& title, const QString& text,
                 QMessageBox::Icon icon);

// "OK" and "キャンセル" for a dialog, wired to accept and reject.
QDialogButtonBox* okCancelButtons(QDialog* dialog);

}  // namespace tarn::gpsend

#include "message_boxes.h"

#include <QAbstractButton>
#include <QPushButton>

namespace tarn::gpsend {

namespace {

void setButtonTexts(QMessageBox& box) {
    const std::pair<QMessageBox::StandardButton, const char*> texts[] = {
        {QMessageBox::Yes, "はい(&Y)"},
        {QMessageBox::No, "いいえ(&N)"},
        {QMessageBox::Cancel, "キャンセル"},
        {QMessageBox::Ok, "OK"},
    };
    for (const auto& [which, label] : texts) {
        if (QAbstractButton* b = box.button(which)) {
            b->setText(QString::fromUtf8(label));
        }
    }
}

QMessageBox::StandardButton run(QWidget* parent, const QString& title, const QString& text,
                                QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    setButtonTexts(box);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QString fromUtf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
    return run(parent, title, text, icon, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

QMessageBox::StandardButton askYesNoCancel(QWidget* parent, const QString& title,
                                           const QString& text) {
    return run(parent, title, text, QMessageBox::Warning,
               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
}

void showMessage(QWidget* parent, const QString& title, const QString& text,
                 QMessageBox::Icon icon) {
    run(parent, title, text, icon, QMessageBox::Ok, QMessageBox::Ok);
}

QDialogButtonBox* okCancelButtons(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace tarn::gpsend

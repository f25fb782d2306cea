#include "ui/message_box.h"

#include <QAbstractButton>

#include "driver/send_job.h"
#include "ui/sjis_text.h"

namespace tarn::ui {

bool askYesNo(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void tell(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void showProblem(QWidget* parent, const driver::CommandProblem& problem) {
    tell(parent, fromSjis(problem.title()), fromSjis(problem.text),
         problem.code != 0 ? QMessageBox::Critical : QMessageBox::Warning);
}

}  // namespace tarn::ui

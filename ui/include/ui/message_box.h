// Message boxes with the system's own titles and Japanese buttons, for every
// window of the suite.
#pragma once

#include <QMessageBox>
#include <QString>

namespace tarn::driver {
struct CommandProblem;
}

namespace tarn::ui {

// Yes/No ("はい" / "いいえ"); true for Yes. No is the default button.
bool askYesNo(QWidget* parent, const QString& title, const QString& text,
              QMessageBox::Icon icon = QMessageBox::Question);
// OK only ("OK"), with the given icon.
void tell(QWidget* parent, const QString& title, const QString& text,
          QMessageBox::Icon icon = QMessageBox::Information);
// Why a send or check command stopped before its confirmation: the error box
// of a send error code ("ターノス - エラー  (№%d)", stop icon), or its message.
void showProblem(QWidget* parent, const driver::CommandProblem& problem);

}  // namespace tarn::ui

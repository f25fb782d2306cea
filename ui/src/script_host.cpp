#include "ui/script_host.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "contents/desktop.h"
#include "ui/message_box.h"
#include "ui/sjis_text.h"

namespace tarn::ui {
namespace {

const QString kTitle = QStringLiteral("ターノス スクリプト");

}  // namespace

void DialogScriptHost::ReportScriptError(int, int, std::string_view message) {
    tell(m_parent, kTitle,
         QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())),
         QMessageBox::Critical);
}

bool DialogScriptHost::MsgBox(std::string_view text, int kind) {
    if (kind == 2) {
        return askYesNo(m_parent, kTitle, fromSjis(text));
    }
    const auto buttons = kind == 1 ? QMessageBox::Ok | QMessageBox::Cancel
                                   : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(kind == 1 ? QMessageBox::Question : QMessageBox::Information, kTitle,
                    fromSjis(text), buttons, m_parent);
    if (kind == 1) {
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("キャンセル"));
    }
    return box.exec() == QMessageBox::Ok;
}

bool DialogScriptHost::Execute(std::string_view program, std::string_view parameters) {
    const QString target = fromSjis(program);
    const QString args = fromSjis(parameters);
    if (!askYesNo(m_parent, QStringLiteral("ターノス - 確認"),
                  QStringLiteral("スクリプトが次のプログラムを起動しようとしています。\n"
                                 "起動しますか？\n\n%1 %2")
                      .arg(target, args),
                  QMessageBox::Warning)) {
        return false;
    }
    const auto argv = contents::desktopOpenCommand(target.toStdString(), args.toStdString());
    return m_start ? m_start(argv) : contents::startDetached(argv);
}

std::string DialogScriptHost::OutputFileDialog(std::string_view title, std::string_view folder) {
    return toScript(QFileDialog::getSaveFileName(m_parent, fromSjis(title), fromSjis(folder)));
}

std::string DialogScriptHost::InputFileDialog(std::string_view title, std::string_view folder) {
    return toScript(QFileDialog::getOpenFileName(m_parent, fromSjis(title), fromSjis(folder)));
}

std::string DialogScriptHost::StrInputDialog(const std::vector<std::string>& arguments) {
    const QString prompt = arguments.empty() ? QString() : fromSjis(arguments[0]);
    const QString initial = arguments.size() > 1 ? fromSjis(arguments[1]) : QString();
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(kTitle);
    dialog.setLabelText(prompt);
    dialog.setTextValue(initial);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("キャンセル"));
    return dialog.exec() == QDialog::Accepted ? toScript(dialog.textValue()) : std::string();
}

std::string DialogScriptHost::toScript(const QString& text) const {
    auto sjis = toSjis(text);
    if (!sjis) {
        tell(m_parent, kTitle, QString::fromStdString(sjis.error().message), QMessageBox::Warning);
        return {};
    }
    return std::move(*sjis);
}

}  // namespace tarn::ui

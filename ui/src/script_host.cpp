#include "ui/script_host.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "contents/desktop.h"
#include "ui/sjis_text.h"

namespace tarn::ui {
namespace {

const QString kTitle = QStringLiteral("ターノス スクリプト");

}  // namespace

void DialogScriptHost::ReportScriptError(int, int, std::string_view message) {
    QMessageBox::critical(
        m_parent, kTitle,
        QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
}

bool DialogScriptHost::MsgBox(std::string_view text, int kind) {
    const auto buttons = kind == 1   ? QMessageBox::Ok | QMessageBox::Cancel
                         : kind == 2 ? QMessageBox::Yes | QMessageBox::No
                                     : QMessageBox::StandardButtons(QMessageBox::Ok);
    const auto icon = kind == 1 || kind == 2 ? QMessageBox::Question : QMessageBox::Information;
    QMessageBox box(icon, kTitle, fromSjis(text), buttons, m_parent);
    const int answer = box.exec();
    return answer == QMessageBox::Ok || answer == QMessageBox::Yes;
}

bool DialogScriptHost::Execute(std::string_view program, std::string_view parameters) {
    return contents::startDetached(contents::desktopOpenCommand(
        fromSjis(program).toStdString(), fromSjis(parameters).toStdString()));
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
    bool ok = false;
    const QString text =
        QInputDialog::getText(m_parent, kTitle, prompt, QLineEdit::Normal, initial, &ok);
    return ok ? toScript(text) : std::string();
}

std::string DialogScriptHost::toScript(const QString& text) const {
    auto sjis = toSjis(text);
    if (!sjis) {
        QMessageBox::warning(m_parent, kTitle, QString::fromStdString(sjis.error().message));
        return {};
    }
    return std::move(*sjis);
}

}  // namespace tarn::ui

#include "prompts.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

#include "dialogs.h"

namespace tarn::editor {
namespace {

const QString kMessageFilter = QStringLiteral("ターノス メッセージ (*.tnm)");

// Japanese texts on the standard buttons whatever translations are installed.
void nameButtons(QMessageBox& box) {
    const std::pair<QMessageBox::StandardButton, const char*> names[] = {
        {QMessageBox::Yes, "はい(&Y)"},
        {QMessageBox::No, "いいえ(&N)"},
        {QMessageBox::Cancel, "キャンセル"},
    };
    for (const auto& [button, text] : names) {
        if (QAbstractButton* b = box.button(button)) {
            b->setText(QString::fromUtf8(text));
        }
    }
}

}  // namespace

QMessageBox::StandardButton QtEditorPrompts::ask(QWidget* parent, const QString& text,
                                                 QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::Question, kMessageTitle, text, buttons, parent);
    nameButtons(box);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QtEditorPrompts::tell(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                           const QString& detail) {
    QMessageBox box(icon, kMessageTitle, text, QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.exec();
}

QString QtEditorPrompts::openMessageFile(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("開く"), QString(), kMessageFilter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("tnm"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString QtEditorPrompts::saveMessageFile(QWidget* parent, const QString& suggestion) {
    QFileDialog dialog(parent, QStringLiteral("名前を付けて保存"), suggestion, kMessageFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("tnm"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString QtEditorPrompts::openTextFile(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("テキストファイルの読み込み"), QString(),
                       QStringLiteral("テキストファイル (*.txt)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QStringList QtEditorPrompts::openAttachments(QWidget* parent) {
    // "*" rather than "*.*": names without a dot are files too.
    return QFileDialog::getOpenFileNames(parent, QStringLiteral("添付ファイルの選択"), QString(),
                                         QStringLiteral("すべてのファイル (*)"));
}

std::optional<int> QtEditorPrompts::askColumns(QWidget* parent) {
    ColumnsDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.columns();
}

void QtEditorPrompts::showPreview(QWidget* parent, const QString& text) {
    PreviewDialog dialog(text, parent);
    dialog.exec();
}

bool QtEditorPrompts::openDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

contents::ScriptHost& QtEditorPrompts::scriptHost(QWidget* parent) {
    m_scriptHost.emplace(parent);
    return *m_scriptHost;
}

}  // namespace tarn::editor

// Everything the editor asks of the person outside its own window: questions
// and messages, file dialogs, the column count, the preview window, opening
// the help page, and the script's dialogs. The library shows real dialogs
// (QtEditorPrompts); tests answer from a script.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <optional>

#include "ui/script_host.h"

class QWidget;

namespace tarn::editor {

// Title of the editor's message boxes.
inline const QString kMessageTitle = QStringLiteral("ターノス - 送信内容作成");

class EditorPrompts {
public:
    virtual ~EditorPrompts() = default;

    // A message box under kMessageTitle with `buttons`; returns the button chosen.
    virtual QMessageBox::StandardButton ask(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons) = 0;
    // A message box with one OK button; `detail` (may be empty) says why.
    virtual void tell(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                      const QString& detail) = 0;

    // File dialogs: the chosen path(s), empty when cancelled.
    virtual QString openMessageFile(QWidget* parent) = 0;
    virtual QString saveMessageFile(QWidget* parent, const QString& suggestion) = 0;
    virtual QString openTextFile(QWidget* parent) = 0;
    virtual QStringList openAttachments(QWidget* parent) = 0;

    // "改行桁数指定": the column count typed, nullopt when cancelled.
    virtual std::optional<int> askColumns(QWidget* parent) = 0;
    // "差し込みイメージ": shows the preview text, modally.
    virtual void showPreview(QWidget* parent, const QString& text) = 0;
    // Opens a local document (the help page) with the desktop's viewer.
    virtual bool openDocument(const QString& path) = 0;
    // Answers the script's questions during the preview.
    virtual contents::ScriptHost& scriptHost(QWidget* parent) = 0;
};

class QtEditorPrompts : public EditorPrompts {
public:
    QMessageBox::StandardButton ask(QWidget* parent, const QString& text,
                                    QMessageBox::StandardButtons buttons) override;
    void tell(QWidget* parent, QMessageBox::Icon icon, const QString& text,
              const QString& detail) override;
    QString openMessageFile(QWidget* parent) override;
    QString saveMessageFile(QWidget* parent, const QString& suggestion) override;
    QString openTextFile(QWidget* parent) override;
    QStringList openAttachments(QWidget* parent) override;
    std::optional<int> askColumns(QWidget* parent) override;
    void showPreview(QWidget* parent, const QString& text) override;
    bool openDocument(const QString& path) override;
    contents::ScriptHost& scriptHost(QWidget* parent) override;

private:
    std::optional<ui::DialogScriptHost> m_scriptHost;
};

}  // namespace tarn::editor

// The mail script's questions answered with real dialogs: error and message
// boxes, file dialogs, a text prompt, and programs started with the desktop's
// default action. For the windows that run a script (the editor's preview,
// the applications' sends).
//
// Used on the GUI thread only: during a send the job forwards the script's
// calls there. Execute asks the person before it starts anything: a mail
// script comes with a message file, and never starts a program unseen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "contents/script.h"

class QString;
class QWidget;

namespace tarn::ui {

class DialogScriptHost : public contents::ScriptHost {
public:
    // Dialogs are shown over `parent` (may be null).
    explicit DialogScriptHost(QWidget* parent) : m_parent(parent) {}

    // Starts a program detached (default: contents::startDetached); tests replace it.
    void setStarter(std::function<bool(const std::vector<std::string>&)> start) {
        m_start = std::move(start);
    }

    void ReportScriptError(int number, int line, std::string_view message) override;
    bool MsgBox(std::string_view text, int kind) override;
    bool Execute(std::string_view program, std::string_view parameters) override;
    std::string OutputFileDialog(std::string_view title, std::string_view folder) override;
    std::string InputFileDialog(std::string_view title, std::string_view folder) override;
    std::string StrInputDialog(const std::vector<std::string>& arguments) override;

private:
    // A chosen file name or typed text as Shift_JIS; a character CP932 cannot
    // hold is named in a message box and the answer counts as cancelled.
    std::string toScript(const QString& text) const;

    QWidget* m_parent;
    std::function<bool(const std::vector<std::string>&)> m_start;
};

}  // namespace tarn::ui

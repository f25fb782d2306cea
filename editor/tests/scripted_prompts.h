// Test double for the editor's prompts: answers come from the test, and every
// question and message is recorded.
#pragma once

#include <deque>

#include "prompts.h"

namespace tarn::editor::test {

class RecordingScriptHost : public contents::ScriptHost {
public:
    void ReportScriptError(int number, int line, std::string_view) override {
        errors.emplace_back(number, line);
    }
    std::vector<std::pair<int, int>> errors;
};

class ScriptedPrompts : public EditorPrompts {
public:
    QMessageBox::StandardButton ask(QWidget*, const QString& text,
                                    QMessageBox::StandardButtons) override {
        asked << text;
        if (answers.empty()) {
            return QMessageBox::Cancel;  // an unexpected question shows in `asked`
        }
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    void tell(QWidget*, QMessageBox::Icon, const QString& text, const QString& detail) override {
        told << text + QLatin1Char('\n') + detail;
    }
    QString openMessageFile(QWidget*) override { return openPath; }
    QString saveMessageFile(QWidget*, const QString& suggestion) override {
        saveSuggestions << suggestion;
        return savePath;
    }
    QString openTextFile(QWidget*) override { return textPath; }
    QStringList openAttachments(QWidget*) override { return attachments; }
    std::optional<int> askColumns(QWidget*) override { return columns; }
    void showPreview(QWidget*, const QString& text) override { previews << text; }
    bool openDocument(const QString& path) override {
        documents << path;
        return true;
    }
    contents::ScriptHost& scriptHost(QWidget*) override { return host; }

    std::deque<QMessageBox::StandardButton> answers;
    QStringList asked, told, saveSuggestions, previews, documents;
    QString openPath, savePath, textPath;
    QStringList attachments;
    std::optional<int> columns;
    RecordingScriptHost host;
};

}  // namespace tarn::editor::test

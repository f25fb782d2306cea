// Colours the editor's fields from the Shift_JIS classification of each
// character: merge tags blue; half-width katakana, characters other systems
// may not show, and characters Shift_JIS cannot hold at all, red.
#pragma once

#include <QSyntaxHighlighter>

namespace tarn::editor {

class MessageHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    enum class Scope {
        Message,  // subject and body: every mark
        Address,  // CC and BCC: only what cannot be saved
    };
    MessageHighlighter(QTextDocument* document, Scope scope);

protected:
    void highlightBlock(const QString& text) override;

private:
    Scope m_scope;
};

}  // namespace tarn::editor

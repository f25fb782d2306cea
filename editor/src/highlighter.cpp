#include "highlighter.h"

#include "common/iso2022jp.h"
#include "editor/marks.h"
#include "sjis_line.h"

namespace tarn::editor {
namespace {

const QColor kTagBlue(0, 0, 192);
const QColor kRed(Qt::red);
const QColor kReaderOrange(230, 120, 0);

QTextCharFormat colour(const QColor& c) {
    QTextCharFormat f;
    f.setForeground(c);
    return f;
}

}  // namespace

MessageHighlighter::MessageHighlighter(QTextDocument* document, Scope scope)
    : QSyntaxHighlighter(document), m_scope(scope) {}

void MessageHighlighter::highlightBlock(const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    const SjisLine line = toSjisLine(text);
    if (m_scope == Scope::Message) {
        for (const Mark& mark : markLine(line.bytes)) {
            const auto [from, length] = line.span(mark.offset, mark.length);
            setFormat(from, length, colour(mark.kind == MarkKind::MergeTag ? kTagBlue : kRed));
        }
        // What standard ISO-2022-JP readers may not show gets an underline on
        // top of its colour; the context menu offers the replacement.
        for (const auto& c : iso2022jp::findNonStandard(line.bytes)) {
            const auto [from, length] = line.span(c.offset, c.length);
            for (int i = from; i < from + length; ++i) {
                QTextCharFormat f = format(i);
                f.setUnderlineStyle(QTextCharFormat::DashUnderline);
                f.setUnderlineColor(kReaderOrange);
                setFormat(i, 1, f);
            }
        }
    }
    QTextCharFormat unsavable = colour(kRed);
    unsavable.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    unsavable.setUnderlineColor(kRed);
    for (const auto& [from, length] : line.foreign) {
        setFormat(from, length, unsavable);
    }
}

}  // namespace tarn::editor

#include "highlighter.h"

#include <vector>

#include "common/sjis.h"
#include "editor/marks.h"
#include "ui/sjis_text.h"

namespace tarn::editor {
namespace {

QTextCharFormat colour(const QColor& c) {
    QTextCharFormat f;
    f.setForeground(c);
    return f;
}

const QColor kTagBlue(0, 0, 192);
const QColor kRed(Qt::red);

QTextCharFormat unsavable() {
    QTextCharFormat f = colour(kRed);
    f.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    f.setUnderlineColor(kRed);
    f.setToolTip(
        QStringLiteral("シフトJIS (CP932) で表せない文字です。このままでは保存できません。"));
    return f;
}

// One line as Shift_JIS, with the position in `text` of every byte. A
// character Shift_JIS cannot hold stands as "?" (which no mark looks at) and
// is listed in `foreign`. Shift_JIS maps each of its characters to one code
// point, so walking both side by side keeps them aligned.
struct SjisLine {
    std::string bytes;
    std::vector<int> positionOfByte;           // one more entry than bytes: the end
    std::vector<std::pair<int, int>> foreign;  // position, length in UTF-16 units
};

SjisLine toSjisLine(const QString& text) {
    SjisLine line;
    auto whole = ui::toSjis(text);
    int position = 0;
    auto append = [&line](std::string_view sjis, int at) {
        line.bytes.append(sjis);
        line.positionOfByte.insert(line.positionOfByte.end(), sjis.size(), at);
    };
    if (whole) {
        const std::string& s = *whole;
        for (std::size_t i = 0; i < s.size();) {
            const std::size_t n = (i + 1 < s.size() && sjis::isLeadByte(s[i])) ? 2 : 1;
            append(std::string_view(s).substr(i, n), position);
            position += text.at(position).isHighSurrogate() ? 2 : 1;
            i += n;
        }
    } else {
        while (position < text.size()) {
            const int units =
                text.at(position).isHighSurrogate() && position + 1 < text.size() ? 2 : 1;
            auto one = ui::toSjis(text.mid(position, units));
            if (one) {
                append(*one, position);
            } else {
                line.foreign.emplace_back(position, units);
                append("?", position);
            }
            position += units;
        }
    }
    line.positionOfByte.push_back(static_cast<int>(text.size()));
    return line;
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
            const int from = line.positionOfByte[mark.offset];
            const int to = line.positionOfByte[mark.offset + mark.length];
            setFormat(from, to - from, colour(mark.kind == MarkKind::MergeTag ? kTagBlue : kRed));
        }
    }
    static const QTextCharFormat kUnsavable = unsavable();
    for (const auto& [from, length] : line.foreign) {
        setFormat(from, length, kUnsavable);
    }
}

}  // namespace tarn::editor

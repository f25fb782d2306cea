#include "ui/sjis_text.h"

#include <QSet>

#include "common/cp932.h"

namespace tarn::ui {

QString fromSjis(std::string_view sjis) {
    const std::string utf8 = cp932::toUtf8Lossy(sjis);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Result<std::string> toSjis(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return cp932::fromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

QString unrepresentableCharacters(const QString& text) {
    QString found;
    QSet<char32_t> seen;
    for (char32_t c : text.toUcs4()) {
        if (seen.contains(c)) {
            continue;
        }
        const QString one = QString::fromUcs4(&c, 1);
        const QByteArray utf8 = one.toUtf8();
        if (!cp932::fromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())))) {
            seen.insert(c);
            found += one;
        }
    }
    return found;
}

}  // namespace tarn::ui

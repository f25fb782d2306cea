#include "profile.h"

#include <QDataStream>
#include <QtEndian>

#include "texts.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend {

using addressbook::kListColumnCount;
using addressbook::ListColumn;
using addressbook::SortOrder;

Profile::Profile() : m_settings(std::make_unique<QSettings>("Kestrel", "TarnGPSend")) {
    m_settings->setValue("System/VersionNo", kVersionNo);
}

Profile::Profile(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {
    m_settings->setValue("System/VersionNo", kVersionNo);
}

ListColumn Profile::sortColumn() const {
    bool ok = false;
    const int c = m_settings->value("Sort/Column", 2).toInt(&ok);
    return ok && c >= 0 && c < static_cast<int>(kListColumnCount) ? static_cast<ListColumn>(c)
                                                                  : ListColumn::Address;
}

SortOrder Profile::sortOrder() const {
    return m_settings->value("Sort/Order", 0).toInt() == 1 ? SortOrder::Descending
                                                           : SortOrder::Ascending;
}

void Profile::setSort(ListColumn column, SortOrder order) {
    m_settings->setValue("Sort/Column", static_cast<int>(column));
    m_settings->setValue("Sort/Order", static_cast<int>(order));
}

int Profile::leftViewWidth() const {
    bool ok = false;
    const int w = m_settings->value("Window/LeftViewWidth", 130).toInt(&ok);
    return ok && w >= 20 && w <= 4000 ? w : 130;
}

void Profile::setLeftViewWidth(int width) {
    m_settings->setValue("Window/LeftViewWidth", width);
}

std::array<int, kListColumnCount> Profile::columnWidths() const {
    std::array<int, kListColumnCount> widths{};
    for (std::size_t i = 0; i < kListColumnCount; ++i) {
        widths[i] = text::kColumnWidths[i];
    }
    // Up to nine 32-bit little-endian widths, as the binary value holds them.
    const QByteArray stored = m_settings->value("Window/ColumnWidth").toByteArray();
    const auto count =
        std::min<std::size_t>(static_cast<std::size_t>(stored.size()) / 4, kListColumnCount);
    for (std::size_t i = 0; i < count; ++i) {
        const auto w = qFromLittleEndian<qint32>(stored.constData() + 4 * i);
        if (w > 0 && w <= 4000) {
            widths[i] = w;
        }
    }
    return widths;
}

void Profile::setColumnWidths(const std::array<int, kListColumnCount>& widths) {
    QByteArray bytes(static_cast<int>(4 * kListColumnCount), '\0');
    for (std::size_t i = 0; i < kListColumnCount; ++i) {
        qToLittleEndian<qint32>(widths[i], bytes.data() + 4 * i);
    }
    m_settings->setValue("Window/ColumnWidth", bytes);
}

QByteArray Profile::windowGeometry() const {
    return m_settings->value("Window/Position").toByteArray();
}

void Profile::setWindowGeometry(const QByteArray& geometry) {
    m_settings->setValue("Window/Position", geometry);
}

addressbook::FreeFieldTitles Profile::freeFieldTitles() const {
    addressbook::FreeFieldTitles titles = addressbook::defaultFreeFieldTitles();
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const QString key = QStringLiteral("FreeItem/Title%1").arg(i + 1);
        if (m_settings->contains(key)) {
            // A title CP932 cannot hold (edited by hand) keeps the default.
            if (auto sjis = ui::toSjis(m_settings->value(key).toString())) {
                titles[i] = *sjis;
            }
        }
    }
    return titles;
}

void Profile::setFreeFieldTitles(const addressbook::FreeFieldTitles& titles) {
    for (std::size_t i = 0; i < titles.size(); ++i) {
        m_settings->setValue(QStringLiteral("FreeItem/Title%1").arg(i + 1),
                             ui::fromSjis(titles[i]));
    }
}

QStringList Profile::recentFiles() const {
    QStringList files;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString f =
            m_settings->value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!f.isEmpty() && !files.contains(f)) {
            files << f;
        }
    }
    return files;
}

void Profile::addRecentFile(const QString& path) {
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    writeRecentFiles(files);
}

void Profile::removeRecentFile(const QString& path) {
    QStringList files = recentFiles();
    files.removeAll(path);
    writeRecentFiles(files);
}

void Profile::writeRecentFiles(const QStringList& files) {
    for (int i = 1; i <= kRecentFiles; ++i) {
        m_settings->setValue(QStringLiteral("Recent File List/File%1").arg(i),
                             i <= files.size() ? files[i - 1] : QString());
    }
}

void Profile::sync() {
    m_settings->sync();
}

}  // namespace tarn::gpsend

// The per-user profile: sort, splitter and column widths, window geometry,
// the free-field titles and the four most recently used books (QSettings,
// organisation "Kestrel", application "TarnGPSend"). The machine-wide settings
// record is sendcore's registry file, not this.
#pragma once

#include <QByteArray>
#include <QSettings>
#include <QStringList>

#include <array>
#include <memory>

#include "addressbook/document.h"
#include "addressbook/list_view_state.h"

class QWidget;

namespace tarn::gpsend {

class Profile {
public:
    static constexpr int kRecentFiles = 4;
    static constexpr int kVersionNo = 10;

    // The user's profile; a test passes its own QSettings (an ini file).
    Profile();
    explicit Profile(std::unique_ptr<QSettings> settings);

    addressbook::ListColumn sortColumn() const;
    addressbook::SortOrder sortOrder() const;
    void setSort(addressbook::ListColumn column, addressbook::SortOrder order);

    int leftViewWidth() const;
    void setLeftViewWidth(int width);
    // Nine widths; a missing or damaged value gives the defaults.
    std::array<int, addressbook::kListColumnCount> columnWidths() const;
    void setColumnWidths(const std::array<int, addressbook::kListColumnCount>& widths);

    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

    // Shift_JIS titles for new documents ("Freefield1(&A)" ... by default).
    addressbook::FreeFieldTitles freeFieldTitles() const;
    void setFreeFieldTitles(const addressbook::FreeFieldTitles& titles);

    QStringList recentFiles() const;
    // Puts `path` first; at most four are kept.
    void addRecentFile(const QString& path);
    void removeRecentFile(const QString& path);

    void sync();

private:
    void writeRecentFiles(const QStringList& files);

    std::unique_ptr<QSettings> m_settings;
};

}  // namespace tarn::gpsend

// One tab of the database-send window: the data file (or ODBC source), the
// table or sheet, the seventeen mapping boxes and the honorific. The rules
// (which query, which code for which mistake, which saved choice still holds)
// are the core's (dbsend/); the page shows them.
#pragma once

#include <QDialog>
#include <QWidget>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "dbsend/db_send.h"
#include "dbsend/mapping_file.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarn::dbsendapp {

// "<<設定しない>>": the first entry of every mapping box.
QString notMappedText();

// "Freefieldの選択": the ten free-field boxes, edited on the page's own boxes.
class FreefieldDialog : public QDialog {
    Q_OBJECT
public:
    FreefieldDialog(const QStringList& items, std::array<int, 10>& chosen, QWidget* parent);
    QComboBox* box(int i) const { return m_boxes[static_cast<std::size_t>(i)]; }
    void accept() override;

private:
    std::array<int, 10>& m_chosen;
    std::array<QComboBox*, 10> m_boxes{};
};

class SourcePage : public QWidget {
    Q_OBJECT
public:
    explicit SourcePage(dbsend::Page page, QWidget* parent = nullptr);

    dbsend::Page page() const { return m_page; }
    // The source type the page opens (the Excel page: by its version radio).
    int sourceType() const;
    // What the page holds, in the core's terms (Shift_JIS).
    dbsend::SourceSpec spec() const;
    // The table's field names as the boxes list them (without "<<設定しない>>").
    std::vector<std::string> fieldNames() const;

    // Sets the file (or for ODBC the connection string and the name shown),
    // opens it and lists its tables (a CSV file's fields at once). 0 or the
    // error code, which has not been shown.
    int setSource(const QString& path, const QString& odbcName = {});
    // Lists the selected table's fields in every box. 0 or the error code.
    int loadFields();
    // The page's checks; on a problem the focus goes to the box to mend.
    std::optional<dbsend::PageProblem> validate();

    // The choices for the mapping file, and back: an index is restored only
    // when the box still shows the saved name there.
    dbsend::MappingFile mappingFile() const;
    void applyMappingFile(const dbsend::MappingFile& file);
    // The file title the mapping file is named after ("" when none).
    std::string dataName() const;

    void setHonorific(const QString& text);
    void setExcelVersion(int version);  // 95 or 97

    // The widgets, for the window's tests.
    QLineEdit* pathEdit() const { return m_path; }
    QPushButton* browseButton() const { return m_browse; }
    QComboBox* tableBox() const { return m_table; }
    QComboBox* slotBox(int slot) const;
    QLineEdit* honorificEdit() const { return m_honorific; }
    QPushButton* freefieldButton() const { return m_freefield; }
    QCheckBox* encloseBox() const { return m_enclose; }

signals:
    void errorCode(int code, QWidget* focus);

private:
    void browse();
    void tableChosen();
    void editFreefields();
    void fillBoxes(const QStringList& fields);

    dbsend::Page m_page;
    QLineEdit* m_path = nullptr;
    QPushButton* m_browse = nullptr;
    std::string m_odbcConnection;  // the ODBC page: what the path box names
    QRadioButton* m_excel97 = nullptr;
    QRadioButton* m_excel95 = nullptr;
    QCheckBox* m_enclose = nullptr;
    QComboBox* m_table = nullptr;  // null on the CSV page
    std::array<QComboBox*, 6> m_columns{};
    std::array<int, 10> m_free{};  // the free-field boxes' indices (0: not mapped)
    QStringList m_items;           // what every box lists
    QPushButton* m_freefield = nullptr;
    QLineEdit* m_honorific = nullptr;
};

}  // namespace tarn::dbsendapp

// The import wizard: five steps from a source to records in the open address
// book. The pages only gather an ImportRequest; listing tables and fields and
// the import itself are the core's (addressbook/import.h).
//
//   ImportWizardState state;                  // kept by the application between runs
//   ImportWizard w(doc, state, parent);
//   if (w.exec() == QDialog::Accepted) ...    // the book has its records; state holds
//                                             // the choices for the next run
#pragma once

#include <QDialog>
#include <QWizard>

#include <array>
#include <optional>
#include <string>

#include "addressbook/import.h"
#include "database/db_connection.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QCheckBox;
class QRadioButton;
class QTreeWidget;

namespace tarn::addressbook::wizard {

// The choices of the last run (Shift_JIS texts, as in the core).
struct ImportWizardState {
    ImportKind kind = ImportKind::AddressBook;
    std::array<std::string, 5> sources;  // per kind: file, folder or ODBC connection string
    std::string odbcName;                // the data source's name, shown for kind 4
    std::string table;
    ExcelVersion excelVersion = ExcelVersion::Excel97;
    bool odbcEnclose = true;
    db::CsvEncoding csvEncoding = db::CsvEncoding::Auto;
    AddressBookScope scope = AddressBookScope::All;
    std::string group, folder;  // the address book's group or folder chosen
    ImportMapping mapping;
    bool skipWithoutEmail = true;
    bool skipWithoutCompanyAndName = true;
    std::uint16_t destination = 0;
    bool deleteFirst = false;
    bool used = false;  // false until a run has finished: the destination then
                        // starts at the folder the view shows
};

class ImportWizard : public QWizard {
    Q_OBJECT
public:
    enum PageId {
        kKindPage,
        kAddressBookPage,
        kFilePage,
        kMapPage,
        kFree1Page,
        kFree2Page,
        kConditionsPage,
        kReadyPage
    };

    // `shownFolder`: the folder the view shows (0 for all), the destination of a
    // first run.
    ImportWizard(CTarnSendDoc& doc, ImportWizardState& state, int shownFolder = 0,
                 QWidget* parent = nullptr);

    int nextId() const override;
    // What the pages say now.
    ImportRequest request() const;
    CTarnSendDoc& document() { return m_doc; }
    const ImportWizardState& state() const { return m_state; }
    // What the last import did (after a Finish that imported).
    const std::optional<ImportReport>& lastReport() const { return m_report; }

    // The step captions per page, and the window title "インポートウイザード(n/5)".
    static int stepOf(int pageId);

    // Warns when the database components are missing (the wizard opens anyway).
    static void warnIfComponentsMissing(QWidget* parent, bool missing);

protected:
    bool validateCurrentPage() override;
    void initializePage(int id) override;

private:
    bool runImport();
    void storeState();

    CTarnSendDoc& m_doc;
    ImportWizardState& m_state;
    std::optional<ImportReport> m_report;
    bool m_mappingSeeded = false;  // the mapping pages show this run's choices
};

// Our own ODBC data-source chooser: user and system DSNs and file DSNs.
class OdbcSourceDialog : public QDialog {
    Q_OBJECT
public:
    explicit OdbcSourceDialog(QWidget* parent = nullptr, const QString& fileDsnFolder = {});
    // The choice of an accepted dialog.
    std::optional<db::OdbcChoice> choice() const;
    QTreeWidget* list() const { return m_list; }

private:
    QTreeWidget* m_list;
    QString m_fileDsnFolder;
};

// The first step's label of a source kind ("アドレス帳 (vCard)", ...).
QString kindLabel(ImportKind kind);

}  // namespace tarn::addressbook::wizard

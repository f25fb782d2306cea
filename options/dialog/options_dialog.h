// "ターノス  - オプション設定": the accounts, the load reduction, the send log and
// the other switches on four pages. It edits a working copy; the caller's
// record and the custom header file change only when OK succeeds.
#pragma once

#include <QDialog>

#include <filesystem>
#include <vector>

#include "account_dialog.h"
#include "options/custom_headers.h"
#include "options/options_form.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QRadioButton;
class QTabWidget;
class QTreeWidget;

namespace tarn::options::gui {

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    // customHeaderFile: "CustmHeader.hdr" beside the program unless a test
    // names another; env: what the account dialog needs (probed when empty).
    OptionsDialog(SendSettings& settings, QWidget* parent,
                  std::filesystem::path customHeaderFile = {},
                  std::optional<AccountDialogEnvironment> env = std::nullopt);

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeAccountPage();
    QWidget* makeSmtpPage();
    // Selects the preset the two send limits match, else "任意の値".
    void showQuotaPreset();
    QWidget* makeLogPage();
    QWidget* makeOtherPage();
    void fillPages();
    // Reads the pages' controls into the form; false after a refusal was shown.
    bool readPages();

    // Page "アカウント"
    void refreshAccounts(int selectRow);
    int selectedAccount() const;
    void addAccount();
    void deleteAccount();
    void editAccount();
    void setDefaultAccount();
    std::optional<AccountEntry> runAccountDialog(const AccountForm& form);

    // Page "送信ログ"
    void updateLogControls();
    void browseLogFile();
    void browseViewer();

    // Page "その他の設定"
    void refreshHeaders(int selectRow);
    int selectedHeader() const;
    void addHeader();
    void editHeader();
    void deleteHeader();
    void moveHeader(bool up);

    SendSettings& m_settings;
    OptionsForm m_form;
    std::filesystem::path m_headerFile;
    std::vector<HeaderRow> m_headers;
    bool m_headersUnreadable = false;  // the file exists but was not read
    bool m_headersEdited = false;
    std::optional<AccountDialogEnvironment> m_env;
    bool m_firstShow = true;

    QTabWidget* m_tabs;
    QTreeWidget* m_accounts;
    QLabel* m_defaultLabel;
    QLineEdit* m_waitMSec;
    QLineEdit* m_waitCount;
    QLineEdit* m_waitSec;
    QComboBox* m_quotaPreset;
    QLineEdit* m_quotaPerHour;
    QLineEdit* m_quotaPerDay;
    QLineEdit* m_jitterMSec;
    QSpinBox* m_smtpSessions;
    QCheckBox* m_noPipelining;
    QButtonGroup* m_logMode;
    QLineEdit* m_logFileName;
    QPushButton* m_browseLog;
    QRadioButton* m_logCreate;
    QRadioButton* m_logAppend;
    QLineEdit* m_viewer;
    QCheckBox* m_customUse;
    QTreeWidget* m_headerList;
    QLabel* m_headerProblem;
    QCheckBox* m_scriptUse;
};

}  // namespace tarn::options::gui

// "SMTPサーバー情報詳細設定": one account on three pages (the account and its
// server, the connection, POP before SMTP), with the test send.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "options/account_form.h"
#include "options/test_send.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tarn::options::gui {

// What the account dialog needs from outside: the dial-up entries and the
// seams of the test send (tests point them elsewhere).
struct AccountDialogEnvironment {
    bool dialUpAvailable = false;
    std::vector<std::string> dialUpEntries;  // Shift_JIS
    std::filesystem::path smtpAuthFile;      // empty: beside the program
    DialUpLoader loadDialUp;                 // empty: the real library
    int testReceiveTimeoutSec = 90;

    // Loads the dial-up library once to list its entries, then lets it go.
    static AccountDialogEnvironment probe();
};

class AccountDialog : public QDialog {
    Q_OBJECT
public:
    AccountDialog(const AccountForm& form, AccountDialogEnvironment environment, QWidget* parent);

    // The account read on OK.
    const AccountEntry& entry() const { return m_result; }

    void accept() override;

private:
    QWidget* makeAccountPage();
    QWidget* makeConnectionPage();
    QWidget* makePopPage();
    void fill(const AccountForm& form);
    // Reads the controls in the dialog's order; shows the first refusal.
    std::optional<AccountEntry> read();
    std::optional<AccountForm> formFromControls();
    QWidget* fieldWidget(AccountField field) const;
    void focusField(QWidget* widget);
    void securityChosen(int index);
    void dialUpChosen(bool dialUp);
    void updateEnabled();
    void browseCaFile();
    void testSend();

    AccountDialogEnvironment m_env;
    AccountEntry m_result;
    std::string m_storedEntryName;
    QTabWidget* m_tabs;
    // Page "アカウント詳細"
    QLineEdit* m_account;
    QLineEdit* m_smtpName;
    QLineEdit* m_port;
    QComboBox* m_security;
    QLineEdit* m_caFile;
    QLineEdit* m_fromName;
    QLineEdit* m_fromEMail;
    QCheckBox* m_useFqdn;
    QPushButton* m_test;
    // Page "接続方法"
    QRadioButton* m_lan;
    QRadioButton* m_dialUp;
    QComboBox* m_entryName;
    QCheckBox* m_check;
    QLineEdit* m_userName;
    QLineEdit* m_password;
    QRadioButton* m_autoCutOn;
    QRadioButton* m_autoCutOff;
    // Page "その他の設定"
    QCheckBox* m_pbsUse;
    QLineEdit* m_pop3Name;
    QLineEdit* m_pbsUserId;
    QLineEdit* m_pbsPassword;
    QCheckBox* m_apop;
};

}  // namespace tarn::options::gui

#include "account_dialog.h"

#include <algorithm>
#include <tuple>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialog_support.h"
#include "options/texts.h"
#include "test_send_dialog.h"
#include "ui/sjis_text.h"

namespace tarn::options::gui {
namespace {

constexpr std::string_view kCaption = text::kOptionsCaption;
constexpr const char* kHelpTopics[] = {"OPT_ACO1.htm", "OPT_ACO2.htm", "OPT_ACO3.htm"};

QLineEdit* lineEdit(QWidget* parent, const char* name, int maxLength, bool secret = false) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    if (secret) {
        edit->setEchoMode(QLineEdit::Password);
    }
    return edit;
}

}  // namespace

AccountDialogEnvironment AccountDialogEnvironment::probe() {
    AccountDialogEnvironment env;
    if (auto library = DialUpLibrary::load()) {
        if (auto names = (*library)->entryNames()) {
            env.dialUpAvailable = true;
            env.dialUpEntries = std::move(*names);
        }
    }
    return env;
}

AccountDialog::AccountDialog(const AccountForm& form, AccountDialogEnvironment environment,
                             QWidget* parent)
    : QDialog(parent), m_env(std::move(environment)), m_tabs(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("SMTPサーバー情報詳細設定"));
    m_tabs->setObjectName(QStringLiteral("pages"));
    m_tabs->addTab(makeAccountPage(), QStringLiteral("アカウント詳細"));
    m_tabs->addTab(makeConnectionPage(), QStringLiteral("接続方法"));
    m_tabs->addTab(makePopPage(), QStringLiteral("その他の設定"));
    connect(m_tabs, &QTabWidget::currentChanged, this,
            [this](int index) { focusFirstChild(m_tabs->widget(index)); });

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(qs(kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(qs(kCancel), QDialogButtonBox::RejectRole);
    QPushButton* help = buttons->addButton(qs(kHelp), QDialogButtonBox::HelpRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &AccountDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AccountDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { openHelp(this, kHelpTopics[std::max(0, m_tabs->currentIndex())], kCaption); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    fill(form);
}

QWidget* AccountDialog::makeAccountPage() {
    auto* page = new QWidget;
    m_account = lineEdit(page, "account", 128);
    m_smtpName = lineEdit(page, "smtpName", 128);
    m_port = lineEdit(page, "port", 5);
    m_port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), m_port));
    m_port->setMaximumWidth(80);
    m_security = new QComboBox(page);
    m_security->setObjectName(QStringLiteral("security"));
    m_security->addItem(QStringLiteral("なし"), kSecurityNone);
    m_security->addItem(QStringLiteral("STARTTLS"), kSecurityStartTls);
    m_security->addItem(QStringLiteral("SSL/TLS"), kSecurityTls);
    m_caFile = lineEdit(page, "caFile", 259);
    auto* browse = new QPushButton(qs(kBrowse), page);
    browse->setObjectName(QStringLiteral("browseCaFile"));
    m_fromName = lineEdit(page, "fromName", 128);
    m_fromEMail = lineEdit(page, "fromEMail", 128);
    m_useFqdn = new QCheckBox(QStringLiteral("Message-ID に FQDN 形式を使用する。"), page);
    m_useFqdn->setObjectName(QStringLiteral("useFqdn"));
    m_test = new QPushButton(QStringLiteral("テスト送信"), page);
    m_test->setObjectName(QStringLiteral("testSend"));

    auto* note = new QLabel(
        QStringLiteral("省略した場合は、SMTPサーバー名がアカウント名となります。"), page);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(m_port);
    portRow->addSpacing(16);
    portRow->addWidget(new QLabel(QStringLiteral("暗号化 :"), page));
    portRow->addWidget(m_security);
    portRow->addStretch();
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(m_caFile);
    caRow->addWidget(browse);
    auto* caNote = new QLabel(
        QStringLiteral("社内の認証局が発行した証明書のサーバーに接続するときだけ指定します。"),
        page);

    // The two groups' labels share one width, so that their fields line up.
    const QStringList labels = {
        QStringLiteral("アカウント名 :"), QStringLiteral("SMTPサーバー名 :"),
        QStringLiteral("ポート番号 :"),   QStringLiteral("CA ファイル :"),
        QStringLiteral("送信者名 :"),     QStringLiteral("E-Mail :")};
    int labelWidth = 0;
    for (const QString& l : labels) {
        labelWidth = std::max(labelWidth, page->fontMetrics().horizontalAdvance(l));
    }
    auto label = [&](int i) {
        auto* l = new QLabel(labels[i], page);
        l->setMinimumWidth(labelWidth);
        return l;
    };

    auto* server = new QGroupBox(QStringLiteral("サーバー"), page);
    auto* serverForm = new QFormLayout(server);
    serverForm->addRow(label(0), m_account);
    serverForm->addRow(QString(), note);
    serverForm->addRow(label(1), m_smtpName);
    serverForm->addRow(label(2), portRow);
    serverForm->addRow(label(3), caRow);
    serverForm->addRow(QString(), caNote);

    auto* sender = new QGroupBox(QStringLiteral("送信者"), page);
    auto* senderForm = new QFormLayout(sender);
    senderForm->addRow(label(4), m_fromName);
    senderForm->addRow(label(5), m_fromEMail);
    senderForm->addRow(QString(), m_useFqdn);

    auto* testRow = new QHBoxLayout;
    testRow->addStretch();
    testRow->addWidget(m_test);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(server);
    layout->addWidget(sender);
    layout->addLayout(testRow);
    layout->addStretch();

    connect(m_security, &QComboBox::activated, this, &AccountDialog::securityChosen);
    connect(browse, &QPushButton::clicked, this, &AccountDialog::browseCaFile);
    connect(m_test, &QPushButton::clicked, this, &AccountDialog::testSend);
    return page;
}

QWidget* AccountDialog::makeConnectionPage() {
    auto* page = new QWidget;
    m_lan = new QRadioButton(QStringLiteral("LANを使用してメールサーバーに接続する"), page);
    m_lan->setObjectName(QStringLiteral("lan"));
    m_dialUp = new QRadioButton(QStringLiteral("ダイヤルアップでメールサーバーに接続する"), page);
    m_dialUp->setObjectName(QStringLiteral("dialUp"));
    auto* connection = new QButtonGroup(page);
    connection->addButton(m_lan);
    connection->addButton(m_dialUp);
    m_entryName = new QComboBox(page);
    m_entryName->setObjectName(QStringLiteral("entryName"));
    m_check = new QCheckBox(QStringLiteral("ユーザー名、パスワードを指定する"), page);
    m_check->setObjectName(QStringLiteral("check"));
    m_userName = lineEdit(page, "userName", 255);
    m_password = lineEdit(page, "password", 255, true);
    m_autoCutOn = new QRadioButton(QStringLiteral("する"), page);
    m_autoCutOn->setObjectName(QStringLiteral("autoCutOn"));
    m_autoCutOff = new QRadioButton(QStringLiteral("しない"), page);
    m_autoCutOff->setObjectName(QStringLiteral("autoCutOff"));
    auto* autoCut = new QButtonGroup(page);
    autoCut->addButton(m_autoCutOn);
    autoCut->addButton(m_autoCutOff);

    auto* dialBox = new QGroupBox(page);
    auto* dialForm = new QFormLayout(dialBox);
    dialForm->addRow(QStringLiteral("ダイヤルアップエントリー :"), m_entryName);
    dialForm->addRow(m_check);
    dialForm->addRow(QStringLiteral("ユーザー名 :"), m_userName);
    dialForm->addRow(QStringLiteral("パスワード :"), m_password);
    auto* autoCutRow = new QHBoxLayout;
    autoCutRow->addWidget(m_autoCutOn);
    autoCutRow->addWidget(m_autoCutOff);
    autoCutRow->addStretch();
    dialForm->addRow(QStringLiteral("自動切断 :"), autoCutRow);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_lan);
    layout->addWidget(m_dialUp);
    layout->addWidget(dialBox);
    layout->addStretch();

    connect(m_dialUp, &QRadioButton::toggled, this, &AccountDialog::dialUpChosen);
    connect(m_check, &QCheckBox::toggled, this, &AccountDialog::updateEnabled);
    return page;
}

QWidget* AccountDialog::makePopPage() {
    auto* page = new QWidget;
    m_pbsUse = new QCheckBox(QStringLiteral("POP before SMTP を使用する"), page);
    m_pbsUse->setObjectName(QStringLiteral("pbsUse"));
    m_pop3Name = lineEdit(page, "pop3Name", 64);
    m_pbsUserId = lineEdit(page, "pbsUserId", 128);
    m_pbsPassword = lineEdit(page, "pbsPassword", 128, true);
    m_apop = new QCheckBox(QStringLiteral("APOPを使用する"), page);
    m_apop->setObjectName(QStringLiteral("apop"));

    auto* box = new QGroupBox(QStringLiteral("Pop before SMTP"), page);
    auto* form = new QFormLayout(box);
    form->addRow(m_pbsUse);
    form->addRow(QStringLiteral("POP3サーバー名 :"), m_pop3Name);
    form->addRow(QStringLiteral("ユーザーID :"), m_pbsUserId);
    form->addRow(QStringLiteral("パスワード :"), m_pbsPassword);
    form->addRow(m_apop);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addStretch();

    connect(m_pbsUse, &QCheckBox::toggled, this, &AccountDialog::updateEnabled);
    return page;
}

void AccountDialog::fill(const AccountForm& form) {
    m_account->setText(ui::fromSjis(form.account));
    m_smtpName->setText(ui::fromSjis(form.smtpName));
    m_port->setText(ui::fromSjis(form.port));
    // A stored mode this version does not know shows no choice: OK then asks
    // for one rather than quietly sending in clear.
    m_security->setCurrentIndex(m_security->findData(form.security));
    m_caFile->setText(ui::fromSjis(form.caFile));
    m_fromName->setText(ui::fromSjis(form.fromName));
    m_fromEMail->setText(ui::fromSjis(form.fromEMail));
    m_useFqdn->setChecked(form.useFqdn);

    m_storedEntryName = form.entryName;
    for (const std::string& name : m_env.dialUpEntries) {
        m_entryName->addItem(ui::fromSjis(name));
    }
    const int stored = m_entryName->findText(ui::fromSjis(form.entryName));
    m_entryName->setCurrentIndex(stored >= 0 ? stored : 0);
    const QSignalBlocker quiet(m_dialUp);
    const bool dialUp = offerDialUp(form, m_env.dialUpAvailable, m_env.dialUpEntries.size());
    (dialUp ? m_dialUp : m_lan)->setChecked(true);
    m_check->setChecked(form.check);
    m_userName->setText(ui::fromSjis(form.userName));
    m_password->setText(ui::fromSjis(form.password));
    (form.autoCut ? m_autoCutOn : m_autoCutOff)->setChecked(true);

    m_pbsUse->setChecked(form.pbsUse);
    m_pop3Name->setText(ui::fromSjis(form.pop3Name));
    m_pbsUserId->setText(ui::fromSjis(form.pbsUserId));
    m_pbsPassword->setText(ui::fromSjis(form.pbsPassword));
    m_apop->setChecked(form.apop);
    updateEnabled();
}

void AccountDialog::updateEnabled() {
    const bool dialUp = m_dialUp->isChecked();
    m_entryName->setEnabled(dialUp);
    m_check->setEnabled(dialUp);
    m_userName->setEnabled(dialUp && m_check->isChecked());
    m_password->setEnabled(dialUp && m_check->isChecked());
    m_autoCutOn->setEnabled(dialUp);
    m_autoCutOff->setEnabled(dialUp);
    const bool pop = m_pbsUse->isChecked();
    m_pop3Name->setEnabled(pop);
    m_pbsUserId->setEnabled(pop);
    m_pbsPassword->setEnabled(pop);
    m_apop->setEnabled(pop);
}

void AccountDialog::dialUpChosen(bool dialUp) {
    if (dialUp && (!m_env.dialUpAvailable || m_env.dialUpEntries.empty())) {
        showMessage(this, kCaption, qs(text::kNoDialUpEntries));
        const QSignalBlocker quiet(m_dialUp);
        m_lan->setChecked(true);
    }
    updateEnabled();
}

void AccountDialog::securityChosen(int index) {
    const auto security = static_cast<std::int32_t>(m_security->itemData(index).toInt());
    const auto port = ui::toSjis(m_port->text());
    if (!port) {
        return;
    }
    if (auto suggested = suggestedPort(*port, security)) {
        m_port->setText(ui::fromSjis(*suggested));
    }
}

void AccountDialog::browseCaFile() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("CA ファイルの選択"), m_caFile->text(),
        QStringLiteral("証明書ファイル (*.pem *.crt *.cer);;すべてのファイル (*)"));
    if (!path.isEmpty()) {
        m_caFile->setText(path);
    }
}

std::optional<AccountForm> AccountDialog::formFromControls() {
    AccountForm f;
    const std::tuple<QLineEdit*, std::string_view, std::string*> texts[] = {
        {m_smtpName, "SMTPサーバー名", &f.smtpName},
        {m_port, "ポート番号", &f.port},
        {m_fromName, "送信者名", &f.fromName},
        {m_fromEMail, "E-Mail", &f.fromEMail},
        {m_account, "アカウント名", &f.account},
        {m_caFile, "CA ファイル", &f.caFile},
        {m_userName, "ユーザー名", &f.userName},
        {m_password, "パスワード", &f.password},
        {m_pop3Name, "POP3サーバー名", &f.pop3Name},
        {m_pbsUserId, "POP3のユーザーID", &f.pbsUserId},
        {m_pbsPassword, "POP3のパスワード", &f.pbsPassword},
    };
    for (const auto& [edit, label, text] : texts) {
        const auto sjis = sjisText(edit, label, kCaption);
        if (!sjis) {
            focusField(edit);
            return std::nullopt;
        }
        *text = *sjis;
    }
    // Entry names come from the dial-up library, in Shift_JIS already. Without
    // the library the list is empty, and the stored entry stays as it was.
    if (m_entryName->count() == 0) {
        f.entryName = m_storedEntryName;
    } else {
        const auto entry = ui::toSjis(m_entryName->currentText());
        f.entryName = entry ? *entry : m_storedEntryName;
    }
    f.useFqdn = m_useFqdn->isChecked();
    f.security = m_security->currentIndex() >= 0
                     ? static_cast<std::int32_t>(m_security->currentData().toInt())
                     : -1;
    f.lan = m_lan->isChecked();
    f.check = m_check->isChecked();
    f.autoCut = m_autoCutOn->isChecked();
    f.pbsUse = m_pbsUse->isChecked();
    f.apop = m_apop->isChecked();
    return f;
}

QWidget* AccountDialog::fieldWidget(AccountField field) const {
    using F = AccountField;
    switch (field) {
        case F::SmtpName:
            return m_smtpName;
        case F::Port:
            return m_port;
        case F::FromName:
            return m_fromName;
        case F::FromEMail:
            return m_fromEMail;
        case F::Account:
            return m_account;
        case F::Security:
            return m_security;
        case F::CaFile:
            return m_caFile;
        case F::EntryName:
            return m_entryName;
        case F::UserName:
            return m_userName;
        case F::PassWord:
            return m_password;
        case F::Pop3Name:
            return m_pop3Name;
        case F::PbsUserId:
            return m_pbsUserId;
        case F::PbsPassword:
            return m_pbsPassword;
    }
    return m_smtpName;
}

void AccountDialog::focusField(QWidget* widget) {
    // A refusal brings its field's page into view, so the person sees what to mend.
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (m_tabs->widget(i)->isAncestorOf(widget)) {
            m_tabs->setCurrentIndex(i);
        }
    }
    widget->setFocus();
}

std::optional<AccountEntry> AccountDialog::read() {
    const auto form = formFromControls();
    if (!form) {
        return std::nullopt;
    }
    auto read = readAccountForm(*form);
    if (auto* problem = std::get_if<FieldProblem>(&read)) {
        showMessage(this, kCaption, qs(problem->message));
        focusField(fieldWidget(problem->field));
        return std::nullopt;
    }
    return std::get<AccountEntry>(std::move(read));
}

void AccountDialog::accept() {
    if (auto entry = read()) {
        m_result = std::move(*entry);
        QDialog::accept();
    }
}

void AccountDialog::testSend() {
    auto entry = read();
    if (!entry) {
        return;
    }
    TestSendRequest request;
    request.account = std::move(*entry);
    request.smtpAuthFile = m_env.smtpAuthFile;
    request.loadDialUp = m_env.loadDialUp;
    request.receiveTimeoutSec = m_env.testReceiveTimeoutSec;
    TestSendDialog dialog(std::move(request), this);
    dialog.exec();
}

}  // namespace tarn::options::gui

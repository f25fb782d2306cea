#include "ui/check_command.h"

#include <arpa/inet.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/message_box.h"
#include "ui/sjis_text.h"

namespace tarn::ui {
namespace {

QString dottedAddress(std::uint32_t a) {
    return a == 0 ? QString()
                  : QStringLiteral("%1.%2.%3.%4")
                        .arg((a >> 24) & 0xFF)
                        .arg((a >> 16) & 0xFF)
                        .arg((a >> 8) & 0xFF)
                        .arg(a & 0xFF);
}

}  // namespace

CheckSettingsDialog::CheckSettingsDialog(CheckSettings& settings, bool levelTwoAvailable,
                                         QWidget* parent, std::uint32_t systemDns)
    : QDialog(parent),
      m_settings(settings),
      m_level1(new QRadioButton(QStringLiteral("レベル１ (書式・ドメイン規則・二重登録)"), this)),
      m_level2(new QRadioButton(QStringLiteral("レベル１とレベル２ (DNS による MX 検索)"), this)),
      m_logFile(new QLineEdit(this)),
      m_browse(new QPushButton(QStringLiteral("参照..."), this)),
      m_okLines(new QCheckBox(QStringLiteral("正常なアドレスもログに出力する"), this)),
      m_create(new QRadioButton(QStringLiteral("新規作成"), this)),
      m_append(new QRadioButton(QStringLiteral("追加"), this)),
      m_dns(new QLineEdit(this)),
      m_relaxed(new QCheckBox(QStringLiteral("ドメイン名の規則を緩める"), this)) {
    setWindowTitle(QStringLiteral("メールアドレスチェックの設定"));

    auto* levelBox = new QGroupBox(QStringLiteral("検証レベル"), this);
    auto* levelLayout = new QVBoxLayout(levelBox);
    levelLayout->addWidget(m_level1);
    levelLayout->addWidget(m_level2);
    auto* dnsRow = new QHBoxLayout;
    dnsRow->addWidget(new QLabel(QStringLiteral("DNSサーバーのアドレス :"), this));
    dnsRow->addWidget(m_dns, 1);
    levelLayout->addLayout(dnsRow);
    if (!levelTwoAvailable) {
        m_level2->setEnabled(false);
        m_level2->setToolTip(QStringLiteral("このコンピュータでは DNS 検索を使えません。"));
    }

    auto* logBox = new QGroupBox(QStringLiteral("チェックログ"), this);
    auto* logLayout = new QVBoxLayout(logBox);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("ファイル名 :"), this));
    fileRow->addWidget(m_logFile, 1);
    fileRow->addWidget(m_browse);
    logLayout->addLayout(fileRow);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(m_create);
    modeRow->addWidget(m_append);
    modeRow->addStretch();
    logLayout->addLayout(modeRow);
    logLayout->addWidget(m_okLines);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CheckSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CheckSettingsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(levelBox);
    layout->addWidget(m_relaxed);
    layout->addWidget(logBox);
    layout->addWidget(buttons);
    setMinimumWidth(480);

    // The settings as stored; level 2 only where it can run.
    (settings.CheckMode == 1 && levelTwoAvailable ? m_level2 : m_level1)->setChecked(true);
    m_logFile->setText(fromSjis(fieldText(settings.CheckLogFileName)));
    m_okLines->setChecked(settings.CheckLogOutMode == 0);
    (settings.CheckLogCreateMode != 0 ? m_append : m_create)->setChecked(true);
    m_dns->setText(dottedAddress(settings.DNSAddress != 0 ? settings.DNSAddress : systemDns));
    m_relaxed->setChecked(settings.AllowDomain != 0);

    connect(m_browse, &QPushButton::clicked, this, &CheckSettingsDialog::browseLog);
    connect(m_level2, &QRadioButton::toggled, this, &CheckSettingsDialog::levelChanged);
    levelChanged();
}

void CheckSettingsDialog::levelChanged() {
    m_dns->setEnabled(m_level2->isChecked());
}

void CheckSettingsDialog::browseLog() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("チェックログファイルの指定"), m_logFile->text(),
        QStringLiteral("ログファイル (*.log *.txt);;すべてのファイル (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);  // the log may be appended to
    if (!path.isEmpty()) {
        m_logFile->setText(path);
    }
}

void CheckSettingsDialog::accept() {
    const QString title = QStringLiteral("ターノス - エラー");
    std::uint32_t dns = 0;
    const QString dnsText = m_dns->text().trimmed();
    if (!dnsText.isEmpty()) {
        in_addr address{};
        if (::inet_pton(AF_INET, dnsText.toLatin1().constData(), &address) != 1) {
            tell(this, title,
                 QStringLiteral("DNSサーバーのアドレスは 192.168.1.1 の形で入力してください。"),
                 QMessageBox::Warning);
            m_dns->setFocus();
            return;
        }
        dns = ntohl(address.s_addr);
    }
    auto logFile = toSjis(m_logFile->text().trimmed());
    if (!logFile) {
        tell(this, title, QString::fromStdString(logFile.error().message), QMessageBox::Warning);
        m_logFile->setFocus();
        return;
    }
    if (logFile->size() >= sizeof m_settings.CheckLogFileName) {
        tell(this, title,
             QStringLiteral("ログファイル名が長すぎます (%1 バイトまで)。")
                 .arg(sizeof m_settings.CheckLogFileName - 1),
             QMessageBox::Warning);
        m_logFile->setFocus();
        return;
    }
    m_settings.CheckMode = m_level2->isChecked() ? 1 : 0;
    m_settings.CheckLogOutMode = m_okLines->isChecked() ? 0 : 1;
    setFieldText(m_settings.CheckLogFileName, *logFile);
    m_settings.CheckLogCreateMode = m_append->isChecked() ? 1 : 0;
    // An address offered from the system becomes the setting only when used.
    if (m_settings.CheckMode == 1 || m_settings.DNSAddress != 0) {
        m_settings.DNSAddress = dns;
    }
    m_settings.AllowDomain = m_relaxed->isChecked() ? 1 : 0;
    QDialog::accept();
}

CheckCommand::CheckCommand(QWidget* window, CheckCommandSetup setup)
    : JobCommand(window), m_setup(std::move(setup)) {}

CheckCommand::~CheckCommand() {
    m_job.reset();  // waits for a worker that is still running
}

bool CheckCommand::execute() {
    m_job = std::make_unique<driver::CheckJob>(m_setup.source(), m_setup.job);
    if (auto problem = m_job->prepare()) {
        showProblem(window(), *problem);
        return false;
    }
    CheckSettingsDialog settings(m_job->checkSettings(), driver::CheckJob::levelTwoAvailable(),
                                 window());
    if (settings.exec() != QDialog::Accepted) {
        return false;
    }
    if (m_setup.settingsAccepted) {
        m_setup.settingsAccepted(m_job->checkSettings());
    }
    if (m_setup.store != nullptr) {
        if (auto saved = m_setup.store->saveCheckParam(m_job->checkSettings()); !saved) {
            tell(window(), QStringLiteral("ターノス - エラー"),
                 QStringLiteral("チェックの設定を保存できません: ") +
                     QString::fromStdString(saved.error().message),
                 QMessageBox::Warning);
        }
    }
    if (!askYesNo(window(), fromSjis(driver::CheckJob::questionTitle()),
                  fromSjis(m_job->question()))) {
        return false;
    }
    return startRun(*m_job,
                    [this](driver::Job::Wake wake) { return m_job->start(std::move(wake)); });
}

}  // namespace tarn::ui

#include "options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/program.h"
#include "dialog_support.h"
#include "driver/send_quota.h"
#include "header_item_dialog.h"
#include "options/texts.h"
#include "ui/sjis_text.h"

namespace tarn::options::gui {
namespace {

constexpr std::string_view kCaption = text::kOptionsCaption;
constexpr const char* kHelpTopics[] = {"OPT_ACO.htm", "OPT_SMTP.htm", "OPT_LOG.htm",
                                       "OPT_OTHER.htm"};

QPushButton* button(const QString& label, const char* name, QWidget* parent) {
    auto* b = new QPushButton(label, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QTreeWidget* listView(const QStringList& columns, const char* name, QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setColumnCount(static_cast<int>(columns.size()));
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setAllColumnsShowFocus(true);
    return list;
}

// A number field of at most `digits` digits. The load reduction's fields
// take a sign: a stored "-1" (never pause) must show and survive.
QLineEdit* numberEdit(const char* name, QWidget* parent, int digits = 4, bool sign = true) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(digits);
    const QString pattern =
        QStringLiteral("%1[0-9]{0,%2}").arg(sign ? QStringLiteral("-?") : QString()).arg(digits);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
    edit->setMaximumWidth(16 * digits);
    edit->setAlignment(Qt::AlignRight);
    return edit;
}

// A send limit: up to a million, never negative.
QLineEdit* quotaEdit(const char* name, QWidget* parent) {
    return numberEdit(name, parent, 7, false);
}

}  // namespace

OptionsDialog::OptionsDialog(SendSettings& settings, QWidget* parent,
                             std::filesystem::path customHeaderFile,
                             std::optional<AccountDialogEnvironment> env)
    : QDialog(parent),
      m_settings(settings),
      m_form(settings),
      m_headerFile(customHeaderFile.empty() ? besideProgram(kCustomHeaderFileName)
                                            : std::move(customHeaderFile)),
      m_env(std::move(env)),
      m_tabs(new QTabWidget(this)) {
    setWindowTitle(qs(kCaption));
    m_tabs->setObjectName(QStringLiteral("pages"));
    m_tabs->addTab(makeAccountPage(), QStringLiteral("アカウント"));
    m_tabs->addTab(makeSmtpPage(), QStringLiteral("SMTP詳細"));
    m_tabs->addTab(makeLogPage(), QStringLiteral("送信ログ"));
    m_tabs->addTab(makeOtherPage(), QStringLiteral("その他の設定"));
    connect(m_tabs, &QTabWidget::currentChanged, this,
            [this](int index) { focusFirstChild(m_tabs->widget(index)); });

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(qs(kOk), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    buttons->addButton(qs(kCancel), QDialogButtonBox::RejectRole);
    QPushButton* help = buttons->addButton(qs(kHelp), QDialogButtonBox::HelpRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { openHelp(this, kHelpTopics[std::max(0, m_tabs->currentIndex())], kCaption); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);

    CustomHeaderFile file = readCustomHeaderFile(m_headerFile);
    m_headers = std::move(file.rows);
    m_headersUnreadable = file.problem.has_value();
    if (file.problem) {
        m_headerProblem->setText(
            QStringLiteral("カスタムヘッダファイルを読めませんでした。一覧を変更しない限り、"
                           "ファイルはそのまま残ります。\n") +
            qs(*file.problem));
        m_headerProblem->show();
    }
    fillPages();
    refreshAccounts(-1);
    refreshHeaders(-1);
}

// ---- Page "アカウント" ----

QWidget* OptionsDialog::makeAccountPage() {
    auto* page = new QWidget;
    m_accounts =
        listView({QStringLiteral("アカウント"), QStringLiteral("名前"), QStringLiteral("E-Mail")},
                 "accounts", page);
    m_accounts->setMinimumWidth(460);  // three columns without a scroll bar
    m_defaultLabel = new QLabel(page);
    m_defaultLabel->setObjectName(QStringLiteral("defaultLabel"));
    auto* add = button(QStringLiteral("追加"), "addAccount", page);
    auto* remove = button(QStringLiteral("削除"), "deleteAccount", page);
    auto* edit = button(QStringLiteral("プロパティ"), "editAccount", page);
    auto* makeDefault = button(QStringLiteral("標準に設定"), "defaultAccount", page);

    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(remove);
    side->addWidget(edit);
    side->addSpacing(12);
    side->addWidget(makeDefault);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(m_accounts, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(new QLabel(QStringLiteral("アカウントは 10 まで持つことができます。"), page));
    layout->addWidget(m_defaultLabel);

    connect(add, &QPushButton::clicked, this, &OptionsDialog::addAccount);
    connect(remove, &QPushButton::clicked, this, &OptionsDialog::deleteAccount);
    connect(edit, &QPushButton::clicked, this, &OptionsDialog::editAccount);
    connect(makeDefault, &QPushButton::clicked, this, &OptionsDialog::setDefaultAccount);
    connect(m_accounts, &QTreeWidget::itemDoubleClicked, this, &OptionsDialog::editAccount);
    return page;
}

void OptionsDialog::refreshAccounts(int selectRow) {
    m_accounts->clear();
    for (int row = 0; row < m_form.accountCount(); ++row) {
        const AccountSettings& a = m_form.account(row).settings;
        auto* item = new QTreeWidgetItem(m_accounts);
        item->setText(0, ui::fromSjis(displayName(a)));
        item->setText(1, ui::fromSjis(fieldText(a.FromName)));
        item->setText(2, ui::fromSjis(fieldText(a.FromEMail)));
    }
    for (int column = 0; column < 3; ++column) {
        m_accounts->resizeColumnToContents(column);
    }
    if (selectRow >= 0 && selectRow < m_form.accountCount()) {
        m_accounts->setCurrentItem(m_accounts->topLevelItem(selectRow));
    }
    m_defaultLabel->setText(qs(m_form.defaultLabel()));
}

int OptionsDialog::selectedAccount() const {
    const QList<QTreeWidgetItem*> selected = m_accounts->selectedItems();
    return selected.isEmpty() ? -1 : m_accounts->indexOfTopLevelItem(selected.front());
}

std::optional<AccountEntry> OptionsDialog::runAccountDialog(const AccountForm& form) {
    if (!m_env) {
        m_env = AccountDialogEnvironment::probe();
    }
    AccountDialog dialog(form, *m_env, this);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.entry();
}

void OptionsDialog::addAccount() {
    if (m_form.full()) {
        showMessage(this, kCaption, qs(text::kAccountLimit));
        return;
    }
    if (auto entry = runAccountDialog(formForNewAccount())) {
        refreshAccounts(m_form.addAccount(*entry));
    }
}

void OptionsDialog::deleteAccount() {
    const int row = selectedAccount();
    if (row < 0) {
        showMessage(this, kCaption, qs(text::kNoRowToDelete));
        return;
    }
    if (askYesNo(this, kCaption, qs(text::kAskDelete))) {
        m_form.removeAccount(row);
        refreshAccounts(std::min(row, m_form.accountCount() - 1));
    }
}

void OptionsDialog::editAccount() {
    const int row = selectedAccount();
    if (row < 0) {
        showMessage(this, kCaption, qs(text::kNoRowToEdit));
        return;
    }
    if (auto entry = runAccountDialog(formForAccount(m_form.account(row)))) {
        m_form.replaceAccount(row, *entry);
        refreshAccounts(row);
    }
}

void OptionsDialog::setDefaultAccount() {
    const int row = selectedAccount();
    if (row < 0) {
        showMessage(this, kCaption, qs(text::kNoRowForDefault));
        return;
    }
    m_form.makeDefault(row);
    refreshAccounts(row);
}

void OptionsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_firstShow) {
        m_firstShow = false;
        focusFirstChild(m_tabs->currentWidget());
        // No account yet: the dialog for a new one comes up at once, once this
        // window is on the screen.
        if (m_form.wantsFirstAccount()) {
            QTimer::singleShot(0, this, &OptionsDialog::addAccount);
        }
    }
}

// ---- Page "SMTP詳細" ----

QWidget* OptionsDialog::makeSmtpPage() {
    auto* page = new QWidget;
    m_waitMSec = numberEdit("waitMSec", page);
    m_waitCount = numberEdit("waitCount", page);
    m_waitSec = numberEdit("waitSec", page);
    auto* box = new QGroupBox(QStringLiteral("負荷軽減"), page);
    auto* grid = new QGridLayout(box);
    grid->addWidget(new QLabel(QStringLiteral("１件送信ごとに"), box), 0, 0, 1, 2, Qt::AlignRight);
    grid->addWidget(m_waitMSec, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("ミリ秒ウエイトする。"), box), 0, 3);
    grid->addWidget(m_waitCount, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("件送信ごとに"), box), 1, 1);
    grid->addWidget(m_waitSec, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("秒ウエイトする。"), box), 1, 3);
    grid->setColumnStretch(4, 1);

    // The account's send limits, which hosted mail services enforce by
    // blocking the account: a preset fills both numbers in.
    auto* quota = new QGroupBox(QStringLiteral("送信数の上限"), page);
    m_quotaPreset = new QComboBox(quota);
    m_quotaPreset->setObjectName(QStringLiteral("quotaPreset"));
    for (const driver::QuotaPreset& preset : driver::quotaPresets()) {
        m_quotaPreset->addItem(ui::fromSjis(preset.description));
    }
    m_quotaPreset->addItem(QStringLiteral("任意の値"));
    m_quotaPerHour = quotaEdit("quotaPerHour", quota);
    m_quotaPerDay = quotaEdit("quotaPerDay", quota);
    m_jitterMSec = numberEdit("jitterMSec", quota, 4, false);
    auto* quotaGrid = new QGridLayout(quota);
    quotaGrid->addWidget(new QLabel(QStringLiteral("用意された設定 :"), quota), 0, 0);
    quotaGrid->addWidget(m_quotaPreset, 0, 1, 1, 3);
    quotaGrid->addWidget(new QLabel(QStringLiteral("１時間に"), quota), 1, 0, Qt::AlignRight);
    quotaGrid->addWidget(m_quotaPerHour, 1, 1);
    quotaGrid->addWidget(new QLabel(QStringLiteral("通まで"), quota), 1, 2);
    quotaGrid->addWidget(new QLabel(QStringLiteral("１日(24時間)に"), quota), 2, 0, Qt::AlignRight);
    quotaGrid->addWidget(m_quotaPerDay, 2, 1);
    quotaGrid->addWidget(new QLabel(QStringLiteral("通まで（0 は上限なし）"), quota), 2, 2, 1, 2);
    quotaGrid->addWidget(new QLabel(QStringLiteral("１件ごとに、さらに最大"), quota), 3, 0,
                         Qt::AlignRight);
    // The wait's own, narrower field with its words right after it.
    auto* jitterRow = new QHBoxLayout;
    jitterRow->addWidget(m_jitterMSec);
    jitterRow->addWidget(new QLabel(QStringLiteral("ミリ秒の不規則なウエイトを加える。"), quota));
    jitterRow->addStretch();
    quotaGrid->addLayout(jitterRow, 3, 1, 1, 3);
    quotaGrid->setColumnStretch(4, 1);
    connect(m_quotaPreset, &QComboBox::activated, this, [this](int index) {
        const auto& presets = driver::quotaPresets();
        if (index >= 0 && static_cast<std::size_t>(index) < presets.size()) {
            const driver::QuotaLimits& limits = presets[static_cast<std::size_t>(index)].limits;
            m_quotaPerHour->setText(QString::number(limits.perHour));
            m_quotaPerDay->setText(QString::number(limits.perDay));
        }
    });
    for (QLineEdit* edit : {m_quotaPerHour, m_quotaPerDay}) {
        connect(edit, &QLineEdit::textChanged, this, &OptionsDialog::showQuotaPreset);
    }

    // How the send talks to the server: sessions side by side, and pipelining.
    auto* sessions = new QGroupBox(QStringLiteral("接続"), page);
    m_smtpSessions = new QSpinBox(sessions);
    m_smtpSessions->setObjectName(QStringLiteral("smtpSessions"));
    m_smtpSessions->setRange(1, kMaxSmtpSessions);
    m_noPipelining = new QCheckBox(
        QStringLiteral("コマンドをまとめて送らない（PIPELINING を使わない）"), sessions);
    m_noPipelining->setObjectName(QStringLiteral("noPipelining"));
    auto* sessionRow = new QHBoxLayout;
    sessionRow->addWidget(new QLabel(QStringLiteral("SMTPサーバーへの同時接続数 :"), sessions));
    sessionRow->addWidget(m_smtpSessions);
    sessionRow->addWidget(
        new QLabel(QStringLiteral("本（1 から %1 まで）").arg(kMaxSmtpSessions), sessions));
    sessionRow->addStretch();
    auto* sessionBox = new QVBoxLayout(sessions);
    sessionBox->addLayout(sessionRow);
    sessionBox->addWidget(m_noPipelining);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addWidget(quota);
    layout->addWidget(sessions);
    layout->addStretch();
    return page;
}

void OptionsDialog::showQuotaPreset() {
    const driver::QuotaLimits typed{m_quotaPerHour->text().toInt(), m_quotaPerDay->text().toInt()};
    const auto& presets = driver::quotaPresets();
    int index = static_cast<int>(presets.size());  // "任意の値"
    for (std::size_t i = 0; i < presets.size(); ++i) {
        if (presets[i].limits.perHour == typed.perHour &&
            presets[i].limits.perDay == typed.perDay) {
            index = static_cast<int>(i);
            break;
        }
    }
    m_quotaPreset->setCurrentIndex(index);
}

// ---- Page "送信ログ" ----

QWidget* OptionsDialog::makeLogPage() {
    auto* page = new QWidget;
    auto* always = new QRadioButton(QStringLiteral("作成する"), page);
    always->setObjectName(QStringLiteral("logAlways"));
    auto* errors = new QRadioButton(QStringLiteral("エラー発生時のみ作成する"), page);
    errors->setObjectName(QStringLiteral("logErrors"));
    auto* never = new QRadioButton(QStringLiteral("作成しない"), page);
    never->setObjectName(QStringLiteral("logNever"));
    m_logMode = new QButtonGroup(page);
    m_logMode->addButton(always, 2);
    m_logMode->addButton(errors, 1);
    m_logMode->addButton(never, 0);
    m_logFileName = new QLineEdit(page);
    m_logFileName->setObjectName(QStringLiteral("logFileName"));
    m_logFileName->setMaxLength(260);
    m_browseLog = button(qs(kBrowse), "browseLog", page);
    m_logCreate = new QRadioButton(QStringLiteral("ログファイルを新規に作成します。"), page);
    m_logCreate->setObjectName(QStringLiteral("logCreate"));
    m_logAppend = new QRadioButton(QStringLiteral("既存のログファイルに追加します。"), page);
    m_logAppend->setObjectName(QStringLiteral("logAppend"));
    auto* createMode = new QButtonGroup(page);
    createMode->addButton(m_logCreate);
    createMode->addButton(m_logAppend);
    m_viewer = new QLineEdit(page);
    m_viewer->setObjectName(QStringLiteral("viewer"));
    m_viewer->setMaxLength(260);
    auto* browseViewer = button(qs(kBrowse), "browseViewer", page);

    auto* modeBox = new QGroupBox(QStringLiteral("送信ログ"), page);
    auto* modeLayout = new QVBoxLayout(modeBox);
    modeLayout->addWidget(always);
    modeLayout->addWidget(errors);
    modeLayout->addWidget(never);

    auto* fileBox = new QGroupBox(QStringLiteral("ログファイル"), page);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_logFileName);
    fileRow->addWidget(m_browseLog);
    auto* fileLayout = new QVBoxLayout(fileBox);
    fileLayout->addLayout(fileRow);
    fileLayout->addWidget(m_logCreate);
    fileLayout->addWidget(m_logAppend);

    auto* viewerBox = new QGroupBox(QStringLiteral("ログを表示するプログラム"), page);
    auto* viewerRow = new QHBoxLayout(viewerBox);
    viewerRow->addWidget(m_viewer);
    viewerRow->addWidget(browseViewer);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(modeBox);
    layout->addWidget(fileBox);
    layout->addWidget(viewerBox);
    layout->addStretch();

    connect(m_logMode, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) {
            updateLogControls();
        }
    });
    connect(m_browseLog, &QPushButton::clicked, this, &OptionsDialog::browseLogFile);
    connect(browseViewer, &QPushButton::clicked, this, &OptionsDialog::browseViewer);
    return page;
}

void OptionsDialog::updateLogControls() {
    const bool logging = m_logMode->checkedId() != 0;
    m_logFileName->setEnabled(logging);
    m_browseLog->setEnabled(logging);
}

void OptionsDialog::browseLogFile() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("ログファイル"), m_logFileName->text(),
        QStringLiteral("テキストファイル (*.txt *.err *.prn);;すべてのファイル (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) {
        m_logFileName->setText(path);
    }
}

void OptionsDialog::browseViewer() {
    // On this system a program is any executable file; the filter offers all.
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("ログを表示するプログラム"),
                                     m_viewer->text(), QStringLiteral("すべてのファイル (*)"));
    if (!path.isEmpty()) {
        m_viewer->setText(path);
    }
}

// ---- Page "その他の設定" ----

QWidget* OptionsDialog::makeOtherPage() {
    auto* page = new QWidget;
    m_customUse = new QCheckBox(QStringLiteral("カスタムヘッダを使用する"), page);
    m_customUse->setObjectName(QStringLiteral("customUse"));
    m_headerList = listView({QStringLiteral("項目"), QStringLiteral("値")}, "headers", page);
    m_headerProblem = new QLabel(page);
    m_headerProblem->setObjectName(QStringLiteral("headerProblem"));
    m_headerProblem->setWordWrap(true);
    m_headerProblem->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_headerProblem->hide();
    auto* add = button(QStringLiteral("追加"), "addHeader", page);
    auto* edit = button(QStringLiteral("編集"), "editHeader", page);
    auto* remove = button(QStringLiteral("削除"), "deleteHeader", page);
    auto* up = button(QStringLiteral("↑"), "headerUp", page);
    auto* down = button(QStringLiteral("↓"), "headerDown", page);
    m_scriptUse = new QCheckBox(QStringLiteral("スクリプトを使用する"), page);
    m_scriptUse->setObjectName(QStringLiteral("scriptUse"));

    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(edit);
    side->addWidget(remove);
    side->addSpacing(12);
    side->addWidget(up);
    side->addWidget(down);
    side->addStretch();
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_headerList, 1);
    listRow->addLayout(side);
    auto* headerBox = new QGroupBox(QStringLiteral("カスタムヘッダ"), page);
    auto* headerLayout = new QVBoxLayout(headerBox);
    headerLayout->addWidget(m_customUse);
    headerLayout->addLayout(listRow);
    headerLayout->addWidget(m_headerProblem);

    auto* scriptBox = new QGroupBox(QStringLiteral("スクリプト"), page);
    auto* scriptLayout = new QVBoxLayout(scriptBox);
    scriptLayout->addWidget(m_scriptUse);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(headerBox, 1);
    layout->addWidget(scriptBox);

    connect(add, &QPushButton::clicked, this, &OptionsDialog::addHeader);
    connect(edit, &QPushButton::clicked, this, &OptionsDialog::editHeader);
    connect(remove, &QPushButton::clicked, this, &OptionsDialog::deleteHeader);
    connect(up, &QPushButton::clicked, this, [this] { moveHeader(true); });
    connect(down, &QPushButton::clicked, this, [this] { moveHeader(false); });
    connect(m_headerList, &QTreeWidget::itemDoubleClicked, this, &OptionsDialog::editHeader);
    return page;
}

void OptionsDialog::refreshHeaders(int selectRow) {
    m_headerList->clear();
    for (const HeaderRow& row : m_headers) {
        auto* item = new QTreeWidgetItem(m_headerList);
        item->setText(0, ui::fromSjis(row.item));
        item->setText(1, ui::fromSjis(row.value));
    }
    m_headerList->resizeColumnToContents(0);
    if (selectRow >= 0 && selectRow < m_headerList->topLevelItemCount()) {
        m_headerList->setCurrentItem(m_headerList->topLevelItem(selectRow));
    }
}

int OptionsDialog::selectedHeader() const {
    const QList<QTreeWidgetItem*> selected = m_headerList->selectedItems();
    return selected.isEmpty() ? -1 : m_headerList->indexOfTopLevelItem(selected.front());
}

void OptionsDialog::addHeader() {
    HeaderItemDialog dialog(HeaderRow{}, this);
    if (dialog.exec() == QDialog::Accepted) {
        m_headers.push_back(dialog.row());
        m_headersEdited = true;
        refreshHeaders(static_cast<int>(m_headers.size()) - 1);
    }
}

void OptionsDialog::editHeader() {
    const int row = selectedHeader();
    if (row < 0) {
        showMessage(this, kCaption, qs(text::kNoRowToEdit));
        return;
    }
    HeaderItemDialog dialog(m_headers[static_cast<std::size_t>(row)], this);
    if (dialog.exec() == QDialog::Accepted) {
        m_headers[static_cast<std::size_t>(row)] = dialog.row();
        m_headersEdited = true;
        refreshHeaders(row);
    }
}

void OptionsDialog::deleteHeader() {
    const int row = selectedHeader();
    if (row < 0) {
        showMessage(this, kCaption, qs(text::kNoRowToDelete));
        return;
    }
    if (askYesNo(this, kCaption, qs(text::kAskDelete))) {
        m_headers.erase(m_headers.begin() + row);
        m_headersEdited = true;
        refreshHeaders(std::min(row, static_cast<int>(m_headers.size()) - 1));
    }
}

void OptionsDialog::moveHeader(bool up) {
    const int row = selectedHeader();
    if (row < 0) {
        showMessage(this, kCaption, qs(text::kNoRowToMove));
        return;
    }
    if (up ? moveRowUp(m_headers, row) : moveRowDown(m_headers, row)) {
        m_headersEdited = true;
        refreshHeaders(up ? row - 1 : row + 1);
    }
}

// ---- The whole dialog ----

void OptionsDialog::fillPages() {
    const OtherPages& p = m_form.pages();
    m_waitMSec->setText(ui::fromSjis(p.waitMSec));
    m_waitCount->setText(ui::fromSjis(p.waitCount));
    m_waitSec->setText(ui::fromSjis(p.waitSec));
    m_quotaPerHour->setText(ui::fromSjis(p.quotaPerHour));
    m_quotaPerDay->setText(ui::fromSjis(p.quotaPerDay));
    m_jitterMSec->setText(ui::fromSjis(p.jitterMSec));
    showQuotaPreset();
    m_smtpSessions->setValue(p.smtpSessions);
    m_noPipelining->setChecked(p.noPipelining);
    // A mode this version does not know shows as "作成する", the fullest log.
    QAbstractButton* mode = m_logMode->button(p.logFileMode);
    (mode != nullptr ? mode : m_logMode->button(2))->setChecked(true);
    m_logFileName->setText(ui::fromSjis(p.logFileName));
    (p.appendToLog ? m_logAppend : m_logCreate)->setChecked(true);
    m_viewer->setText(ui::fromSjis(p.logOpenExeName));
    m_customUse->setChecked(p.customUse);
    m_scriptUse->setChecked(p.scriptUse);
    updateLogControls();
}

bool OptionsDialog::readPages() {
    OtherPages& p = m_form.pages();
    const std::tuple<QLineEdit*, std::string_view, std::string*, int> texts[] = {
        {m_waitMSec, "ウエイト", &p.waitMSec, 1},
        {m_waitCount, "件数", &p.waitCount, 1},
        {m_waitSec, "ウエイト", &p.waitSec, 1},
        {m_quotaPerHour, "送信数の上限", &p.quotaPerHour, 1},
        {m_quotaPerDay, "送信数の上限", &p.quotaPerDay, 1},
        {m_jitterMSec, "ウエイト", &p.jitterMSec, 1},
        {m_logFileName, "ログファイル名", &p.logFileName, 2},
        {m_viewer, "ログを表示するプログラム", &p.logOpenExeName, 2},
    };
    for (const auto& [edit, label, text, page] : texts) {
        const auto sjis = sjisText(edit, label, kCaption);
        if (!sjis) {
            m_tabs->setCurrentIndex(page);
            edit->setFocus();
            return false;
        }
        *text = *sjis;
    }
    p.logFileMode = m_logMode->checkedId();
    p.appendToLog = m_logAppend->isChecked();
    p.customUse = m_customUse->isChecked();
    p.scriptUse = m_scriptUse->isChecked();
    p.smtpSessions = m_smtpSessions->value();
    p.noPipelining = m_noPipelining->isChecked();
    return true;
}

void OptionsDialog::accept() {
    if (!readPages()) {
        return;
    }
    if (auto problem = m_form.checkOk()) {
        showMessage(this, kCaption, qs(problem->message));
        m_tabs->setCurrentIndex(static_cast<int>(problem->page));
        if (problem->page == OptionsPage::SendLog) {
            m_logFileName->setFocus();
        }
        return;
    }
    m_form.writeTo(m_settings);
    // A file that could not be read is rewritten only when the person changed
    // the list; otherwise OK would replace it with an empty one.
    if (!m_headersUnreadable || m_headersEdited) {
        if (Status written = writeCustomHeaderFile(m_headerFile, m_headers); !written) {
            // The settings are kept; the person learns that the list was not.
            showMessage(this, kCaption,
                        QStringLiteral("カスタムヘッダファイルを保存できませんでした。\n") +
                            qs(written.error().message));
        }
    }
    QDialog::accept();
}

}  // namespace tarn::options::gui

#include "main_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>
#include <cstring>

#include "common/cp932.h"
#include "common/program.h"
#include "contents/send_contents.h"
#include "dbsend/db_sources.h"
#include "dbsend/mapping_file.h"
#include "icons.h"
#include "tarnedit.h"
#include "ui/check_command.h"
#include "ui/help.h"
#include "ui/log_commands.h"
#include "ui/send_command.h"
#include "ui/sjis_text.h"
#include "zephoption.h"

namespace tarn::dbsendapp {
namespace {

using dbsend::Page;

QString fromUtf8(const char* utf8) {
    return QString::fromUtf8(utf8);
}

constexpr std::array<const char*, 4> kTabCaptions = {"Excel送信", "Access送信", "ODBC送信",
                                                     "CSVテキスト送信"};

}  // namespace

void showErrorCode(QWidget* parent, int code) {
    const std::string text = dbsend::errorText(code);
    if (text.empty()) {
        return;
    }
    QMessageBox box(QMessageBox::Critical, ui::fromSjis(dbsend::errorTitle(code)),
                    ui::fromSjis(text), QMessageBox::Ok, parent);
    box.exec();
}

RangeDialog::RangeDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(fromUtf8("ターノス  一部メール送信"));
    m_start = new QLineEdit(QStringLiteral("1"), this);
    m_end = new QLineEdit(this);
    auto* form = new QFormLayout;
    auto row = [this](QLineEdit* edit, const QString& hint) {
        auto* line = new QHBoxLayout;
        line->addWidget(edit);
        line->addWidget(new QLabel(hint, this));
        return line;
    };
    form->addRow(fromUtf8("開始行 :"), row(m_start, fromUtf8("(1～ )")));
    form->addRow(fromUtf8("終了行 :"), row(m_end, fromUtf8("(1～999999999)")));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(fromUtf8("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void RangeDialog::accept() {
    const int code =
        dbsend::parseRange(m_start->text().toStdString(), m_end->text().toStdString(), m_range);
    if (code != 0) {
        showErrorCode(this, code);
        (code == errorNumber(dbsend::DbSendError::BadEndRow) ? m_end : m_start)->setFocus();
        return;
    }
    QDialog::accept();
}

MainDialog::MainDialog(AppContext& context, QWidget* parent) : QDialog(parent), m_context(context) {
    setWindowTitle(fromUtf8("ターノス - データベース送信"));
    setWindowIcon(applicationIcon());
    auto* layout = new QVBoxLayout(this);

    auto* menus = new QMenuBar(this);
    QMenu* file = menus->addMenu(fromUtf8("ファイル(&F)"));
    file->addAction(fromUtf8("メールアドレスチェック(&C)..."), this, [this] { check(); });
    file->addAction(fromUtf8("メール送信(&M)"), this, [this] { send(false); });
    file->addAction(fromUtf8("メール一部送信(&P)..."), this, [this] { send(true); });
    file->addSeparator();
    file->addAction(fromUtf8("終了(&X)"), this, &QDialog::reject);
    QMenu* tools = menus->addMenu(fromUtf8("ツール(&T)"));
    tools->addAction(fromUtf8("送信文の作成と編集(&E)..."), this, &MainDialog::editMessage);
    tools->addAction(fromUtf8("環境設定(&S)..."), this, &MainDialog::openOptions);
    tools->addSeparator();
    tools->addAction(fromUtf8("送信ログファイルの確認(&L)"), this,
                     [this] { ui::showSendLog(this, m_context.settings); });
    tools->addAction(fromUtf8("チェックログファイルの確認(&C)"), this,
                     [this] { ui::showCheckLog(this, m_context.settings); });
    QMenu* help = menus->addMenu(fromUtf8("ヘルプ(&H)"));
    QAction* contents = help->addAction(fromUtf8("目次(&C)"), this, [this] {
        ui::openHelpPage(this, QStringLiteral("dbsend.html"));
    });
    contents->setShortcut(QKeySequence::HelpContents);
    help->addAction(fromUtf8("ユーザーガイド(&G)"), this,
                    [this] { ui::openHelpPage(this, QStringLiteral("index.html")); });
    help->addSeparator();
    help->addAction(fromUtf8("バージョン情報(&A)..."), this, &MainDialog::showAbout);
    layout->setMenuBar(menus);

    m_tabs = new QTabWidget(this);
    for (int i = 0; i < 4; ++i) {
        auto* p = new SourcePage(static_cast<Page>(i), m_tabs);
        connect(p, &SourcePage::errorCode, this, [this](int code, QWidget* focus) {
            showErrorCode(this, code);
            focus->setFocus();
        });
        connect(p->pathEdit(), &QLineEdit::editingFinished, this, &MainDialog::restoreMapping);
        m_pages[static_cast<std::size_t>(i)] = p;
        m_tabs->addTab(p, fromUtf8(kTabCaptions[static_cast<std::size_t>(i)]));
    }
    layout->addWidget(m_tabs);

    auto* buttons = new QHBoxLayout;
    auto addButton = [&](const char* text, auto slot) {
        auto* b = new QPushButton(fromUtf8(text), this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    addButton("メールアドレスチェック...", [this] { check(); });
    addButton("メール送信", [this] { send(false); });
    addButton("メール一部送信...", [this] { send(true); });
    buttons->addStretch();
    addButton("終了", [this] { reject(); });
    layout->addLayout(buttons);

    // What the last session left: the tab, the honorific, the Excel version.
    const DbSendSettings& db = m_context.db;
    for (SourcePage* p : m_pages) {
        p->setHonorific(ui::fromSjis(db.Keisyo));
        p->setExcelVersion(db.ExcelVersion);
    }
    m_tabs->setCurrentIndex(db.SendMode >= 0 && db.SendMode < 4 ? db.SendMode : 0);
}

SourcePage* MainDialog::currentPage() const {
    return m_pages[static_cast<std::size_t>(std::max(0, m_tabs->currentIndex()))];
}

void MainDialog::remember() {
    SourcePage* p = currentPage();
    m_context.db.SFileName = p->dataName();
    m_context.db.Keisyo = p->spec().honorific;
    m_context.db.SendMode = m_tabs->currentIndex();
    if (p->page() == Page::kExcel) {
        m_context.db.ExcelVersion = p->sourceType() == 2 ? 95 : 97;
    }
    if (auto saved = m_context.store.saveDbSend(m_context.db); !saved) {
        QMessageBox::warning(this, fromUtf8("ターノス"),
                             fromUtf8("設定を保存できませんでした。\n\n%1")
                                 .arg(QString::fromStdString(saved.error().message)));
    }
}

int MainDialog::prepareSend() {
    const auto showError = [this](driver::SendError e) {
        showErrorCode(this, errorNumber(e));
        return errorNumber(e);
    };
    if (auto problem = currentPage()->validate()) {
        showErrorCode(this, problem->code);
        return problem->code;
    }
    remember();
    if (m_context.contFileName.empty()) {
        return showError(driver::SendError::NoContentsFile);
    }
    contents::SendContents c;
    if (contents::LoadSendContents(cp932::pathFromSjis(m_context.contFileName), c) != 0) {
        return showError(driver::SendError::ReadContents);
    }
    if (c.body.empty()) {
        return showError(driver::SendError::NoRecipients);
    }
    return 0;
}

bool MainDialog::send(bool partial) {
    if (prepareSend() != 0) {
        return false;
    }
    dbsend::RowSourceOptions rows;
    rows.spec = currentPage()->spec();
    rows.deny = m_deny;
    if (partial) {
        RangeDialog range(this);
        if (range.exec() != QDialog::Accepted) {
            return false;
        }
        rows.range = range.range();
    }
    // The rows are read once here for the count and the preview; a source that
    // cannot be read says so with its own code.
    auto probe = std::make_unique<dbsend::DbRecipients>(rows);
    if (const dbsend::RowRead& read = probe->load(); read.code != 0) {
        showErrorCode(this, read.code);
        return false;
    }
    if (probe->eligibleCount() == 0) {
        showErrorCode(this, errorNumber(dbsend::DbSendError::DbNoData));
        return false;
    }
    ui::SendCommandSetup setup;
    setup.job.settings = m_context.settings;
    setup.job.contentsPath = m_context.contFileName;
    setup.job.options.recipientSourceName =
        rows.spec.type == 4 ? rows.spec.source + "/" + rows.spec.table : rows.spec.source;
    setup.job.options.customHeaderFile = besideProgram("CustmHeader.hdr");
    setup.job.options.smtpAuthFile = besideProgram("SMTPAuth.txt");
    setup.job.options.databaseRows = true;
    // The job takes the rows read above; the switch in the confirmation
    // reaches them through `made` while the job holds them.
    auto made = std::make_shared<dbsend::DbRecipients*>(nullptr);
    setup.recipients = [made, source = std::shared_ptr<dbsend::DbRecipients>(
                                  std::move(probe))]() -> std::unique_ptr<driver::RecipientSource> {
        auto rowsOfRun = std::make_unique<dbsend::DbRecipients>(std::move(*source));
        *made = rowsOfRun.get();
        return rowsOfRun;
    };
    setup.confirmSwitch = ui::SendCommandSetup::Switch{
        fromUtf8("DenyEmailDomain.txt のアドレスには送信しない。"), m_deny, [this, made](bool on) {
            m_deny = on;
            if (*made != nullptr) {
                (*made)->setDeny(on);
            }
        }};
    if (auto journal = journalPath()) {
        setup.journal = *journal;
    }
    setup.store = &m_context.store;
    // A file chosen with 参照 in the confirmation is the current one from now on.
    setup.contentsConfirmed = [this](const std::string& path) { m_context.contFileName = path; };
    auto* command = new ui::SendCommand(this, std::move(setup));
    connect(command, &ui::JobCommand::runEnded, this, [this](int result) {
        if (result == 0) {
            saveMapping();
        }
    });
    connect(command, &ui::JobCommand::finished, command, &QObject::deleteLater);
    if (!command->execute()) {
        delete command;
        return false;
    }
    return true;
}

bool MainDialog::check() {
    if (auto problem = currentPage()->validate()) {
        showErrorCode(this, problem->code);
        return false;
    }
    remember();
    dbsend::RowSourceOptions rows;
    rows.spec = currentPage()->spec();
    auto probe = std::make_unique<dbsend::DbCheckSource>(rows);
    if (const dbsend::RowRead& read = probe->load(); read.code != 0) {
        showErrorCode(this, read.code);
        return false;
    }
    ui::CheckCommandSetup setup;
    setup.job.settings = m_context.settings;
    setup.job.options.documentTitle = rows.spec.type == 4 ? rows.spec.table : rows.spec.source;
    setup.job.options.databaseRows = true;
    setup.source = [source = std::shared_ptr<dbsend::DbCheckSource>(std::move(probe))]() mutable {
        return std::unique_ptr<driver::CheckSource>(new dbsend::DbCheckSource(std::move(*source)));
    };
    setup.store = &m_context.store;
    setup.settingsAccepted = [this](const CheckSettings& check) {
        m_context.settings.check = check;
    };
    auto* command = new ui::CheckCommand(this, std::move(setup));
    connect(command, &ui::JobCommand::finished, command, &QObject::deleteLater);
    if (!command->execute()) {
        delete command;
        return false;
    }
    return true;
}

std::optional<std::filesystem::path> MainDialog::journalPath() const {
    return dbsend::sendJournalPath(programFolder(), currentPage()->spec());
}

void MainDialog::saveMapping() {
    SourcePage* p = currentPage();
    auto path = dbsend::mappingFilePath(programFolder(), p->dataName());
    if (!path) {
        return;
    }
    if (auto saved = dbsend::saveMappingFile(*path, p->mappingFile()); !saved) {
        QMessageBox::warning(this, fromUtf8("ターノス"),
                             fromUtf8("フィールドの設定を保存できませんでした。\n\n%1")
                                 .arg(QString::fromStdString(saved.error().message)));
    }
}

void MainDialog::restoreMapping() {
    SourcePage* p = currentPage();
    auto path = dbsend::mappingFilePath(programFolder(), p->dataName());
    if (!path || !std::filesystem::exists(*path)) {
        return;
    }
    // A file that cannot be read leaves the boxes as they are.
    if (auto file = dbsend::loadMappingFile(*path)) {
        p->applyMappingFile(*file);
    }
}

void MainDialog::showAbout() {
    QMessageBox box(QMessageBox::NoIcon, fromUtf8("バージョン情報"),
                    fromUtf8("<b>ターノス データベース送信</b><br>Version %1<br><br>"
                             "Excel・Access・ODBC・CSV の表の一行ずつに、宛名を差し込んだメールを"
                             "送信します。")
                        .arg(QString::fromStdString(programVersionText())),
                    QMessageBox::Ok, this);
    box.setIconPixmap(applicationIcon().pixmap(64, 64));
    box.exec();
}

void MainDialog::openOptions() {
    if (ZEPHOption(this, &m_context.settings) == 1) {
        if (auto saved = m_context.store.saveOption(m_context.settings); !saved) {
            QMessageBox::warning(this, fromUtf8("ターノス"),
                                 fromUtf8("設定を保存できませんでした。\n\n%1")
                                     .arg(QString::fromStdString(saved.error().message)));
        }
    }
}

void MainDialog::editMessage() {
    std::array<char, ZEPHEDIT_PATH_SIZE> path{};
    std::memcpy(path.data(), m_context.contFileName.data(),
                std::min(m_context.contFileName.size(), path.size() - 1));
    const std::string name = fieldText(m_context.settings.defaultAccount.FromName);
    const std::string address = fieldText(m_context.settings.defaultAccount.FromEMail);
    ZEPHEdit(this, name.c_str(), address.c_str(), path.data());
    m_context.contFileName.assign(path.data(), ::strnlen(path.data(), path.size()));
    static_cast<void>(m_context.store.saveCommon(m_context.contFileName));
}

}  // namespace tarn::dbsendapp

#include "wizard/import_wizard.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWizardPage>

#include <atomic>
#include <climits>
#include <map>
#include <thread>

#include "common/files.h"
#include "common/utf8.h"
#include "ui/sjis_text.h"

namespace tarn::addressbook::wizard {

using ui::fromSjis;

namespace {

const char* const kCaptions[] = {
    "データの選択",     "連絡先の選択",     "ファイルの選択", "フィールドの選択",
    "フィールドの選択", "フィールドの選択", "条件の設定",     "インポートウィザードの完了"};
const char* const kSubCaptions[] = {"インポートするデータの種類を選びます。",
                                    "アドレス帳のどの連絡先をインポートするか選びます。",
                                    "データのファイルとテーブルを選びます。",
                                    "アドレス帳の各項目に入れるフィールドを選びます。",
                                    "Freefield1 から Freefield5 に入れるフィールドを選びます。",
                                    "Freefield6 から Freefield10 に入れるフィールドを選びます。",
                                    "インポートする条件とインポート先のフォルダを選びます。",
                                    "[完了] を押すとインポートを始めます。"};

// The explanation of the file page, by kind (1-4).
const char* const kFileExplanations[] = {
    "", "Access のデータファイル (.mdb) と、インポートするテーブルを選んでください。",
    "Excel のブック (.xls、.xlsx) と、インポートするシートを選んでください。",
    "CSV のテキストファイルを選んでください。1 行目はフィールド名として扱います。",
    "[参照] で ODBC のデータソースを選び、インポートするテーブルを選んでください。"};

const char* const kFilters[] = {
    "vCardのﾌｧｲﾙ (*.vcf);;全てのﾌｧｲﾙ (*)", "Accessのﾃﾞｰﾀﾌｧｲﾙ (*.mdb);;全てのﾌｧｲﾙ (*)",
    "Excelのﾃﾞｰﾀﾌｧｲﾙ (*.xls *.xlsx);;全てのﾌｧｲﾙ (*)", "CSVのﾃｷｽﾄﾌｧｲﾙ (*.csv);;全てのﾌｧｲﾙ (*)",
    "ODBCのﾃﾞｰﾀﾌｧｲﾙ (*.dsn);;全てのﾌｧｲﾙ (*)"};

// Texts from the widgets into the core. A character Shift_JIS cannot hold
// cannot be in a file name, table or column the core could ask for; the empty
// text then makes the page incomplete rather than asking for something else.
std::string sjisOf(const QString& text) {
    auto r = ui::toSjis(text);
    return r ? std::move(r.value()) : std::string();
}

QString utf8Of(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

ImportKind kindOf(const QVariant& v) {
    return static_cast<ImportKind>(v.toInt());
}

void fillCombo(QComboBox* box, const std::vector<std::string>& items, const std::string& keep,
               bool blankFirst) {
    box->clear();
    if (blankFirst) {
        box->addItem(QString());
    }
    for (const auto& i : items) {
        box->addItem(fromSjis(i));
    }
    const int at = box->findText(fromSjis(keep));
    if (at >= 0) {
        box->setCurrentIndex(at);
    }
}

// --- page 1: the kind of source

class KindPage final : public QWizardPage {
    Q_OBJECT
    Q_PROPERTY(int kind READ kind WRITE setKind NOTIFY kindChanged)
public:
    explicit KindPage(QWidget* parent = nullptr) : QWizardPage(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel("下からインポートするデータを選んでください。"));
        m_group = new QButtonGroup(this);
        for (int k = 0; k < 5; ++k) {
            auto* b = new QRadioButton(kindLabel(static_cast<ImportKind>(k)));
            b->setObjectName(QString("kind%1").arg(k));
            m_group->addButton(b, k);
            layout->addWidget(b);
        }
        layout->addStretch();
        connect(m_group, &QButtonGroup::idClicked, this, &KindPage::kindChanged);
        registerField("kind", this, "kind", SIGNAL(kindChanged()));
    }
    int kind() const { return std::max(0, m_group->checkedId()); }
    void setKind(int k) {
        if (auto* b = m_group->button(k)) {
            b->setChecked(true);
        }
    }
signals:
    void kindChanged();

private:
    QButtonGroup* m_group;
};

// A file name box with its "参照(&R)..." button.
struct FileRow {
    QLineEdit* edit;
    QPushButton* browse;
    QHBoxLayout* layout;
};

FileRow makeFileRow(QWidget* owner, const QString& objectName) {
    FileRow r{new QLineEdit(owner), new QPushButton("参照(&R)...", owner), new QHBoxLayout};
    r.edit->setObjectName(objectName);
    r.browse->setObjectName(objectName + "Browse");
    r.layout->addWidget(r.edit, 1);
    r.layout->addWidget(r.browse);
    return r;
}

// --- page 2 for kind 0: the system address book

class AddressBookPage final : public QWizardPage {
    Q_OBJECT
public:
    explicit AddressBookPage(QWidget* parent = nullptr) : QWizardPage(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(
            new QLabel("アドレス帳 (vCard のファイル、または .vcf を集めたフォルダ):"));
        FileRow file = makeFileRow(this, "book");
        m_book = file.edit;
        auto* folderButton = new QPushButton("フォルダ(&F)...", this);
        folderButton->setObjectName("bookFolderBrowse");
        file.layout->addWidget(folderButton);
        layout->addLayout(file.layout);
        m_all = new QRadioButton("すべての連絡先をインポートします。");
        m_byGroup = new QRadioButton("グループを選択してインポートします。");
        m_byFolder = new QRadioButton("フォルダを選択してインポートします。");
        m_groups = new QComboBox;
        m_folders = new QComboBox;
        m_all->setObjectName("scopeAll");
        m_byGroup->setObjectName("scopeGroup");
        m_byFolder->setObjectName("scopeFolder");
        m_groups->setObjectName("groups");
        m_folders->setObjectName("folders");
        m_status = new QLabel;
        m_status->setObjectName("status");
        m_status->setWordWrap(true);
        layout->addWidget(m_all);
        layout->addWidget(m_byGroup);
        layout->addWidget(m_groups);
        layout->addWidget(m_byFolder);
        layout->addWidget(m_folders);
        layout->addWidget(m_status);
        layout->addStretch();
        auto* scope = new QButtonGroup(this);
        scope->addButton(m_all, 0);
        scope->addButton(m_byGroup, 1);
        scope->addButton(m_byFolder, 2);
        connect(file.browse, &QPushButton::clicked, this, [this] {
            const QString f =
                QFileDialog::getOpenFileName(this, "アドレス帳", m_book->text(), kFilters[0]);
            if (!f.isEmpty()) {
                m_book->setText(f);
                reload();
            }
        });
        connect(folderButton, &QPushButton::clicked, this, [this] {
            const QString f = QFileDialog::getExistingDirectory(this, "アドレス帳", m_book->text());
            if (!f.isEmpty()) {
                m_book->setText(f);
                reload();
            }
        });
        connect(m_book, &QLineEdit::editingFinished, this, &AddressBookPage::reload);
        connect(scope, &QButtonGroup::idClicked, this, [this] { updateEnabled(); });
        connect(m_groups, &QComboBox::currentTextChanged, this, &QWizardPage::completeChanged);
        connect(m_folders, &QComboBox::currentTextChanged, this, &QWizardPage::completeChanged);
    }

    void seed(const ImportWizardState& s) {
        if (m_seeded) {
            return;
        }
        m_seeded = true;
        m_book->setText(fromSjis(s.sources[0]));
        (s.scope == AddressBookScope::Group    ? m_byGroup
         : s.scope == AddressBookScope::Folder ? m_byFolder
                                               : m_all)
            ->setChecked(true);
        m_keepGroup = s.group;
        m_keepFolder = s.folder;
        reload();
    }

    AddressBookScope scope() const {
        return m_byGroup->isChecked()    ? AddressBookScope::Group
               : m_byFolder->isChecked() ? AddressBookScope::Folder
                                         : AddressBookScope::All;
    }
    std::string book() const { return sjisOf(m_book->text()); }
    std::string chosen() const {
        return sjisOf(scope() == AddressBookScope::Group    ? m_groups->currentText()
                      : scope() == AddressBookScope::Folder ? m_folders->currentText()
                                                            : QString());
    }
    std::string groupText() const { return sjisOf(m_groups->currentText()); }
    std::string folderText() const { return sjisOf(m_folders->currentText()); }

    bool isComplete() const override {
        return !m_book->text().isEmpty() && m_loaded &&
               (scope() == AddressBookScope::All || !chosen().empty());
    }

    // Reads the groups and folders of the book named now.
    void reload() {
        m_loaded = false;
        m_status->clear();
        m_groups->clear();
        m_folders->clear();
        if (!m_book->text().isEmpty()) {
            const std::string path = book();
            auto groups = listAddressBookGroups(path);
            auto folders = groups ? listAddressBookFolders(path) : groups;
            if (groups && folders) {
                fillCombo(m_groups, *groups, m_keepGroup, false);
                fillCombo(m_folders, *folders, m_keepFolder, false);
                m_loaded = true;
            } else {
                m_status->setText("アドレス帳を読めません: " +
                                  utf8Of((groups ? folders : groups).error().message));
            }
        }
        updateEnabled();
    }

private:
    void updateEnabled() {
        m_groups->setEnabled(scope() == AddressBookScope::Group);
        m_folders->setEnabled(scope() == AddressBookScope::Folder);
        emit completeChanged();
    }

    QLineEdit* m_book;
    QRadioButton *m_all, *m_byGroup, *m_byFolder;
    QComboBox *m_groups, *m_folders;
    QLabel* m_status;
    std::string m_keepGroup, m_keepFolder;
    bool m_loaded = false;
    bool m_seeded = false;
};

// --- page 2 for kinds 1-4: file (or data source) and table

class FilePage final : public QWizardPage {
    Q_OBJECT
public:
    explicit FilePage(QWidget* parent = nullptr) : QWizardPage(parent) {
        auto* layout = new QVBoxLayout(this);
        m_explanation = new QLabel;
        m_explanation->setWordWrap(true);
        layout->addWidget(m_explanation);
        auto* form = new QFormLayout;
        FileRow file = makeFileRow(this, "file");
        m_file = file.edit;
        auto* fileLabel = new QLabel("ファイル名(&F)");
        fileLabel->setBuddy(m_file);
        form->addRow(fileLabel, file.layout);
        m_table = new QComboBox;
        m_table->setObjectName("table");
        m_tableLabel = new QLabel;
        m_tableLabel->setBuddy(m_table);
        form->addRow(m_tableLabel, m_table);
        m_version = new QComboBox;
        m_version->setObjectName("excelVersion");
        m_version->addItems({"Excel97 - 2003", "Excel95"});
        m_versionLabel = new QLabel("バージョン(&V)");
        m_versionLabel->setBuddy(m_version);
        form->addRow(m_versionLabel, m_version);
        m_encoding = new QComboBox;
        m_encoding->setObjectName("csvEncoding");
        m_encoding->addItems({"自動判定", "Shift_JIS", "UTF-8"});
        m_encodingLabel = new QLabel("文字コード(&E)");
        m_encodingLabel->setBuddy(m_encoding);
        form->addRow(m_encodingLabel, m_encoding);
        m_found = new QLabel;
        m_found->setObjectName("detectedEncoding");
        form->addRow(QString(), m_found);
        m_enclose = new QCheckBox("テーブル名、フィールド名を囲む");
        m_enclose->setObjectName("enclose");
        form->addRow(QString(), m_enclose);
        layout->addLayout(form);
        m_status = new QLabel;
        m_status->setObjectName("status");
        m_status->setWordWrap(true);
        layout->addWidget(m_status);
        layout->addStretch();
        connect(file.browse, &QPushButton::clicked, this, &FilePage::browse);
        connect(m_file, &QLineEdit::editingFinished, this, [this] {
            if (m_kind != ImportKind::Odbc) {
                reload();
            }
        });
        connect(m_encoding, &QComboBox::currentIndexChanged, this, [this] { reload(); });
        connect(m_table, &QComboBox::currentTextChanged, this, &QWizardPage::completeChanged);
    }

    void seed(ImportKind kind, const ImportWizardState& s) {
        if (m_seeded && kind == m_kind) {
            return;
        }
        m_seeded = true;
        m_kind = kind;
        const auto k = static_cast<std::size_t>(kind);
        m_explanation->setText(kFileExplanations[k]);
        m_tableLabel->setText(kind == ImportKind::Excel ? "シート名(&S)" : "テーブル名(&T)");
        const bool excel = kind == ImportKind::Excel, csv = kind == ImportKind::Csv,
                   odbc = kind == ImportKind::Odbc;
        m_version->setVisible(excel);
        m_versionLabel->setVisible(excel);
        m_encoding->setVisible(csv);
        m_encodingLabel->setVisible(csv);
        m_found->setVisible(csv);
        m_enclose->setVisible(odbc);
        m_file->setReadOnly(odbc);  // a data source is chosen, not typed
        m_version->setCurrentIndex(static_cast<int>(s.excelVersion));
        m_encoding->blockSignals(true);
        m_encoding->setCurrentIndex(static_cast<int>(s.csvEncoding));
        m_encoding->blockSignals(false);
        m_enclose->setChecked(s.odbcEnclose);
        m_connection = odbc ? s.sources[k] : std::string();
        m_file->setText(odbc ? fromSjis(s.odbcName) : fromSjis(s.sources[k]));
        m_keepTable = s.table;
        reload();
    }

    ImportSource source() const {
        ImportSource s;
        s.kind = m_kind;
        s.source = m_kind == ImportKind::Odbc ? m_connection : sjisOf(m_file->text());
        s.table = sjisOf(m_table->currentText());
        s.excelVersion = static_cast<ExcelVersion>(m_version->currentIndex());
        s.odbcEnclose = m_enclose->isChecked();
        s.csvEncoding = static_cast<db::CsvEncoding>(m_encoding->currentIndex());
        return s;
    }
    std::string odbcName() const { return sjisOf(m_file->text()); }

    bool isComplete() const override { return !m_table->currentText().isEmpty(); }

    // Lists the tables of the source named now; a file that does not exist
    // gives an empty list.
    void reload() {
        m_status->clear();
        m_found->clear();
        const std::string keep =
            m_table->currentText().isEmpty() ? m_keepTable : sjisOf(m_table->currentText());
        m_table->clear();
        ImportSource s = source();
        if (s.source.empty()) {
            emit completeChanged();
            return;
        }
        std::string table = keep;
        if (m_kind == ImportKind::Csv) {
            // The file's folder is the data source and its name the table.
            const QFileInfo info(m_file->text());
            s.source = sjisOf(info.absolutePath() + "/");
            table = sjisOf(info.fileName());
            m_found->setText(detectedEncoding(m_file->text()));
        }
        auto tables = listTables(s);
        if (tables) {
            fillCombo(m_table, *tables, table, false);
        } else {
            m_status->setText("テーブルの一覧を読めません: " + utf8Of(tables.error().message));
        }
        emit completeChanged();
    }

private:
    void browse() {
        if (m_kind == ImportKind::Odbc) {
            OdbcSourceDialog dialog(this);
            if (dialog.exec() == QDialog::Accepted) {
                if (auto c = dialog.choice()) {
                    m_connection = c->connectionString;
                    m_file->setText(fromSjis(c->name));
                    reload();
                }
            }
            return;  // cancelling leaves the page as it was
        }
        const QString f = QFileDialog::getOpenFileName(this, QString(), m_file->text(),
                                                       kFilters[static_cast<std::size_t>(m_kind)]);
        if (!f.isEmpty()) {
            m_file->setText(f);
            reload();
        }
    }

    // What the CSV file looks like, so that a person sees the choice made.
    static QString detectedEncoding(const QString& path) {
        // A FIFO or a device is no CSV file: never wait on one here.
        auto sample = readFileStart(path.toStdString(), 64 * 1024);
        if (!sample || sample->empty()) {
            return QString();
        }
        std::string head = std::move(sample.value());
        if (head.rfind("\xEF\xBB\xBF", 0) == 0) {
            return "このファイルは UTF-8 (BOM 付き) です。";
        }
        bool multi = false;
        // A cut at the end of the sample may split a character: look at whole ones.
        while (!head.empty() && (static_cast<unsigned char>(head.back()) & 0xC0) == 0x80) {
            head.pop_back();
        }
        if (!head.empty() && static_cast<unsigned char>(head.back()) >= 0xC0) {
            head.pop_back();
        }
        if (utf8::isValid(head, &multi) && multi) {
            return "このファイルは UTF-8 (BOM なし) のようです。";
        }
        return multi ? QString() : "このファイルは Shift_JIS のようです。";
    }

    ImportKind m_kind = ImportKind::Csv;
    QLabel* m_explanation;
    QLineEdit* m_file;
    QComboBox* m_table;
    QLabel* m_tableLabel;
    QComboBox* m_version;
    QLabel* m_versionLabel;
    QComboBox* m_encoding;
    QLabel* m_encodingLabel;
    QLabel* m_found;
    QCheckBox* m_enclose;
    QLabel* m_status;
    std::string m_connection;
    std::string m_keepTable;
    bool m_seeded = false;
};

// --- pages 3: the mapping of columns to record fields

class MapPage final : public QWizardPage {
    Q_OBJECT
public:
    // shown: which mapping slots this page shows, with their labels.
    MapPage(std::vector<std::pair<std::size_t, QString>> shown, bool withHonorific,
            QWidget* parent = nullptr)
        : QWizardPage(parent), m_slots(std::move(shown)) {
        auto* form = new QFormLayout(this);
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            const auto [slot, label] = m_slots[i];
            auto* box = new QComboBox;
            box->setObjectName(QString("slot%1").arg(slot));
            box->setMinimumContentsLength(16);
            m_boxes[slot] = box;
            if (slot == kSlotName2) {
                continue;  // shown beside the first part
            }
            if (slot == kSlotName1) {
                auto* both = new QHBoxLayout;
                auto* second = new QComboBox;
                second->setObjectName(QString("slot%1").arg(kSlotName2));
                second->setMinimumContentsLength(12);
                m_boxes[kSlotName2] = second;
                box->setMinimumContentsLength(12);
                both->addWidget(box, 1);
                both->addWidget(new QLabel("＋"));
                both->addWidget(second, 1);
                auto* l = new QLabel(label);
                l->setBuddy(box);
                form->addRow(l, both);
                continue;
            }
            auto* l = new QLabel(label);
            l->setBuddy(box);
            form->addRow(l, box);
        }
        if (withHonorific) {
            m_honorific = new QComboBox;
            m_honorific->setEditable(true);
            m_honorific->setObjectName("honorific");
            auto* l = new QLabel("敬称(&K)");
            l->setBuddy(m_honorific);
            form->addRow(l, m_honorific);
        }
    }

    void load(const std::vector<std::string>& fields, const ImportMapping& m,
              const std::vector<std::string>& honorifics) {
        for (auto& [slot, box] : m_boxes) {
            fillCombo(box, fields, m.columns[slot], true);
        }
        if (m_honorific != nullptr) {
            fillCombo(m_honorific, honorifics, {}, true);
            m_honorific->setCurrentText(fromSjis(m.honorific));
        }
    }

    void store(ImportMapping& m) const {
        for (const auto& [slot, box] : m_boxes) {
            m.columns[slot] = sjisOf(box->currentText());
        }
        if (m_honorific != nullptr) {
            m.honorific = sjisOf(m_honorific->currentText());
        }
    }

private:
    std::vector<std::pair<std::size_t, QString>> m_slots;
    std::map<std::size_t, QComboBox*> m_boxes;
    QComboBox* m_honorific = nullptr;
};

// --- page 4: conditions, destination, delete-first

class ConditionsPage final : public QWizardPage {
    Q_OBJECT
public:
    explicit ConditionsPage(QWidget* parent = nullptr) : QWizardPage(parent) {
        auto* layout = new QVBoxLayout(this);
        m_email = new QCheckBox("E-Mailが入っていないものは除外する。");
        m_name = new QCheckBox("会社名および名前のどちらも入っていないものは除外する。");
        m_email->setObjectName("skipWithoutEmail");
        m_name->setObjectName("skipWithoutCompanyAndName");
        layout->addWidget(m_email);
        layout->addWidget(m_name);
        auto* row = new QHBoxLayout;
        m_folder = new QComboBox;
        m_folder->setObjectName("destination");
        auto* l = new QLabel("インポート先フォルダ(&G)");
        l->setBuddy(m_folder);
        row->addWidget(l);
        row->addWidget(m_folder, 1);
        layout->addLayout(row);
        m_deleteFirst = new QCheckBox("現在のﾌｧｲﾙのﾚｺｰﾄﾞを削除してからｲﾝﾎﾟｰﾄする。");
        m_deleteFirst->setObjectName("deleteFirst");
        layout->addWidget(m_deleteFirst);
        layout->addStretch();
    }

    void seed(const CTarnSendDoc& doc, const ImportWizardState& s) {
        if (m_seeded) {
            return;
        }
        m_seeded = true;
        const int destination = s.destination;
        m_email->setChecked(s.skipWithoutEmail);
        m_name->setChecked(s.skipWithoutCompanyAndName);
        m_folder->clear();
        m_folder->addItem("なし");
        for (const auto& f : doc.folders()) {
            m_folder->addItem(fromSjis(f.name));
        }
        m_folder->setCurrentIndex(destination < m_folder->count() ? destination : 0);
        m_deleteFirst->setChecked(s.deleteFirst);
    }

    void store(ImportRequest& r) const {
        r.skipWithoutEmail = m_email->isChecked();
        r.skipWithoutCompanyAndName = m_name->isChecked();
        r.folder = static_cast<std::uint16_t>(std::max(0, m_folder->currentIndex()));
        r.deleteFirst = m_deleteFirst->isChecked();
    }

private:
    QCheckBox *m_email, *m_name, *m_deleteFirst;
    QComboBox* m_folder;
    bool m_seeded = false;
};

std::vector<std::pair<std::size_t, QString>> freeSlots(const CTarnSendDoc& doc, std::size_t from) {
    std::vector<std::pair<std::size_t, QString>> out;
    for (std::size_t i = from; i < from + 5; ++i) {
        out.emplace_back(kSlotFree1 + i, fromSjis(doc.freeFieldTitles()[i]));
    }
    return out;
}

// The rows that were not imported, for the closing message.
QString problemText(const ImportReport& r) {
    QString t;
    for (const auto& p : r.problems) {
        t += QString("%1 %2行目: %3\n")
                 .arg(p.excluded ? "除外" : "インポートできません")
                 .arg(p.row)
                 .arg(utf8Of(p.message));
    }
    return t;
}

}  // namespace

QString kindLabel(ImportKind kind) {
    switch (kind) {
        case ImportKind::AddressBook:
            return "アドレス帳 (vCard)";
        case ImportKind::Access:
            return "Access 95 - 2003";
        case ImportKind::Excel:
            return "Excel 95 - 2003";
        case ImportKind::Csv:
            return "CSV (テキストファイル)";
        case ImportKind::Odbc:
            return "ODBC データベース";
    }
    return {};
}

namespace {

// The pages hold their widgets; the wizard talks to them through these.
struct Pages {
    KindPage* kind;
    AddressBookPage* book;
    FilePage* file;
    MapPage* map;
    MapPage* free1;
    MapPage* free2;
    ConditionsPage* conditions;
};

Pages pagesOf(const QWizard& w) {
    return {qobject_cast<KindPage*>(w.page(ImportWizard::kKindPage)),
            qobject_cast<AddressBookPage*>(w.page(ImportWizard::kAddressBookPage)),
            qobject_cast<FilePage*>(w.page(ImportWizard::kFilePage)),
            qobject_cast<MapPage*>(w.page(ImportWizard::kMapPage)),
            qobject_cast<MapPage*>(w.page(ImportWizard::kFree1Page)),
            qobject_cast<MapPage*>(w.page(ImportWizard::kFree2Page)),
            qobject_cast<ConditionsPage*>(w.page(ImportWizard::kConditionsPage))};
}
}  // namespace

ImportWizard::ImportWizard(CTarnSendDoc& doc, ImportWizardState& state, int shownFolder,
                           QWidget* parent)
    : QWizard(parent), m_doc(doc), m_state(state) {
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    setButtonText(QWizard::BackButton, "< 戻る(&B)");
    setButtonText(QWizard::NextButton, "次へ(&N) >");
    setButtonText(QWizard::FinishButton, "完了");
    setButtonText(QWizard::CancelButton, "キャンセル");
    auto* kind = new KindPage;
    auto* book = new AddressBookPage;
    auto* file = new FilePage;
    auto* map = new MapPage({{kSlotCompany, "会社名(&C)"},
                             {kSlotDepartment, "部署(&D)"},
                             {kSlotTitle, "役職(&T)"},
                             {kSlotName1, "氏名(&N)"},
                             {kSlotEmail, "E-Mail(&E)"}},
                            true);
    auto* free1 = new MapPage(freeSlots(doc, 0), false);
    auto* free2 = new MapPage(freeSlots(doc, 5), false);
    auto* conditions = new ConditionsPage;
    auto* ready = new QWizardPage;
    auto* readyLayout = new QVBoxLayout(ready);
    readyLayout->addWidget(new QLabel("インポートの準備が整いました。"));
    readyLayout->addStretch();
    setPage(kKindPage, kind);
    setPage(kAddressBookPage, book);
    setPage(kFilePage, file);
    setPage(kMapPage, map);
    setPage(kFree1Page, free1);
    setPage(kFree2Page, free2);
    setPage(kConditionsPage, conditions);
    setPage(kReadyPage, ready);
    for (int id : pageIds()) {
        page(id)->setTitle(kCaptions[id]);
        page(id)->setSubTitle(kSubCaptions[id]);
    }
    kind->setKind(static_cast<int>(state.kind));
    connect(this, &QWizard::currentIdChanged, this, [this](int id) {
        if (id >= 0) {
            setWindowTitle(QString("インポートウイザード(%1/5)").arg(stepOf(id)));
        }
    });
    if (!state.used) {
        state.destination = static_cast<std::uint16_t>(std::max(0, shownFolder));
    }
    setWindowTitle("インポートウイザード(1/5)");
    resize(640, 440);  // room for a whole path in the file box
}

// Each page starts from the last run's choices the first time it is reached,
// and from what this run chose after that.
void ImportWizard::initializePage(int id) {
    const Pages p = pagesOf(*this);
    const ImportKind k = kindOf(field("kind"));
    switch (id) {
        case kAddressBookPage:
            p.book->seed(m_state);
            break;
        case kFilePage:
            p.file->seed(k, m_state);
            break;
        case kMapPage: {
            ImportSource s = k == ImportKind::AddressBook ? ImportSource{} : p.file->source();
            s.kind = k;
            auto fields = listFields(s);
            ImportMapping m = m_state.mapping;
            if (m_mappingSeeded) {
                m = request().mapping;
            } else if (k == ImportKind::AddressBook &&
                       (!m_state.used || m_state.kind != ImportKind::AddressBook)) {
                m = addressBookMapping();  // the one that fits an address-book entry
                m.honorific = m_state.mapping.honorific;
            }
            m_mappingSeeded = true;
            const std::vector<std::string> none;
            for (auto* mp : {p.map, p.free1, p.free2}) {
                mp->load(fields ? *fields : none, m, m_doc.honorifics());
            }
            if (!fields) {
                QMessageBox::warning(
                    this, "ターノス",
                    "フィールドの一覧を読めません: " + utf8Of(fields.error().message));
            }
            break;
        }
        case kConditionsPage:
            p.conditions->seed(m_doc, m_state);
            break;
        default:
            break;
    }
    QWizard::initializePage(id);
}

int ImportWizard::stepOf(int pageId) {
    switch (pageId) {
        case kKindPage:
            return 1;
        case kAddressBookPage:
        case kFilePage:
            return 2;
        case kMapPage:
        case kFree1Page:
        case kFree2Page:
            return 3;
        case kConditionsPage:
            return 4;
        default:
            return 5;
    }
}

int ImportWizard::nextId() const {
    switch (currentId()) {
        case kKindPage:
            return kindOf(field("kind")) == ImportKind::AddressBook ? kAddressBookPage : kFilePage;
        case kAddressBookPage:
        case kFilePage:
            return kMapPage;
        case kMapPage:
            return kFree1Page;
        case kFree1Page:
            return kFree2Page;
        case kFree2Page:
            return kConditionsPage;
        case kConditionsPage:
            return kReadyPage;
        default:
            return -1;
    }
}

ImportRequest ImportWizard::request() const {
    const Pages p = pagesOf(*this);
    ImportRequest r;
    const ImportKind k = kindOf(field("kind"));
    if (k == ImportKind::AddressBook) {
        r.source.kind = k;
        r.source.source = p.book->book();
        r.source.scope = p.book->scope();
        r.source.table = p.book->chosen();
    } else {
        r.source = p.file->source();
    }
    p.map->store(r.mapping);
    p.free1->store(r.mapping);
    p.free2->store(r.mapping);
    p.conditions->store(r);
    return r;
}

void ImportWizard::storeState() {
    const Pages p = pagesOf(*this);
    const ImportRequest r = request();
    ImportWizardState& s = m_state;
    s.kind = r.source.kind;
    const auto k = static_cast<std::size_t>(s.kind);
    s.sources[k] = r.source.source;
    if (s.kind == ImportKind::AddressBook) {
        s.scope = r.source.scope;
        s.group = p.book->groupText();
        s.folder = p.book->folderText();
    } else {
        s.table = r.source.table;
        s.excelVersion = r.source.excelVersion;
        s.odbcEnclose = r.source.odbcEnclose;
        s.csvEncoding = r.source.csvEncoding;
        if (s.kind == ImportKind::Odbc) {
            s.odbcName = p.file->odbcName();
        }
    }
    s.mapping = r.mapping;
    s.skipWithoutEmail = r.skipWithoutEmail;
    s.skipWithoutCompanyAndName = r.skipWithoutCompanyAndName;
    s.destination = r.folder;
    s.deleteFirst = r.deleteFirst;
    s.used = true;
}

bool ImportWizard::validateCurrentPage() {
    if (currentId() != kReadyPage) {
        return true;
    }
    return runImport();
}

// Reads on a worker thread while a progress bar with a cancel button runs on
// this one; the book changes only here, after the read, and only when it was
// not cancelled.
bool ImportWizard::runImport() {
    const ImportRequest r = request();
    ImportProgress progress;
    std::atomic<bool> done{false};
    std::optional<Result<StagedImport>> staged;
    QProgressDialog dialog("インポートしています...", "キャンセル", 0, 0, this);
    dialog.setObjectName("importProgress");
    dialog.setWindowTitle("ターノス");
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        const long long total = progress.rowsTotal.load();
        if (total > 0 && dialog.maximum() != static_cast<int>(total)) {
            dialog.setMaximum(static_cast<int>(std::min<long long>(total, INT_MAX)));
        }
        if (total > 0) {
            dialog.setValue(static_cast<int>(std::min<long long>(progress.rowsRead.load(), total)));
        }
        dialog.setLabelText(QString("インポートしています... %1 行").arg(progress.rowsRead.load()));
        if (dialog.wasCanceled()) {
            progress.cancel = true;
        }
        if (done.load()) {
            loop.quit();
        }
    });
    connect(&dialog, &QProgressDialog::canceled, &loop, [&] { progress.cancel = true; });
    std::thread worker([&] {
        staged.emplace(readImport(r, &progress));
        done = true;
    });
    poll.start();
    dialog.show();
    loop.exec();
    worker.join();
    poll.stop();
    dialog.reset();
    if (!staged->ok()) {
        QMessageBox box(QMessageBox::Critical, "ターノス", "インポートに失敗しました。",
                        QMessageBox::Ok, this);
        box.setObjectName("importFailed");
        box.setInformativeText(utf8Of(staged->error().message));
        box.exec();
        return false;
    }
    auto applied = applyImport(m_doc, std::move(staged->value()));
    if (!applied) {  // a send or check holds the book: it is as it was
        QMessageBox box(QMessageBox::Critical, "ターノス", "インポートに失敗しました。",
                        QMessageBox::Ok, this);
        box.setObjectName("importFailed");
        box.setInformativeText(utf8Of(applied.error().message));
        box.exec();
        return false;
    }
    m_report = std::move(applied.value());
    if (m_report->cancelled) {
        return false;  // the book is as it was; the wizard stays open
    }
    storeState();
    if (!m_report->problems.empty() || !m_report->readError.empty()) {
        QMessageBox box(
            QMessageBox::Warning, "ターノス",
            QString("%1 件をインポートしました。インポートしなかった行が %2 行あります。")
                .arg(m_report->imported)
                .arg(m_report->problems.size()),
            QMessageBox::Ok, this);
        box.setObjectName("importProblems");
        if (!m_report->readError.empty()) {
            box.setInformativeText("途中で読み込みに失敗しました: " + utf8Of(m_report->readError));
        }
        box.setDetailedText(problemText(*m_report));
        box.exec();
    }
    return true;
}

void ImportWizard::warnIfComponentsMissing(QWidget* parent, bool missing) {
    if (!missing) {
        return;
    }
    QMessageBox box(QMessageBox::Warning, "ターノス - インストール",
                    "データベースのコンポーネント (unixODBC) がインストールされていません。\n"
                    "ODBC データベースからのインポートはできません。",
                    QMessageBox::Ok, parent);
    box.setObjectName("componentsMissing");
    box.exec();
}

// --- the ODBC data-source chooser

OdbcSourceDialog::OdbcSourceDialog(QWidget* parent, const QString& fileDsnFolder)
    : QDialog(parent), m_fileDsnFolder(fileDsnFolder) {
    setWindowTitle("データ ソースの選択");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("インポートする ODBC データ ソースを選んでください。"));
    m_list = new QTreeWidget;
    m_list->setObjectName("sources");
    m_list->setHeaderLabels({"データ ソース名", "種類", "ドライバ"});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (const auto& e : db::listOdbcSources(fileDsnFolder.toStdString())) {
        auto* item = new QTreeWidgetItem(
            m_list, {utf8Of(e.name), e.fileDsn ? "ファイル DSN" : "DSN", utf8Of(e.description)});
        item->setData(0, Qt::UserRole, utf8Of(e.connectionString));
    }
    if (m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    layout->addWidget(m_list);
    auto* fileButton = new QPushButton("ファイル DSN を参照(&F)...");
    fileButton->setObjectName("browseFileDsn");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->addButton(fileButton, QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(fileButton, &QPushButton::clicked, this, [this] {
        const QString f =
            QFileDialog::getOpenFileName(this, "ファイル DSN", m_fileDsnFolder, kFilters[4]);
        if (!f.isEmpty()) {
            auto* item = new QTreeWidgetItem(
                m_list, {QFileInfo(f).completeBaseName(), "ファイル DSN", QString()});
            item->setData(0, Qt::UserRole, "FILEDSN=" + f);
            m_list->setCurrentItem(item);
        }
    });
    resize(520, 320);
}

std::optional<db::OdbcChoice> OdbcSourceDialog::choice() const {
    const QTreeWidgetItem* item = m_list->currentItem();
    if (item == nullptr) {
        return std::nullopt;
    }
    auto connection = ui::toSjis(item->data(0, Qt::UserRole).toString());
    if (!connection) {
        return std::nullopt;
    }
    return db::odbcChoiceFromConnectionString(connection.value());
}

}  // namespace tarn::addressbook::wizard

#include "import_wizard.moc"

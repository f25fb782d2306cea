#include "source_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QValidator>

#include "database/db_connection.h"
#include "ui/sjis_text.h"

namespace tarn::dbsendapp {
namespace {

using dbsend::Page;

QString fromUtf8(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The Shift_JIS text of a box; what Shift_JIS cannot hold never gets this far
// (the names come from the source as Shift_JIS).
std::string sjis(const QString& text) {
    auto converted = ui::toSjis(text);
    return converted ? *converted : std::string();
}

QString sourceLabel(Page page) {
    switch (page) {
        case Page::kExcel:
            return fromUtf8("Excelファイル名 :");
        case Page::kAccess:
            return fromUtf8("MDBファイル名 :");
        case Page::kOdbc:
            return fromUtf8("データベース接続名 :  ※参照ボタンから選択して下さい。");
        case Page::kCsv:
            break;
    }
    return fromUtf8("CSVファイル名 :");
}

QString fileFilter(Page page) {
    switch (page) {
        case Page::kExcel:
            return fromUtf8("Excelファイル (*.xls)");
        case Page::kAccess:
            return fromUtf8("Access Files (*.mdb)");
        default:
            return fromUtf8("CSV ファイル (*.csv *.k3);;すべてのファイル (*)");
    }
}

// A workbook lists every sheet, shown bare: enclosing single quotes removed,
// the trailing "$" cut. The other sources list their tables and views.
QStringList tableNames(const db::DbConnection& c) {
    QStringList names;
    const bool sheets = c.Type() == db::kExcel95 || c.Type() == db::kExcel97;
    for (int i = 0; i < c.TableCount(); ++i) {
        const std::string type = c.TableType(i).value_or("");
        auto name = c.TableName(i);
        if (!name || (!sheets && type != "TABLE" && type != "VIEW")) {
            continue;
        }
        std::string n = *name;
        if (sheets) {
            if (n.size() >= 2 && n.front() == '\'' && n.back() == '\'') {
                n = n.substr(1, n.size() - 2);
            }
            if (!n.empty() && n.back() == '$') {
                n.pop_back();
            }
        }
        names << ui::fromSjis(n);
    }
    return names;
}

// The honorific holds at most 10 bytes of Shift_JIS, typed or pasted.
class HonorificValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        auto bytes = ui::toSjis(input);
        return bytes && bytes->size() <= dbsend::kHonorificLimit ? Acceptable : Invalid;
    }
};

constexpr const char* kColumnLabels[6] = {
    "会社名 :", "部署名 :", "役職 :", "宛名１（姓） :", "宛名２（名） :", "E-Mailアドレス :"};

}  // namespace

QString notMappedText() {
    return fromUtf8("<<設定しない>>");
}

FreefieldDialog::FreefieldDialog(const QStringList& items, std::array<int, 10>& chosen,
                                 QWidget* parent)
    : QDialog(parent), m_chosen(chosen) {
    setWindowTitle(fromUtf8("Freefieldの選択"));
    auto* grid = new QGridLayout;
    for (int i = 0; i < 10; ++i) {
        auto* box = new QComboBox(this);
        box->addItems(items);
        box->setCurrentIndex(chosen[static_cast<std::size_t>(i)]);
        box->setMinimumContentsLength(16);
        grid->addWidget(new QLabel(QStringLiteral("Freefield%1 :").arg(i + 1), this), i % 5,
                        (i / 5) * 2);
        grid->addWidget(box, i % 5, (i / 5) * 2 + 1);
        m_boxes[static_cast<std::size_t>(i)] = box;
    }
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(fromUtf8("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

void FreefieldDialog::accept() {
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        m_chosen[i] = std::max(0, m_boxes[i]->currentIndex());
    }
    QDialog::accept();
}

SourcePage::SourcePage(Page page, QWidget* parent) : QWidget(parent), m_page(page) {
    m_items << notMappedText();
    auto* layout = new QVBoxLayout(this);

    auto* sourceRow = new QHBoxLayout;
    m_path = new QLineEdit(this);
    m_path->setMinimumWidth(360);
    if (page == Page::kOdbc) {
        m_path->setReadOnly(true);  // chosen with 参照 only
    }
    m_browse = new QPushButton(fromUtf8("参照..."), this);
    connect(m_browse, &QPushButton::clicked, this, &SourcePage::browse);
    connect(m_path, &QLineEdit::editingFinished, this, [this] {
        if (m_page != Page::kOdbc && !m_path->text().isEmpty() && m_path->isModified()) {
            m_path->setModified(false);
            if (int code = setSource(m_path->text()); code != 0) {
                emit errorCode(code, m_path);
            }
        }
    });
    sourceRow->addWidget(m_path, 1);
    sourceRow->addWidget(m_browse);
    layout->addWidget(new QLabel(sourceLabel(page), this));
    layout->addLayout(sourceRow);

    if (page == Page::kExcel) {
        auto* versions = new QHBoxLayout;
        m_excel97 = new QRadioButton(fromUtf8("Excel97 - 2003形式"), this);
        m_excel95 = new QRadioButton(fromUtf8("Excel5.0/95形式"), this);
        m_excel97->setChecked(true);
        auto* group = new QButtonGroup(this);
        group->addButton(m_excel97);
        group->addButton(m_excel95);
        versions->addWidget(m_excel97);
        versions->addWidget(m_excel95);
        versions->addStretch();
        layout->addLayout(versions);
    }
    if (page == Page::kOdbc) {
        m_enclose = new QCheckBox(fromUtf8("テーブル名、フィールド名を囲む"), this);
        m_enclose->setChecked(true);
        layout->addWidget(m_enclose);
    }
    if (page != Page::kCsv) {
        auto* tableRow = new QHBoxLayout;
        m_table = new QComboBox(this);
        m_table->setMinimumContentsLength(24);
        tableRow->addWidget(new QLabel(
            page == Page::kExcel ? fromUtf8("シート名 :") : fromUtf8("テーブル名 :"), this));
        tableRow->addWidget(m_table, 1);
        layout->addLayout(tableRow);
        connect(m_table, &QComboBox::activated, this, &SourcePage::tableChosen);
    }

    auto* mapping = new QGroupBox(fromUtf8("フィールドの設定"), this);
    auto* grid = new QGridLayout(mapping);
    for (int i = 0; i < 6; ++i) {
        auto* box = new QComboBox(mapping);
        box->addItems(m_items);
        box->setMinimumContentsLength(16);
        grid->addWidget(new QLabel(fromUtf8(kColumnLabels[i]), mapping), i % 3, (i / 3) * 2);
        grid->addWidget(box, i % 3, (i / 3) * 2 + 1);
        m_columns[static_cast<std::size_t>(i)] = box;
    }
    m_freefield = new QPushButton(fromUtf8("Freefield指定"), mapping);
    connect(m_freefield, &QPushButton::clicked, this, &SourcePage::editFreefields);
    m_honorific = new QLineEdit(mapping);
    m_honorific->setMaximumWidth(120);
    grid->addWidget(m_freefield, 3, 0, 1, 2, Qt::AlignLeft);
    grid->addWidget(new QLabel(fromUtf8("敬称 :"), mapping), 3, 2);
    grid->addWidget(m_honorific, 3, 3, Qt::AlignLeft);
    grid->addWidget(new QLabel(fromUtf8("※E-Mailアドレスは必須項目です。"), mapping), 4, 0, 1, 4);
    layout->addWidget(mapping);
    layout->addStretch();

    m_honorific->setValidator(new HonorificValidator(m_honorific));
}

int SourcePage::sourceType() const {
    switch (m_page) {
        case Page::kExcel:
            return m_excel95->isChecked() ? db::kExcel95 : db::kExcel97;
        case Page::kAccess:
            return db::kAccess;
        case Page::kOdbc:
            return db::kOdbc;
        case Page::kCsv:
            break;
    }
    return db::kText;
}

QComboBox* SourcePage::slotBox(int slot) const {
    return slot >= 0 && slot < 6 ? m_columns[static_cast<std::size_t>(slot)] : nullptr;
}

dbsend::SourceSpec SourcePage::spec() const {
    dbsend::SourceSpec s;
    s.type = sourceType();
    if (m_page == Page::kOdbc) {
        s.source = m_odbcConnection;
        s.enclose = m_enclose->isChecked();
    } else if (m_page == Page::kCsv) {
        // The folder is the source; the file name is the table.
        const QFileInfo file(m_path->text());
        if (!m_path->text().isEmpty()) {
            s.source = sjis(m_path->text());
            if (file.isAbsolute()) {
                s.source = sjis(file.absolutePath());
                s.table = sjis(file.fileName());
            }
        }
    } else {
        s.source = sjis(m_path->text());
    }
    if (m_table != nullptr && m_table->currentIndex() >= 0) {
        s.table = sjis(m_table->currentText());
    }
    for (int slot = 0; slot < dbsend::kSlotCount; ++slot) {
        const int index = slot < 6 ? m_columns[static_cast<std::size_t>(slot)]->currentIndex()
                                   : m_free[static_cast<std::size_t>(slot - 6)];
        if (index > 0 && index < m_items.size()) {
            s.fields[static_cast<std::size_t>(slot)] = sjis(m_items[index]);
        }
    }
    s.honorific = sjis(m_honorific->text());
    return s;
}

std::vector<std::string> SourcePage::fieldNames() const {
    std::vector<std::string> names;
    for (qsizetype i = 1; i < m_items.size(); ++i) {
        names.push_back(sjis(m_items[i]));
    }
    return names;
}

void SourcePage::fillBoxes(const QStringList& fields) {
    m_items = QStringList{notMappedText()} + fields;
    for (QComboBox* box : m_columns) {
        box->clear();
        box->addItems(m_items);
        box->setCurrentIndex(0);
    }
    m_free.fill(0);
}

int SourcePage::setSource(const QString& path, const QString& odbcName) {
    if (m_page == Page::kOdbc) {
        m_odbcConnection = sjis(path);
        m_path->setText(odbcName.isEmpty() ? path : odbcName);
    } else {
        m_path->setText(path);
    }
    if (m_table != nullptr) {
        m_table->clear();
    }
    fillBoxes({});
    if (m_page == Page::kCsv) {
        return loadFields();
    }
    db::DbConnection connection;
    if (!connection.Open(sourceType(), spec().source)) {
        return dbsend::openErrorCode(m_page);
    }
    m_table->addItems(tableNames(connection));
    m_table->setCurrentIndex(m_table->count() > 0 ? 0 : -1);
    return m_table->count() > 0 ? loadFields() : 0;
}

int SourcePage::loadFields() {
    const dbsend::SourceSpec s = spec();
    db::DbConnection connection;
    if (!connection.Open(s.type, s.source)) {
        return dbsend::openErrorCode(m_page);
    }
    dbsend::SourceSpec query = s;
    query.odbcQuote = connection.IdentifierQuote();
    db::DbRecordset set;
    if (!set.Open(connection, dbsend::allFieldsText(query))) {
        fillBoxes({});
        return dbsend::tableErrorCode(m_page);
    }
    QStringList fields;
    for (int i = 0; i < set.FieldCount(); ++i) {
        set.SelectField(i);
        fields << ui::fromSjis(set.FieldName().value_or(""));
    }
    fillBoxes(fields);
    return 0;
}

void SourcePage::tableChosen() {
    if (int code = loadFields(); code != 0) {
        emit errorCode(code, m_table);
    }
}

void SourcePage::browse() {
    if (m_page == Page::kOdbc) {
        const auto sources = db::listOdbcSources();
        QStringList names;
        for (const auto& s : sources) {
            names << QString::fromStdString(s.name);
        }
        bool ok = false;
        const QString chosen = QInputDialog::getItem(
            this, fromUtf8("データソースの選択"), fromUtf8("データソース :"), names, 0, false, &ok);
        if (!ok || chosen.isEmpty()) {
            return;
        }
        const auto& entry = sources[static_cast<std::size_t>(names.indexOf(chosen))];
        if (int code = setSource(QString::fromStdString(entry.connectionString), chosen)) {
            emit errorCode(code, m_path);
        }
        return;
    }
    const QString path = QFileDialog::getOpenFileName(this, fromUtf8("ファイルを開く"),
                                                      m_path->text(), fileFilter(m_page));
    if (path.isEmpty()) {
        return;
    }
    if (int code = setSource(path); code != 0) {
        emit errorCode(code, m_path);
    }
}

void SourcePage::editFreefields() {
    FreefieldDialog dialog(m_items, m_free, this);
    dialog.exec();
}

std::optional<dbsend::PageProblem> SourcePage::validate() {
    auto problem = dbsend::validatePage(m_page, spec(), fieldNames());
    if (!problem) {
        return std::nullopt;
    }
    QWidget* focus = m_path;
    if (problem->box == dbsend::PageProblem::Box::kTable && m_table != nullptr) {
        focus = m_table;
    } else if (problem->box == dbsend::PageProblem::Box::kSlot) {
        focus = problem->slot < 6 ? static_cast<QWidget*>(slotBox(problem->slot)) : m_freefield;
    }
    focus->setFocus();
    return problem;
}

std::string SourcePage::dataName() const {
    return sjis(m_path->text());
}

dbsend::MappingFile SourcePage::mappingFile() const {
    dbsend::MappingFile f;
    f.sourceType = sourceType();
    if (m_page == Page::kOdbc) {
        f.dataPath = m_odbcConnection;
        f.pageText = sjis(m_path->text());
        f.pageNumber = m_enclose->isChecked() ? 1 : 0;
    } else {
        f.dataPath = sjis(m_path->text());
        f.pageNumber = m_page == Page::kExcel ? (m_excel95->isChecked() ? 95 : 97) : 0;
    }
    if (m_table != nullptr) {
        f.table = {m_table->currentIndex(), sjis(m_table->currentText())};
    }
    for (int slot = 0; slot < dbsend::kSlotCount; ++slot) {
        const int index = slot < 6 ? m_columns[static_cast<std::size_t>(slot)]->currentIndex()
                                   : m_free[static_cast<std::size_t>(slot - 6)];
        f.boxes[static_cast<std::size_t>(slot)] = {
            index, index >= 0 && index < m_items.size() ? sjis(m_items[index]) : std::string()};
    }
    f.honorific = sjis(m_honorific->text());
    return f;
}

void SourcePage::applyMappingFile(const dbsend::MappingFile& file) {
    if (m_table != nullptr) {
        std::vector<std::string> tables;
        tables.reserve(static_cast<std::size_t>(m_table->count()));
        for (int i = 0; i < m_table->count(); ++i) {
            tables.push_back(sjis(m_table->itemText(i)));
        }
        if (auto index = dbsend::restoredIndex(tables, file.table);
            index && *index != m_table->currentIndex()) {
            m_table->setCurrentIndex(*index);
            loadFields();
        }
    }
    std::vector<std::string> items;
    for (const QString& item : m_items) {
        items.push_back(sjis(item));
    }
    for (int slot = 0; slot < dbsend::kSlotCount; ++slot) {
        const int index =
            dbsend::restoredIndex(items, file.boxes[static_cast<std::size_t>(slot)]).value_or(0);
        if (slot < 6) {
            m_columns[static_cast<std::size_t>(slot)]->setCurrentIndex(index);
        } else {
            m_free[static_cast<std::size_t>(slot - 6)] = index;
        }
    }
    m_honorific->setText(ui::fromSjis(file.honorific));
}

void SourcePage::setHonorific(const QString& text) {
    m_honorific->setText(text);
}

void SourcePage::setExcelVersion(int version) {
    if (m_page == Page::kExcel) {
        (version == 95 ? m_excel95 : m_excel97)->setChecked(true);
    }
}

}  // namespace tarn::dbsendapp

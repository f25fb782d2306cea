#include "record_dialogs.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "message_boxes.h"
#include "texts.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend {

using addressbook::Field;

namespace {

QString title() {
    return QString::fromUtf8(text::kAppTitle);
}

// The Shift_JIS text of `edit`, or a message naming the character CP932
// cannot hold, with the focus on the field.
std::optional<std::string> sjisOf(QWidget* parent, QLineEdit* edit, const QString& label) {
    auto sjis = ui::toSjis(edit->text());
    if (!sjis) {
        showMessage(parent, title(),
                    QString::fromUtf8(text::kUnrepresentable)
                        .arg(label, QString::fromStdString(sjis.error().message)),
                    QMessageBox::Warning);
        edit->setFocus();
        return std::nullopt;
    }
    return *sjis;
}

constexpr std::array<Field, 5> kTextFields = {Field::Company, Field::Department, Field::Title,
                                              Field::Name, Field::Email};
constexpr std::array<const char*, 5> kTextLabels = {"会社名(&C)", "部署名(&D)", "役職(&T)",
                                                    "名前(&M)", "E-Mail(&E)"};
constexpr std::array<const char*, 5> kTextNames = {"会社名", "部署名", "役職", "名前", "E-Mail"};

}  // namespace

// --- group membership

MembershipDialog::MembershipDialog(const addressbook::CTarnSendDoc& doc, std::vector<bool> memberOf,
                                   QWidget* parent)
    : QDialog(parent),
      m_doc(doc),
      m_memberOf(std::move(memberOf)),
      m_in(new QListWidget(this)),
      m_out(new QListWidget(this)),
      m_add(new QPushButton(QStringLiteral("← 追加(&A)"), this)),
      m_remove(new QPushButton(QStringLiteral("削除(&R) →"), this)) {
    setWindowTitle(QStringLiteral("グループメンバーシップ"));
    m_memberOf.resize(doc.groups().size(), false);
    for (QListWidget* list : {m_in, m_out}) {
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    auto* inLabel = new QLabel(QStringLiteral("所属グループ(&I)"), this);
    inLabel->setBuddy(m_in);
    auto* outLabel = new QLabel(QStringLiteral("非所属グループ(&O)"), this);
    outLabel->setBuddy(m_out);
    connect(m_add, &QPushButton::clicked, this, [this] { move(m_out, true); });
    connect(m_remove, &QPushButton::clicked, this, [this] { move(m_in, false); });
    connect(m_out, &QListWidget::itemDoubleClicked, this, [this] { move(m_out, true); });
    connect(m_in, &QListWidget::itemDoubleClicked, this, [this] { move(m_in, false); });

    auto* grid = new QGridLayout;
    grid->addWidget(inLabel, 0, 0);
    grid->addWidget(outLabel, 0, 2);
    grid->addWidget(m_in, 1, 0);
    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_add);
    middle->addWidget(m_remove);
    middle->addStretch();
    grid->addLayout(middle, 1, 1);
    grid->addWidget(m_out, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(okCancelButtons(this));
    fill();
}

void MembershipDialog::fill() {
    m_in->clear();
    m_out->clear();
    for (std::size_t g = 0; g < m_doc.groups().size(); ++g) {
        auto* item = new QListWidgetItem(ui::fromSjis(m_doc.groups()[g].name));
        item->setData(Qt::UserRole, static_cast<int>(g));
        (m_memberOf[g] ? m_in : m_out)->addItem(item);
    }
}

void MembershipDialog::move(QListWidget* from, bool join) {
    for (QListWidgetItem* item : from->selectedItems()) {
        m_memberOf[static_cast<std::size_t>(item->data(Qt::UserRole).toInt())] = join;
    }
    fill();
}

// --- free fields

FreeFieldDialog::FreeFieldDialog(addressbook::CTarnSendDoc& doc, const addressbook::Record& record,
                                 QWidget* parent)
    : QDialog(parent), m_doc(doc) {
    setWindowTitle(QStringLiteral("Freefieldの選択"));
    auto* form = new QFormLayout;
    for (std::size_t i = 0; i < addressbook::kFreeFieldCount; ++i) {
        m_labels[i] = new QLabel(ui::fromSjis(doc.freeFieldTitles()[i]), this);
        m_labels[i]->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(m_labels[i], &QWidget::customContextMenuRequested, this,
                [this, i](const QPoint& at) {
                    QMenu menu(QStringLiteral("自由使用欄"), this);
                    menu.addAction(QStringLiteral("タイトル変更"), this,
                                   [this, i] { startTitleEdit(i); });
                    menu.exec(m_labels[i]->mapToGlobal(at));
                });
        m_edits[i] = new QLineEdit(ui::fromSjis(record.freeFieldText(i)), this);
        m_edits[i]->setMinimumWidth(280);
        m_labels[i]->setBuddy(m_edits[i]);
        form->addRow(m_labels[i], m_edits[i]);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancelButtons(this));
}

void FreeFieldDialog::startTitleEdit(std::size_t i) {
    if (m_titleEdit != nullptr) {
        finishTitleEdit();
    }
    m_titleIndex = i;
    QLabel* label = m_labels[i];
    m_titleEdit = new QLineEdit(label->text(), label->parentWidget());
    m_titleEdit->setGeometry(label->geometry().adjusted(0, -2, 60, 2));
    m_titleEdit->show();
    m_titleEdit->setFocus();
    m_titleEdit->selectAll();
    connect(m_titleEdit, &QLineEdit::editingFinished, this, &FreeFieldDialog::finishTitleEdit);
}

void FreeFieldDialog::finishTitleEdit() {
    QLineEdit* edit = std::exchange(m_titleEdit, nullptr);
    if (edit == nullptr) {
        return;
    }
    edit->hide();
    edit->deleteLater();
    auto sjis = ui::toSjis(edit->text());
    if (!sjis) {
        showMessage(this, title(), QString::fromStdString(sjis.error().message),
                    QMessageBox::Warning);
        return;
    }
    if (auto renamed = m_doc.setFreeFieldTitle(m_titleIndex, *sjis); !renamed) {
        showMessage(this, title(), QString::fromStdString(renamed.error().message),
                    QMessageBox::Warning);
        return;
    }
    m_labels[m_titleIndex]->setText(ui::fromSjis(m_doc.freeFieldTitles()[m_titleIndex]));
}

void FreeFieldDialog::accept() {
    finishTitleEdit();
    for (std::size_t i = 0; i < addressbook::kFreeFieldCount; ++i) {
        auto v = sjisOf(this, m_edits[i], m_labels[i]->text());
        if (!v) {
            return;
        }
        m_values[i] = std::move(*v);
    }
    QDialog::accept();
}

// --- the record editor

RecordEditorDialog::RecordEditorDialog(addressbook::BookEditor& editor, std::size_t row,
                                       QWidget* parent)
    : QDialog(parent),
      m_editor(editor),
      m_session(editor, row),
      m_honorific(new QComboBox(this)),
      m_folder(new QComboBox(this)),
      m_status(new QComboBox(this)),
      m_number(new QLabel(this)),
      m_previous(new QPushButton(QStringLiteral("前へ(&P)"), this)),
      m_next(new QPushButton(QStringLiteral("次へ(&N)"), this)),
      m_new(new QPushButton(QStringLiteral("新規にレコードを作成(&R)"), this)),
      m_membership(new QPushButton(QStringLiteral("グループメンバーシップ(&G)..."), this)),
      m_freeFields(new QPushButton(QStringLiteral("Freefield(&N)..."), this)) {
    setWindowTitle(QStringLiteral("レコード編集"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("No."), m_number);
    for (std::size_t i = 0; i < m_texts.size(); ++i) {
        m_texts[i] = new QLineEdit(this);
        m_texts[i]->setMinimumWidth(320);
        form->addRow(QString::fromUtf8(kTextLabels[i]), m_texts[i]);
    }
    m_honorific->setEditable(true);
    form->addRow(QStringLiteral("敬称(&K)"), m_honorific);
    form->addRow(QStringLiteral("フォルダ(&F)"), m_folder);
    for (std::int32_t s = 0; s <= addressbook::kStatusSendError; ++s) {
        m_status->addItem(ui::fromSjis(addressbook::statusText(s)), s);
    }
    form->addRow(QStringLiteral("状態(&S)"), m_status);

    auto* extra = new QHBoxLayout;
    extra->addWidget(m_membership);
    extra->addWidget(m_freeFields);
    extra->addStretch();
    auto* moves = new QHBoxLayout;
    moves->addWidget(m_previous);
    moves->addWidget(m_next);
    moves->addWidget(m_new);
    moves->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(extra);
    layout->addLayout(moves);
    layout->addWidget(okCancelButtons(this));

    connect(m_previous, &QPushButton::clicked, this, [this] { go(m_session.previousRow()); });
    connect(m_next, &QPushButton::clicked, this, [this] { go(m_session.nextRow()); });
    connect(m_new, &QPushButton::clicked, this, [this] { go(m_session.newRow()); });
    connect(m_membership, &QPushButton::clicked, this, &RecordEditorDialog::editMemberships);
    connect(m_freeFields, &QPushButton::clicked, this, &RecordEditorDialog::editFreeFields);

    if (auto refused = m_session.arrive(row)) {
        showRefusal(*refused);
        m_closedAtOnce = m_session.closeNow();
    }
    showDraft();
}

QLineEdit* RecordEditorDialog::field(Field f) const {
    for (std::size_t i = 0; i < kTextFields.size(); ++i) {
        if (kTextFields[i] == f) {
            return m_texts[i];
        }
    }
    return nullptr;
}

void RecordEditorDialog::showRefusal(const std::string& message) {
    showMessage(this, title(), QString::fromStdString(message), QMessageBox::Critical);
}

void RecordEditorDialog::showDraft() {
    const addressbook::CTarnSendDoc& doc = m_editor.document();
    const addressbook::Record& r = m_session.draft().record;
    m_number->setText(QString::number(m_session.row() + 1));
    for (std::size_t i = 0; i < m_texts.size(); ++i) {
        m_texts[i]->setText(ui::fromSjis(r.text(kTextFields[i])));
    }
    m_honorific->clear();
    for (const auto& h : doc.honorifics()) {
        m_honorific->addItem(ui::fromSjis(h));
    }
    m_honorific->setEditText(ui::fromSjis(r.honorific()));
    m_folder->clear();
    m_folder->addItem(QStringLiteral("なし"));
    for (const auto& f : doc.folders()) {
        m_folder->addItem(ui::fromSjis(f.name));
    }
    m_folder->setCurrentIndex(r.folder());
    m_status->setCurrentIndex(m_status->findData(r.status()));
    m_previous->setEnabled(m_session.canPrevious());
    m_next->setEnabled(m_session.canNext());
    m_new->setEnabled(m_session.canCreate());
    m_texts[0]->setFocus();
}

bool RecordEditorDialog::readFields() {
    addressbook::Record& r = m_session.draft().record;
    for (std::size_t i = 0; i < m_texts.size(); ++i) {
        auto v = sjisOf(this, m_texts[i], QString::fromUtf8(kTextNames[i]));
        if (!v) {
            return false;
        }
        r.setText(kTextFields[i], *v);
    }
    auto h = ui::toSjis(m_honorific->currentText());
    if (!h) {
        showMessage(this, title(), QString::fromStdString(h.error().message), QMessageBox::Warning);
        m_honorific->setFocus();
        return false;
    }
    r.setText(Field::Honorific, *h);
    r.setFolder(static_cast<std::uint16_t>(std::max(0, m_folder->currentIndex())));
    if (m_status->currentIndex() >= 0) {
        r.setStatus(m_status->currentData().toInt());
    }
    return true;
}

bool RecordEditorDialog::leave() {
    if (!readFields()) {
        return false;
    }
    if (auto problem = m_session.leave()) {
        const bool empty =
            problem->field == Field::Email && m_session.draft().record.email().empty();
        showMessage(this, title(), QString::fromStdString(problem->message),
                    empty ? QMessageBox::Critical : QMessageBox::Warning);
        if (problem->field) {
            if (QLineEdit* edit = field(*problem->field)) {
                edit->setFocus();
                edit->selectAll();
            }
        }
        return false;
    }
    return true;
}

void RecordEditorDialog::go(std::size_t row) {
    if (!leave()) {
        return;
    }
    if (auto refused = m_session.arrive(row)) {
        showRefusal(*refused);
        if (m_session.closeNow()) {
            QDialog::accept();
            return;
        }
    }
    showDraft();
}

void RecordEditorDialog::accept() {
    if (leave()) {
        QDialog::accept();
    }
}

void RecordEditorDialog::editMemberships() {
    MembershipDialog dialog(m_editor.document(), m_session.draft().memberOf, this);
    if (dialog.exec() == QDialog::Accepted) {
        m_session.draft().memberOf = dialog.memberOf();
    }
}

void RecordEditorDialog::editFreeFields() {
    FreeFieldDialog dialog(m_editor.document(), m_session.draft().record, this);
    if (dialog.exec() == QDialog::Accepted) {
        for (std::size_t i = 0; i < addressbook::kFreeFieldCount; ++i) {
            m_session.draft().record.setText(addressbook::freeField(i), dialog.values()[i]);
        }
    }
}

}  // namespace tarn::gpsend

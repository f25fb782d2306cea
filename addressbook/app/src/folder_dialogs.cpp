#include "folder_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "addressbook/document.h"
#include "icons.h"
#include "message_boxes.h"
#include "texts.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend {

IconChooser::IconChooser(int current, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)) {
    setWindowTitle(QStringLiteral("アイコン選択"));
    m_list->setViewMode(QListView::IconMode);
    m_list->setIconSize(QSize(32, 32));
    m_list->setGridSize(QSize(52, 58));
    m_list->setMovement(QListView::Static);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int n = kFirstChoosableIcon; n <= kLastIcon; ++n) {
        // The number under each icon also gives the selection something to mark.
        auto* item = new QListWidgetItem(folderIcon(n), QString::number(n), m_list);
        item->setData(Qt::UserRole, n);
        item->setTextAlignment(Qt::AlignHCenter);
        if (n == current) {
            item->setSelected(true);
            m_list->setCurrentItem(item);
        }
    }
    connect(m_list, &QListWidget::itemDoubleClicked, this, &IconChooser::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(okCancelButtons(this));
    resize(520, 330);
}

int IconChooser::chosenIcon() const {
    const auto selected = m_list->selectedItems();
    return selected.isEmpty() ? 0 : selected.first()->data(Qt::UserRole).toInt();
}

void IconChooser::accept() {
    if (chosenIcon() != 0) {
        QDialog::accept();
    }
}

FolderEditor::FolderEditor(Kind kind, int number, int icon, const QString& name, QWidget* parent)
    : QDialog(parent),
      m_iconLabel(new QLabel(this)),
      m_nameEdit(new QLineEdit(name, this)),
      m_icon(icon) {
    setWindowTitle(kind == Kind::Folder ? QStringLiteral("フォルダ編集")
                                        : QStringLiteral("グループ編集"));
    m_iconLabel->setPixmap(folderIcon(m_icon).pixmap(32, 32));
    m_iconLabel->setFixedSize(36, 36);
    auto* change = new QPushButton(QStringLiteral("アイコン変更(&I)"), this);
    connect(change, &QPushButton::clicked, this, &FolderEditor::chooseIcon);
    auto* iconRow = new QHBoxLayout;
    iconRow->addWidget(m_iconLabel);
    iconRow->addWidget(change);
    iconRow->addStretch();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("No."), new QLabel(QString::number(number), this));
    form->addRow(QStringLiteral("アイコン"), iconRow);
    form->addRow(QStringLiteral("名前(&N)"), m_nameEdit);
    m_nameEdit->setMinimumWidth(260);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancelButtons(this));
    m_nameEdit->setFocus();
}

void FolderEditor::chooseIcon() {
    IconChooser chooser(m_icon, this);
    if (chooser.exec() == QDialog::Accepted) {
        m_icon = chooser.chosenIcon();
        m_iconLabel->setPixmap(folderIcon(m_icon).pixmap(32, 32));
    }
}

void FolderEditor::accept() {
    auto name = ui::toSjis(m_nameEdit->text());
    if (!name) {
        showMessage(this, QString::fromUtf8(text::kAppTitle),
                    QString::fromStdString(name.error().message), QMessageBox::Warning);
        m_nameEdit->setFocus();
        return;
    }
    if (auto problem = addressbook::CTarnSendDoc::checkFolderName(*name)) {
        showMessage(this, QString::fromUtf8(text::kAppTitle), QString::fromStdString(*problem),
                    QMessageBox::Warning);
        m_nameEdit->setFocus();
        m_nameEdit->selectAll();
        return;
    }
    m_name = std::move(*name);
    QDialog::accept();
}

}  // namespace tarn::gpsend

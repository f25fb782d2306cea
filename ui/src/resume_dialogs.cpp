#include "ui/resume_dialogs.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/message_box.h"
#include "ui/sjis_text.h"

namespace tarn::ui {

UncertainDialog::UncertainDialog(QWidget* parent, const QString& title, const QString& text,
                                 const std::vector<std::string>& addresses)
    : QDialog(parent) {
    setWindowTitle(title);
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QStringList lines;
    for (const std::string& a : addresses) {
        lines << fromSjis(a);
    }
    m_list = new QPlainTextEdit(lines.join(QLatin1Char('\n')), this);
    m_list->setReadOnly(true);
    m_list->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_list->setMinimumSize(420, 160);
    m_list->hide();
    m_listButton = new QPushButton(QStringLiteral("宛先の一覧(&L) >>"), this);
    m_listButton->setAutoDefault(false);
    connect(m_listButton, &QPushButton::clicked, this, [this] {
        m_list->setVisible(!m_list->isVisible());
        m_listButton->setText(m_list->isVisible() ? QStringLiteral("宛先の一覧(&L) <<")
                                                  : QStringLiteral("宛先の一覧(&L) >>"));
        adjustSize();
    });
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* yes = buttons->addButton(QStringLiteral("はい(&Y)"), QDialogButtonBox::YesRole);
    QPushButton* no = buttons->addButton(QStringLiteral("いいえ(&N)"), QDialogButtonBox::NoRole);
    buttons->addButton(m_listButton, QDialogButtonBox::ActionRole);
    yes->setAutoDefault(false);
    no->setDefault(true);
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(no, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
}

bool DialogResumeUi::askResume(std::string_view title, std::string_view text) {
    m_restart = false;
    m_declined = false;
    QMessageBox box(QMessageBox::Question, fromSjis(title), fromSjis(text), QMessageBox::NoButton,
                    m_parent);
    QPushButton* resume = box.addButton(QStringLiteral("続きから送信(&R)"), QMessageBox::YesRole);
    QPushButton* restart = box.addButton(QStringLiteral("最初から送信(&S)"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(resume);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == resume) {
        return true;
    }
    if (box.clickedButton() == restart) {
        // Starting afresh sends again to whoever the interrupted run reached.
        m_restart =
            askYesNo(m_parent, fromSjis(title),
                     QStringLiteral("最初から送信すると、前回の送信でメールが届いた宛先にも、"
                                    "もう一度送信されます。\nよろしいですか？"),
                     QMessageBox::Warning);
    }
    m_declined = !m_restart;
    return false;
}

bool DialogResumeUi::askSendUncertain(std::string_view title, std::string_view text,
                                      const std::vector<std::string>& addresses) {
    UncertainDialog dialog(m_parent, fromSjis(title), fromSjis(text), addresses);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace tarn::ui

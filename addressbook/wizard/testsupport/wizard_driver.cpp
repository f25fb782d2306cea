#include "wizard_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>

#include "ui/sjis_text.h"

namespace tarn::addressbook::wizard::test {

std::string sj(const QString& text) {
    return ui::toSjis(text).value();
}

MessageBoxCatcher::MessageBoxCatcher() {
    m_timer.setInterval(20);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible()) {
                seen << box->windowTitle() + "|" + box->text() + "|" + box->informativeText() +
                            "|" + box->detailedText();
                box->done(QMessageBox::Ok);
            }
        }
    });
    m_timer.start();
}

MessageBoxCatcher::~MessageBoxCatcher() = default;

bool choose(ImportWizard& w, const char* combo, const QString& text) {
    auto* box = child<QComboBox>(w, combo);
    const int at = box != nullptr ? box->findText(text) : -1;
    if (at < 0) {
        return false;
    }
    box->setCurrentIndex(at);
    return true;
}

void typeAndLeave(ImportWizard& w, const char* edit, const QString& text) {
    auto* e = child<QLineEdit>(w, edit);
    e->setText(text);
    emit e->editingFinished();
}

QStringList items(ImportWizard& w, const char* combo) {
    QStringList out;
    auto* box = child<QComboBox>(w, combo);
    for (int i = 0; box != nullptr && i < box->count(); ++i) {
        out << box->itemText(i);
    }
    return out;
}

void mapSampleColumns(ImportWizard& w) {
    choose(w, "slot0", "会社名");
    choose(w, "slot1", "部署名");
    choose(w, "slot2", "役職");
    choose(w, "slot3", "姓");
    choose(w, "slot4", "名");
    choose(w, "slot5", "E-Mail");
    choose(w, "slot6", "Freefield1");
    choose(w, "slot7", "会員番号");
    choose(w, "slot8", "登録日");
}

bool finish(ImportWizard& w) {
    for (int guard = 0; w.currentId() != ImportWizard::kReadyPage && guard < 10; ++guard) {
        w.next();
    }
    if (w.currentId() != ImportWizard::kReadyPage) {
        return false;
    }
    w.button(QWizard::FinishButton)->click();
    return w.result() == QDialog::Accepted;
}

}  // namespace tarn::addressbook::wizard::test

#include "dialog_support.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

#include "common/program.h"
#include "ui/sjis_text.h"

namespace tarn::options::gui {

void showMessage(QWidget* parent, std::string_view caption, const QString& text,
                 QMessageBox::Icon icon) {
    QMessageBox box(icon, qs(caption), text, QMessageBox::NoButton, parent);
    box.addButton(qs(kOk), QMessageBox::AcceptRole);
    box.exec();
}

bool askYesNo(QWidget* parent, std::string_view caption, const QString& text) {
    QMessageBox box(QMessageBox::Question, qs(caption), text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

std::optional<std::string> sjisText(QLineEdit* edit, std::string_view label,
                                    std::string_view caption) {
    Result<std::string> sjis = ui::toSjis(edit->text());
    if (sjis) {
        return std::move(*sjis);
    }
    showMessage(edit->window(), caption,
                qs(label) + QStringLiteral(": ") + qs(sjis.error().message));
    edit->setFocus();
    return std::nullopt;
}

void focusFirstChild(QWidget* page) {
    // The focus chain of a window is a ring; the page's controls lie on it in
    // tab order.
    int guard = 10000;
    for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page && --guard > 0;
         w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled() &&
            w->isVisibleTo(page)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void openHelp(QWidget* parent, std::string_view topic, std::string_view caption) {
    const std::filesystem::path page = programFolder() / "help" / "html" / std::string(topic);
    const QString path = QString::fromStdString(page.string());
    if (!QFileInfo::exists(path) || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        showMessage(parent, caption, QStringLiteral("ヘルプを表示できませんでした。\n%1").arg(path),
                    QMessageBox::Information);
    }
}

}  // namespace tarn::options::gui

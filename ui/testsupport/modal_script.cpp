#include "modal_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace tarn::ui::test {

ModalScript::ModalScript() {
    connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
    m_timer.start(5);
}

ModalScript& ModalScript::then(const QString& title, Step step, const QString& text) {
    m_steps.push_back({title, text, std::move(step)});
    return *this;
}

void ModalScript::press(QWidget* dialog, const QString& text) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
        QString label = b->text();
        label.remove(QLatin1Char('&'));
        if (label.startsWith(text) && b->isVisible()) {
            b->click();
            return;
        }
    }
    QStringList labels;
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
        labels << b->text();
    }
    qWarning("no button \"%s\" in \"%s\" (buttons: %s)", qPrintable(text),
             qPrintable(dialog->windowTitle()), qPrintable(labels.join(QStringLiteral(", "))));
}

void ModalScript::poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (w == nullptr || !w->isVisible()) {
        return;
    }
    if (m_current != nullptr && m_current == w && m_current->isVisible()) {
        return;  // handled already, still closing
    }
    // A window becomes the active modal one for a moment when the dialog in
    // front of it closes, before the code behind it goes on (and perhaps opens
    // the next one): act only on a window seen on two rounds in a row.
    if (m_candidate != w) {
        m_candidate = w;
        return;
    }
    if (m_steps.empty()) {
        if (m_unexpected != w) {
            m_unexpected = w;
            qWarning("a window nobody expected: \"%s\"", qPrintable(w->windowTitle()));
        }
        return;
    }
    m_current = w;
    Expected next = std::move(m_steps.front());
    m_steps.pop_front();
    m_seen << w->windowTitle();
    if (qEnvironmentVariableIsSet("TARN_MODAL_DEBUG")) {
        qWarning("modal %d: \"%s\"", static_cast<int>(m_seen.size()), qPrintable(w->windowTitle()));
    }
    if (w->windowTitle() != next.title) {
        m_failures
            << QStringLiteral("expected \"%1\", got \"%2\"").arg(next.title, w->windowTitle());
    }
    if (!next.text.isEmpty()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr || !box->text().contains(next.text)) {
            m_failures << QStringLiteral("\"%1\" does not say \"%2\" (it says \"%3\")")
                              .arg(w->windowTitle(), next.text,
                                   box != nullptr ? box->text() : QStringLiteral("(no text)"));
        }
    }
    // Act from the event loop, not from inside this poll.
    QTimer::singleShot(0, w, [w, step = std::move(next.step)] { step(w); });
}

}  // namespace tarn::ui::test

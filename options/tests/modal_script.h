// Answers the modal windows a dialog opens, one after another: each step gets
// the window that is modal when its turn comes (a message box, the account
// dialog, ...) and acts on it. A step must not open a modal window itself
// (the driving timer would wait inside it): it clicks with later().
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <utility>

namespace tarn::options::test {

// Clicks once control is back in the event loop.
inline void later(QAbstractButton* button) {
    QTimer::singleShot(0, button, &QAbstractButton::click);
}

class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget* modal)>;

    ModalScript() {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
        m_timer.start(10);
    }

    ModalScript& then(Step step) {
        m_steps.push_back(std::move(step));
        return *this;
    }
    // A message box: its text is recorded, and the button whose text is
    // `button` (the first one when empty) is clicked.
    ModalScript& answer(const QString& button = {}) {
        return then([this, button](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box == nullptr) {
                m_unexpected << modal->windowTitle();
                modal->close();
                return;
            }
            m_messages << box->text();
            for (QAbstractButton* b : box->buttons()) {
                if (button.isEmpty() || b->text() == button) {
                    later(b);
                    return;
                }
            }
        });
    }

    bool done() const { return m_steps.empty() && m_waitingFor.isNull(); }
    const QStringList& messages() const { return m_messages; }
    // Windows that came up where a message box was expected.
    const QStringList& unexpected() const { return m_unexpected; }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!m_waitingFor.isNull()) {
            if (modal == m_waitingFor) {
                return;  // the last step's action has not shown yet
            }
            m_waitingFor = nullptr;
        }
        if (modal == nullptr || m_steps.empty() || !modal->isVisible()) {
            return;
        }
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        m_waitingFor = modal;
        step(modal);
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    QPointer<QWidget> m_waitingFor;
    QStringList m_messages;
    QStringList m_unexpected;
};

}  // namespace tarn::options::test

// Drives modal windows from a test while the code under test sits in their
// event loops: each step waits (bounded) for the active modal window it names,
// then acts on it. A step may open the next modal window itself.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QTimer>

#include <deque>
#include <functional>

namespace tarn::editor::test {

class ModalDriver : public QObject {
public:
    struct Step {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> act;
    };

    explicit ModalDriver(std::deque<Step> steps, int timeoutMs = 20000)
        : m_steps(std::move(steps)), m_deadline(timeoutMs) {
        schedule();
    }

    // True when every step ran; false when one did not find its window in time.
    bool finished() const { return m_steps.empty() && !m_timedOut; }

private:
    // A new single-shot timer each round: Qt never fires a timer again while
    // its own handler runs, and a step's action runs a nested modal loop.
    void schedule() {
        QTimer::singleShot(10, this, [this] { poll(); });
    }

    void poll() {
        if (m_steps.empty()) {
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && m_steps.front().matches(modal)) {
            Step step = std::move(m_steps.front());
            m_steps.pop_front();
            schedule();
            step.act(modal);  // may block in a nested loop, where polling goes on
            return;
        }
        if (m_deadline.hasExpired()) {
            // Give up without hanging the test: end whatever modal loop there is.
            m_timedOut = true;
            m_steps.clear();
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->done(0);
            }
            return;
        }
        schedule();
    }

    std::deque<Step> m_steps;
    QDeadlineTimer m_deadline;
    bool m_timedOut = false;
};

}  // namespace tarn::editor::test

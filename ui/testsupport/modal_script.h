// Answers the modal dialogs and message boxes a test expects, in order, as
// they appear: a person at the keyboard, scripted.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

class QWidget;

namespace tarn::ui::test {

class ModalScript : public QObject {
    Q_OBJECT
public:
    using Step = std::function<void(QWidget*)>;

    ModalScript();

    // The next modal window must carry `title` (and, when given, contain
    // `text` in a message box); `step` acts on it.
    ModalScript& then(const QString& title, Step step, const QString& text = {});

    bool done() const { return m_steps.empty(); }
    // What went wrong: a window with another title, or text that was missing.
    const QStringList& failures() const { return m_failures; }
    // Every modal window's title, in the order they came.
    const QStringList& seen() const { return m_seen; }

    // Presses the button whose text starts with `text` in `dialog`.
    static void press(QWidget* dialog, const QString& text);

private:
    void poll();

    struct Expected {
        QString title;
        QString text;
        Step step;
    };
    std::deque<Expected> m_steps;
    QStringList m_failures;
    QStringList m_seen;
    QPointer<QWidget> m_current;
    QPointer<QWidget> m_unexpected;
    QPointer<QWidget> m_candidate;
    QTimer m_timer;
};

}  // namespace tarn::ui::test

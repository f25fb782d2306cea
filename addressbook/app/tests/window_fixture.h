// What the window tests share: a main window over a private profile and
// registry file, books built in code, and answers to the modal boxes and
// dialogs a command opens.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "main_window.h"
#include "testsupport.h"

namespace tarn::gpsend::test {

std::string sj(const char* utf8);

// A person for the books the tests build: name, address, folder, status.
addressbook::Record person(const char* nameUtf8, const std::string& email, std::uint16_t folder = 0,
                           std::int32_t status = addressbook::kStatusNormal);

class WindowFixture {
public:
    WindowFixture();
    ~WindowFixture();
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    MainWindow& window() { return *m_window; }
    addressbook::CTarnSendDoc& doc() { return m_window->document(); }
    addressbook::ListViewState& list() { return m_window->listState(); }
    AppContext& context() { return m_context; }
    const tarn::test::TempDir& dir() const { return m_dir; }

    // Five people in the new document's folders 1 and 2 and no folder, not modified.
    void fillBook();
    // The names in the list, row by row, with the send order: "佐藤:1 鈴木:2".
    QString rows() const;
    // Names in record order.
    QString book() const;
    // Selects these rows of the list (and makes the first current).
    void selectRows(const std::vector<int>& rows);
    // A new window over the same profile (to see what the last one kept).
    void reopen();

private:
    tarn::test::TempDir m_dir;
    AppContext m_context;
    std::unique_ptr<MainWindow> m_window;
};

// Answers the next modal widget that `act` accepts (returns true for), within
// 10 s. Returns at once; the answer comes while the command runs. The answer
// is withdrawn when the returned Pending goes out of scope unanswered, so that
// a box that never came cannot take the answer meant for a later one.
class Pending {
public:
    Pending(QTimer* timer, std::shared_ptr<bool> done) : m_timer(timer), m_done(std::move(done)) {}
    Pending(Pending&& other) noexcept = default;
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending();
    // True once the widget came and was answered.
    bool answered() const { return m_done && *m_done; }

private:
    QPointer<QTimer> m_timer;
    std::shared_ptr<bool> m_done;
};
[[nodiscard]] Pending onNextModal(const std::function<bool(QWidget*)>& act);

// The next message box: its text is kept in *seen, then `button` is pressed.
[[nodiscard]] Pending answerNextBox(QMessageBox::StandardButton button, QString* seen = nullptr);

template <class T>
[[nodiscard]] Pending onNext(std::function<void(T*)> act) {
    return onNextModal([act](QWidget* w) {
        if (auto* t = qobject_cast<T*>(w)) {
            act(t);
            return true;
        }
        return false;
    });
}

}  // namespace tarn::gpsend::test

#include "window_fixture.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDialog>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTimer>

#include "common/cp932.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend::test {

std::string sj(const char* utf8) {
    return cp932::fromUtf8(utf8).value();
}

addressbook::Record person(const char* nameUtf8, const std::string& email, std::uint16_t folder,
                           std::int32_t status) {
    addressbook::Record r;
    r.setText(addressbook::Field::Name, sj(nameUtf8));
    r.setText(addressbook::Field::Email, email);
    r.setText(addressbook::Field::Company, sj("株式会社みどり商事"));
    r.setText(addressbook::Field::Honorific, sj("様"));
    r.setFolder(folder);
    r.setStatus(status);
    return r;
}

WindowFixture::WindowFixture() {
    m_context.store = SettingsStore(m_dir / "registry");
    m_context.profile = std::make_unique<Profile>(std::make_unique<QSettings>(
        QString::fromStdString((m_dir / "profile.ini").string()), QSettings::IniFormat));
    m_window = std::make_unique<MainWindow>(m_context);
    m_window->resize(1000, 600);
}

WindowFixture::~WindowFixture() {
    if (m_window) {
        m_window->document().setModifiedFlag(false);
    }
}

void WindowFixture::reopen() {
    m_window->saveLayout();
    m_window.reset();
    m_context.profile = std::make_unique<Profile>(std::make_unique<QSettings>(
        QString::fromStdString((m_dir / "profile.ini").string()), QSettings::IniFormat));
    m_window = std::make_unique<MainWindow>(m_context);
}

void WindowFixture::fillBook() {
    std::vector<addressbook::Record> people = {
        person("佐藤", "sato@example.jp", 1),
        person("鈴木", "suzuki@example.jp", 2, addressbook::kStatusInvalid),
        person("高橋", "takahashi@example.jp", 1),
        person("田中", "tanaka@example.jp", 0),
        person("伊藤", "ito@example.jp", 1, addressbook::kStatusSendError),
    };
    if (!doc().appendRecords(people)) {
        qFatal("the test book could not be built");
    }
    doc().setModifiedFlag(false);
}

QString WindowFixture::rows() const {
    QStringList out;
    const auto& l = m_window->listState();
    for (std::size_t row = 0; row < l.recordRowCount(); ++row) {
        out << ui::fromSjis(l.text(row, addressbook::ListColumn::Name)) + ":" +
                   ui::fromSjis(l.text(row, addressbook::ListColumn::SendOrder));
    }
    return out.join(QLatin1Char(' '));
}

QString WindowFixture::book() const {
    QStringList out;
    const auto& d = m_window->document();
    for (std::size_t i = 0; i < d.recordCount(); ++i) {
        out << ui::fromSjis(d.record(i).name());
    }
    return out.join(QLatin1Char(' '));
}

void WindowFixture::selectRows(const std::vector<int>& rows) {
    QTableView* view = m_window->listView();
    view->clearSelection();
    for (int r : rows) {
        view->selectionModel()->select(view->model()->index(r, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    if (!rows.empty()) {
        view->selectionModel()->setCurrentIndex(view->model()->index(rows.front(), 0),
                                                QItemSelectionModel::NoUpdate);
    }
}

Pending::~Pending() {
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
    }
}

Pending onNextModal(const std::function<bool(QWidget*)>& act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    const QDeadlineTimer deadline(10'000);
    auto done = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, [timer, act, deadline, done] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && act(modal)) {
            *done = true;
            timer->stop();
            timer->deleteLater();
        } else if (deadline.hasExpired() && modal != nullptr) {
            // Not what the test expected: close it, so that the test fails
            // on its checks instead of waiting for ever.
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                qWarning("closing an unexpected dialog: %s", qPrintable(dialog->windowTitle()));
                dialog->reject();
            }
        }
    });
    timer->start();
    return Pending(timer, done);
}

Pending answerNextBox(QMessageBox::StandardButton button, QString* seen) {
    return onNext<QMessageBox>([button, seen](QMessageBox* box) {
        if (seen != nullptr) {
            *seen = box->text();
        }
        if (QAbstractButton* b = box->button(button)) {
            b->click();
        } else {
            qWarning("the box has no such button: %s", qPrintable(box->text()));
            box->reject();
        }
    });
}

}  // namespace tarn::gpsend::test

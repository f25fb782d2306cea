#include "ui/progress_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <limits>

#include "driver/progress_ui.h"
#include "ui/log_commands.h"
#include "ui/message_box.h"
#include "ui/sjis_text.h"

namespace tarn::ui {
namespace {

// The bar takes int; engine sizes and counts fit, but a range is clamped
// rather than wrapped.
int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<int>::max()));
}

}  // namespace

// The job's reports, applied to the window's widgets.
class ProgressDialog::Reports : public driver::ProgressUi {
public:
    explicit Reports(ProgressDialog& d) : m_d(d) {}

    void open(std::string_view title) override {
        m_d.setWindowTitle(fromSjis(title));
        m_d.show();
        m_d.raise();
        m_d.activateWindow();
    }
    void setTitle(std::string_view title) override { m_d.setWindowTitle(fromSjis(title)); }
    void setStatusLine(std::string_view text) override { m_d.m_status->setText(fromSjis(text)); }
    void setTimeLine(std::string_view text) override { m_d.m_time->setText(fromSjis(text)); }
    void setAddressLine(std::string_view text) override { m_d.m_address->setText(fromSjis(text)); }
    void setRange(std::int64_t maximum) override {
        m_d.m_bar->setRange(0, std::max(1, clampToInt(maximum)));
        m_d.m_bar->setValue(0);
    }
    void setPosition(std::int64_t position) override {
        m_d.m_bar->setValue(std::min(clampToInt(position), m_d.m_bar->maximum()));
    }
    void progress(const driver::RunProgress& p) override {
        QString text = QStringLiteral("%1 / %2 件").arg(p.done).arg(p.total);
        if (p.level > 0) {
            text = QStringLiteral("レベル%1  ").arg(p.level) + text;
        }
        m_d.m_counts->setText(text +
                              QStringLiteral("    OK %1 件    NG %2 件").arg(p.ok).arg(p.ng));
    }
    bool askStop() override {
        return askYesNo(&m_d, QStringLiteral("ターノス - 確認"), QStringLiteral("中止しますか？"));
    }
    void errorBox(std::string_view title, std::string_view text) override {
        tell(m_d.isVisible() ? static_cast<QWidget*>(&m_d) : m_d.parentWidget(), fromSjis(title),
             fromSjis(text), QMessageBox::Critical);
    }
    void finish(std::string_view logPath, std::string_view viewer) override {
        m_d.showFinished(std::string(logPath), std::string(viewer));
    }
    void close() override { m_d.hide(); }

private:
    ProgressDialog& m_d;
};

ProgressDialog::ProgressDialog(QWidget* parent)
    : QDialog(parent),
      m_reports(std::make_unique<Reports>(*this)),
      m_status(new QLabel(this)),
      m_time(new QLabel(this)),
      m_address(new QLabel(this)),
      m_counts(new QLabel(this)),
      m_bar(new QProgressBar(this)),
      m_stopButton(new QPushButton(QStringLiteral("中止(&S)"), this)),
      m_logButton(new QPushButton(QStringLiteral("ログ表示(&L)"), this)) {
    setModal(false);
    setMinimumWidth(460);
    // Each line keeps its height when empty; measured with Japanese text,
    // whose fallback font is taller than the Latin one.
    const int lineHeight = [this] {
        QLabel probe(QStringLiteral("送信アドレス : ｇ"), this);
        return probe.sizeHint().height();
    }();
    for (QLabel* l : {m_status, m_time, m_address, m_counts}) {
        l->setTextFormat(Qt::PlainText);
        l->setMinimumHeight(lineHeight);
    }
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_bar->setTextVisible(false);
    m_logButton->hide();
    // Enter does not stop a run; once it has finished, Enter closes.
    m_stopButton->setAutoDefault(false);
    m_logButton->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_logButton);
    buttons->addWidget(m_stopButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_time);
    layout->addWidget(m_address);
    layout->addWidget(m_bar);
    layout->addWidget(m_counts);
    layout->addLayout(buttons);

    connect(m_stopButton, &QPushButton::clicked, this, &ProgressDialog::pressStop);
    connect(m_logButton, &QPushButton::clicked, this, &ProgressDialog::openLog);
    // The letters work without Alt, as in the dialogs people know.
    connect(new QShortcut(QKeySequence(Qt::Key_S), this), &QShortcut::activated, this, [this] {
        if (!m_finished) {
            pressStop();
        }
    });
    connect(new QShortcut(QKeySequence(Qt::Key_C), this), &QShortcut::activated, this, [this] {
        if (m_finished) {
            pressStop();
        }
    });
    connect(new QShortcut(QKeySequence(Qt::Key_L), this), &QShortcut::activated, this, [this] {
        if (m_finished && m_logButton->isVisible()) {
            openLog();
        }
    });
}

ProgressDialog::~ProgressDialog() = default;

driver::ProgressUi& ProgressDialog::progressUi() {
    return *m_reports;
}

QString ProgressDialog::statusText() const {
    return m_status->text();
}
QString ProgressDialog::timeText() const {
    return m_time->text();
}
QString ProgressDialog::addressText() const {
    return m_address->text();
}
QString ProgressDialog::countsText() const {
    return m_counts->text();
}
int ProgressDialog::barValue() const {
    return m_bar->value();
}
int ProgressDialog::barMaximum() const {
    return m_bar->maximum();
}

void ProgressDialog::pressStop() {
    if (m_finished) {
        hide();
        emit closedAfterFinish();
    } else if (m_stop) {
        m_stop();
    }
}

void ProgressDialog::reject() {
    pressStop();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    // The window's close box is the stop button too; it never just vanishes
    // while the run goes on.
    event->ignore();
    pressStop();
}

void ProgressDialog::showFinished(const std::string& logPath, const std::string& viewer) {
    m_finished = true;
    m_logPath = logPath;
    m_viewer = viewer;
    m_stopButton->setText(QStringLiteral("閉じる(&C)"));
    m_stopButton->setAutoDefault(true);
    m_stopButton->setDefault(true);
    m_logButton->setAutoDefault(true);
    m_logButton->setVisible(!logPath.empty());
    show();
}

void ProgressDialog::openLog() {
    if (showLog(this, m_viewer, m_logPath, m_start)) {
        hide();
        emit closedAfterFinish();
    }
}

}  // namespace tarn::ui

#include "test_send_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialog_support.h"
#include "options/texts.h"

namespace tarn::options::gui {
namespace {

QString stageText(TestSendStage stage) {
    switch (stage) {
        case TestSendStage::DialUp:
            return QStringLiteral("ダイヤルアップ接続中...");
        case TestSendStage::PopBeforeSmtp:
            return QStringLiteral("POP before SMTP の認証中...");
        case TestSendStage::Connect:
            return QStringLiteral("SMTPサーバーに接続中...");
        case TestSendStage::Start:
            return QStringLiteral("SMTPサーバーとの通信を開始しています...");
        case TestSendStage::Send:
            return QStringLiteral("テストメールを送信中...");
        case TestSendStage::Disconnect:
            return QStringLiteral("切断中...");
    }
    return {};
}

}  // namespace

TestSendDialog::TestSendDialog(TestSendRequest request, QWidget* parent)
    : QDialog(parent),
      m_request(std::move(request)),
      m_address(new QLineEdit(this)),
      m_status(new QLabel(this)),
      m_send(new QPushButton(QStringLiteral("送信"), this)),
      m_cancel(new QPushButton(qs(kCancel), this)) {
    setWindowTitle(qs(text::kTestSendCaption));
    m_address->setObjectName(QStringLiteral("address"));
    m_address->setMaxLength(128);
    m_address->setMinimumWidth(340);
    m_status->setObjectName(QStringLiteral("status"));
    m_send->setObjectName(QStringLiteral("send"));
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_send->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_send);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("テストメール送信先のEmailアドレスを入力して下さい。"), this));
    layout->addWidget(m_address);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_send, &QPushButton::clicked, this, &TestSendDialog::send);
    connect(m_cancel, &QPushButton::clicked, this, &TestSendDialog::reject);
}

TestSendDialog::~TestSendDialog() = default;

void TestSendDialog::send() {
    if (m_test.running()) {
        return;
    }
    const auto to = sjisText(m_address, "送信先", text::kTestSendCaption);
    if (!to) {
        return;
    }
    TestSendRequest request = m_request;
    request.to = *to;
    setRunning(true);
    // The callbacks run on the test's thread; the window's work is posted to
    // its own thread (and dropped if the window is gone by then).
    const bool started = m_test.start(
        std::move(request),
        [this](TestSendStage stage) {
            QMetaObject::invokeMethod(
                this, [this, stage] { showStage(stage); }, Qt::QueuedConnection);
        },
        [this](const TestSendOutcome& outcome) {
            QMetaObject::invokeMethod(
                this, [this, outcome] { finished(outcome); }, Qt::QueuedConnection);
        });
    if (!started) {
        setRunning(false);
    }
}

void TestSendDialog::showStage(TestSendStage stage) {
    if (m_test.running() && !m_closeWhenDone) {
        m_status->setText(stageText(stage));
    }
}

void TestSendDialog::finished(const TestSendOutcome& outcome) {
    m_test.wait();
    setRunning(false);
    if (m_closeWhenDone) {
        QDialog::reject();
        return;
    }
    const bool good = outcome.kind == TestSendOutcome::Kind::Sent ||
                      outcome.kind == TestSendOutcome::Kind::Cancelled;
    showMessage(this, text::kTestSendCaption, qs(outcome.message),
                good ? QMessageBox::Information : QMessageBox::Warning);
    // The window stays open for another try.
    m_address->setFocus();
    emit testFinished(static_cast<int>(outcome.kind));
}

void TestSendDialog::setRunning(bool running) {
    m_send->setEnabled(!running);
    m_address->setReadOnly(running);
    if (!running) {
        m_status->clear();
    }
}

void TestSendDialog::reject() {
    if (!m_test.running()) {
        QDialog::reject();
        return;
    }
    m_status->setText(QStringLiteral("中止しています..."));
    m_test.cancel();
}

void TestSendDialog::closeEvent(QCloseEvent* event) {
    if (m_test.running()) {
        // Closing while a test runs stops it; the window goes when it has ended.
        m_closeWhenDone = true;
        m_status->setText(QStringLiteral("中止しています..."));
        m_test.cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace tarn::options::gui

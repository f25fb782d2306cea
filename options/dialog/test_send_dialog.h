// "ターノス - テスト送信": asks for an address and sends the test message through
// the account being edited. The test runs on a thread of its own, so the window
// stays alive; "キャンセル" stops a running test and closes an idle window.
#pragma once

#include <QDialog>

#include "options/test_send.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarn::options::gui {

class TestSendDialog : public QDialog {
    Q_OBJECT
public:
    // `request` carries the account and the seams (SMTPAuth.txt, dial-up); its
    // address is what the field holds when "送信" is pressed.
    TestSendDialog(TestSendRequest request, QWidget* parent);
    ~TestSendDialog() override;

    bool running() const { return m_test.running(); }

signals:
    // After each test's message box was closed; for tests of the window.
    void testFinished(int kind);

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void send();
    void showStage(TestSendStage stage);
    void finished(const TestSendOutcome& outcome);
    void setRunning(bool running);

    TestSendRequest m_request;
    QLineEdit* m_address;
    QLabel* m_status;
    QPushButton* m_send;
    QPushButton* m_cancel;
    bool m_closeWhenDone = false;
    BackgroundTestSend m_test;  // last: joined before the widgets go
};

}  // namespace tarn::options::gui

// The send command's windows on a real X server (Xvfb, xcb platform), saved as
// pictures for a person to look at: the confirmation, the progress window in
// the middle of a run and when it has finished, the time and waiting dialogs
// and the check settings.
#include <QPushButton>
#include <QTest>

#include "driver/book_sources.h"
#include "modal_script.h"
#include "run_fixture.h"
#include "screenshot.h"
#include "ui/check_command.h"
#include "ui/progress_dialog.h"
#include "ui/send_command.h"
#include "ui/send_dialogs.h"

using namespace tarn;
using namespace tarn::ui;
using namespace tarn::ui::test;

namespace {

constexpr int kLimitMs = 30000;

// Lets the window paint, then saves it; false when nothing could be saved.
bool shoot(QWidget* w, const QString& name) {
    QTest::qWait(300);
    const QString path = saveScreenshot(w, name);
    qInfo("screenshot: %s", qPrintable(path));
    return !path.isEmpty();
}

}  // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT
private slots:
    void sendWindows() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        fx.book(
            {{"佐藤 一郎", "ichiro@midori.example.co.jp", 0, "株式会社みどり商事"},
             {"鈴木 花子", "hanako@aoba.example.jp", 0, "青葉電機株式会社"},
             {"高橋 次郎", "jiro@tsubasa.example.co.jp", 0, "株式会社つばさ物流"},
             {"田中 三郎", "saburo@hikari.example.jp", 0, "ひかり通信株式会社"},
             {"山本 四郎", "shiro@example.jp", 0, ""}});  // the pre-flight notes the empty company
        contents::SendContents c;
        c.subject = sj("【ご案内】&[会社名] &[名前]様 新製品説明会のお知らせ");
        c.body = contents::normaliseBodyLineEnds(
            sj("&[会社名]\n&[名前] 様\n\nいつもお世話になっております。\n"
               "来月の新製品説明会のご案内をお送りいたします。\n"
               "ご多忙のところ恐縮ですが、ぜひご参加ください。\n"));
        fx.writeContents(c);
        fx.settings.WaitMSec = 1500;  // slow enough to catch the run in the middle

        QWidget window;
        window.resize(900, 600);
        window.show();
        SendCommandSetup setup;
        setup.job.settings = fx.settings;
        setup.job.contentsPath = sj(fx.path("message.tnm").string());
        setup.job.options.recipientSourceName = sj(fx.path("book.tn2").string());
        setup.job.options.smtpAuthFile = fx.path("no-SMTPAuth.txt");
        setup.recipients = [&fx] {
            return std::make_unique<driver::BookRecipients>(fx.doc(), fx.view());
        };
        SendCommand command(&window, setup);
        int ended = -1;
        connect(&command, &JobCommand::runEnded, this, [&](int r) { ended = r; });
        bool confirmationSaved = false;
        ModalScript modals;
        modals.then(QStringLiteral("ターノス  確認"), [&](QWidget* w) {
            confirmationSaved = shoot(w, QStringLiteral("send_confirmation"));
            ModalScript::press(w, QStringLiteral("送信"));
        });
        QVERIFY(command.execute());
        QVERIFY(confirmationSaved);

        ProgressDialog* progress = command.progressDialog();
        QVERIFY(QTest::qWaitFor(
            [&] {
                return fx.recordedCount() >= 1 &&
                       progress->statusText().contains(QStringLiteral("人中"));
            },
            kLimitMs));
        QVERIFY(shoot(progress, QStringLiteral("progress_running")));
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 0);
        QVERIFY(shoot(progress, QStringLiteral("progress_finished")));
        progress->stopButton()->click();
    }

    void timeWaitAndCheckDialogs() {
        TimeDialog time(nullptr);
        time.show();
        QVERIFY(shoot(&time, QStringLiteral("time_dialog")));
        WaitDialog wait(nullptr, std::time(nullptr) + 3600);
        wait.show();
        QVERIFY(shoot(&wait, QStringLiteral("waiting_dialog")));
        CheckSettings check{};
        check.CheckMode = 1;
        setFieldText(check.CheckLogFileName, sj("/home/jimu/ログ/check.log"));
        CheckSettingsDialog settings(check, true, nullptr, 0xC0A80101);
        settings.show();
        QVERIFY(shoot(&settings, QStringLiteral("check_settings")));
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "screenshots_test.moc"

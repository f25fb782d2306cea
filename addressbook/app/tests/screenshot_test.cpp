// Once on a real X server (xcb under Xvfb): the sample book in the main
// window, the record editor and the folder editor, and a send and a check
// started from the window's menu (the send to the recording SMTP server),
// saved as screenshots for a person to look at.
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "folder_dialogs.h"
#include "icons.h"
#include "modal_script.h"
#include "record_dialogs.h"
#include "run_fixture.h"
#include "screenshot.h"
#include "ui/progress_dialog.h"
#include "ui/sjis_text.h"
#include "window_fixture.h"

using namespace tarn::gpsend;
using tarn::addressbook::TreeSelection;
using tarn::ui::test::saveScreenshot;

class GroupSendScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void theSampleBookAndTheEditors() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        test::WindowFixture f;
        MainWindow& w = f.window();
        w.resize(1100, 520);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openBook(QStringLiteral(TARN_SOURCE_DIR "/samples/sample.tn2")));
        QCOMPARE(f.doc().recordCount(), 6u);
        // one record with an error status, to show the overlay
        QVERIFY(f.doc()
                    .setStatuses(std::vector<tarn::addressbook::StatusUpdate>{
                        {&f.doc().record(2), tarn::addressbook::kStatusSendError}})
                    .ok());
        f.selectRows({1});
        QTest::qWait(50);
        QVERIFY(!saveScreenshot(&w, QStringLiteral("gpsend_main")).isEmpty());

        // The send menu, with the command that sends again to the one record
        // whose send failed.
        QMenu* send = w.menu(MainWindow::Menu::Send);
        QVERIFY(w.action(MainWindow::Command::SendFailed)->isEnabled());
        send->popup(w.mapToGlobal(QPoint(120, 30)));
        QVERIFY(QTest::qWaitForWindowExposed(send));
        QVERIFY(!saveScreenshot(send, QStringLiteral("gpsend_send_menu")).isEmpty());
        send->hide();

        RecordEditorDialog editor(w.editor(), 0, &w);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QVERIFY(!saveScreenshot(&editor, QStringLiteral("gpsend_record_editor")).isEmpty());
        editor.reject();

        const auto& folder = f.doc().folders().at(0);
        FolderEditor folderEditor(FolderEditor::Kind::Folder, 1, folder.icon,
                                  tarn::ui::fromSjis(folder.name), &w);
        folderEditor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&folderEditor));
        QVERIFY(!saveScreenshot(&folderEditor, QStringLiteral("gpsend_folder_editor")).isEmpty());

        IconChooser chooser(7, &w);
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QVERIFY(!saveScreenshot(&chooser, QStringLiteral("gpsend_icon_chooser")).isEmpty());

        // Every icon at 16 and at 32 pixels, and the application icon, on one sheet.
        QPixmap sheet(26 * 34 + 16, 8 * 40 + 16);
        sheet.fill(Qt::white);
        {
            QPainter g(&sheet);
            for (int n = kFirstIcon; n <= kLastIcon; ++n) {
                const int i = n - kFirstIcon;
                const QIcon icon = n == kFirstIcon + 1 ? folderIconWithOverlay(n) : folderIcon(n);
                g.drawPixmap(8 + (i % 26) * 34, 8 + (i / 26) * 24, icon.pixmap(16, 16));
                g.drawPixmap(8 + (i % 26) * 34, 112 + (i / 26) * 38, icon.pixmap(32, 32));
            }
            g.drawPixmap(8, 272, applicationIcon().pixmap(16, 16));
            g.drawPixmap(32, 272, applicationIcon().pixmap(32, 32));
            g.drawPixmap(72, 272, applicationIcon().pixmap(48, 48));
        }
        QLabel icons;
        icons.setPixmap(sheet);
        icons.show();
        QVERIFY(QTest::qWaitForWindowExposed(&icons));
        QVERIFY(!saveScreenshot(&icons, QStringLiteral("gpsend_icons")).isEmpty());

        QLabel splash;
        splash.setPixmap(splashPicture());
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QVERIFY(!saveScreenshot(&splash, QStringLiteral("gpsend_splash")).isEmpty());
    }

    void aSendAndACheckFromTheMenu() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        using tarn::ui::test::ModalScript;
        tarn::ui::test::RunFixture fx;
        QVERIFY2(fx.startRecorder({"--refuse", "info@tsubasa-butsuryu.example.co.jp"}),
                 fx.recorderOutput().c_str());
        tarn::contents::SendContents c;
        c.subject = test::sj("【ご案内】&[会社名] &[名前]様 新製品説明会のお知らせ");
        c.body = tarn::contents::normaliseBodyLineEnds(
            test::sj("&[会社名]\n&[名前] 様\n\nいつもお世話になっております。\n"
                     "来月の新製品説明会のご案内をお送りいたします。\n"));
        fx.writeContents(c);
        fx.settings.WaitMSec = 1500;  // slow enough to catch the run in the middle
        test::WindowFixture f;
        f.context().settings = fx.settings;
        f.context().contFileName = test::sj(fx.path("message.tnm").string().c_str());
        MainWindow& w = f.window();
        w.resize(1100, 520);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // A copy: a send keeps its journal beside the book, never in the sources.
        std::filesystem::copy_file(TARN_SOURCE_DIR "/samples/sample.tn2", fx.path("sample.tn2"));
        QVERIFY(w.openBook(QString::fromStdString(fx.path("sample.tn2").string())));
        const std::size_t records = f.doc().recordCount();

        ModalScript modals;
        modals.then(QStringLiteral("ターノス  確認"),
                    [](QWidget* d) { ModalScript::press(d, QStringLiteral("送信")); });
        w.action(MainWindow::Command::SendMail)->trigger();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        tarn::ui::JobCommand* send = w.runningCommand();
        QVERIFY(send != nullptr);
        tarn::ui::ProgressDialog* progress = send->progressDialog();
        QVERIFY(QTest::qWaitFor(
            [&] {
                return fx.recordedCount() >= 1 &&
                       progress->statusText().contains(QStringLiteral("人中"));
            },
            30000));
        QTest::qWait(300);
        QVERIFY(!saveScreenshot(progress, QStringLiteral("gpsend_send_running")).isEmpty());
        QVERIFY(!saveScreenshot(&w, QStringLiteral("gpsend_window_during_send")).isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return progress->isFinished(); }, 120000));
        QTest::qWait(300);
        QVERIFY(!saveScreenshot(progress, QStringLiteral("gpsend_send_finished")).isEmpty());
        progress->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, 30000));
        QCOMPARE(f.doc().recordCount(), records);
        QCOMPARE(f.doc().record(4).status(), tarn::addressbook::kStatusSendError);
        QTest::qWait(300);
        QVERIFY(!saveScreenshot(&w, QStringLiteral("gpsend_window_after_send")).isEmpty());

        modals
            .then(QStringLiteral("メールアドレスチェックの設定"),
                  [](QWidget* d) { ModalScript::press(d, QStringLiteral("OK")); })
            .then(QStringLiteral("ターノス - 確認"),
                  [](QWidget* d) { ModalScript::press(d, QStringLiteral("はい")); });
        w.action(MainWindow::Command::CheckAddresses)->trigger();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        tarn::ui::JobCommand* check = w.runningCommand();
        QVERIFY(check != nullptr);
        QVERIFY(QTest::qWaitFor([&] { return check->progressDialog()->isFinished(); }, 30000));
        QTest::qWait(300);
        QVERIFY(!saveScreenshot(check->progressDialog(), QStringLiteral("gpsend_check_finished"))
                     .isEmpty());
        check->progressDialog()->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, 30000));
        QTest::qWait(300);
        QVERIFY(!saveScreenshot(&w, QStringLiteral("gpsend_window_after_check")).isEmpty());
        f.doc().setModifiedFlag(false);
    }
};

QTEST_MAIN(GroupSendScreenshotTest)
#include "screenshot_test.moc"

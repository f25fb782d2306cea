// Once on a real X server (xcb under Xvfb): the sample book in the main
// window, the record editor and the folder editor, saved as screenshots for a
// person to look at.
#include <QLabel>
#include <QPainter>
#include <QTableView>
#include <QTest>

#include "folder_dialogs.h"
#include "icons.h"
#include "record_dialogs.h"
#include "screenshot.h"
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
};

QTEST_MAIN(GroupSendScreenshotTest)
#include "screenshot_test.moc"

// The database-send window on a real X server (Xvfb, xcb platform), each of
// its four tabs saved as a picture for a person to look at.
#include <QComboBox>
#include <QTabWidget>
#include <QTest>

#include "main_dialog.h"
#include "screenshot.h"
#include "source_page.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::dbsendapp;

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void everyTab() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        test::TempDir home;
        qputenv("TARN_HOME", QByteArray::fromStdString(home.path().string()));
        qputenv("TARN_REGISTRY", QByteArray::fromStdString((home / "registry").string()));
        AppContext context;
        MainDialog dialog(context);
        const QString data = QStringLiteral(TARN_TESTDATA);
        QCOMPARE(dialog.page(0)->setSource(data + "/xls/recipients97.xls"), 0);
        QCOMPARE(dialog.page(1)->setSource(data + "/mdb/nwind.mdb"), 0);
        QCOMPARE(dialog.page(3)->setSource(data + "/csv/recipients_sjis.csv"), 0);
        for (SourcePage* p : {dialog.page(0), dialog.page(3)}) {
            p->slotBox(dbsend::kEmail)->setCurrentIndex(p->slotBox(0)->findText("E-Mail"));
            p->slotBox(dbsend::kCompany)->setCurrentIndex(1);
            p->setHonorific(QStringLiteral("様"));
        }
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const char* names[] = {"dbsend_excel", "dbsend_access", "dbsend_odbc", "dbsend_csv"};
        for (int i = 0; i < 4; ++i) {
            dialog.tabs()->setCurrentIndex(i);
            QTest::qWait(300);
            const QString path = ui::test::saveScreenshot(&dialog, QString::fromLatin1(names[i]));
            qInfo("screenshot: %s", qPrintable(path));
            QVERIFY(!path.isEmpty());
        }
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"

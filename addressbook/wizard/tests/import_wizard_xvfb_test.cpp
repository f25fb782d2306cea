// The wizard on a real X server: screenshots of the source page and the mapping
// page with Japanese fields, for a person to look at.
#include <QtTest>

#include "screenshot.h"
#include "ui/sjis_text.h"
#include "wizard_driver.h"

using namespace tarn::addressbook;
using namespace tarn::addressbook::wizard;
using namespace tarn::addressbook::wizard::test;

class ImportWizardScreens : public QObject {
    Q_OBJECT
private slots:
    void sourceAndMappingPages() {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        CTarnSendDoc doc;
        QVERIFY(doc.OnNewDocument(defaultFreeFieldTitles()).ok());
        ImportWizardState state;
        ImportWizard w(doc, state, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!tarn::ui::test::saveScreenshot(&w, "import_wizard_kind").isEmpty());
        w.setField("kind", int(ImportKind::Csv));
        w.next();
        typeAndLeave(w, "file", QString::fromUtf8(TARN_TESTDATA) + "/csv/recipients_sjis.csv");
        QTest::qWait(50);
        QVERIFY(!tarn::ui::test::saveScreenshot(&w, "import_wizard_source").isEmpty());
        w.next();
        mapSampleColumns(w);
        child<QComboBox>(w, "honorific")->setCurrentText("様");
        QTest::qWait(50);
        QVERIFY(!tarn::ui::test::saveScreenshot(&w, "import_wizard_mapping").isEmpty());
        w.next();
        QTest::qWait(50);
        QVERIFY(!tarn::ui::test::saveScreenshot(&w, "import_wizard_free").isEmpty());
    }
};

QTEST_MAIN(ImportWizardScreens)
#include "import_wizard_xvfb_test.moc"

// The database-send window on the offscreen platform: the pages list the
// repository's tables and fields, refuse what the core refuses with its codes
// and the focus on the box to mend, and keep their choices per data file.
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QValidator>

#include "common/cp932.h"
#include "main_dialog.h"
#include "source_page.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::dbsendapp;

namespace {

const QString kData = QStringLiteral(TARN_TESTDATA);

void choose(QComboBox* box, const QString& text) {
    const int i = box->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    box->setCurrentIndex(i);
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The mapping files go beside the program: here, a folder of the test's own.
        qputenv("TARN_HOME", QByteArray::fromStdString(m_home.path().string()));
        qputenv("TARN_REGISTRY", QByteArray::fromStdString((m_home / "registry").string()));
    }

    void titlesAndTabs() {
        AppContext context;
        MainDialog dialog(context);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("ターノス - データベース送信"));
        QCOMPARE(dialog.tabs()->count(), 4);
        QCOMPARE(dialog.tabs()->tabText(0), QStringLiteral("Excel送信"));
        QCOMPARE(dialog.tabs()->tabText(3), QStringLiteral("CSVテキスト送信"));
        QCOMPARE(dialog.page(0)->slotBox(0)->itemText(0), QStringLiteral("<<設定しない>>"));
    }

    void workbookSheetsAreListedBare() {
        SourcePage page(dbsend::Page::kExcel);
        QCOMPARE(page.setSource(kData + "/xls/recipients97.xls"), 0);
        QStringList sheets;
        for (int i = 0; i < page.tableBox()->count(); ++i) {
            sheets << page.tableBox()->itemText(i);
        }
        sheets.sort();
        QCOMPARE(sheets, (QStringList{QStringLiteral("Sheet2"), QStringLiteral("顧客")}));
        choose(page.tableBox(), QStringLiteral("顧客"));
        QCOMPARE(page.loadFields(), 0);
        QCOMPARE(page.slotBox(dbsend::kEmail)->count(), 14);  // "<<設定しない>>" and 13 fields
        QCOMPARE(page.setSource(kData + "/xls/none.xls"), 1);
    }

    void pageChecksPutTheFocusOnTheBoxToMend() {
        AppContext context;
        MainDialog dialog(context);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.tabs()->setCurrentIndex(3);
        SourcePage* csv = dialog.page(3);
        auto problem = csv->validate();
        QVERIFY(problem);
        QCOMPARE(problem->code, 304);
        QVERIFY(csv->pathEdit()->hasFocus());

        QCOMPARE(csv->setSource(kData + "/csv/recipients_sjis.csv"), 0);
        problem = csv->validate();
        QCOMPARE(problem->code, 400);  // no address mapped
        QVERIFY(csv->slotBox(dbsend::kEmail)->hasFocus());

        choose(csv->slotBox(dbsend::kEmail), QStringLiteral("E-Mail"));
        choose(csv->slotBox(dbsend::kSurname), QStringLiteral("姓"));
        choose(csv->slotBox(dbsend::kGivenName), QStringLiteral("姓"));
        problem = csv->validate();
        QCOMPARE(problem->code, 307);
        QVERIFY(csv->slotBox(dbsend::kGivenName)->hasFocus());

        choose(csv->slotBox(dbsend::kGivenName), QStringLiteral("名"));
        QVERIFY(!csv->validate());
        const dbsend::SourceSpec spec = csv->spec();
        QCOMPARE(spec.type, 4);
        QCOMPARE(QString::fromStdString(spec.source), kData + "/csv");
        QCOMPARE(spec.table, std::string("recipients_sjis.csv"));

        // The honorific box takes at most 10 bytes of Shift_JIS.
        const QValidator* honorific = csv->honorificEdit()->validator();
        QVERIFY(honorific);
        int pos = 0;
        QString text = QStringLiteral("様様様様様");
        QCOMPARE(honorific->validate(text, pos), QValidator::Acceptable);
        text = QStringLiteral("様様様様様a");
        QCOMPARE(honorific->validate(text, pos), QValidator::Invalid);

        dialog.tabs()->setCurrentIndex(1);
        problem = dialog.page(1)->validate();
        QCOMPARE(problem->code, 4);
        QCOMPARE(dialog.page(1)->setSource(kData + "/mdb/nwind.mdb"), 0);
        QVERIFY(dialog.page(1)->tableBox()->findText(QStringLiteral("Customers")) >= 0);
        QCOMPARE(dialog.page(2)->validate()->code, 200);
    }

    void mappingFileRestoresOnlyNamesThatStillMatch() {
        const std::filesystem::path data = m_home / "members.csv";
        test::writeFile(data, "name,mail,rank\r\na,a@example.jp,1\r\n");
        AppContext context;
        {
            MainDialog dialog(context);
            dialog.tabs()->setCurrentIndex(3);
            SourcePage* csv = dialog.page(3);
            QCOMPARE(csv->setSource(QString::fromStdString(data.string())), 0);
            choose(csv->slotBox(dbsend::kEmail), QStringLiteral("mail"));
            choose(csv->slotBox(dbsend::kSurname), QStringLiteral("name"));
            csv->honorificEdit()->setText(QStringLiteral("殿"));
            dialog.saveMapping();
        }
        QVERIFY(std::filesystem::exists(m_home / "members.csv.ini"));

        // A column was inserted before "mail": "name" keeps its place, "mail" moved.
        test::writeFile(data, "name,phone,mail,rank\r\na,1,a@example.jp,1\r\n");
        MainDialog dialog(context);
        dialog.tabs()->setCurrentIndex(3);
        SourcePage* csv = dialog.page(3);
        QCOMPARE(csv->setSource(QString::fromStdString(data.string())), 0);
        dialog.restoreMapping();
        QCOMPARE(csv->slotBox(dbsend::kSurname)->currentText(), QStringLiteral("name"));
        QCOMPARE(csv->slotBox(dbsend::kEmail)->currentIndex(), 0);  // left unselected
        QCOMPARE(csv->honorificEdit()->text(), QStringLiteral("殿"));
    }

private:
    test::TempDir m_home;
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"

// The import wizard driven through each kind of source on the offscreen
// platform, with the repository's sample files.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "common/cp932.h"
#include "testsupport.h"
#include "ui/sjis_text.h"
#include "wizard_driver.h"

using namespace tarn::addressbook;
using namespace tarn::addressbook::wizard;
using namespace tarn::addressbook::wizard::test;

namespace {

const QString kData = QString::fromUtf8(TARN_TESTDATA);

CTarnSendDoc newBook() {
    CTarnSendDoc doc;
    if (!doc.OnNewDocument(defaultFreeFieldTitles())) {
        qFatal("a new address book could not be made");
    }
    return doc;
}

QString text(std::string_view sjis) {
    return tarn::ui::fromSjis(sjis);
}

// Through page 1 to the file page of a kind.
void toFilePage(ImportWizard& w, ImportKind kind) {
    w.setField("kind", static_cast<int>(kind));
    w.next();
}

}  // namespace

class ImportWizardTest : public QObject {
    Q_OBJECT
private slots:
    void csvBothEncodingsAndMemory();
    void excelVersionsAndXlsx();
    void accessTablesAndMissingFile();
    void addressBookAllGroupFolder();
    void odbcThroughOurDataSourceDialog();
    void deleteFirstOnAndOff();
    void hundredThousandRowsWithProgressAndCancel();
    void componentsWarningAndFailure();
};

void ImportWizardTest::csvBothEncodingsAndMemory() {
    CTarnSendDoc doc = newBook();
    ImportWizardState state;
    for (const QString file : {"recipients_sjis.csv", "recipients_utf8bom.csv"}) {
        ImportWizard w(doc, state, 0);
        w.show();
        toFilePage(w, ImportKind::Csv);
        QCOMPARE(w.currentId(), int(ImportWizard::kFilePage));
        QCOMPARE(w.windowTitle(), QString("インポートウイザード(2/5)"));
        QVERIFY(child<QComboBox>(w, "csvEncoding")->isVisible());
        typeAndLeave(w, "file", kData + "/csv/" + file);
        // The file's folder is the source, its name the table chosen.
        QCOMPARE(child<QComboBox>(w, "table")->currentText(), file);
        QVERIFY(items(w, "table").contains("recipients_utf8.csv"));
        QCOMPARE(child<QLabel>(w, "detectedEncoding")->text(),
                 QString(file.contains("utf8") ? "このファイルは UTF-8 (BOM 付き) です。"
                                               : "このファイルは Shift_JIS のようです。"));
        w.next();
        QCOMPARE(w.windowTitle(), QString("インポートウイザード(3/5)"));
        QVERIFY(items(w, "slot0").contains("会員番号"));
        mapSampleColumns(w);
        child<QComboBox>(w, "honorific")->setCurrentText("様");
        MessageBoxCatcher boxes;
        QVERIFY(finish(w));
        QCOMPARE(w.lastReport()->imported, std::size_t{11});
        // Row 8 has no address: said so, not silently dropped.
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen[0].contains("除外 8行目: E-Mailが入っていないため除外しました。"),
                 qPrintable(boxes.seen[0]));
    }
    QCOMPARE(doc.recordCount(), std::size_t{22});
    // Both encodings give the same records.
    for (std::size_t i = 0; i < 11; ++i) {
        QVERIFY(doc.record(i).sameData(doc.record(i + 11)));
    }
    // A FIFO named like a CSV file is looked at without waiting for a writer.
    {
        tarn::test::TempDir dir;
        const std::filesystem::path fifo = dir / "pipe.csv";
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        ImportWizard w(doc, state, 0);
        w.show();
        toFilePage(w, ImportKind::Csv);
        QElapsedTimer took;
        took.start();
        typeAndLeave(w, "file", QString::fromStdString(fifo.string()));
        QVERIFY(took.elapsed() < 1000);
        QCOMPARE(child<QLabel>(w, "detectedEncoding")->text(), QString());
    }
    const Record& r = doc.record(2);
    QCOMPARE(text(r.name()), QString("髙橋健太"));
    QCOMPARE(text(r.company()), QString("株式会社山﨑精機"));
    QCOMPARE(text(r.honorific()), QString("様"));
    QCOMPARE(text(r.freeFieldText(1)), QString("1003"));
    QCOMPARE(text(r.freeFieldText(2)), QString("2023/06/30"));

    // The next run starts with this run's choices.
    ImportWizard again(doc, state, 0);
    again.show();
    QCOMPARE(again.field("kind").toInt(), int(ImportKind::Csv));
    again.next();
    QCOMPARE(child<QLineEdit>(again, "file")->text(), kData + "/csv/recipients_utf8bom.csv");
    again.next();
    QCOMPARE(child<QComboBox>(again, "slot4")->currentText(), QString("名"));
    QCOMPARE(child<QComboBox>(again, "honorific")->currentText(), QString("様"));
}

void ImportWizardTest::excelVersionsAndXlsx() {
    tarn::test::TempDir dir;
    const QString xlsx = QString::fromStdString((dir / "名簿.xlsx").string());
    // An independent writer: Japanese text, numbers and a date.
    auto made = tarn::test::run(
        {TARN_TEST_PYTHON, "-c",
         "import openpyxl,datetime,sys\n"
         "wb=openpyxl.Workbook(); ws=wb.active; ws.title='顧客'\n"
         "ws.append(['会社名','部署名','役職','姓','名','E-Mail','Freefield1','会員番号','登録日'])"
         "\n"
         "ws.append(['株式会社山﨑精機','品質保証部','係長','髙橋','健太','kenta@example.jp',"
         "'①資料送付済み',1003,datetime.date(2023,6,30)])\n"
         "ws['I2'].number_format='yyyy/mm/dd'\n"
         "wb.create_sheet('Sheet2')\n"
         "wb.save(sys.argv[1])\n",
         xlsx.toStdString()});
    QVERIFY2(made.exitCode == 0, made.err.c_str());

    struct Case {
        QString file;
        int version;
    };
    for (const Case& c : {Case{kData + "/xls/recipients97.xls", 0},
                          Case{kData + "/xls/recipients95.xls", 1}, Case{xlsx, 0}}) {
        CTarnSendDoc doc = newBook();
        ImportWizardState state;
        ImportWizard w(doc, state, 0);
        w.show();
        toFilePage(w, ImportKind::Excel);
        QVERIFY(child<QComboBox>(w, "excelVersion")->isVisible());
        child<QComboBox>(w, "excelVersion")->setCurrentIndex(c.version);
        typeAndLeave(w, "file", c.file);
        // Bare sheet names, no "$".
        QCOMPARE(items(w, "table"), (QStringList{"顧客", "Sheet2"}));
        choose(w, "table", "Sheet2");
        w.next();
        QCOMPARE(items(w, "slot0"), QStringList{QString()});  // an empty sheet has no fields
        w.back();
        choose(w, "table", "顧客");
        w.next();
        mapSampleColumns(w);
        MessageBoxCatcher boxes;
        QVERIFY(finish(w));
        const Record& r = doc.record(c.file == xlsx ? 0 : 2);
        QCOMPARE(text(r.name()), QString("髙橋健太"));
        QCOMPARE(text(r.freeFieldText(1)), QString("1003"));
        QCOMPARE(text(r.freeFieldText(2)), QString("2023/06/30"));
    }
}

void ImportWizardTest::accessTablesAndMissingFile() {
    setenv("MDB_JET3_CHARSET", "CP1252", 1);  // the sample is a Western Access 97 file
    CTarnSendDoc doc = newBook();
    ImportWizardState state;
    ImportWizard w(doc, state, 0);
    w.show();
    toFilePage(w, ImportKind::Access);
    typeAndLeave(w, "file", kData + "/mdb/no-such.mdb");
    QVERIFY(items(w, "table").isEmpty());  // a file that does not exist: no tables
    QVERIFY(!w.button(QWizard::NextButton)->isEnabled());
    typeAndLeave(w, "file", kData + "/mdb/nwind.mdb");
    const QStringList tables = items(w, "table");
    QVERIFY(tables.contains("Customers"));
    QVERIFY(tables.contains("Order Details"));
    QVERIFY(!tables.contains("MSysObjects"));  // only tables and views
    choose(w, "table", "Customers");
    w.next();
    choose(w, "slot0", "CompanyName");
    choose(w, "slot3", "ContactName");
    choose(w, "slot5", "CustomerID");
    MessageBoxCatcher boxes;
    QVERIFY(finish(w));
    QCOMPARE(w.lastReport()->failedCount(), std::size_t{27});  // letters CP932 lacks
    QCOMPARE(doc.recordCount(), std::size_t{64});
    QVERIFY(boxes.seen.value(0).contains("(U+00ED)"));
}

void ImportWizardTest::addressBookAllGroupFolder() {
    CTarnSendDoc doc = newBook();
    ImportWizardState state;
    {
        ImportWizard w(doc, state, 0);
        w.show();
        w.next();  // kind 0 is where a first run starts
        QCOMPARE(w.currentId(), int(ImportWizard::kAddressBookPage));
        typeAndLeave(w, "book", kData + "/vcf/contacts40.vcf");
        QCOMPARE(items(w, "groups"), (QStringList{"得意先", "セミナー参加者", "休眠顧客"}));
        child<QRadioButton>(w, "scopeGroup")->click();
        choose(w, "groups", "セミナー参加者");
        w.next();
        // The mapping that fits an address-book entry is offered.
        QCOMPARE(child<QComboBox>(w, "slot3")->currentText(), QString("表示名"));
        QCOMPARE(child<QComboBox>(w, "slot5")->currentText(), QString("E-Mail"));
        MessageBoxCatcher boxes;
        QVERIFY(finish(w));
        QCOMPARE(doc.recordCount(), std::size_t{3});
        QCOMPARE(text(doc.record(1).name()), QString("中村 優子"));
    }
    {
        ImportWizard w(doc, state, 0);
        w.show();
        w.next();
        QVERIFY(child<QRadioButton>(w, "scopeGroup")->isChecked());  // remembered
        typeAndLeave(w, "book", kData + "/vcf/folders");
        child<QRadioButton>(w, "scopeFolder")->click();
        QVERIFY(choose(w, "folders", "取引先"));
        w.next();
        choose(w, "slot3", "姓");
        choose(w, "slot4", "名");
        MessageBoxCatcher boxes;
        QVERIFY(finish(w));
        QCOMPARE(doc.recordCount(), std::size_t{6});
        QCOMPARE(text(doc.record(5).name()), QString("木村拓也"));
    }
    {
        ImportWizard w(doc, state, 0);
        w.show();
        w.next();
        typeAndLeave(w, "book", kData + "/vcf/contacts.vcf");
        child<QRadioButton>(w, "scopeAll")->click();
        w.next();
        MessageBoxCatcher boxes;
        QVERIFY(finish(w));
        QCOMPARE(w.lastReport()->imported, std::size_t{10});  // 伊藤 has no address
    }
}

void ImportWizardTest::odbcThroughOurDataSourceDialog() {
    tarn::test::TempDir dir;
    const auto db = dir / "people.db";
    auto made =
        tarn::test::run({TARN_TEST_PYTHON, "-c",
                         "import sqlite3,sys\nc=sqlite3.connect(sys.argv[1])\n"
                         "c.execute('CREATE TABLE 名簿 (会社名 TEXT, 氏名 TEXT, mail TEXT)')\n"
                         "c.execute(\"INSERT INTO 名簿 VALUES ('株式会社みどり商事','佐藤 "
                         "一郎','sato@example.jp')\")\n"
                         "c.execute('CREATE VIEW 一覧 AS SELECT 氏名 FROM 名簿')\nc.commit()\n",
                         db.string()});
    QVERIFY2(made.exitCode == 0, made.err.c_str());
    const std::string driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
    QVERIFY2(std::filesystem::exists(driver), "the SQLite ODBC driver is not installed");
    tarn::test::writeFile(
        dir / "odbc.ini",
        "[TarnPeople]\nDriver=" + driver + "\nDescription=SQLite\nDatabase=" + db.string() + "\n");
    tarn::test::writeFile(dir / "odbcinst.ini", "");
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);

    CTarnSendDoc doc = newBook();
    ImportWizardState state;
    ImportWizard w(doc, state, 0);
    w.show();
    toFilePage(w, ImportKind::Odbc);
    QVERIFY(child<QCheckBox>(w, "enclose")->isVisible());
    // Cancelling the chooser leaves the page as it was.
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<OdbcSourceDialog*>(QApplication::activeModalWidget());
        QVERIFY(d != nullptr);
        d->reject();
    });
    child<QPushButton>(w, "fileBrowse")->click();
    QVERIFY(child<QLineEdit>(w, "file")->text().isEmpty());
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<OdbcSourceDialog*>(QApplication::activeModalWidget());
        QVERIFY(d != nullptr);
        const auto found = d->list()->findItems("TarnPeople", Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        d->list()->setCurrentItem(found[0]);
        d->accept();
    });
    child<QPushButton>(w, "fileBrowse")->click();
    QCOMPARE(child<QLineEdit>(w, "file")->text(), QString("TarnPeople"));
    QVERIFY(items(w, "table").contains("一覧"));  // tables and views
    QVERIFY(items(w, "table").contains("名簿"));
    QVERIFY(choose(w, "table", "名簿"));
    w.next();
    choose(w, "slot0", "会社名");
    choose(w, "slot3", "氏名");
    choose(w, "slot5", "mail");
    MessageBoxCatcher boxes;
    QVERIFY(finish(w));
    QCOMPARE(doc.recordCount(), std::size_t{1});
    QCOMPARE(text(doc.record(0).name()), QString("佐藤 一郎"));
    QCOMPARE(state.sources[4], std::string("DSN=TarnPeople"));
    unsetenv("ODBCINI");
    unsetenv("ODBCSYSINI");
}

void ImportWizardTest::deleteFirstOnAndOff() {
    CTarnSendDoc doc = newBook();
    Record kept;
    kept.setText(Field::Email, "kept@example.jp");
    const Record* keptRecord = doc.appendRecord(std::move(kept)).value();
    QVERIFY(doc.addMembers(0, std::span(&keptRecord, 1)).ok());
    ImportWizardState state;
    for (bool deleteFirst : {false, true}) {
        ImportWizard w(doc, state, 2);  // the view shows folder 2
        w.show();
        toFilePage(w, ImportKind::Csv);
        typeAndLeave(w, "file", kData + "/csv/recipients_sjis.csv");
        w.next();
        mapSampleColumns(w);
        w.next();
        w.next();
        w.next();
        QCOMPARE(w.currentId(), int(ImportWizard::kConditionsPage));
        QCOMPARE(child<QComboBox>(w, "destination")->currentIndex(), 2);
        child<QCheckBox>(w, "deleteFirst")->setChecked(deleteFirst);
        MessageBoxCatcher boxes;
        QVERIFY(finish(w));
        if (!deleteFirst) {
            QCOMPARE(doc.recordCount(), std::size_t{12});
            QCOMPARE(doc.groups()[0].members.size(), std::size_t{1});  // membership kept
            QCOMPARE(doc.groups()[0].members[0], keptRecord);
            QCOMPARE(int(doc.record(1).folder()), 2);
        } else {
            QCOMPARE(doc.recordCount(), std::size_t{11});
            QVERIFY(doc.groups()[0].members.empty());
        }
    }
}

void ImportWizardTest::hundredThousandRowsWithProgressAndCancel() {
    CTarnSendDoc doc = newBook();
    QVERIFY(doc.appendRecord(Record{}).ok());
    ImportWizardState state;
    ImportWizard w(doc, state, 0);
    w.show();
    toFilePage(w, ImportKind::Csv);
    typeAndLeave(w, "file", kData + "/big/recipients_100k.csv");
    w.next();
    mapSampleColumns(w);
    child<QComboBox>(w, "slot8")->setCurrentIndex(0);
    while (w.currentId() != ImportWizard::kConditionsPage) {
        w.next();
    }
    child<QCheckBox>(w, "deleteFirst")->setChecked(true);
    // Cancel as soon as the progress bar shows: the book stays as it was and
    // the wizard stays open.
    bool sawProgress = false;
    QTimer::singleShot(0, [&] {
        auto* p = w.findChild<QProgressDialog*>("importProgress");
        sawProgress = p != nullptr && p->isVisible();
        if (p != nullptr) {
            p->cancel();
        }
    });
    w.next();
    w.button(QWizard::FinishButton)->click();
    QVERIFY(sawProgress);
    QVERIFY(w.isVisible());
    QVERIFY(w.lastReport()->cancelled);
    QCOMPARE(doc.recordCount(), std::size_t{1});

    // Then the whole file, timed; the window keeps answering while it reads.
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    MessageBoxCatcher boxes;
    QElapsedTimer clock;
    clock.start();
    w.button(QWizard::FinishButton)->click();
    const qint64 ms = clock.elapsed();
    qInfo("import of 100,000 rows through the wizard: %lld ms, %d timer ticks while it ran", ms,
          ticks);
    QVERIFY(ticks > 0);
    QCOMPARE(w.result(), int(QDialog::Accepted));
    QCOMPARE(doc.recordCount(), CTarnSendDoc::kMaxRecords);
    QVERIFY(boxes.seen.value(0).contains("100000行目から100000行目までの1件"));
}

void ImportWizardTest::componentsWarningAndFailure() {
    {
        MessageBoxCatcher boxes;
        ImportWizard::warnIfComponentsMissing(nullptr, false);
        ImportWizard::warnIfComponentsMissing(nullptr, true);
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].startsWith("ターノス - インストール|"));
    }
    // A source that goes away between the pages and Finish: "インポートに失敗しました。"
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir / "a.csv", "c,m\r\nX,x@example.jp\r\n");
    CTarnSendDoc doc = newBook();
    ImportWizardState state;
    ImportWizard w(doc, state, 0);
    w.show();
    toFilePage(w, ImportKind::Csv);
    typeAndLeave(w, "file", QString::fromStdString((dir / "a.csv").string()));
    w.next();
    choose(w, "slot5", "m");
    std::filesystem::remove(dir / "a.csv");
    MessageBoxCatcher boxes;
    QVERIFY(!finish(w));
    QVERIFY(boxes.seen.value(0).startsWith("ターノス|インポートに失敗しました。|"));
    QCOMPARE(doc.recordCount(), std::size_t{0});
    QVERIFY(!doc.isModified());
}

QTEST_MAIN(ImportWizardTest)
#include "import_wizard_test.moc"

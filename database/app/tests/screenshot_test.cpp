// The database-send window on a real X server (Xvfb, xcb platform), each of
// its four tabs saved as a picture for a person to look at; then a send's
// questions about an interrupted earlier send and its confirmation with the
// deny switch.
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "main_dialog.h"
#include "modal_script.h"
#include "run_fixture.h"
#include "screenshot.h"
#include "ui/resume_dialogs.h"
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

    void resumeQuestionsAndConfirmation() {
        ui::test::RunFixture fx;
        qputenv("TARN_HOME", QByteArray::fromStdString(fx.path("").string()));
        qputenv("TARN_REGISTRY", QByteArray::fromStdString(fx.path("registry").string()));
        contents::SendContents c;
        c.subject = ui::test::sj("【ご案内】&[会社名] &[名前]&[敬称] 新製品説明会のお知らせ");
        c.body = contents::normaliseBodyLineEnds(
            ui::test::sj("&[会社名]\n&[名前]&[敬称]\n\nいつもお世話になっております。\n"));
        fx.writeContents(c);
        test::writeFile(fx.path("recipients_sjis.csv.ini.journal"),
                        "TARNJOURNAL 1\n"
                        "B 1 ichiro.sato@midori-shoji.example.co.jp\n"
                        "A 1 ichiro.sato@midori-shoji.example.co.jp 250%20OK\n"
                        "B 2 hanako.suzuki@aoba-denki.example.jp\n");
        AppContext context;
        context.settings = fx.settings;
        context.contFileName = ui::test::sj(fx.path("message.tnm").string());
        MainDialog dialog(context);
        dialog.tabs()->setCurrentIndex(3);
        SourcePage* csv = dialog.page(3);
        QCOMPARE(csv->setSource(QStringLiteral(TARN_TESTDATA "/csv/recipients_sjis.csv")), 0);
        csv->slotBox(dbsend::kEmail)->setCurrentIndex(6);
        csv->slotBox(dbsend::kSurname)->setCurrentIndex(4);
        csv->slotBox(dbsend::kCompany)->setCurrentIndex(1);
        csv->setHonorific(QStringLiteral("様"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QStringList saved;
        auto shoot = [&saved](QWidget* w, const char* name) {
            QTest::qWait(300);
            const QString path = ui::test::saveScreenshot(w, QString::fromLatin1(name));
            qInfo("screenshot: %s", qPrintable(path));
            if (!path.isEmpty()) {
                saved << path;
            }
        };
        ui::test::ModalScript modals;
        modals
            .then(QStringLiteral("ターノス - 確認"),
                  [&](QWidget* w) {
                      shoot(w, "dbsend_resume_question");
                      ui::test::ModalScript::press(w, QStringLiteral("続きから送信"));
                  })
            .then(QStringLiteral("ターノス - 確認"),
                  [&](QWidget* w) {
                      qobject_cast<ui::UncertainDialog*>(w)->listButton()->click();
                      shoot(w, "dbsend_uncertain_list");
                      ui::test::ModalScript::press(w, QStringLiteral("いいえ"));
                  })
            .then(QStringLiteral("ターノス  確認"), [&](QWidget* w) {
                shoot(w, "dbsend_confirmation");
                ui::test::ModalScript::press(w, QStringLiteral("キャンセル"));
            });
        QVERIFY(!dialog.send(false));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QCOMPARE(saved.size(), 3);
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"

// A partial send through the database-send window against the recording SMTP
// server: the range dialog (its codes first), the confirmation, the progress
// window, and the mapping file written after the run.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "main_dialog.h"
#include "modal_script.h"
#include "run_fixture.h"
#include "source_page.h"
#include "ui/progress_dialog.h"

using namespace tarn;
using namespace tarn::dbsendapp;
using tarn::ui::test::ModalScript;

namespace {

constexpr int kLimitMs = 30000;

ModalScript::Step press(const QString& button) {
    return [button](QWidget* w) { ModalScript::press(w, button); };
}

ModalScript::Step range(const QString& start, const QString& end) {
    return [start, end](QWidget* w) {
        auto* dialog = qobject_cast<RangeDialog*>(w);
        QVERIFY(dialog);
        dialog->startEdit()->setText(start);
        dialog->endEdit()->setText(end);
        ModalScript::press(w, QStringLiteral("OK"));
    };
}

}  // namespace

class SendTest : public QObject {
    Q_OBJECT
private slots:
    void partialSendThroughTheWindow() {
        ui::test::RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        qputenv("TARN_HOME", QByteArray::fromStdString(fx.path("").string()));
        qputenv("TARN_REGISTRY", QByteArray::fromStdString(fx.path("registry").string()));
        contents::SendContents c;
        c.subject = ui::test::sj("&[名前]&[敬称]へのお知らせ");
        c.body = contents::normaliseBodyLineEnds(ui::test::sj("&[会社名]\nご案内です。\n"));
        fx.writeContents(c);

        AppContext context;
        context.settings = fx.settings;
        context.contFileName = ui::test::sj(fx.path("message.tnm").string());
        MainDialog dialog(context);
        dialog.show();
        dialog.tabs()->setCurrentIndex(3);
        SourcePage* csv = dialog.page(3);
        QCOMPARE(csv->setSource(QStringLiteral(TARN_TESTDATA "/csv/recipients_sjis.csv")), 0);
        csv->slotBox(dbsend::kEmail)->setCurrentIndex(6);    // E-Mail
        csv->slotBox(dbsend::kSurname)->setCurrentIndex(4);  // 姓
        csv->slotBox(dbsend::kCompany)->setCurrentIndex(1);  // 会社名
        csv->setHonorific(QStringLiteral("様"));

        ModalScript modals;
        modals.then(QStringLiteral("ターノス  一部メール送信"), range("5", "4"))
            .then(QStringLiteral("ターノス - エラー  (№802)"), press(QStringLiteral("OK")),
                  QStringLiteral("開始行・終了行の関係が不正です。"))
            .then(QStringLiteral("ターノス  一部メール送信"), range("2", "3"))
            .then(QStringLiteral("ターノス  確認"), press(QStringLiteral("送信")));
        QVERIFY(dialog.send(true));
        auto* progress = dialog.findChild<ui::ProgressDialog*>();
        QVERIFY(progress);
        QVERIFY(QTest::qWaitFor([&] { return fx.recordedCount() == 2; }, kLimitMs));
        QVERIFY(QTest::qWaitFor(
            [&] { return progress->stopButton()->text().startsWith(QStringLiteral("閉じる")); },
            kLimitMs));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QVERIFY(progress->statusText().contains(QStringLiteral("2 件の送信が完了しました。")));
        QVERIFY(QString::fromStdString(fx.recorded(1)).contains("hanako.suzuki@aoba-denki"));
        // A run that returned 0 keeps the page's choices for this file.
        QVERIFY(std::filesystem::exists(fx.path("recipients_sjis.csv.ini")));
        progress->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return dialog.findChild<ui::ProgressDialog*>() == nullptr; },
                                kLimitMs));
    }
};

QTEST_MAIN(SendTest)
#include "send_test.moc"

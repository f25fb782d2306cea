// The database-send window's commands on the offscreen platform against the
// recording SMTP server and a real unixODBC SQLite data source: the ODBC
// source chooser and the check, the confirmation's deny switch with a timed
// send, and the question about a send that did not finish.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>

#include "main_dialog.h"
#include "modal_script.h"
#include "odbc_fixture.h"
#include "run_fixture.h"
#include "source_page.h"
#include "ui/check_command.h"
#include "ui/progress_dialog.h"
#include "ui/send_dialogs.h"

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

const QString kConfirmation = QStringLiteral("ターノス  確認");

// The window over a fixture: the recorder, TARN_HOME in its folder, a merge
// message, and the repository's CSV file copied so that a test may change it.
struct WindowRun {
    ui::test::RunFixture fx;
    AppContext context;
    std::filesystem::path csv;

    bool start() {
        if (!fx.startRecorder()) {
            return false;
        }
        qputenv("TARN_HOME", QByteArray::fromStdString(fx.path("").string()));
        qputenv("TARN_REGISTRY", QByteArray::fromStdString(fx.path("registry").string()));
        contents::SendContents c;
        c.subject = ui::test::sj("&[名前]&[敬称]へのお知らせ");
        c.body = contents::normaliseBodyLineEnds(ui::test::sj("&[会社名]\nご案内です。\n"));
        fx.writeContents(c);
        context.settings = fx.settings;
        context.contFileName = ui::test::sj(fx.path("message.tnm").string());
        csv = fx.path("members.csv");
        std::filesystem::copy_file(TARN_TESTDATA "/csv/recipients_sjis.csv", csv);
        return true;
    }

    // The CSV page with the address, surname and company mapped.
    void chooseCsv(MainDialog& dialog) const {
        dialog.tabs()->setCurrentIndex(3);
        SourcePage* page = dialog.page(3);
        QCOMPARE(page->setSource(QString::fromStdString(csv.string())), 0);
        page->slotBox(dbsend::kEmail)->setCurrentIndex(6);    // E-Mail
        page->slotBox(dbsend::kSurname)->setCurrentIndex(4);  // 姓
        page->slotBox(dbsend::kCompany)->setCurrentIndex(1);  // 会社名
        page->setHonorific(QStringLiteral("様"));
    }
};

// Waits for the run the window started and closes its progress window.
bool finishRun(MainDialog& dialog, QString& status) {
    auto* progress = dialog.findChild<ui::ProgressDialog*>();
    if (progress == nullptr || !QTest::qWaitFor([&] { return progress->isFinished(); }, kLimitMs)) {
        return false;
    }
    status = progress->statusText() + QLatin1Char('\n') + progress->addressText();
    progress->stopButton()->click();
    return QTest::qWaitFor([&] { return dialog.findChild<ui::ProgressDialog*>() == nullptr; },
                           kLimitMs);
}

// Takes the URLs the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

QAction* menuAction(QWidget& window, const QString& text) {
    for (QAction* a : window.findChild<QMenuBar*>()->findChildren<QAction*>()) {
        if (a->text() == text) {
            return a;
        }
    }
    return nullptr;
}

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    // 参照 on the ODBC page lists unixODBC's data sources; the one chosen
    // fills the table list and the boxes, and a check runs over its rows.
    void odbcSourceChosenThenChecked() {
        WindowRun run;
        QVERIFY(run.start());
        const std::string driver = db::dbtest::driverPath("libsqlite3odbc.so");
        QVERIFY2(!driver.empty(), "the SQLite ODBC driver is not installed");
        const std::string database = run.fx.path("members.sqlite").string();
        const std::string err =
            db::dbtest::execute("Driver=" + driver + ";Database=" + database,
                                {"CREATE TABLE 会員 (氏名 VARCHAR(20), mail VARCHAR(80))",
                                 "INSERT INTO 会員 VALUES ('髙橋', 'kenta@example.co.jp')",
                                 "INSERT INTO 会員 VALUES ('田中', 'no space@example.jp')",
                                 "INSERT INTO 会員 VALUES ('佐藤', 'ichiro@example.com')"},
                                false);
        QVERIFY2(err.empty(), err.c_str());
        tarn::test::writeFile(run.fx.path("odbc.ini"),
                              "[TarnMembers]\nDriver=" + driver + "\nDatabase=" + database + "\n");
        tarn::test::writeFile(run.fx.path("odbcinst.ini"), "");
        // The driver manager reads its configuration from these variables.
        ::setenv("ODBCINI", run.fx.path("odbc.ini").c_str(), 1);
        ::setenv("ODBCSYSINI", run.fx.path("").c_str(), 1);

        MainDialog dialog(run.context);
        dialog.show();
        dialog.tabs()->setCurrentIndex(2);
        SourcePage* page = dialog.page(2);
        QStringList offered;
        ModalScript modals;
        modals.then(QStringLiteral("データソースの選択"), [&](QWidget* w) {
            auto* input = qobject_cast<QInputDialog*>(w);
            QVERIFY(input);
            offered = input->comboBoxItems();
            input->setTextValue(QStringLiteral("TarnMembers"));
            ModalScript::press(w, QStringLiteral("OK"));
        });
        page->browseButton()->click();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QVERIFY2(offered.contains(QStringLiteral("TarnMembers")), qPrintable(offered.join(',')));
        QCOMPARE(page->pathEdit()->text(), QStringLiteral("TarnMembers"));
        QCOMPARE(page->tableBox()->currentText(), QStringLiteral("会員"));
        QCOMPARE(page->slotBox(dbsend::kEmail)->count(), 3);  // "<<設定しない>>", 氏名, mail
        page->slotBox(dbsend::kEmail)->setCurrentIndex(2);
        page->slotBox(dbsend::kSurname)->setCurrentIndex(1);

        modals
            .then(QStringLiteral("メールアドレスチェックの設定"),
                  [](QWidget* w) {
                      auto* d = qobject_cast<ui::CheckSettingsDialog*>(w);
                      QVERIFY(d);
                      d->levelOneButton()->setChecked(true);  // syntax only: no DNS here
                      ModalScript::press(w, QStringLiteral("OK"));
                  })
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("はい")),
                  QStringLiteral("3件チェックを行います。"));
        QVERIFY(dialog.check());
        QString status;
        QVERIFY(finishRun(dialog, status));
        ::unsetenv("ODBCINI");
        ::unsetenv("ODBCSYSINI");
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        const std::string log = tarn::test::readFile(run.fx.path("check.log"));
        QVERIFY2(status.contains(QStringLiteral("結果 [OK:2件 NG:1件]")),
                 qPrintable(status + QString::fromStdString(ui::test::utf8(log))));
        QVERIFY2(log.find("no space@example.jp") != std::string::npos, log.c_str());
    }

    // The deny switch sits in the confirmation and changes its count and
    // preview at once; a timed send then sends to the rows confirmed, even
    // when the file changes while the window waits.
    void denySwitchInTheConfirmationThenATimedSend() {
        WindowRun run;
        QVERIFY(run.start());
        tarn::test::writeFile(run.fx.path("DenyEmailDomain.txt"), "AOBA-DENKI.example.jp\r\n");
        MainDialog dialog(run.context);
        dialog.show();
        run.chooseCsv(dialog);
        QVERIFY(!dialog.denyChecked());

        QStringList counts;
        QString preview;
        ModalScript modals;
        modals.then(QStringLiteral("ターノス  一部メール送信"), range("2", "3"))
            .then(kConfirmation,
                  [&](QWidget* w) {
                      auto* confirm = qobject_cast<ui::SendConfirmDialog*>(w);
                      QVERIFY(confirm && confirm->switchBox());
                      QCOMPARE(confirm->switchBox()->text(),
                               QStringLiteral("DenyEmailDomain.txt のアドレスには送信しない。"));
                      counts << confirm->countText();
                      confirm->switchBox()->setChecked(true);
                      counts << confirm->countText();
                      preview = confirm->previewText();
                      ModalScript::press(w, QStringLiteral("時間指定送信"));
                  })
            .then(QStringLiteral("送信時間の指定"), press(QStringLiteral("OK")))
            .then(QStringLiteral("時間指定送信"), [&](QWidget* w) {
                // The file is replaced while the window waits.
                tarn::test::writeFile(run.csv, "E-Mail\r\nother@example.jp\r\n");
                ModalScript::press(w, QStringLiteral("今すぐ送信"));
            });
        QVERIFY(dialog.send(true));
        QString status;
        QVERIFY(finishRun(dialog, status));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QCOMPARE(counts, (QStringList{QStringLiteral("2 件"), QStringLiteral("1 件")}));
        QVERIFY2(preview.contains(QStringLiteral("髙橋様へのお知らせ")), qPrintable(preview));
        QCOMPARE(run.fx.recordedCount(), 1);
        QVERIFY(QString::fromStdString(run.fx.recorded(1)).contains("kenta.takahashi@"));
        // The switch is offered as it was left for the next send.
        QVERIFY(dialog.denyChecked());
    }

    // A journal left beside the mapping file by a send that did not finish
    // (the window's or tarn dbsend's): the window asks, and going on sends
    // neither the accepted row again nor the uncertain one.
    void interruptedSendIsResumed() {
        WindowRun run;
        QVERIFY(run.start());
        const auto journal = run.fx.path("members.csv.ini.journal");
        tarn::test::writeFile(journal,
                              "TARNJOURNAL 1\n"
                              "B 1 ichiro.sato@midori-shoji.example.co.jp\n"
                              "A 1 ichiro.sato@midori-shoji.example.co.jp 250%20OK\n"
                              "B 2 hanako.suzuki@aoba-denki.example.jp\n");
        MainDialog dialog(run.context);
        dialog.show();
        run.chooseCsv(dialog);
        QString count;
        ModalScript modals;
        modals.then(QStringLiteral("ターノス  一部メール送信"), range("1", "4"))
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("続きから送信")),
                  QStringLiteral("送信済み 1 件、送信エラー 0 件、送信結果不明 1 件。"))
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("いいえ")))
            .then(kConfirmation, [&](QWidget* w) {
                count = qobject_cast<ui::SendConfirmDialog*>(w)->countText();
                ModalScript::press(w, QStringLiteral("送信"));
            });
        QVERIFY(dialog.send(true));
        QString status;
        QVERIFY(finishRun(dialog, status));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QCOMPARE(count, QStringLiteral("2 件"));
        QCOMPARE(run.fx.recordedCount(), 2);
        QVERIFY(QString::fromStdString(run.fx.recorded(1)).contains("kenta.takahashi@"));
        QVERIFY(QString::fromStdString(run.fx.recorded(2)).contains("yuko.nakamura@"));
        QVERIFY(!std::filesystem::exists(journal));
    }

    // 目次 opens the application's page of the guide beside the program (the
    // build lays it out beside the test, as the install does beside the
    // program), whose links all lead to pages that are there; without the
    // guide the window says where it looked.
    void helpOpensTheGuideBesideTheProgram() {
        const QString bin = QCoreApplication::applicationDirPath();
        qputenv("TARN_HOME", bin.toUtf8());
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        AppContext context;
        MainDialog dialog(context);
        QAction* contents = menuAction(dialog, QStringLiteral("目次(&C)"));
        QVERIFY(contents);
        QCOMPARE(contents->shortcut(), QKeySequence(QKeySequence::HelpContents));
        contents->trigger();
        QCOMPARE(catcher.urls.size(), 1);
        const QString page = catcher.urls.front().toLocalFile();
        QCOMPARE(page, bin + QStringLiteral("/help/dbsend.html"));
        const QString html = QString::fromStdString(tarn::test::readFile(page.toStdString()));
        QVERIFY(html.contains(QStringLiteral("前回の送信は中断されています。")));
        const QRegularExpression href(QStringLiteral("href=\"([^\"#]+)\""));
        int links = 0;
        for (const auto& m : href.globalMatch(html)) {
            ++links;
            QVERIFY2(QFileInfo::exists(bin + QStringLiteral("/help/") + m.captured(1)),
                     qPrintable(m.captured(1)));
        }
        QVERIFY(links >= 4);

        qputenv("TARN_HOME", QByteArray::fromStdString(m_empty.path().string()));
        ModalScript modals;
        modals.then(QStringLiteral("ターノス"), press(QStringLiteral("OK")),
                    QStringLiteral("ヘルプファイルが見つかりません。"));
        contents->trigger();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QCOMPARE(catcher.urls.size(), 1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

private:
    tarn::test::TempDir m_empty;
};

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"

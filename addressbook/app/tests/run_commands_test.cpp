// The main window's send, check and log commands with the real jobs against
// the recording SMTP server: what the window adds to ui/'s commands (the book
// it shows as the recipients, its settings, edits refused during the run, the
// statuses in its list, one run at a time).
#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "common/cp932.h"
#include "modal_script.h"
#include "run_fixture.h"
#include "ui/check_command.h"
#include "ui/progress_dialog.h"
#include "ui/send_dialogs.h"
#include "ui/sjis_text.h"
#include "window_fixture.h"

using namespace tarn;
using namespace tarn::gpsend;
using tarn::addressbook::ListColumn;
using tarn::ui::test::ModalScript;
using tarn::ui::test::RunFixture;
namespace gt = tarn::gpsend::test;

namespace {

constexpr int kLimitMs = 30000;

ModalScript::Step press(const QString& button) {
    return [button](QWidget* w) { ModalScript::press(w, button); };
}

// "name:status" of every row the list shows, sorted (the list's own order
// follows the sort the profile keeps).
QString statusColumn(gt::WindowFixture& f) {
    QStringList out;
    for (std::size_t row = 0; row < f.list().recordRowCount(); ++row) {
        out << ui::fromSjis(f.list().text(row, ListColumn::Name)) + ":" +
                   ui::fromSjis(f.list().text(row, ListColumn::Status));
    }
    out.sort();
    return out.join(QLatin1Char(' '));
}

QString expected(QStringList rows) {
    rows.sort();
    return rows.join(QLatin1Char(' '));
}

contents::SendContents message(const char* bodyUtf8) {
    contents::SendContents c;
    c.subject = gt::sj("&[名前]様へのお知らせ");
    c.body = contents::normaliseBodyLineEnds(gt::sj(bodyUtf8));
    return c;
}

}  // namespace

class RunCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void sendFromTheMenuRefusesEditsMeanwhileAndShowsTheStatuses() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder({"--refuse", "takahashi@example.jp"}),
                 fx.recorderOutput().c_str());
        gt::WindowFixture f;
        f.fillBook();  // 佐藤, 鈴木 (invalid), 高橋, 田中, 伊藤 (send error)
        fx.writeContents(
            message("#n = StrInputDialog(\"担当者名を入力してください\", \"担当\")\n"
                    "#Print \"担当 : \"; n\n"
                    "&[名前] 様\n"));
        fx.settings.ScriptUse = 1;
        fx.settings.WaitMSec = 400;  // each message holds the run a little
        f.context().settings = fx.settings;
        f.context().contFileName = gt::sj(fx.path("message.tnm").string().c_str());
        MainWindow& w = f.window();
        w.show();

        // The script's questions come over the window: once for the preview,
        // once per recipient during the run.
        QString preview;
        ModalScript modals;
        modals.then(QStringLiteral("ターノス スクリプト"), press(QStringLiteral("OK")))
            .then(QStringLiteral("ターノス  確認"),
                  [&](QWidget* d) {
                      preview = qobject_cast<ui::SendConfirmDialog*>(d)->previewText();
                      ModalScript::press(d, QStringLiteral("送信"));
                  })
            .then(QStringLiteral("ターノス スクリプト"),
                  [](QWidget* d) {
                      qobject_cast<QInputDialog*>(d)->setTextValue(QStringLiteral("山田"));
                      ModalScript::press(d, QStringLiteral("OK"));
                  })
            .then(QStringLiteral("ターノス スクリプト"), press(QStringLiteral("OK")))
            .then(QStringLiteral("ターノス スクリプト"), press(QStringLiteral("OK")));
        int ticks = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, this, [&] { ++ticks; });
        heartbeat.start(50);

        QVERIFY(w.action(MainWindow::Command::SendMail)->isEnabled());
        w.action(MainWindow::Command::SendMail)->trigger();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(preview.contains(QStringLiteral("担当 : 担当")));
        ui::JobCommand* command = w.runningCommand();
        QVERIFY(command != nullptr);
        int ended = -1;
        connect(command, &ui::JobCommand::runEnded, this, [&](int r) { ended = r; });

        // While the run is on: no edits and no second run; the window goes
        // on answering.
        QVERIFY(f.doc().runInProgress());
        for (auto c :
             {MainWindow::Command::Cut, MainWindow::Command::Delete, MainWindow::Command::FileOpen,
              MainWindow::Command::SendMail, MainWindow::Command::CheckAddresses}) {
            QVERIFY(!w.action(c)->isEnabled());
        }
        const std::size_t rows[] = {0};
        QVERIFY(!f.window().editor().deleteRows(rows).ok());
        QCOMPARE(f.doc().recordCount(), std::size_t{5});
        const int ticksBefore = ticks;
        QTest::qWait(300);
        QVERIFY2(ticks - ticksBefore >= 3, "the main window stopped answering during the run");

        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 0);
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        // 佐藤 and 田中 sent, 高橋 refused: the list shows it at once.
        QCOMPARE(fx.recordedCount(), 2);
        QCOMPARE(statusColumn(f), expected({"佐藤:正常", "鈴木:妥当性エラー", "高橋:送信エラー",
                                            "田中:正常", "伊藤:送信エラー"}));
        QVERIFY(f.doc().isModified());
        QVERIFY(!f.doc().runInProgress());
        QVERIFY(w.action(MainWindow::Command::FileOpen)->isEnabled());

        // The finished window stays until closed; only then may the next run start.
        ui::ProgressDialog* progress = command->progressDialog();
        QVERIFY(progress->isFinished());
        QVERIFY(!w.action(MainWindow::Command::SendMail)->isEnabled());
        progress->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, kLimitMs));
        QVERIFY(w.action(MainWindow::Command::SendMail)->isEnabled());
    }

    // Three sessions side by side: the window shows the same statuses and
    // the same end as with one.
    void sendWithSeveralSessionsShowsTheStatusesAsOneSessionDoes() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder({"--pipelining", "--refuse", "takahashi@example.jp"}),
                 fx.recorderOutput().c_str());
        gt::WindowFixture f;
        f.fillBook();  // 佐藤, 鈴木 (invalid), 高橋, 田中, 伊藤 (send error)
        fx.writeContents(message("&[名前] 様\n"));
        fx.settings.SmtpSessions = 3;
        f.context().settings = fx.settings;
        f.context().contFileName = gt::sj(fx.path("message.tnm").string().c_str());
        MainWindow& w = f.window();
        w.show();
        ModalScript modals;
        modals.then(QStringLiteral("ターノス  確認"), press(QStringLiteral("送信")));
        w.action(MainWindow::Command::SendMail)->trigger();
        ui::JobCommand* command = w.runningCommand();
        QVERIFY(command != nullptr);
        int ended = -1;
        connect(command, &ui::JobCommand::runEnded, this, [&](int r) { ended = r; });
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 0);
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QCOMPARE(fx.recordedCount(), 2);
        QCOMPARE(statusColumn(f), expected({"佐藤:正常", "鈴木:妥当性エラー", "高橋:送信エラー",
                                            "田中:正常", "伊藤:送信エラー"}));
        QVERIFY(command->progressDialog()->isFinished());
        command->progressDialog()->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, kLimitMs));
    }

    // The book's journal, as tarn send leaves it when killed: the window asks,
    // goes on without the accepted recipient, and the journal goes with the
    // end of the run; the next send is a send like any other.
    void interruptedSendOfTheBookIsResumedThenTheNextSendIsAskedNothing() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        gt::WindowFixture f;
        std::vector<addressbook::Record> people = {
            gt::person("佐藤", "sato@example.co.jp"),
            gt::person("鈴木", "suzuki@example.co.jp"),
            gt::person("高橋", "takahashi@example.co.jp"),
        };
        QVERIFY(f.doc().appendRecords(people).ok());
        f.context().settings = fx.settings;
        fx.writeContents(message("&[名前] 様\n"));
        f.context().contFileName = gt::sj(fx.path("message.tnm").string().c_str());
        MainWindow& w = f.window();
        w.show();
        const QString book = QString::fromStdString((f.dir() / "members.tn2").string());
        QVERIFY(w.saveBookAs(book));
        const auto journal = f.dir() / "members.tn2.journal";
        tarn::test::writeFile(journal,
                              "TARNJOURNAL 1\nB 1 sato@example.co.jp\n"
                              "A 1 sato@example.co.jp 250%20OK\n");

        ModalScript modals;
        modals
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("続きから送信")),
                  QStringLiteral("送信済み 1 件"))
            .then(QStringLiteral("ターノス  確認"), press(QStringLiteral("送信")));
        w.action(MainWindow::Command::SendMail)->trigger();
        ui::JobCommand* command = w.runningCommand();
        QVERIFY(command != nullptr);
        QVERIFY(QTest::qWaitFor([&] { return command->progressDialog()->isFinished(); }, kLimitMs));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QCOMPARE(fx.recordedCount(), 2);
        QVERIFY(QString::fromStdString(fx.recorded(1)).contains("suzuki@example.co.jp"));
        QVERIFY(!std::filesystem::exists(journal));
        command->progressDialog()->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, kLimitMs));

        modals.then(QStringLiteral("ターノス  確認"), press(QStringLiteral("キャンセル")));
        w.action(MainWindow::Command::SendMail)->trigger();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
    }

    // "送信エラーの宛先に再送信": only the records whose last send failed get
    // the message, each one back to 正常 once it is accepted; with none left
    // the command is off.
    void resendToTheFailedSendsOnlyThemAndClearsTheirStatus() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        gt::WindowFixture f;
        f.context().settings = fx.settings;
        fx.writeContents(message("&[名前] 様\n"));
        f.context().contFileName = gt::sj(fx.path("message.tnm").string().c_str());
        MainWindow& w = f.window();
        w.show();
        const auto error = addressbook::kStatusSendError;
        std::vector<addressbook::Record> people = {
            gt::person("佐藤", "sato@example.jp", 0),
            gt::person("鈴木", "suzuki@example.jp", 0, addressbook::kStatusInvalid),
            gt::person("田中", "tanaka@example.jp", 0),
        };
        QVERIFY(f.doc().appendRecords(people).ok());
        QVERIFY(!w.action(MainWindow::Command::SendFailed)->isEnabled());
        people = {
            gt::person("高橋", "takahashi@example.jp", 0, error),
            gt::person("伊藤", "ito@example.jp", 0),
            gt::person("渡辺", "watanabe@example.jp", 0, error),
            gt::person("山本", "yamamoto@example.jp", 0, error),
        };
        QVERIFY(f.doc().appendRecords(people).ok());
        QVERIFY(w.action(MainWindow::Command::SendFailed)->isEnabled());

        QString preview;
        ModalScript modals;
        modals.then(QStringLiteral("ターノス  確認"), [&](QWidget* d) {
            preview = qobject_cast<ui::SendConfirmDialog*>(d)->previewText();
            ModalScript::press(d, QStringLiteral("送信"));
        });
        w.action(MainWindow::Command::SendFailed)->trigger();
        ui::JobCommand* command = w.runningCommand();
        QVERIFY(command != nullptr);
        QVERIFY(QTest::qWaitFor([&] { return command->progressDialog()->isFinished(); }, kLimitMs));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QVERIFY2(preview.contains(QStringLiteral("高橋 様")), qPrintable(preview));

        QStringList recipients;
        for (int n = 1; n <= fx.recordedCount(); ++n) {
            const QString eml = QString::fromStdString(fx.recorded(n));
            for (const char* a :
                 {"sato@", "suzuki@", "tanaka@", "takahashi@", "ito@", "watanabe@", "yamamoto@"}) {
                if (eml.contains(QLatin1String(a) + QStringLiteral("example.jp"))) {
                    recipients << QLatin1String(a);
                }
            }
        }
        recipients.sort();
        QCOMPARE(recipients.join(' '), QStringLiteral("takahashi@ watanabe@ yamamoto@"));
        QCOMPARE(statusColumn(f), expected({"佐藤:正常", "鈴木:妥当性エラー", "田中:正常",
                                            "高橋:正常", "伊藤:正常", "渡辺:正常", "山本:正常"}));
        command->progressDialog()->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, kLimitMs));
        QVERIFY(w.action(MainWindow::Command::SendMail)->isEnabled());
        QVERIFY(!w.action(MainWindow::Command::SendFailed)->isEnabled());
    }

    void checkFromTheMenuKeepsItsSettingsAndShowsTheStatuses() {
        RunFixture fx;
        gt::WindowFixture f;
        std::vector<addressbook::Record> people = {
            gt::person("佐藤", "sato@midori.example.jp"),
            gt::person("鈴木", "suzuki taro@midori.example.jp"),
            gt::person("高橋", "sato@midori.example.jp"),
        };
        QVERIFY(f.doc().appendRecords(people).ok());
        f.context().settings = fx.settings;
        MainWindow& w = f.window();
        w.show();
        const std::string logPath = fx.path("check-from-window.log").string();

        ModalScript modals;
        modals
            .then(QStringLiteral("メールアドレスチェックの設定"),
                  [&](QWidget* d) {
                      auto* s = qobject_cast<ui::CheckSettingsDialog*>(d);
                      s->levelOneButton()->setChecked(true);
                      s->logFileEdit()->setText(QString::fromStdString(logPath));
                      ModalScript::press(d, QStringLiteral("OK"));
                  })
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("はい")),
                  QStringLiteral("3件チェックを行います。"));
        w.action(MainWindow::Command::CheckAddresses)->trigger();
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        ui::JobCommand* command = w.runningCommand();
        QVERIFY(command != nullptr);
        QVERIFY(QTest::qWaitFor([&] { return command->progressDialog()->isFinished(); }, kLimitMs));
        QCOMPARE(statusColumn(f),
                 expected({"佐藤:正常", "鈴木:妥当性エラー", "高橋:二重登録エラー"}));
        QVERIFY(std::filesystem::exists(logPath));

        // The settings the dialog gave are the window's now (they are written
        // back at exit) and in the registry file already.
        QCOMPARE(cp932::toUtf8Lossy(fieldText(f.context().settings.check.CheckLogFileName)),
                 logPath);
        SendSettings saved{};
        std::string contFileName;
        static_cast<void>(f.context().store.load(saved, contFileName));
        QCOMPARE(cp932::toUtf8Lossy(fieldText(saved.check.CheckLogFileName)), logPath);

        command->progressDialog()->stopButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.runningCommand() == nullptr; }, kLimitMs));
    }

    void theLogCommandsOpenTheLogsInTheViewerAndNothingWithoutAName() {
        gt::WindowFixture f;
        std::vector<std::vector<std::string>> started;
        f.window().setProgramStarter([&](const std::vector<std::string>& argv) {
            started.push_back(argv);
            return true;
        });
        SendSettings& s = f.context().settings;
        setFieldText(s.LogOpenExeName, "/usr/bin/viewer");
        setFieldText(s.LogFileName, "");
        setFieldText(s.check.CheckLogFileName, gt::sj("/tmp/ログ/check.log"));
        f.window().action(MainWindow::Command::SendLog)->trigger();
        QVERIFY(started.empty());
        f.window().action(MainWindow::Command::CheckLog)->trigger();
        QCOMPARE(started.size(), std::size_t{1});
        QCOMPARE(started[0], (std::vector<std::string>{"/usr/bin/viewer", "/tmp/ログ/check.log"}));
        setFieldText(s.LogFileName, "/tmp/send.log");
        f.window().action(MainWindow::Command::SendLog)->trigger();
        QCOMPARE(started.size(), std::size_t{2});
        QCOMPARE(started[1], (std::vector<std::string>{"/usr/bin/viewer", "/tmp/send.log"}));
    }
};

QTEST_MAIN(RunCommandsTest)
#include "run_commands_test.moc"

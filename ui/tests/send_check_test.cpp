// The send and check commands of the windows with the real jobs, against the
// recording SMTP server and dnsmasq: the person's side (confirmation, time and
// waiting dialogs, the progress window, questions, the settings dialog, the
// script's input box) is played by the test.
#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "dnsmasq_server.h"
#include "driver/book_sources.h"
#include "modal_script.h"
#include "run_fixture.h"
#include "ui/check_command.h"
#include "ui/progress_dialog.h"
#include "ui/resume_dialogs.h"
#include "ui/script_host.h"
#include "ui/send_command.h"
#include "ui/send_dialogs.h"

using namespace tarn;
using namespace tarn::ui;
using namespace tarn::ui::test;

namespace {

constexpr int kLimitMs = 30000;

ModalScript::Step press(const QString& button) {
    return [button](QWidget* w) { ModalScript::press(w, button); };
}

ModalScript::Step type(const QString& text) {
    return [text](QWidget* w) {
        auto* input = qobject_cast<QInputDialog*>(w);
        if (input != nullptr) {
            input->setTextValue(text);
        }
        ModalScript::press(w, QStringLiteral("OK"));
    };
}

const QString kConfirmation = QStringLiteral("ターノス  確認");
const QString kScriptTitle = QStringLiteral("ターノス スクリプト");

// Reads the preview, then presses "送信".
ModalScript::Step confirmAndSend(QString& preview) {
    return [&preview](QWidget* w) {
        preview = qobject_cast<SendConfirmDialog*>(w)->previewText();
        ModalScript::press(w, QStringLiteral("送信"));
    };
}

contents::SendContents message(const std::string& body) {
    contents::SendContents c;
    c.subject = sj("&[名前]様へのお知らせ");
    c.body = contents::normaliseBodyLineEnds(sj(body));
    return c;
}

SendCommandSetup sendSetup(RunFixture& fx) {
    SendCommandSetup setup;
    setup.job.settings = fx.settings;
    setup.job.contentsPath = sj(fx.path("message.tnm").string());
    setup.job.options.recipientSourceName = sj(fx.path("book.tn2").string());
    setup.job.options.smtpAuthFile = fx.path("no-SMTPAuth.txt");
    setup.recipients = [&fx] {
        return std::make_unique<driver::BookRecipients>(fx.doc(), fx.view());
    };
    return setup;
}

// Decodes a recorded message the way a reader would (Python's email package).
std::string decodedMessage(RunFixture& fx, int n) {
    tarn::test::RunResult r = tarn::test::run(
        {TARN_TEST_PYTHON, std::string(TARN_SOURCE_DIR) + "/sendcore/driver/tests/decode_eml.py",
         fx.path("mail/" + std::to_string(n) + ".eml").string()});
    return r.out;
}

std::time_t localTime(int h, int m, int s) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace

class SendCheckTest : public QObject {
    Q_OBJECT
private slots:
    void sendIsConfirmedShowsProgressAndAsksBeforeStopping() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        std::vector<Row> rows;
        for (int i = 1; i <= 6; ++i) {
            rows.push_back(
                {"宛先" + std::to_string(i), "user" + std::to_string(i) + "@example.jp"});
        }
        fx.book(rows);
        fx.writeContents(message("&[名前] 様\nご案内です。\n"));
        fx.settings.WaitMSec = 700;  // each message holds the run a little

        QWidget window;
        window.show();
        SendCommand command(&window, sendSetup(fx));
        int ended = -1;
        connect(&command, &JobCommand::runEnded, this, [&](int r) { ended = r; });
        QString preview;
        ModalScript modals;
        modals.then(kConfirmation, confirmAndSend(preview))
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("いいえ")),
                  QStringLiteral("中止しますか？"))
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("はい")),
                  QStringLiteral("中止しますか？"))
            .then(QStringLiteral("ターノス - エラー  (№508)"), press(QStringLiteral("OK")),
                  QStringLiteral("キャンセルボタンが選択されました。"));

        // The window stays responsive while the run goes on: its timers fire.
        int ticks = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, this, [&] { ++ticks; });
        heartbeat.start(50);

        QVERIFY(command.execute());
        QVERIFY(preview.contains(QStringLiteral("宛先1 様")));
        ProgressDialog* progress = command.progressDialog();
        QVERIFY(QTest::qWaitFor([&] { return progress->isVisible(); }, kLimitMs));
        QVERIFY(QTest::qWaitFor([&] { return fx.recordedCount() >= 1; }, kLimitMs));
        QVERIFY(QTest::qWaitFor(
            [&] { return progress->statusText().contains(QStringLiteral("6人中")); }, kLimitMs));
        const int ticksBefore = ticks;
        QTest::qWait(300);
        QVERIFY2(ticks - ticksBefore >= 3, "the window's own timers stopped during the run");

        progress->stopButton()->click();  // "中止しますか？" No: the run goes on
        QVERIFY(QTest::qWaitFor([&] { return fx.recordedCount() >= 2; }, kLimitMs));
        progress->stopButton()->click();  // Yes
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 508);
        QVERIFY(QTest::qWaitFor([&] { return modals.done(); }, kLimitMs));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(!progress->isVisible());
        QVERIFY(fx.recordedCount() < 6);
        for (std::size_t i = 0; i < 6; ++i) {
            QCOMPARE(fx.doc().record(i).status(), 0);
        }
    }

    // A book whose last send was cut off: the window asks before the
    // confirmation, goes on without sending the accepted ones again, leaves
    // the uncertain one out when told so, and stores the refusal the killed
    // run could not. "最初から送信" and "キャンセル" are tried first.
    void interruptedRunIsAskedAboutAndResumed() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        std::vector<Row> rows;
        for (int i = 1; i <= 6; ++i) {
            rows.push_back(
                {"宛先" + std::to_string(i), "user" + std::to_string(i) + "@example.jp"});
        }
        fx.book(rows);
        fx.writeContents(message("&[名前] 様\nご案内です。\n"));
        const std::filesystem::path journal = fx.path("book.tn2.journal");
        const std::string earlier =
            "TARNJOURNAL 1\n"
            "B 1 user1@example.jp\nA 1 user1@example.jp 250%20OK\n"
            "B 2 user2@example.jp\nA 2 user2@example.jp 250%20OK\n"
            "B 3 user3@example.jp\nR 3 user3@example.jp 550 550%20unknown\n"
            "B 4 user4@example.jp\n";
        tarn::test::writeFile(journal, earlier);

        QWidget window;
        window.show();
        const QString title = QStringLiteral("ターノス - 確認");
        const QString interrupted = QStringLiteral("前回の送信は中断されています。");
        {
            // Cancelled: nothing shown after, the journal stays.
            SendCommandSetup setup = sendSetup(fx);
            setup.journal = journal;
            SendCommand command(&window, setup);
            ModalScript modals;
            modals.then(title, press(QStringLiteral("キャンセル")), interrupted);
            QVERIFY(!command.execute());
            QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
            QVERIFY(modals.done());
            QCOMPARE(modals.seen().size(), 1);
        }
        {
            // "最初から送信", then not confirmed: no send, the journal stays.
            SendCommandSetup setup = sendSetup(fx);
            setup.journal = journal;
            SendCommand command(&window, setup);
            ModalScript modals;
            modals.then(title, press(QStringLiteral("最初から送信")), interrupted)
                .then(title, press(QStringLiteral("いいえ")),
                      QStringLiteral("もう一度送信されます。"));
            QVERIFY(!command.execute());
            QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
            QVERIFY(modals.done());
            QCOMPARE(tarn::test::readFile(journal), earlier);
        }
        {
            // "最初から送信" confirmed, then the send itself cancelled: the
            // journal still tells who got the message, and the next send asks.
            SendCommandSetup setup = sendSetup(fx);
            setup.journal = journal;
            SendCommand command(&window, setup);
            ModalScript modals;
            modals.then(title, press(QStringLiteral("最初から送信")), interrupted)
                .then(title, press(QStringLiteral("はい")),
                      QStringLiteral("もう一度送信されます。"))
                .then(kConfirmation, press(QStringLiteral("キャンセル")));
            QVERIFY(!command.execute());
            QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
            QVERIFY(modals.done());
            QCOMPARE(tarn::test::readFile(journal), earlier);
            QCOMPARE(fx.recordedCount(), 0);
        }
        SendCommandSetup setup = sendSetup(fx);
        setup.journal = journal;
        SendCommand command(&window, setup);
        int ended = -1;
        connect(&command, &JobCommand::runEnded, this, [&](int r) { ended = r; });
        QString uncertainList;
        QString preview;
        ModalScript modals;
        modals.then(title, press(QStringLiteral("続きから送信")), interrupted)
            .then(title,
                  [&](QWidget* w) {
                      auto* dialog = qobject_cast<UncertainDialog*>(w);
                      QVERIFY(dialog);
                      QVERIFY(!dialog->list()->isVisible());
                      dialog->listButton()->click();
                      QVERIFY(dialog->list()->isVisible());
                      uncertainList = dialog->list()->toPlainText();
                      ModalScript::press(w, QStringLiteral("いいえ"));
                  })
            .then(kConfirmation, confirmAndSend(preview));
        QVERIFY(command.execute());
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QCOMPARE(ended, 0);
        QCOMPARE(uncertainList, QStringLiteral("user4@example.jp"));
        // The preview is of the first recipient still to be sent.
        QVERIFY2(preview.contains(QStringLiteral("宛先5 様")), qPrintable(preview));
        QCOMPARE(fx.recordedCount(), 2);
        QVERIFY(QString::fromStdString(fx.recorded(1)).contains("user5@example.jp"));
        QVERIFY(QString::fromStdString(fx.recorded(2)).contains("user6@example.jp"));
        QCOMPARE(fx.doc().record(2).status(), 4);  // the earlier run's refusal
        QCOMPARE(fx.doc().record(0).status(), 0);
        QVERIFY(!std::filesystem::exists(journal));
        command.progressDialog()->stopButton()->click();
    }

    void finishedWindowShowsTheCountsAndOpensTheLogInTheViewer() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder({"--refuse", "refused@example.jp"}), fx.recorderOutput().c_str());
        fx.book({{"一郎", "ichiro@example.jp"},
                 {"断郎", "refused@example.jp"},
                 {"三郎", "saburo@example.jp"}});
        fx.writeContents(message("&[名前] 様\n"));
        const std::filesystem::path viewer = fx.path("viewer.sh");
        const std::filesystem::path opened = fx.path("opened.txt");
        tarn::test::writeFile(viewer,
                              "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.string() + "'\n");
        std::filesystem::permissions(viewer, std::filesystem::perms::owner_all);
        setFieldText(fx.settings.LogOpenExeName, sj(viewer.string()));

        // "参照": a file without a body is refused, another one is taken and remembered.
        fx.writeContents(message(""), "empty.tnm");
        fx.writeContents(message("別の文面です。&[名前] 様\n"), "other.tnm");
        const SettingsStore store(fx.path("registry"));

        QWidget window;
        SendCommandSetup setup = sendSetup(fx);
        setup.store = &store;
        SendCommand command(&window, setup);
        auto choose = [&fx](const char* file) {
            return [&fx, file](QWidget* w) {
                // Typed into the name box, as a person would.
                auto* name = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name != nullptr);
                name->setText(QString::fromStdString(fx.path(file).string()));
                QMetaObject::invokeMethod(w, "accept");
            };
        };
        QString preview;
        QString pathShown;
        ModalScript modals;
        modals.then(kConfirmation, press(QStringLiteral("参照")))
            .then(QStringLiteral("送信内容ファイルの選択"), choose("empty.tnm"))
            .then(QStringLiteral("ターノス - エラー"), press(QStringLiteral("OK")),
                  QStringLiteral("送信内容がありません。"))
            .then(kConfirmation, press(QStringLiteral("参照")))
            .then(QStringLiteral("送信内容ファイルの選択"), choose("other.tnm"))
            .then(kConfirmation, [&](QWidget* w) {
                pathShown = qobject_cast<SendConfirmDialog*>(w)->contentsPathText();
                confirmAndSend(preview)(w);
            });
        int ended = -1;
        bool finished = false;
        connect(&command, &JobCommand::runEnded, this, [&](int r) {
            ended = r;
            // Statuses reach the document when the run has ended, not before.
            QCOMPARE(fx.doc().record(1).status(), 4);
        });
        connect(&command, &JobCommand::finished, this, [&] { finished = true; });
        QVERIFY(command.execute());
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QCOMPARE(pathShown, QString::fromStdString(fx.path("other.tnm").string()));
        QVERIFY(preview.contains(QStringLiteral("別の文面です。一郎 様")));
        SendSettings saved{};
        std::string contFileName;
        store.load(saved, contFileName);
        QCOMPARE(utf8(contFileName), fx.path("other.tnm").string());

        ProgressDialog* progress = command.progressDialog();
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 0);
        QVERIFY(progress->isVisible());
        QVERIFY(progress->isFinished());
        QCOMPARE(progress->windowTitle(), QStringLiteral("送信完了"));
        QCOMPARE(progress->stopButton()->text(), QStringLiteral("閉じる(&C)"));
        QVERIFY(progress->logButton()->isVisible());
        QCOMPARE(progress->addressText(), QStringLiteral("結果 [OK:2件 NG:1件]"));
        QVERIFY(progress->countsText().contains(QStringLiteral("NG 1 件")));
        QCOMPARE(fx.doc().record(0).status(), 0);
        QVERIFY(fx.doc().isModified());
        QVERIFY(!finished);  // the person has not closed the window yet

        progress->logButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return std::filesystem::exists(opened); }, kLimitMs));
        QVERIFY(QTest::qWaitFor(
            [&] { return tarn::test::readFile(opened) == fx.path("send.log").string(); },
            kLimitMs));
        QVERIFY(!progress->isVisible());
        QVERIFY(finished);
    }

    void confirmationSummarisesThePreflightAndListsItOnRequest() {
        RunFixture fx;
        fx.book({{"一郎", "ichiro@example.jp"},
                 {"二郎", "jiro@example.jp", 0, ""},  // no company for &[会社名]
                 {"三郎", "ichiro@example.jp"}});
        contents::SendContents c = message("&[会社名]\n&[名前] 様\n");
        fx.writeContents(c);
        QWidget window;
        SendCommand command(&window, sendSetup(fx));
        QString findings;
        QString list;
        bool cleanBefore = true;
        ModalScript modals;
        modals
            .then(kConfirmation,
                  [&](QWidget* w) {
                      auto* d = qobject_cast<SendConfirmDialog*>(w);
                      findings = d->findingsText();
                      cleanBefore = !d->detailsButton()->isVisible();
                      d->detailsButton()->click();
                  })
            .then(QStringLiteral("送信前の確認 - 宛先ごとの一覧"),
                  [&](QWidget* w) {
                      list = w->findChild<QPlainTextEdit*>()->toPlainText();
                      ModalScript::press(w, QStringLiteral("閉じる"));
                  })
            .then(kConfirmation, press(QStringLiteral("キャンセル")));
        QVERIFY(!command.execute());  // cancelled: nothing sent, nothing held
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QVERIFY(!cleanBefore);
        // One line per kind of finding, the list one line per recipient.
        QCOMPARE(findings.count(QLatin1Char('\n')), 1);
        QVERIFY2(findings.contains(QStringLiteral("重複")), qPrintable(findings));
        QVERIFY2(list.contains(QStringLiteral("jiro@example.jp")), qPrintable(list));
        QVERIFY2(list.contains(QStringLiteral("ichiro@example.jp")), qPrintable(list));
        QVERIFY(!fx.doc().runInProgress());
    }

    void timedSendRefusesAPastTimeThenWaitsAndStartsNow() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        fx.book({{"一郎", "ichiro@example.jp"}});
        fx.writeContents(message("&[名前] 様\n"));
        std::time_t now = localTime(10, 0, 0);

        QWidget window;
        SendCommandSetup setup = sendSetup(fx);
        setup.now = [&now] { return now; };
        SendCommand command(&window, setup);
        int ended = -1;
        connect(&command, &JobCommand::runEnded, this, [&](int r) { ended = r; });
        QString waitingShows;
        ModalScript modals;
        modals.then(kConfirmation, press(QStringLiteral("時間指定送信")))
            .then(QStringLiteral("送信時間の指定"),
                  [](QWidget* w) {
                      auto* d = qobject_cast<TimeDialog*>(w);
                      QCOMPARE(d->hourBox()->value(), 11);  // an hour from now
                      d->hourBox()->setValue(9);            // in the past
                      ModalScript::press(w, QStringLiteral("OK"));
                  })
            .then(QStringLiteral("ターノス - 時間指定送信"), press(QStringLiteral("OK")),
                  QStringLiteral("現在時刻よりも後の時刻を指定して下さい。"))
            .then(QStringLiteral("送信時間の指定"),
                  [](QWidget* w) {
                      auto* d = qobject_cast<TimeDialog*>(w);
                      d->hourBox()->setValue(12);
                      d->minuteBox()->setValue(30);
                      ModalScript::press(w, QStringLiteral("OK"));
                  })
            .then(QStringLiteral("時間指定送信"),
                  [&](QWidget* w) {
                      waitingShows = qobject_cast<WaitDialog*>(w)->currentTimeText();
                      ModalScript::press(w, QStringLiteral("キャンセル"));
                  })
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("いいえ")),
                  QStringLiteral("中止しますか？"))
            .then(QStringLiteral("時間指定送信"), press(QStringLiteral("今すぐ送信")));

        QVERIFY(command.execute());
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        QCOMPARE(waitingShows, QStringLiteral("2026 年 12 月 07 日  10 時 00 分 00 秒です。"));
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 0);
        QCOMPARE(fx.recordedCount(), 1);
    }

    void waitingDialogStartsWhenThePlannedMinuteComes() {
        std::time_t now = localTime(10, 29, 58);
        WaitDialog wait(nullptr, localTime(10, 30, 45), [&now] { return now; });
        bool accepted = false;
        connect(&wait, &QDialog::accepted, this, [&] { accepted = true; });
        wait.show();
        QTest::qWait(1300);  // a tick at 10:29:58 shows the time and waits on
        QVERIFY(!accepted);
        QVERIFY(wait.isVisible());
        now = localTime(10, 30, 0);  // seconds are not compared
        QVERIFY(QTest::qWaitFor([&] { return accepted; }, 5000));
    }

    void scriptInputBoxIsAnsweredForThePreviewAndForEachRecipient() {
        RunFixture fx;
        QVERIFY2(fx.startRecorder(), fx.recorderOutput().c_str());
        fx.book({{"一郎", "ichiro@example.jp"}});
        fx.writeContents(
            message("#n = StrInputDialog(\"担当者名を入力してください\", \"担当\")\n"
                    "#Print \"担当 : \"; n\n"
                    "&[名前] 様\n"));
        fx.settings.ScriptUse = 1;

        QWidget window;
        SendCommand command(&window, sendSetup(fx));
        int ended = -1;
        connect(&command, &JobCommand::runEnded, this, [&](int r) { ended = r; });
        QString preview;
        QString offered;
        ModalScript modals;
        modals
            .then(kScriptTitle,
                  [&](QWidget* w) {
                      offered = qobject_cast<QInputDialog*>(w)->textValue();
                      type(QStringLiteral("山田"))(w);  // the preview
                  })
            .then(kConfirmation, confirmAndSend(preview))
            .then(kScriptTitle, type(QStringLiteral("佐藤")));  // the send
        QVERIFY(command.execute());
        QCOMPARE(offered, QStringLiteral("担当"));
        QVERIFY(preview.contains(QStringLiteral("担当 : 山田")));
        QVERIFY(QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs));
        QCOMPARE(ended, 0);
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
        QVERIFY(modals.done());
        const std::string sent = decodedMessage(fx, 1);
        QVERIFY2(sent.find("担当 : 佐藤") != std::string::npos, sent.c_str());
    }

    void scriptExecuteAsksBeforeStartingAProgram() {
        QWidget window;
        DialogScriptHost host(&window);
        std::vector<std::vector<std::string>> started;
        host.setStarter([&](const std::vector<std::string>& argv) {
            started.push_back(argv);
            return true;
        });
        ModalScript modals;
        modals
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("いいえ")),
                  QStringLiteral("/bin/echo"))
            .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("はい")))
            .then(kScriptTitle, press(QStringLiteral("キャンセル")))
            .then(kScriptTitle, press(QStringLiteral("はい")));
        QVERIFY(!host.Execute("/bin/echo", "a b"));
        QVERIFY(started.empty());
        QVERIFY(host.Execute("/bin/echo", "a \"b c\""));
        QCOMPARE(started.size(), std::size_t{1});
        QCOMPARE(started[0], (std::vector<std::string>{"/bin/echo", "a", "b c"}));
        QVERIFY(!host.MsgBox(sj("続けますか？"), 1));  // OK and Cancel: Cancel
        QVERIFY(host.MsgBox(sj("続けますか？"), 2));   // Yes and No: Yes
        QVERIFY2(modals.failures().isEmpty(), qPrintable(modals.failures().join('\n')));
    }

    void checkAtLevelsOneAndTwoShowsTheStatuses() {
        tarn::mx::test::Dnsmasq dns(
            {"local=/jp/", "mx-host=mxok.example.jp,mail.mxok.example.jp,10",
             "host-record=mail.mxok.example.jp,10.0.0.1", "host-record=aonly.example.jp,10.0.0.2"});
        ::setenv("TARN_DNS_PORT", std::to_string(dns.port()).c_str(), 1);
        RunFixture fx;
        fx.book({{"一", "info@mxok.example.jp"},
                 {"二", "taro@aonly.example.jp"},
                 {"三", "hanako@nowhere.example.jp"},
                 {"四", "no space@mxok.example.jp"},
                 {"五", "info@mxok.example.jp", 4}});
        const SettingsStore store(fx.path("registry"));
        QWidget window;

        auto runCheck = [&](bool levelTwo) {
            CheckCommandSetup setup;
            setup.job.settings = fx.settings;
            setup.job.options.documentTitle = "book.tn2";
            setup.source = [&fx] {
                return std::make_unique<driver::BookCheckSource>(fx.doc(), fx.view());
            };
            setup.store = &store;
            CheckCommand command(&window, setup);
            int ended = -1;
            connect(&command, &JobCommand::runEnded, this, [&](int r) { ended = r; });
            ModalScript modals;
            modals
                .then(QStringLiteral("メールアドレスチェックの設定"),
                      [&](QWidget* w) {
                          auto* d = qobject_cast<CheckSettingsDialog*>(w);
                          (levelTwo ? d->levelTwoButton() : d->levelOneButton())->setChecked(true);
                          d->dnsEdit()->setText(QString::fromStdString(dns.address()));
                          ModalScript::press(w, QStringLiteral("OK"));
                      })
                .then(QStringLiteral("ターノス - 確認"), press(QStringLiteral("はい")),
                      QStringLiteral("5件チェックを行います。\nよろしいですか？"));
            if (!command.execute()) {
                return -1;
            }
            if (!QTest::qWaitFor([&] { return ended >= 0; }, kLimitMs)) {
                return -2;
            }
            if (!command.progressDialog()->isFinished() ||
                !command.progressDialog()->addressText().startsWith(QStringLiteral("結果 [OK:"))) {
                return -3;
            }
            return modals.failures().isEmpty() ? ended : -4;
        };

        QCOMPARE(runCheck(false), 0);
        const int level1[] = {0, 0, 0, 2, 1};
        for (std::size_t i = 0; i < 5; ++i) {
            QCOMPARE(fx.doc().record(i).status(), level1[i]);
        }
        QCOMPARE(runCheck(true), 0);
        const int level2[] = {0, 0, 3, 2, 1};
        for (std::size_t i = 0; i < 5; ++i) {
            QCOMPARE(fx.doc().record(i).status(), level2[i]);
        }
        ::unsetenv("TARN_DNS_PORT");

        // The settings the dialog gave were saved for next time.
        SendSettings saved{};
        std::string contFileName;
        store.load(saved, contFileName);
        QCOMPARE(saved.check.CheckMode, 1);
        QCOMPARE(saved.check.DNSAddress, 0x7F000002u);
    }
};

QTEST_MAIN(SendCheckTest)
#include "send_check_test.moc"

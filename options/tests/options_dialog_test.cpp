// The options dialogs on the offscreen platform, driven as a person would:
// buttons clicked, fields typed, message boxes read and answered.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cstring>
#include <fstream>
#include <sstream>

#include "account_dialog.h"
#include "driver/send_quota.h"
#include "modal_script.h"
#include "options/texts.h"
#include "options_dialog.h"
#include "smtp_recorder.h"
#include "test_send_dialog.h"
#include "ui/sjis_text.h"

using namespace tarn;
using namespace tarn::options;
using namespace tarn::options::gui;
using tarn::options::test::later;
using tarn::options::test::ModalScript;

namespace {

constexpr int kWait = 20000;  // ms; generous for a loaded machine

QString q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

AccountEntry account(int n) {
    AccountEntry e;
    const std::string name = "user" + std::to_string(n);
    setFieldText(e.settings.FromName, name);
    setFieldText(e.settings.FromEMail, name + "@example.jp");
    setFieldText(e.settings.Account, "account" + std::to_string(n));
    setFieldText(e.settings.SMTPName, "smtp.example.jp");
    e.settings.PortNo = 25;
    e.settings.dialUp.LANConnect = 1;
    return e;
}

SendSettings settingsWith(int accounts) {
    SendSettings s;
    std::memset(&s, 0, sizeof s);
    for (int i = 0; i < accounts; ++i) {
        storeAccount(s, i, account(i + 1));
    }
    if (accounts > 0) {
        storeAccount(s, kDefaultSlot, account(1));
    }
    return s;
}

QAbstractButton* okOf(QWidget* dialog) {
    for (auto* box : dialog->findChildren<QDialogButtonBox*>()) {
        for (QAbstractButton* b : box->buttons()) {
            if (box->buttonRole(b) == QDialogButtonBox::AcceptRole) {
                return b;
            }
        }
    }
    return nullptr;
}

template <class T>
T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no child %s", name);
    }
    return found;
}

// Fills the account dialog's first page.
void fillAccount(QWidget* dialog, const QString& account, const QString& server,
                 const QString& port, const QString& name, const QString& address) {
    child<QLineEdit>(dialog, "account")->setText(account);
    child<QLineEdit>(dialog, "smtpName")->setText(server);
    child<QLineEdit>(dialog, "port")->setText(port);
    child<QLineEdit>(dialog, "fromName")->setText(name);
    child<QLineEdit>(dialog, "fromEMail")->setText(address);
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

AccountDialogEnvironment noDialUp() {
    return AccountDialogEnvironment{};
}

}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;
    std::filesystem::path headerFile() const {
        return std::filesystem::path(m_home.path().toStdString()) / "CustmHeader.hdr";
    }

private slots:
    void init() {
        QVERIFY(m_home.isValid());
        std::filesystem::remove(headerFile());
    }

    void eleventhAccountIsRefused() {
        SendSettings s = settingsWith(10);
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        dialog.show();
        ModalScript script;
        script.answer();
        later(child<QPushButton>(&dialog, "addAccount"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QCOMPARE(script.messages(), QStringList{q(text::kAccountLimit)});
        QCOMPARE(child<QTreeWidget>(&dialog, "accounts")->topLevelItemCount(), 10);
    }

    void deletingTheDefaultLeavesNoneAndOkIsRefused() {
        SendSettings s = settingsWith(2);
        const SendSettings before = s;
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        dialog.show();
        auto* list = child<QTreeWidget>(&dialog, "accounts");
        list->setCurrentItem(list->topLevelItem(0));
        ModalScript script;
        script.answer(QStringLiteral("はい(&Y)"));
        later(child<QPushButton>(&dialog, "deleteAccount"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QCOMPARE(script.messages(), QStringList{q(text::kAskDelete)});
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("account2"));
        QCOMPARE(child<QLabel>(&dialog, "defaultLabel")->text(),
                 QStringLiteral("標準で使用するアカウント : 選択されていません"));

        ModalScript ok;
        ok.answer();
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(ok.done(), kWait);
        QCOMPARE(ok.messages(), QStringList{q(text::kNoDefaultAccount)});
        QVERIFY(dialog.isVisible());
        QCOMPARE(std::memcmp(&s, &before, sizeof s), 0);
        QVERIFY(!std::filesystem::exists(headerFile()));
    }

    void senderNamesAreQuotedAndEmptyAccountNamesListedUnderTheServer() {
        SendSettings s = settingsWith(1);
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        dialog.show();
        ModalScript script;
        script.then([](QWidget* d) {
            fillAccount(d, QString(), QStringLiteral("mail.example.co.jp"), QString(),
                        QStringLiteral("Example Co.,Ltd."), QStringLiteral("info@example.co.jp"));
            later(okOf(d));
        });
        later(child<QPushButton>(&dialog, "addAccount"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        ModalScript japanese;
        japanese.then([](QWidget* d) {
            fillAccount(d, QStringLiteral("営業部"), QStringLiteral("mail.example.co.jp"),
                        QStringLiteral("587"), QStringLiteral("株式会社 見本"),
                        QStringLiteral("sales@example.co.jp"));
            later(okOf(d));
        });
        later(child<QPushButton>(&dialog, "addAccount"));
        QTRY_VERIFY_WITH_TIMEOUT(japanese.done(), kWait);

        auto* list = child<QTreeWidget>(&dialog, "accounts");
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("mail.example.co.jp"));
        QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("\"Example Co.,Ltd.\""));
        QCOMPARE(list->topLevelItem(2)->text(1), QStringLiteral("株式会社 見本"));

        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWait);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(fieldText(s.accounts[1].Account), std::string("mail.example.co.jp"));
        QCOMPARE(s.accounts[1].PortNo, 0);  // the empty port field
        QCOMPARE(fieldText(s.accounts[1].FromName), std::string("\"Example Co.,Ltd.\""));
        QCOMPARE(s.accounts[2].PortNo, 587);
    }

    void portPastTheRangeIsRefusedAndTheFieldShown() {
        AccountDialog dialog(formForNewAccount(), noDialUp(), nullptr);
        dialog.show();
        fillAccount(&dialog, QString(), QStringLiteral("mail.example.jp"), QStringLiteral("65536"),
                    QStringLiteral("Taro"), QStringLiteral("taro@example.jp"));
        child<QTabWidget>(&dialog, "pages")->setCurrentIndex(2);
        ModalScript script;
        script.answer();
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QCOMPARE(script.messages(), QStringList{q(text::kPortRange)});
        QVERIFY(dialog.isVisible());
        // The refused field's page is brought forward and the field given the focus.
        QCOMPARE(child<QTabWidget>(&dialog, "pages")->currentIndex(), 0);
        QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(child<QLineEdit>(&dialog, "port")));

        // A name that does not fit after its quotes is refused, not cut.
        child<QLineEdit>(&dialog, "port")->setText(QString());
        child<QLineEdit>(&dialog, "fromName")
            ->setText(QString(62, QLatin1Char('a')) + QStringLiteral(" ") +
                      QString(63, QLatin1Char('b')));
        ModalScript tooLong;
        tooLong.answer();
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(tooLong.done(), kWait);
        QVERIFY2(tooLong.messages().value(0).startsWith(
                     QStringLiteral("送信者名が長すぎます（128 バイト）")),
                 qPrintable(tooLong.messages().value(0)));
        QVERIFY(dialog.isVisible());
    }

    void choosingDialUpWithoutEntriesFallsBackToTheLan() {
        AccountDialog dialog(formForNewAccount(), noDialUp(), nullptr);
        dialog.show();
        ModalScript script;
        script.answer();
        later(child<QRadioButton>(&dialog, "dialUp"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QCOMPARE(script.messages(), QStringList{q(text::kNoDialUpEntries)});
        QVERIFY(child<QRadioButton>(&dialog, "lan")->isChecked());
        QVERIFY(!child<QLineEdit>(&dialog, "userName")->isEnabled());
    }

    void noLogWithAnEmptyFileNameIsAccepted() {
        SendSettings s = settingsWith(1);
        s.LogFileMode = 2;
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        dialog.show();
        QVERIFY(child<QLineEdit>(&dialog, "logFileName")->isEnabled());
        ModalScript refused;
        refused.answer();
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(refused.done(), kWait);
        QCOMPARE(refused.messages(), QStringList{q(text::kNoLogFileName)});

        child<QRadioButton>(&dialog, "logNever")->click();
        QVERIFY(!child<QLineEdit>(&dialog, "logFileName")->isEnabled());
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWait);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(s.LogFileMode, 0);
    }

    // The send limits: a preset fills both numbers and shows while they match
    // it; a number of one's own shows "任意の値"; past a million OK is refused.
    void sendLimitsFromAPresetOrTypedAreSaved() {
        SendSettings s = settingsWith(1);
        s.QuotaPerHour = 50;
        s.QuotaPerDay = 300;
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        dialog.show();
        auto* preset = child<QComboBox>(&dialog, "quotaPreset");
        auto* hour = child<QLineEdit>(&dialog, "quotaPerHour");
        auto* day = child<QLineEdit>(&dialog, "quotaPerDay");
        auto description = [](const char* name) {
            return ui::fromSjis(driver::findQuotaPreset(name)->description);
        };
        QCOMPARE(preset->currentText(), description("provider"));

        const int hosting = preset->findText(description("hosting"));
        QVERIFY(hosting >= 0);
        preset->setCurrentIndex(hosting);
        emit preset->activated(hosting);
        QCOMPARE(hour->text(), QStringLiteral("100"));
        QCOMPARE(day->text(), QStringLiteral("1000"));
        day->setText(QStringLiteral("1200"));
        QCOMPARE(preset->currentText(), QStringLiteral("任意の値"));
        child<QLineEdit>(&dialog, "jitterMSec")->setText(QStringLiteral("250"));

        hour->setText(QStringLiteral("2000000"));
        ModalScript refused;
        refused.answer();
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(refused.done(), kWait);
        QCOMPARE(refused.messages(),
                 QStringList{
                     QStringLiteral("送信数の上限は 0 から 1000000 通までで指定してください。")});
        QCOMPARE(child<QTabWidget>(&dialog, "pages")->currentIndex(), 1);
        QCOMPARE(s.QuotaPerHour, 50);

        hour->setText(QStringLiteral("100"));
        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWait);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(s.QuotaPerHour, 100);
        QCOMPARE(s.QuotaPerDay, 1200);
        QCOMPARE(s.JitterMSec, 250);
    }

    // The sessions side by side and pipelining: shown as stored, saved as set;
    // the field takes no more sessions than a send opens.
    void sessionsAndPipeliningAreSaved() {
        SendSettings s = settingsWith(1);
        s.SmtpSessions = 0;  // as stored by a version without the setting: one session
        {
            OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
            dialog.show();
            auto* sessions = child<QSpinBox>(&dialog, "smtpSessions");
            auto* noPipelining = child<QCheckBox>(&dialog, "noPipelining");
            QCOMPARE(sessions->value(), 1);
            QVERIFY(!noPipelining->isChecked());
            sessions->setValue(kMaxSmtpSessions + 1);
            QCOMPARE(sessions->value(), kMaxSmtpSessions);
            sessions->setValue(4);
            noPipelining->setChecked(true);
            later(okOf(&dialog));
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWait);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(s.SmtpSessions, 4);
        QCOMPARE(s.NoPipelining, 1);
        OptionsDialog again(s, nullptr, headerFile(), noDialUp());
        again.show();
        QCOMPARE(child<QSpinBox>(&again, "smtpSessions")->value(), 4);
        QVERIFY(child<QCheckBox>(&again, "noPipelining")->isChecked());
    }

    void customHeaderFileIsWrittenInListOrder() {
        { std::ofstream(headerFile()) << "X-First: 1\n"; }
        SendSettings s = settingsWith(1);
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        dialog.show();
        ModalScript script;
        script.then([](QWidget* d) {
            child<QLineEdit>(d, "item")->setText(QStringLiteral("X-Second"));
            child<QLineEdit>(d, "value")->setText(QStringLiteral("二番目"));
            later(okOf(d));
        });
        later(child<QPushButton>(&dialog, "addHeader"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        auto* headers = child<QTreeWidget>(&dialog, "headers");
        QCOMPARE(headers->topLevelItemCount(), 2);
        QCOMPARE(headers->currentItem(), headers->topLevelItem(1));
        child<QPushButton>(&dialog, "headerUp")->click();  // now first, still selected
        child<QPushButton>(&dialog, "headerUp")->click();  // nothing above it: no change
        QCOMPARE(headers->topLevelItem(0)->text(0), QStringLiteral("X-Second"));
        QCOMPARE(headers->currentItem(), headers->topLevelItem(0));
        QVERIFY(readAll(headerFile()) == "X-First: 1\n");  // nothing written before OK

        later(okOf(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWait);
        // "二番目" in Shift_JIS.
        QCOMPARE(QByteArray::fromStdString(readAll(headerFile())),
                 QByteArray("X-Second : \x93\xf1\x94\xd4\x96\xda\nX-First : 1\n"));
    }

    void openingWithoutAnAccountAsksForOneAtOnce() {
        SendSettings s = settingsWith(0);
        OptionsDialog dialog(s, nullptr, headerFile(), noDialUp());
        ModalScript script;
        script.then([](QWidget* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("SMTPサーバー情報詳細設定"));
            QCOMPARE(child<QLineEdit>(d, "port")->text(), QStringLiteral("25"));
            fillAccount(d, QString(), QStringLiteral("smtp.example.jp"), QStringLiteral("25"),
                        QStringLiteral("Taro"), QStringLiteral("taro@example.jp"));
            later(okOf(d));
        });
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QCOMPARE(child<QLabel>(&dialog, "defaultLabel")->text(),
                 QStringLiteral("標準で使用するアカウント : smtp.example.jp"));
    }

    void testSendRunsWithoutFreezingTheWindow() {
        tarn::test::SmtpRecorder server({});
        QVERIFY2(server.port() > 0, server.output().c_str());
        AccountEntry e = account(1);
        setFieldText(e.settings.SMTPName, "127.0.0.1");
        e.settings.PortNo = server.port();
        AccountDialogEnvironment env;
        env.smtpAuthFile = std::filesystem::path(m_home.path().toStdString()) / "SMTPAuth.txt";
        env.testReceiveTimeoutSec = 10;
        AccountDialog dialog(formForAccount(e), env, nullptr);
        dialog.show();

        ModalScript script;
        script
            .then([](QWidget* d) {
                QCOMPARE(d->windowTitle(), QStringLiteral("ターノス - テスト送信"));
                later(child<QPushButton>(d, "send"));  // no address yet
            })
            .answer()
            .then([](QWidget* d) {
                child<QLineEdit>(d, "address")->setText(QStringLiteral("rcpt@example.jp"));
                later(child<QPushButton>(d, "send"));
            })
            .answer()
            .then([](QWidget* d) { later(child<QPushButton>(d, "cancel")); });
        later(child<QPushButton>(&dialog, "testSend"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QCOMPARE(script.messages(), (QStringList{q(text::kNoTestAddress), q(text::kTestSent)}));
        QVERIFY(script.unexpected().isEmpty());
        QVERIFY(server.envelope(1).has_value());
        QVERIFY(dialog.isVisible());
    }

    void testSendFailureNamesTheCause() {
        const int closed = tarn::test::freePort();
        AccountEntry e = account(1);
        setFieldText(e.settings.SMTPName, "127.0.0.1");
        e.settings.PortNo = closed;
        TestSendRequest request;
        request.account = e;
        request.smtpAuthFile = std::filesystem::path(m_home.path().toStdString()) / "none.txt";
        request.receiveTimeoutSec = 10;
        TestSendDialog dialog(request, nullptr);
        dialog.show();
        QSignalSpy finished(&dialog, &TestSendDialog::testFinished);
        child<QLineEdit>(&dialog, "address")->setText(QStringLiteral("rcpt@example.jp"));
        ModalScript script;
        script.answer();
        later(child<QPushButton>(&dialog, "send"));
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWait);
        const QString message = script.messages().value(0);
        QVERIFY2(message.startsWith(
                     QStringLiteral("SMTPサーバへの接続に失敗しました。\n[0]\n[111]\n[0]\n[1031]")),
                 qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("は接続を受け付けていません。")),
                 qPrintable(message));
        QVERIFY(dialog.isVisible());  // open for another try
        QVERIFY(child<QPushButton>(&dialog, "send")->isEnabled());
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"

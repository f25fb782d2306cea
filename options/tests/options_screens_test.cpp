// The two dialogs on a real X server (Xvfb, the xcb platform), every page
// photographed for a person to look at: Japanese drawn, nothing cut off.
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include "account_dialog.h"
#include "common/cp932.h"
#include "header_item_dialog.h"
#include "options_dialog.h"
#include "screenshot.h"
#include "test_send_dialog.h"

using namespace tarn;
using namespace tarn::options;
using namespace tarn::options::gui;

namespace {

AccountEntry account(const char* account, const QString& name, const char* address,
                     const char* server, int port, std::int32_t security) {
    AccountEntry e;
    setFieldText(e.settings.Account, *tarn::cp932::fromUtf8(account));
    setFieldText(e.settings.FromName, *tarn::cp932::fromUtf8(name.toStdString()));
    setFieldText(e.settings.FromEMail, address);
    setFieldText(e.settings.SMTPName, server);
    e.settings.PortNo = port;
    e.settings.dialUp.LANConnect = 1;
    e.security = security;
    return e;
}

void photographPages(QWidget* dialog, const QString& prefix) {
    auto* tabs = dialog->findChild<QTabWidget*>(QStringLiteral("pages"));
    QVERIFY(tabs != nullptr);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(50);  // let the page paint before the grab
        const QString path =
            tarn::ui::test::saveScreenshot(dialog, prefix + QStringLiteral("-%1").arg(i + 1));
        QVERIFY2(!path.isEmpty(), "screenshot not saved");
    }
}

}  // namespace

class OptionsScreensTest : public QObject {
    Q_OBJECT
private slots:
    void bothDialogsOnEveryPage() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        SendSettings s;
        std::memset(&s, 0, sizeof s);
        storeAccount(s, 0,
                     account("本社", QStringLiteral("株式会社 見本商事"), "info@mihon.co.jp",
                             "smtp.mihon.co.jp", 587, kSecurityStartTls));
        storeAccount(s, 1,
                     account("大阪支店", QStringLiteral("\"Mihon Osaka\""), "osaka@mihon.co.jp",
                             "mail.mihon.co.jp", 465, kSecurityTls));
        storeAccount(s, 2,
                     account("", QStringLiteral("山田 太郎"), "yamada@example.jp",
                             "mail.example.jp", 25, kSecurityNone));
        storeAccount(s, kDefaultSlot, loadAccount(s, 0));
        s.WaitMSec = 500;
        s.WaitCount = 100;
        s.WaitSec = 30;
        s.LogFileMode = 1;
        setFieldText(s.LogFileName, *tarn::cp932::fromUtf8("/home/yamada/送信ログ.txt"));
        s.CustomUse = 1;

        QTemporaryDir home;
        const std::filesystem::path headers =
            std::filesystem::path(home.path().toStdString()) / "CustmHeader.hdr";
        QVERIFY(
            writeCustomHeaderFile(headers, {{"X-Mailer", "TARN01 Version 2.01"},
                                            {"Reply-To", "info@mihon.co.jp"},
                                            {"Organization", *tarn::cp932::fromUtf8("見本商事")}})
                .ok());

        OptionsDialog options(s, nullptr, headers, AccountDialogEnvironment{});
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
        photographPages(&options, QStringLiteral("options"));

        AccountForm form = formForAccount(loadAccount(s, 0));
        form.pbsUse = true;
        form.pbsUserId = "pop-user";
        form.caFile = "/etc/ssl/certs/mihon-ca.pem";
        AccountDialogEnvironment dialUp;
        dialUp.dialUpAvailable = true;
        dialUp.dialUpEntries = {"provider"};
        AccountDialog accountDialog(form, dialUp, &options);
        accountDialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&accountDialog));
        photographPages(&accountDialog, QStringLiteral("account"));

        TestSendRequest request;
        request.account = loadAccount(s, 0);
        TestSendDialog testDialog(request, &accountDialog);
        testDialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&testDialog));
        QTest::qWait(50);
        QVERIFY(
            !tarn::ui::test::saveScreenshot(&testDialog, QStringLiteral("test-send")).isEmpty());

        HeaderItemDialog item({"Reply-To", "info@mihon.co.jp"}, &options);
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item));
        QTest::qWait(50);
        QVERIFY(!tarn::ui::test::saveScreenshot(&item, QStringLiteral("header-item")).isEmpty());
    }
};

QTEST_MAIN(OptionsScreensTest)
#include "options_screens_test.moc"

#include "application.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include "database/db_connection.h"
#include "main_dialog.h"
#include "sendcore/single_instance.h"
#include "ui/splash.h"

namespace tarn::dbsendapp {
namespace {

// A borderless window with the product's name, centred, for 1000 ms.
void showSplash() {
    QLabel splash(
        QStringLiteral("<div style='font-size:22pt;font-weight:bold'>ターノス</div>"
                       "<div style='font-size:13pt'>データベース送信</div>"));
    splash.setAlignment(Qt::AlignCenter);
    splash.setStyleSheet(
        QStringLiteral("QLabel { background: #1f4e79; color: white; padding: 36px 64px; }"));
    ui::showSplash(splash);
}

}  // namespace

QString missingComponentsTitle() {
    return QStringLiteral("ターノス  インストール");
}

QString missingComponentsText() {
    return QStringLiteral(
        "「データアクセスコンポーネント（unixODBC のドライバーマネージャー libodbc.so.2）」が"
        "インストールされていません。\n"
        "このコンポーネントがないと、ODBC のデータソースのデータは読み込めません。\n"
        "（Excel、Access、CSV のファイルは読み込めます。）\n\n"
        "パッケージ unixodbc をインストールしてください。");
}

int runApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QApplication::setApplicationName(QStringLiteral("TarnDBSend"));

    // One running copy, and not beside the group-send application.
    const InstanceLock lock = InstanceLock::acquire(Application::DatabaseSend);
    if (!lock.held()) {
        QMessageBox::warning(nullptr, QStringLiteral("ターノス"),
                             QString::fromStdString(lock.message()));
        return 1;
    }
    AppContext context;
    const SettingsLoadResult loaded = context.store.load(context.settings, context.contFileName);
    if (!loaded.warnings.empty()) {
        QMessageBox::warning(nullptr, QStringLiteral("ターノス"),
                             QStringLiteral("設定ファイルに読めない行があります。\n\n%1")
                                 .arg(QString::fromStdString(loaded.warnings.front())));
    }
    context.db = context.store.loadDbSend();

    showSplash();
    MainDialog dialog(context);
    dialog.show();
    if (db::TarnOdbcApi() == 1) {
        QMessageBox::warning(&dialog, missingComponentsTitle(), missingComponentsText());
    }
    // No server yet: the options dialog at once.
    if (fieldText(context.settings.defaultAccount.SMTPName).empty()) {
        dialog.openOptions();
    }
    dialog.exec();
    return 0;
}

}  // namespace tarn::dbsendapp

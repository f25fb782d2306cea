#include "application.h"

#include <QApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <algorithm>

#include "icons.h"
#include "main_window.h"
#include "message_boxes.h"
#include "ui/splash.h"

namespace tarn::gpsend {

namespace {

// A borderless window with the product picture, centred, for 1000 ms.
void showSplash() {
    QLabel splash;
    splash.setPixmap(splashPicture());
    ui::showSplash(splash);
}

}  // namespace

int runApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QApplication::setApplicationName(QStringLiteral("TarnGPSend"));
    QApplication::setWindowIcon(applicationIcon());
    // Qt's own dialogs (files, colours) in Japanese where the translation is installed.
    QTranslator qtJapanese;
    if (qtJapanese.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtJapanese);
    }

    // One running copy, and not beside the database-send application.
    const InstanceLock lock = InstanceLock::acquire(Application::GroupSend);
    if (!lock.held()) {
        showMessage(nullptr, fromUtf8(kInstanceTitle), QString::fromStdString(lock.message()),
                    QMessageBox::Warning);
        return 1;
    }

    AppContext context;
    context.profile = std::make_unique<Profile>();
    const SettingsLoadResult loaded = context.store.load(context.settings, context.contFileName);
    if (!loaded.warnings.empty()) {
        // Damaged lines were skipped and are kept as they are: say which (the
        // first ten; a badly damaged file would not fit on the screen).
        constexpr std::size_t kShown = 10;
        QStringList lines;
        for (std::size_t i = 0; i < std::min(loaded.warnings.size(), kShown); ++i) {
            lines << QString::fromStdString(loaded.warnings[i]);
        }
        if (loaded.warnings.size() > kShown) {
            lines << QStringLiteral("ほか %1 行").arg(loaded.warnings.size() - kShown);
        }
        showMessage(nullptr, QStringLiteral("ターノス"),
                    QStringLiteral("設定ファイルに読めない行があります。\n\n%1")
                        .arg(lines.join(QLatin1Char('\n'))),
                    QMessageBox::Warning);
    }
    if (loaded.imported) {
        showMessage(nullptr, fromUtf8(kImportNoticeTitle), fromUtf8(kImportNoticeText),
                    QMessageBox::Information);
    }
    // Dial-up is optional: without the system's service or the library the
    // drivers report 507 when an account needs it.
    if (auto dialUp = DialUpLibrary::load()) {
        context.dialUp = *dialUp;
    }

    showSplash();
    MainWindow window(context);
    window.show();
    if (argc > 1) {
        window.openBook(QString::fromLocal8Bit(argv[1]));
    }
    window.checkFirstUse();
    const int result = QApplication::exec();

    // The settings record goes back to the registry file at exit.
    for (const Status& saved : {context.store.saveOption(context.settings),
                                context.store.saveCommon(context.contFileName),
                                context.store.saveCheckParam(context.settings.check)}) {
        if (!saved) {
            showMessage(nullptr, QStringLiteral("ターノス"),
                        QStringLiteral("設定を保存できませんでした。\n\n%1")
                            .arg(QString::fromStdString(saved.error().message)),
                        QMessageBox::Warning);
            break;
        }
    }
    return result;
}

}  // namespace tarn::gpsend

#include "ui/log_commands.h"

#include "contents/desktop.h"
#include "driver/log_viewer.h"
#include "ui/message_box.h"

namespace tarn::ui {

bool showLog(QWidget* parent, const std::string& viewer, const std::string& logPath,
             const ProgramStarter& start) {
    const std::vector<std::string> argv = driver::logViewerCommand(viewer, logPath);
    if (argv.empty()) {
        return true;
    }
    if (start ? start(argv) : contents::startDetached(argv)) {
        return true;
    }
    tell(parent, QStringLiteral("ターノス - エラー"),
         QStringLiteral("ログを表示するプログラムを起動できません: %1")
             .arg(QString::fromStdString(argv.front())),
         QMessageBox::Critical);
    return false;
}

bool showSendLog(QWidget* parent, const SendSettings& settings, const ProgramStarter& start) {
    return showLog(parent, fieldText(settings.LogOpenExeName), fieldText(settings.LogFileName),
                   start);
}

bool showCheckLog(QWidget* parent, const SendSettings& settings, const ProgramStarter& start) {
    return showLog(parent, fieldText(settings.LogOpenExeName),
                   fieldText(settings.check.CheckLogFileName), start);
}

}  // namespace tarn::ui

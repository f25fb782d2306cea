#include "ui/help.h"

#include <QDesktopServices>
#include <QUrl>

#include <filesystem>

#include "common/program.h"
#include "ui/message_box.h"

namespace tarn::ui {

bool openHelpPage(QWidget* parent, const QString& page) {
    const std::filesystem::path folder = programFolder() / "help";
    const std::filesystem::path file = folder / page.toStdString();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        tell(parent, QStringLiteral("ターノス"),
             QStringLiteral("ヘルプファイルが見つかりません。\n%1")
                 .arg(QString::fromStdString(file.string())),
             QMessageBox::Warning);
        return false;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())))) {
        tell(parent, QStringLiteral("ターノス"),
             QStringLiteral("ヘルプを開けません。ブラウザーで次のファイルを開いてください。\n%1")
                 .arg(QString::fromStdString(file.string())),
             QMessageBox::Warning);
        return false;
    }
    return true;
}

}  // namespace tarn::ui

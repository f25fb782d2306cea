#include "screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace tarn::ui::test {

QString saveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("TARN_SCREENSHOT_DIR", QStringLiteral("screenshots"));
    if (!QDir().mkpath(dir)) {
        return {};
    }
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    return widget->grab().save(path, "PNG") ? path : QString();
}

}  // namespace tarn::ui::test

// Screenshots from window tests, saved as PNG for a person to look at.
#pragma once

#include <QString>

class QWidget;

namespace tarn::ui::test {

// Grabs the widget as it is drawn now and saves it as <name>.png in the folder
// named by TARN_SCREENSHOT_DIR (created when missing). Returns the file's path,
// or an empty string when nothing could be saved.
QString saveScreenshot(QWidget* widget, const QString& name);

}  // namespace tarn::ui::test

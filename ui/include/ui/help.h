// The user guide beside the program (help/, as the build and the install lay
// it out), opened in the desktop's browser.
#pragma once

#include <QString>

class QWidget;

namespace tarn::ui {

// Opens help/<page> (such as "index.html"); when the page is not there, says
// so with the folder it looked in. False when nothing was opened.
bool openHelpPage(QWidget* parent, const QString& page);

}  // namespace tarn::ui

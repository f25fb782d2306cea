// The database-send application's start-up: the instance lock, the settings,
// the splash window, the warning when the data components are missing, the
// options dialog on first use, then the main dialog.
#pragma once

#include <QString>

namespace tarn::dbsendapp {

// The warning shown at start when the ODBC driver manager cannot be loaded.
QString missingComponentsTitle();
QString missingComponentsText();

int runApplication(int argc, char** argv);

}  // namespace tarn::dbsendapp

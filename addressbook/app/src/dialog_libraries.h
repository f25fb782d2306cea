// The message editor (libTarnEdit.so, ZEPHEdit) and the options dialog
// (libTarnOption.so, ZEPHOption), called with the application's settings.
#pragma once

#include <string>

#include "sendcore/settings.h"

class QWidget;

namespace tarn::gpsend {

// ZEPHEdit with the default sender and `contFileName` (Shift_JIS, in and out:
// the editor hands back the path it ended with). Returns the editor's end
// code (0 when it could not be shown).
int runMessageEditor(QWidget* parent, const SendSettings& settings, std::string& contFileName);
// ZEPHOption on `settings`; 1 means they were changed.
int runOptionsDialog(QWidget* parent, SendSettings& settings);

}  // namespace tarn::gpsend

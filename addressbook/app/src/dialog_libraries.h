// The message editor (libTarnEdit.so, ZEPHEdit) and the options dialog
// (libTarnOption.so, ZEPHOption), opened from the program folder when first
// needed. A library that is not there leaves its command with a message that
// says so; the application runs without it.
#pragma once

#include <QString>

#include <optional>
#include <string>

#include "sendcore/settings.h"

class QWidget;

namespace tarn::gpsend {

struct LibraryCall {
    bool available = false;
    int result = 0;
    QString why;  // when not available: what is missing
};

// Calls ZEPHEdit with the default sender and `contFileName` (Shift_JIS, in and
// out: the editor hands back the path it ended with).
LibraryCall runMessageEditor(QWidget* parent, const SendSettings& settings,
                             std::string& contFileName);
// Calls ZEPHOption on `settings`; 1 means they were changed.
LibraryCall runOptionsDialog(QWidget* parent, SendSettings& settings);

}  // namespace tarn::gpsend

// The options library's export. A host loads libTarnOption.so (the Qt
// applications link it; the Qt-free `tarn` command opens it with dlopen) and
// calls ZEPHOption with its settings record.
#ifndef ZEPHOPTION_H
#define ZEPHOPTION_H

#include "sendcore/settings.h"

#define ZEPHOPTION_API __attribute__((visibility("default")))

// Shows the options dialog modally over `parent` (the host's QWidget*, or null)
// and returns 1 when OK changed *settings (and the custom header file was
// rewritten), 2 when the dialog was cancelled and nothing changed. Without a
// display, or without a record, it shows nothing and returns 2.
extern "C" ZEPHOPTION_API int ZEPHOption(void* parent, tarn::SendSettings* settings);

namespace tarn {
using ZEPHOptionFunction = int (*)(void* parent, SendSettings* settings);
inline constexpr const char* kOptionLibraryName = "libTarnOption.so";
}  // namespace tarn

#endif

// Opening a send or check log in the viewer the settings name (LogOpenExeName),
// from the finished progress window and from the main window's log commands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn::driver {

// The command line (UTF-8 argv) that shows the log at `logPath`: the viewer
// program with the log path as its one argument, or, when no viewer is set,
// the desktop's default application for the file (xdg-open). A viewer that
// is not the path of an existing file is split at blanks (double quotes
// group), so that "gedit --new-window" works. Both texts are Shift_JIS as the
// settings keep them. Empty when there is no log path (nothing is opened).
std::vector<std::string> logViewerCommand(std::string_view viewer, std::string_view logPath);

}  // namespace tarn::driver

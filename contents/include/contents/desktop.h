// Starting a program or document the way the script's Execute does: with the
// desktop's default action (xdg-open), detached from the caller.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn::contents {

// The command line for a program or document and its parameters (UTF-8): an
// executable file runs itself with the parameters (split at blanks, double
// quotes grouping); anything else opens with xdg-open.
std::vector<std::string> desktopOpenCommand(std::string_view target, std::string_view parameters);

// Starts argv in a new session, not as our child (nothing to reap, nothing
// that dies with us). True once the program has been executed; false when it
// could not be (not found, not executable, fork failed).
bool startDetached(const std::vector<std::string>& argv);

}  // namespace tarn::contents

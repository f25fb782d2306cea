// Secret values (passwords) for the command line: never an argument, which
// /proc/PID/cmdline and the shell's history show to anyone who looks.
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace tarn::cli {

// Reads a secret (UTF-8). On a terminal: asked twice on standard error with
// echo off (the terminal is restored also when Ctrl-C ends the command).
// Otherwise: the first line of standard input, without its line end (a
// password manager or a file can be piped in); at most 64 KiB are read.
Result<std::string> readSecret(std::string_view prompt);

}  // namespace tarn::cli

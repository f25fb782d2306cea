// The program folder, timestamps and the version compiled in.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarn {

// TARN_HOME when set and not empty, else the folder of the running executable.
// The current directory is never used.
std::filesystem::path programFolder();

// A file "beside the program": a bare name is put in the program folder; a name
// with a directory part is used unchanged.
std::filesystem::path besideProgram(std::string_view name);

// "%04d-%02d-%02d %02d:%02d:%02d" of a local time.
std::string formatTimestamp(const std::tm& t);
std::string nowTimestamp();
std::tm localNow();

struct Version {
    int major, minor, patch, tweak;
};
Version programVersion();
// "2.1.0.0"
std::string programVersionText();

}  // namespace tarn

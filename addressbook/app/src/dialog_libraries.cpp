#include "dialog_libraries.h"

#include <array>
#include <cstring>

#include "tarnedit.h"
#include "zephoption.h"

namespace tarn::gpsend {

int runMessageEditor(QWidget* parent, const SendSettings& settings, std::string& contFileName) {
    std::array<char, ZEPHEDIT_PATH_SIZE> path{};
    std::memcpy(path.data(), contFileName.data(), std::min(contFileName.size(), path.size() - 1));
    const std::string name = fieldText(settings.defaultAccount.FromName);
    const std::string address = fieldText(settings.defaultAccount.FromEMail);
    const int end = ZEPHEdit(parent, name.c_str(), address.c_str(), path.data());
    // The path is handed back with 1 and 6 and left alone otherwise.
    contFileName.assign(path.data(), ::strnlen(path.data(), path.size()));
    return end;
}

int runOptionsDialog(QWidget* parent, SendSettings& settings) {
    return ZEPHOption(parent, &settings);
}

}  // namespace tarn::gpsend

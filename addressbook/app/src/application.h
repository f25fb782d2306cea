// What the group-send application holds for its whole life, and its start-up:
// the instance lock, the settings record, the dial-up library, the per-user
// profile and the cut buffer.
#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <string>

#include "addressbook/record_set.h"
#include "profile.h"
#include "sendcore/dialup_loader.h"
#include "sendcore/settings.h"
#include "sendcore/single_instance.h"

namespace tarn::gpsend {

struct AppContext {
    SendSettings settings{};
    std::string contFileName;  // Shift_JIS path of the current .tnm file
    SettingsStore store;
    std::unique_ptr<Profile> profile;
    addressbook::CutBuffer cutBuffer;
    // Loaded at start and kept to the end; empty when dial-up is unavailable.
    std::shared_ptr<const DialUpLibrary> dialUp;
};

// Runs the application: the instance lock first (a refusal shows its box and
// returns 1), then the settings, the dial-up library, the splash window for
// 1000 ms and the main window.
int runApplication(int argc, char** argv);

}  // namespace tarn::gpsend

// Binding the dial-up library at run time. The system's dial-up service
// (pppd) is probed first; only when it is there is libTarnRas.so loaded, and
// each export is looked up by name. A missing service, library or export
// leaves dial-up unavailable (the drivers fail with 507, the options dialog
// offers the LAN only).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "tarnras.h"

namespace tarn {

class DialUpLibrary {
    struct Key {
        explicit Key() = default;
    };

public:
    // Only load() makes one (the key is private).
    explicit DialUpLibrary(Key /*unused*/) {}

    // TARN_PPPD when set, else /usr/sbin/pppd: the program whose presence means
    // the system can dial.
    static std::filesystem::path defaultServiceProbe();
    // libTarnRas.so beside the program.
    static std::filesystem::path defaultLibraryPath();

    // Fails with the reason (UTF-8) when dial-up is unavailable.
    static Result<std::shared_ptr<const DialUpLibrary>> load(
        const std::filesystem::path& serviceProbe = defaultServiceProbe(),
        const std::filesystem::path& library = defaultLibraryPath());

    ~DialUpLibrary();
    DialUpLibrary(const DialUpLibrary&) = delete;
    DialUpLibrary& operator=(const DialUpLibrary&) = delete;

    int dial(void* ownerWindow, const DialUpSettings& settings, TarnRasConnection& handle) const;
    void hangUp(TarnRasConnection handle) const;
    // The phone-book entries, as the options dialog lists them: an empty name
    // ends the list even before the count is reached. Fails when the entries
    // could not be read.
    Result<std::vector<std::string>> entryNames() const;

private:
    void* m_handle = nullptr;
    decltype(&ZEPHRasDial) m_dial = nullptr;
    decltype(&ZEPHRasHangUp) m_hangUp = nullptr;
    decltype(&ZEPHGetRasEntry) m_getRasEntry = nullptr;
    decltype(&ZEPHGetEntryCount) m_getEntryCount = nullptr;
    decltype(&ZEPHGetEntryName) m_getEntryName = nullptr;
};

// One dial-up connection of a run. Dialling while connected hangs up first;
// after a successful dial, hang-up-on-end follows the account's AutoCut; a
// connection still up when the object goes away is hung up when that flag is set.
class DialUpConnection {
public:
    explicit DialUpConnection(std::shared_ptr<const DialUpLibrary> library);
    ~DialUpConnection();
    DialUpConnection(const DialUpConnection&) = delete;
    DialUpConnection& operator=(const DialUpConnection&) = delete;

    // 0 = connected; anything else is the library's failure value.
    int dial(void* ownerWindow, const DialUpSettings& settings);
    void hangUp();

    bool connected() const { return m_connected; }
    bool hangUpOnEnd() const { return m_hangUpOnEnd; }

private:
    std::shared_ptr<const DialUpLibrary> m_library;
    bool m_connected = false;
    bool m_hangUpOnEnd = true;
    TarnRasConnection m_handle = 0;
};

// Loads the dial-up library (callers default to DialUpLibrary::load()).
using DialUpLoader = std::function<Result<std::shared_ptr<const DialUpLibrary>>()>;

struct AccountSettings;

// Dials the account's connection when its server is not on the LAN: an empty
// pointer for a LAN account, nullopt when the library could not be loaded or
// the dial failed. The connection hangs up when it goes away if the account's
// AutoCut says so.
std::optional<std::unique_ptr<DialUpConnection>> dialIfNeeded(const AccountSettings& account,
                                                              const DialUpLoader& load);

}  // namespace tarn

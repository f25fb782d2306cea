#include "sendcore/dialup_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <utility>

#include "common/program.h"
#include "sendcore/settings.h"

namespace tarn {
namespace {

template <class Fn>
bool bind(void* handle, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::dlsym(handle, name));
    return fn != nullptr;
}

}  // namespace

std::filesystem::path DialUpLibrary::defaultServiceProbe() {
    const char* p = std::getenv("TARN_PPPD");
    return (p != nullptr && *p != '\0') ? std::filesystem::path(p)
                                        : std::filesystem::path("/usr/sbin/pppd");
}

std::filesystem::path DialUpLibrary::defaultLibraryPath() {
    return besideProgram("libTarnRas.so");
}

Result<std::shared_ptr<const DialUpLibrary>> DialUpLibrary::load(
    const std::filesystem::path& serviceProbe, const std::filesystem::path& library) {
    if (::access(serviceProbe.c_str(), X_OK) != 0) {
        return makeError("ダイヤルアップ接続のサービスがありません: " + serviceProbe.string());
    }
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return makeError("ダイヤルアップライブラリを読み込めません: " +
                         std::string(why != nullptr ? why : library.string()));
    }
    auto lib = std::make_shared<DialUpLibrary>(Key{});
    lib->m_handle = handle;
    std::array<std::pair<const char*, bool>, 5> exports{{
        {"ZEPHRasDial", bind(handle, "ZEPHRasDial", lib->m_dial)},
        {"ZEPHRasHangUp", bind(handle, "ZEPHRasHangUp", lib->m_hangUp)},
        {"ZEPHGetRasEntry", bind(handle, "ZEPHGetRasEntry", lib->m_getRasEntry)},
        {"ZEPHGetEntryCount", bind(handle, "ZEPHGetEntryCount", lib->m_getEntryCount)},
        {"ZEPHGetEntryName", bind(handle, "ZEPHGetEntryName", lib->m_getEntryName)},
    }};
    for (const auto& [name, found] : exports) {
        if (!found) {
            return makeError(library.string() + " に " + name + " がありません");
        }
    }
    return std::shared_ptr<const DialUpLibrary>(std::move(lib));
}

DialUpLibrary::~DialUpLibrary() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
}

int DialUpLibrary::dial(void* ownerWindow, const DialUpSettings& settings,
                        TarnRasConnection& handle) const {
    return m_dial(ownerWindow, &settings, &handle);
}

void DialUpLibrary::hangUp(TarnRasConnection handle) const {
    m_hangUp(handle);
}

Result<std::vector<std::string>> DialUpLibrary::entryNames() const {
    if (m_getRasEntry() != 0) {
        return makeError("ダイヤルアップの接続先を読めません");
    }
    std::vector<std::string> names;
    int count = m_getEntryCount();
    for (int i = 0; i < count; ++i) {
        std::array<char, 256> buf{};
        m_getEntryName(i, buf.data(), static_cast<int>(buf.size()));
        buf.back() = '\0';
        if (buf[0] == '\0') {
            break;
        }
        names.emplace_back(buf.data());
    }
    return names;
}

DialUpConnection::DialUpConnection(std::shared_ptr<const DialUpLibrary> library)
    : m_library(std::move(library)) {}

DialUpConnection::~DialUpConnection() {
    if (m_connected && m_hangUpOnEnd) {
        hangUp();
    }
}

int DialUpConnection::dial(void* ownerWindow, const DialUpSettings& settings) {
    if (m_connected) {
        hangUp();
    }
    TarnRasConnection handle = 0;
    int r = m_library->dial(ownerWindow, settings, handle);
    if (r == 0) {
        m_connected = true;
        m_handle = handle;
        m_hangUpOnEnd = settings.AutoCut != 0;
    }
    return r;
}

void DialUpConnection::hangUp() {
    if (m_connected) {
        m_library->hangUp(m_handle);
        m_connected = false;
    }
}

std::optional<std::unique_ptr<DialUpConnection>> dialIfNeeded(const AccountSettings& account,
                                                              const DialUpLoader& load) {
    if (account.dialUp.LANConnect != 0) {
        return std::unique_ptr<DialUpConnection>();
    }
    auto library = load ? load() : DialUpLibrary::load();
    if (!library) {
        return std::nullopt;
    }
    auto connection = std::make_unique<DialUpConnection>(*library);
    if (connection->dial(nullptr, account.dialUp) != 0) {
        return std::nullopt;
    }
    return connection;
}

}  // namespace tarn

#include "dialog_libraries.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "common/program.h"

namespace tarn::gpsend {

namespace {

// Opened once and kept for the life of the process: a dialog library keeps
// Qt objects (its translations, its styles) that must not be unloaded.
struct Library {
    void* handle = nullptr;
    QString error;
};

Library load(const char* fileName) {
    Library lib;
    const std::filesystem::path beside = programFolder() / fileName;
    lib.handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        lib.error = QString::fromLocal8Bit(::dlerror());
    }
    return lib;
}

Library& editorLibrary() {
    static Library lib = load("libTarnEdit.so");
    return lib;
}

Library& optionLibrary() {
    static Library lib = load("libTarnOption.so");
    return lib;
}

template <class F>
F* lookUp(const Library& lib, const char* symbol, QString& why) {
    if (lib.handle == nullptr) {
        why = lib.error;
        return nullptr;
    }
    void* f = ::dlsym(lib.handle, symbol);
    if (f == nullptr) {
        why = QString::fromLatin1(symbol) + ": " + QString::fromLocal8Bit(::dlerror());
    }
    return reinterpret_cast<F*>(f);
}

}  // namespace

LibraryCall runMessageEditor(QWidget* parent, const SendSettings& settings,
                             std::string& contFileName) {
    using Edit = int(void*, const char*, const char*, char*);
    LibraryCall call;
    auto* edit = lookUp<Edit>(editorLibrary(), "ZEPHEdit", call.why);
    if (edit == nullptr) {
        return call;
    }
    call.available = true;
    std::array<char, 260> path{};
    std::memcpy(path.data(), contFileName.data(), std::min(contFileName.size(), path.size() - 1));
    const std::string name = fieldText(settings.defaultAccount.FromName);
    const std::string address = fieldText(settings.defaultAccount.FromEMail);
    call.result = edit(parent, name.c_str(), address.c_str(), path.data());
    if (call.result != 0) {
        contFileName.assign(path.data(), ::strnlen(path.data(), path.size()));
    }
    return call;
}

LibraryCall runOptionsDialog(QWidget* parent, SendSettings& settings) {
    using Option = int(void*, SendSettings*);
    LibraryCall call;
    auto* option = lookUp<Option>(optionLibrary(), "ZEPHOption", call.why);
    if (option == nullptr) {
        return call;
    }
    call.available = true;
    call.result = option(parent, &settings);
    return call;
}

}  // namespace tarn::gpsend

#include "ui/dialog_host.h"

#include <cstdlib>

namespace tarn::ui {
namespace {

bool hasEnv(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

}  // namespace

bool DialogHost::canShowDialogs() {
    if (QCoreApplication::instance() != nullptr) {
        // A console-only QCoreApplication cannot show widgets.
        return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    }
    return hasEnv("DISPLAY") || hasEnv("WAYLAND_DISPLAY") || hasEnv("QT_QPA_PLATFORM");
}

DialogHost::DialogHost() {
    if (QCoreApplication::instance() == nullptr) {
        // QApplication keeps argc and argv for its whole life.
        static int argc = 1;
        static char name[] = "tarn";
        static char* argv[] = {name, nullptr};
        m_own = std::make_unique<QApplication>(argc, argv);
    }
}

DialogHost::~DialogHost() = default;

}  // namespace tarn::ui

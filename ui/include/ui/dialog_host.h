// For the exports of the dialog libraries: the host may be one of the Qt
// applications (a QApplication exists) or the Qt-free `tarn` command, which
// loads the library to show one dialog. In the second case the library makes
// its own QApplication for the dialog's lifetime.
#pragma once

#include <QApplication>

#include <memory>

namespace tarn::ui {

class DialogHost {
public:
    // Whether a dialog can be shown at all: a QApplication exists, or none does
    // and a display is named (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM). Qt
    // ends the whole process when it cannot reach a display, so the export
    // checks this first and fails with its own result instead.
    static bool canShowDialogs();

    // Makes a QApplication when there is none (canShowDialogs() must be true).
    DialogHost();
    ~DialogHost();
    DialogHost(const DialogHost&) = delete;
    DialogHost& operator=(const DialogHost&) = delete;

private:
    std::unique_ptr<QApplication> m_own;
};

}  // namespace tarn::ui

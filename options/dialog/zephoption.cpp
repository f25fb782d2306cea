// The library's one export: the options dialog as a modal window.
#include "zephoption.h"

#include <QWidget>

#include "options_dialog.h"
#include "ui/dialog_host.h"

extern "C" ZEPHOPTION_API int ZEPHOption(void* parent, tarn::SendSettings* settings) {
    if (settings == nullptr || !tarn::ui::DialogHost::canShowDialogs()) {
        return 2;
    }
    try {
        tarn::ui::DialogHost host;
        tarn::options::gui::OptionsDialog dialog(*settings, static_cast<QWidget*>(parent));
        return dialog.exec() == QDialog::Accepted ? 1 : 2;
    } catch (...) {
        return 2;  // nothing crosses the library boundary
    }
}

// The start-up window every application of the suite shows.
#pragma once

class QLabel;

namespace tarn::ui {

// Shows `splash` (a label already given its picture or text) borderless and
// centred on the primary screen for 1000 ms.
void showSplash(QLabel& splash);

}  // namespace tarn::ui

// "送信ログファイルの確認(&L)" and "チェックログファイルの確認(&C)": the log in
// the viewer the settings name. Nothing happens while the log has no name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sendcore/settings.h"

class QWidget;

namespace tarn::ui {

using ProgramStarter = std::function<bool(const std::vector<std::string>&)>;

// False when a viewer should have started and could not (the person was told).
bool showSendLog(QWidget* parent, const SendSettings& settings, const ProgramStarter& start = {});
bool showCheckLog(QWidget* parent, const SendSettings& settings, const ProgramStarter& start = {});

// The same for any log path and viewer (Shift_JIS, as the settings keep them).
bool showLog(QWidget* parent, const std::string& viewer, const std::string& logPath,
             const ProgramStarter& start = {});

}  // namespace tarn::ui

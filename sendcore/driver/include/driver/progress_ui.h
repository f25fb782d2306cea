// What the send and check drivers show a person and ask of them. The drivers
// own no window: the Qt applications implement this with the modeless progress
// window and message boxes, `tarn` with a progress line on the terminal and
// Ctrl-C as the stop button, tests with a scripted double. All texts are
// Shift_JIS, as everywhere in the core.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarn::driver {

class ProgressUi {
public:
    virtual ~ProgressUi() = default;

    // The modeless progress window: created with a title, removed by close().
    virtual void open(std::string_view title) = 0;
    virtual void setTitle(std::string_view title) = 0;
    virtual void setStatusLine(std::string_view text) = 0;
    virtual void setTimeLine(std::string_view text) = 0;
    virtual void setAddressLine(std::string_view text) = 0;
    virtual void setRange(std::int64_t maximum) = 0;
    virtual void setPosition(std::int64_t position) = 0;

    // One round of the window's message pump: keeps the window alive and may set
    // a stop request (the stop button, S or Esc; Ctrl-C on a terminal).
    virtual void pump() = 0;
    virtual bool stopRequested() const = 0;
    virtual void clearStopRequest() = 0;

    // "中止しますか？" under "ターノス - 確認" with Yes and No; true for Yes.
    virtual bool askStop() = 0;
    // A message box with the stop icon.
    virtual void errorBox(std::string_view title, std::string_view text) = 0;

    // The run is over: show the log button (log path and viewer program), turn
    // the stop button into "閉じる(&C)" and wait until the person closes the window.
    virtual void finish(std::string_view logPath, std::string_view viewer) = 0;
    // Removes the window; called on every return path.
    virtual void close() = 0;
};

}  // namespace tarn::driver

// The edge between the core's Shift_JIS (CP932) strings and Qt's QString.
// A character that CP932 cannot hold is never dropped or turned into "?":
// toSjis() fails and names it, so the window can tell the person which one.
#pragma once

#include <QString>

#include <string>
#include <string_view>

#include "common/result.h"

namespace tarn::ui {

// CP932 -> QString; bytes that are not CP932 show as U+FFFD.
QString fromSjis(std::string_view sjis);

// QString -> CP932; fails with a Japanese message naming the first character
// CP932 cannot hold.
Result<std::string> toSjis(const QString& text);

// The characters of text that CP932 cannot hold, each once, in order of first
// appearance (empty when everything converts).
QString unrepresentableCharacters(const QString& text);

}  // namespace tarn::ui

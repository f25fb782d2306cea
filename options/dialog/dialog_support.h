// What the options dialogs share: message boxes with the product's captions,
// reading a line edit as Shift_JIS at the window's edge, and the help pages.
#pragma once

#include <QMessageBox>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QLineEdit;
class QWidget;

namespace tarn::options::gui {

inline QString qs(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A modal message box with one OK button.
void showMessage(QWidget* parent, std::string_view caption, const QString& text,
                 QMessageBox::Icon icon = QMessageBox::Warning);
// "削除しますか？" and the like: true for Yes.
bool askYesNo(QWidget* parent, std::string_view caption, const QString& text);

// The field's text as Shift_JIS. A character Shift_JIS cannot hold is named in a
// message box (with the field's label) and the field gets the focus; nullopt.
std::optional<std::string> sjisText(QLineEdit* edit, std::string_view label,
                                    std::string_view caption);

// Puts a page's first control in focus (the tab widget switches pages).
void focusFirstChild(QWidget* page);

// Opens help/html/<topic> beside the program in the desktop's browser; says so when
// the page is missing.
void openHelp(QWidget* parent, std::string_view topic, std::string_view caption);

// Buttons named by us: Qt's own button texts depend on a translation that the
// host may not have loaded.
inline constexpr std::string_view kOk = "OK";
inline constexpr std::string_view kCancel = "キャンセル";
inline constexpr std::string_view kHelp = "ヘルプ";
inline constexpr std::string_view kBrowse = "参照...";

}  // namespace tarn::options::gui

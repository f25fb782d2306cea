// The folder and group editor ("フォルダ編集", "グループ編集") and the icon
// chooser ("アイコン選択").
#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QListWidget;

namespace tarn::gpsend {

// Icons 2-101 in large-icon view with the current one chosen; OK with
// nothing chosen keeps the dialog open.
class IconChooser final : public QDialog {
    Q_OBJECT

public:
    IconChooser(int current, QWidget* parent = nullptr);
    int chosenIcon() const;
    QListWidget* list() const { return m_list; }

    void accept() override;

private:
    QListWidget* m_list;
};

class FolderEditor final : public QDialog {
    Q_OBJECT

public:
    enum class Kind { Folder, Group };
    // `number` is what "No." shows (the folder number, or the group index + 1).
    FolderEditor(Kind kind, int number, int icon, const QString& name, QWidget* parent = nullptr);

    int icon() const { return m_icon; }
    // The name in Shift_JIS, once accept() has let the dialog close.
    const std::string& nameSjis() const { return m_name; }
    QLineEdit* nameEdit() const { return m_nameEdit; }

    // Refuses a name CP932 cannot hold or longer than the limit, with the
    // core's message, and puts the focus on the name.
    void accept() override;

private:
    void chooseIcon();

    QLabel* m_iconLabel;
    QLineEdit* m_nameEdit;
    int m_icon;
    std::string m_name;
};

}  // namespace tarn::gpsend

// The record editor ("レコード編集") with its group-membership dialog
// ("グループメンバーシップ") and free-field dialog ("Freefieldの選択"). The
// rules (trimming, limits, saving, undo, the record limit) are the core's
// RecordEditorSession; these windows move texts between it and the fields.
#pragma once

#include <QDialog>

#include <array>
#include <optional>
#include <vector>

#include "addressbook/book_editor.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarn::gpsend {

class MembershipDialog final : public QDialog {
    Q_OBJECT

public:
    MembershipDialog(const addressbook::CTarnSendDoc& doc, std::vector<bool> memberOf,
                     QWidget* parent = nullptr);
    const std::vector<bool>& memberOf() const { return m_memberOf; }
    QListWidget* memberList() const { return m_in; }
    QListWidget* otherList() const { return m_out; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* removeButton() const { return m_remove; }

private:
    void fill();
    void move(QListWidget* from, bool join);

    const addressbook::CTarnSendDoc& m_doc;
    std::vector<bool> m_memberOf;
    QListWidget* m_in;
    QListWidget* m_out;
    QPushButton* m_add;
    QPushButton* m_remove;
};

class FreeFieldDialog final : public QDialog {
    Q_OBJECT

public:
    FreeFieldDialog(addressbook::CTarnSendDoc& doc, const addressbook::Record& record,
                    QWidget* parent = nullptr);
    // The ten values (Shift_JIS) once accepted.
    const std::array<std::string, addressbook::kFreeFieldCount>& values() const { return m_values; }
    QLineEdit* valueEdit(std::size_t i) const { return m_edits.at(i); }
    QLabel* titleLabel(std::size_t i) const { return m_labels.at(i); }
    // "タイトル変更": an edit box over title i; finishing it renames the title.
    void startTitleEdit(std::size_t i);
    QLineEdit* titleEdit() const { return m_titleEdit; }

    void accept() override;

private:
    void finishTitleEdit();

    addressbook::CTarnSendDoc& m_doc;
    std::array<QLabel*, addressbook::kFreeFieldCount> m_labels{};
    std::array<QLineEdit*, addressbook::kFreeFieldCount> m_edits{};
    std::array<std::string, addressbook::kFreeFieldCount> m_values;
    QLineEdit* m_titleEdit = nullptr;
    std::size_t m_titleIndex = 0;
};

class RecordEditorDialog final : public QDialog {
    Q_OBJECT

public:
    // Opens on `row` of the editor's list. When the record limit refuses the
    // blank row and there is no row above, the error box is shown and
    // closedAtOnce() is true: the dialog is not to be shown.
    RecordEditorDialog(addressbook::BookEditor& editor, std::size_t row, QWidget* parent = nullptr);
    bool closedAtOnce() const { return m_closedAtOnce; }

    addressbook::RecordEditorSession& session() { return m_session; }
    QLineEdit* field(addressbook::Field f) const;
    QComboBox* honorificBox() const { return m_honorific; }
    QComboBox* folderBox() const { return m_folder; }
    QComboBox* statusBox() const { return m_status; }
    QLabel* numberLabel() const { return m_number; }
    QPushButton* previousButton() const { return m_previous; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* newButton() const { return m_new; }
    QPushButton* membershipButton() const { return m_membership; }
    QPushButton* freeFieldButton() const { return m_freeFields; }

    void accept() override;
    // Runs the membership / free-field dialog (tests drive them from here).
    void editMemberships();
    void editFreeFields();

private:
    void showDraft();
    bool readFields();
    bool leave();
    void go(std::size_t row);
    void showRefusal(const std::string& message);

    addressbook::BookEditor& m_editor;
    addressbook::RecordEditorSession m_session;
    std::array<QLineEdit*, 5> m_texts{};  // company, department, title, name, E-Mail
    QComboBox* m_honorific;
    QComboBox* m_folder;
    QComboBox* m_status;
    QLabel* m_number;
    QPushButton* m_previous;
    QPushButton* m_next;
    QPushButton* m_new;
    QPushButton* m_membership;
    QPushButton* m_freeFields;
    bool m_closedAtOnce = false;
};

}  // namespace tarn::gpsend

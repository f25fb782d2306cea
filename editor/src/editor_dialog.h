// The modal window "送信メッセージ作成": sender, CC, BCC, subject, attachments
// and body of one send-contents file, with its menus, toolbar and commands.
#pragma once

#include <QDialog>
#include <QFileIconProvider>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "contents/send_contents.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QToolBar;

namespace tarn::editor {

class AttachmentList;
class EditorPrompts;
class FieldEdit;

// How the close steps ended; the values are the dialog's end codes.
enum EndCode : int {
    kEndUnchanged = 1,  // nothing unsaved, or saved under a new name
    kEndSaved = 6,      // saved to the file it already had
    kEndDiscarded = 7,  // the person chose not to save
};

class EditorDialog : public QDialog {
    Q_OBJECT
public:
    // Sender name and address are Shift_JIS (at most 127 bytes each are shown).
    EditorDialog(EditorPrompts& prompts, const std::string& senderNameSjis,
                 const std::string& senderAddressSjis, QWidget* parent = nullptr);
    ~EditorDialog() override;

    // Where the templates (Document/) and the help page (help/html/) are
    // looked for: the library's own folder unless set.
    void setLibraryFolder(std::filesystem::path folder) { m_libraryFolder = std::move(folder); }

    // The start steps: a Shift_JIS path to open, or empty for a new message.
    void start(const std::string& pathSjis);

    // The path to hand back to the caller (Shift_JIS, empty for none).
    const std::string& filePathSjis() const { return m_pathSjis; }
    bool isModified() const;
    bool headersShown() const;

    // The fields and the commands, for the window's tests.
    FieldEdit* senderField() const { return m_sender; }
    FieldEdit* ccField() const { return m_cc; }
    FieldEdit* bccField() const { return m_bcc; }
    FieldEdit* subjectField() const { return m_subject; }
    FieldEdit* bodyField() const { return m_body; }
    AttachmentList* attachmentList() const { return m_attachments; }
    // The attachment paths as the file stores them (Shift_JIS), in list order.
    std::vector<std::string> attachmentPaths() const;
    QAction* action(const QString& objectName) const;

    // Commands.
    void newMessage();
    void openMessage();
    bool save();
    bool saveAs();
    void loadTemplate(std::size_t index);
    void importTextFile();
    void addAttachmentsByDialog();
    // Adds one file to the list (refused with a message when its name cannot
    // be stored). True when added.
    bool addAttachment(const QString& path);
    void insertTag(std::size_t index);
    void rewrapBody();
    void showPreview();
    void showHelp();
    void setHeadersShown(bool shown);
    // Characters standard ISO-2022-JP readers may not show: the context menu's
    // items for the character at `pos` (viewport coordinates) of `field`, and
    // every replacement there is in `field` at once (returns how many).
    void addReplacementItems(FieldEdit* field, QMenu* menu, QPoint pos);
    int replaceNonStandard(FieldEdit* field);
    // The close steps; ends the dialog unless the person cancels.
    void closeEditor();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class SaveAnswer { Unmodified, SavedExisting, SavedNew, Discarded, Cancelled };

    QAction* makeAction(const char* name, const QString& text, const std::function<void()>& run,
                        const QList<QKeySequence>& keys = {});
    void buildActions();
    void buildMenus();
    QToolBar* buildToolBar();
    void buildLayout(QToolBar* toolBar);
    QMenu* tagMenu(QWidget* parent);

    SaveAnswer askToSave();
    bool saveTo(const std::filesystem::path& path, const std::string& pathSjis);
    // The fields as a record; nullopt (after naming them) when some character
    // cannot be stored in Shift_JIS.
    std::optional<contents::SendContents> gatherContents(const QString& failureText);
    bool loadFile(const std::filesystem::path& path, const std::string& pathSjis);
    void addStoredAttachment(const std::string& pathSjis);
    void clearFields();
    void startNew();
    void setBody(const QString& text);
    void setModified(bool modified);
    void updateCaption();
    FieldEdit* focusedField() const;

    EditorPrompts& m_prompts;
    std::string m_senderName;
    std::string m_senderAddress;
    std::filesystem::path m_libraryFolder;
    std::filesystem::path m_path;
    std::string m_pathSjis;
    // Text that no file holds yet (a template, an imported text file) or a
    // changed attachment list; the fields' own changes are their documents'.
    bool m_unsavedContent = false;

    FieldEdit* m_sender;
    FieldEdit* m_cc;
    FieldEdit* m_bcc;
    FieldEdit* m_subject;
    AttachmentList* m_attachments;
    FieldEdit* m_body;
    QLabel* m_ccLabel = nullptr;
    QLabel* m_bccLabel = nullptr;
    QAction* m_showHeaders = nullptr;
    QMenuBar* m_menuBar = nullptr;
    QFileIconProvider m_icons;       // the desktop's icon for each attachment
    QWidget* m_lastFocus = nullptr;  // where a merge tag goes: the subject or else the body
};

}  // namespace tarn::editor

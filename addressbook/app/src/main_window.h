// The group-send application's main window: the tree of folders and groups
// beside the record list, with the menus, toolbar and status bar. It is thin:
// the document, the list's state and every editing rule are the core's
// (addressbook/); the window asks its questions and shows the core's answers.
//
// Commands are QActions made in buildActions() and put into menus in
// buildMenus(), the one place where the menu bar is laid out. A feature that
// adds commands adds its actions there, or to the menu it belongs in through
// menu(Menu::Send), and reads what it needs through document(), listState()
// and context().
//
// The send and check commands are the core's jobs shown by ui/'s commands:
// the run goes on a worker thread while the window stays live; the document
// refuses every edit until the run's statuses are in, and the window's
// editing commands are off meanwhile.
#pragma once

#include <QMainWindow>

#include <QPointer>

#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "addressbook/book_editor.h"
#include "addressbook/document.h"
#include "addressbook/list_view_state.h"
#include "application.h"
#include "collation.h"
#include "driver/book_sources.h"
#include "folder_dialogs.h"
#include "ui/job_command.h"
#include "ui/log_commands.h"
#include "wizard/import_wizard.h"

class QLabel;
class QSplitter;
class QTableView;
class QTreeView;
class QToolBar;

namespace tarn::gpsend {

class ListModel;
class TreeModel;

class MainWindow final : public QMainWindow, private addressbook::DocumentListener {
    Q_OBJECT

public:
    enum class Menu { File, Edit, Record, Folder, Send, View, Help };
    enum class Command {
        FileNew,
        FileOpen,
        FileSave,
        FileSaveAs,
        FileImport,
        FileExit,
        Undo,
        Cut,
        Copy,
        Paste,
        Delete,
        Renumber,
        RecordNew,
        RecordEdit,
        FolderNew,
        FolderEdit,
        FolderDelete,
        GroupNew,
        GroupEdit,
        GroupDelete,
        TreePaste,
        EditMessage,
        Options,
        SendMail,
        SendFailed,
        CheckAddresses,
        SendLog,
        CheckLog,
        ViewToolBar,
        ViewStatusBar,
        HelpContents,
        HelpAbout,
        Count
    };

    explicit MainWindow(AppContext& context, QWidget* parent = nullptr);
    ~MainWindow() override;

    addressbook::CTarnSendDoc& document() { return m_doc; }
    addressbook::ListViewState& listState() { return m_state; }
    addressbook::BookEditor& editor() { return m_editor; }
    AppContext& context() { return m_context; }
    QAction* action(Command c) const { return m_actions[static_cast<std::size_t>(c)]; }
    QMenu* menu(Menu m) const { return m_menus[static_cast<std::size_t>(m)]; }
    QToolBar* toolBar() const { return m_toolBar; }
    QTreeView* treeView() const { return m_tree; }
    QTableView* listView() const { return m_list; }
    TreeModel* treeModel() const { return m_treeModel.get(); }
    ListModel* listModel() const { return m_listModel.get(); }
    QLabel* countLabel() const { return m_count; }
    QString currentPath() const { return m_path; }

    // File commands without their file dialogs; false when nothing changed.
    bool newBook();
    bool openBook(const QString& path);
    bool saveBook();
    bool saveBookAs(const QString& path);
    // "変更を保存しますか": true when the book may be closed.
    bool maybeSave();

    // The selected record rows of the list (the blank row left out).
    std::vector<std::size_t> selectedRows() const;
    // Selects a tree item as a click would.
    void selectTreeItem(const addressbook::TreeSelection& selection);
    // Once after start: with no SMTP server or no sender name in the default
    // account, the options dialog opens by itself.
    void checkFirstUse();
    // Writes the window layout and sort into the profile.
    void saveLayout();

    // The send or check under way (its progress window still open), or null.
    ui::JobCommand* runningCommand() const { return m_command; }
    // Tests turn the clock of the timed send and replace the program starter
    // of the log commands.
    void setClock(std::function<std::time_t()> now) { m_now = std::move(now); }
    void setProgramStarter(ui::ProgramStarter start) { m_start = std::move(start); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // DocumentListener
    void documentReset() override;
    void undoChanged() override;
    void modifiedChanged(bool modified) override;
    void runChanged(bool running) override;

    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildViews();
    void restoreLayout();
    QAction* makeAction(Command c, const char* text, void (MainWindow::*slot)(),
                        const QKeySequence& key = {});

    void updateTitle();
    void updateCount();
    void updateActions();
    void updateRecentFiles();
    void showCoreError(const Status& status);
    void showDropRefusal(const QString& message);
    void treeCurrentChanged();
    void followListSelection();

    // Commands
    void onNew();
    void onOpen();
    void onSave();
    void onSaveAs();
    void onImport();
    void onUndo();
    void onCut();
    void onCopy();
    void onPaste();
    void onDelete();
    void onRenumber();
    void onRecordNew();
    void onRecordEdit();
    void onFolderNew();
    void onGroupNew();
    void newTreeItem(FolderEditor::Kind kind);
    void onEditTreeItem();
    void onDeleteTreeItem();
    void onTreePaste();
    void onEditMessage();
    void onOptions();
    void onSendMail();
    void onSendFailed();
    // The send command over the list's records that `selection` picks.
    void startSend(driver::BookSelection selection);
    // Whether the list shows a record whose last send failed.
    bool listShowsSendErrors() const;
    void onCheckAddresses();
    void onSendLog();
    void onCheckLog();
    // Runs `command` (a send or check command just made) and keeps it while
    // its run and progress window last.
    void runCommand(ui::JobCommand* command, const std::function<bool()>& execute);
    std::string bookNameSjis(bool fullPath) const;
    // The book's file, whose lock a send or check holds (empty while untitled).
    std::filesystem::path bookFile() const;
    void onHelpContents();
    void onHelpAbout();
    void editRecordAt(std::size_t row);

    AppContext& m_context;
    JapaneseCollation m_collation;
    addressbook::CTarnSendDoc m_doc;
    addressbook::ListViewState m_state;
    addressbook::BookEditor m_editor;
    // Not children of the window: they listen to the document and the list
    // state, so they must go before those members do.
    std::unique_ptr<TreeModel> m_treeModel;
    std::unique_ptr<ListModel> m_listModel;
    QSplitter* m_splitter = nullptr;
    QTreeView* m_tree = nullptr;
    QTableView* m_list = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_contents = nullptr;
    std::array<QAction*, static_cast<std::size_t>(Command::Count)> m_actions{};
    std::array<QMenu*, 7> m_menus{};
    std::array<QAction*, Profile::kRecentFiles> m_recent{};
    QAction* m_recentSeparator = nullptr;
    QString m_path;
    // The import wizard starts with the choices of its last run.
    addressbook::wizard::ImportWizardState m_importState;
    QPointer<ui::JobCommand> m_command;
    std::function<std::time_t()> m_now;
    ui::ProgramStarter m_start;
    bool m_syncing = false;
    bool m_firstUseChecked = false;
};

}  // namespace tarn::gpsend

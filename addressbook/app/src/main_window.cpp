#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

#include <filesystem>

#include "common/program.h"
#include "dialog_libraries.h"
#include "driver/book_sources.h"
#include "driver/send_journal.h"
#include "folder_dialogs.h"
#include "icons.h"
#include "list_model.h"
#include "message_boxes.h"
#include "record_dialogs.h"
#include "texts.h"
#include "tree_model.h"
#include "ui/check_command.h"
#include "ui/send_command.h"
#include "ui/sjis_text.h"

namespace tarn::gpsend {

using addressbook::TreeSelection;

namespace {

QString t(const char* utf8) {
    return QString::fromUtf8(utf8);
}

std::filesystem::path toPath(const QString& path) {
    return {QFile::encodeName(path).toStdString()};
}

// A wait cursor for the length of a scope.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

MainWindow::MainWindow(AppContext& context, QWidget* parent)
    : QMainWindow(parent),
      m_context(context),
      m_state(m_doc, &m_collation),
      m_editor(m_doc, m_state, context.cutBuffer) {
    setWindowIcon(applicationIcon());
    static_cast<void>(m_doc.OnNewDocument(m_context.profile->freeFieldTitles()));
    m_treeModel = std::make_unique<TreeModel>(m_doc, m_editor);
    m_listModel = std::make_unique<ListModel>(m_state, m_editor);
    m_doc.addListener(this);
    buildViews();
    buildActions();
    buildMenus();
    buildToolBar();
    restoreLayout();
    updateTitle();
    updateCount();
    updateActions();
}

MainWindow::~MainWindow() {
    // A run reads the document and the list state: it ends (its worker
    // waited for) before they go, not with the window's children after them.
    delete m_command.data();
    m_doc.removeListener(this);
    m_tree->setModel(nullptr);
    m_list->setModel(nullptr);
}

// --- building the window

void MainWindow::buildViews() {
    m_tree = new QTreeView(this);
    m_tree->setModel(m_treeModel.get());
    m_tree->setHeaderHidden(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setDragDropMode(QAbstractItemView::DragDrop);
    m_tree->setDefaultDropAction(Qt::MoveAction);
    m_tree->setDropIndicatorShown(true);
    m_tree->expandAll();
    m_tree->setCurrentIndex(m_treeModel->allRecordsIndex());

    m_list = new QTableView(this);
    m_list->setModel(m_listModel.get());
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setDragDropMode(QAbstractItemView::DragDrop);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setDropIndicatorShown(true);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setAlternatingRowColors(true);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->setIconSize(QSize(16, 16));
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->horizontalHeader()->setSortIndicatorShown(true);
    m_list->horizontalHeader()->setStretchLastSection(false);

    m_splitter = new QSplitter(this);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setStretchFactor(1, 1);
    setCentralWidget(m_splitter);

    m_count = new QLabel(this);
    m_contents = new QLabel(this);
    statusBar()->addPermanentWidget(m_contents);
    statusBar()->addPermanentWidget(m_count);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::treeCurrentChanged);
    connect(m_treeModel.get(), &TreeModel::rebuilt, this, [this] {
        m_tree->expandAll();
        followListSelection();
        // After a rebuild "すべて" is selected, once the change is over.
        QMetaObject::invokeMethod(
            this, [this] { selectTreeItem(TreeSelection::all()); }, Qt::QueuedConnection);
    });
    // Queued: the tree model hears the same change and must have applied it
    // before the tree's current item is set.
    connect(m_listModel.get(), &ListModel::treeSelectionFollowed, this,
            &MainWindow::followListSelection, Qt::QueuedConnection);
    connect(m_listModel.get(), &ListModel::countChanged, this, [this] {
        updateCount();
        updateActions();
    });
    // A status edited or set by a run may change whether there is anyone to
    // send again to.
    connect(m_listModel.get(), &QAbstractItemModel::dataChanged, this, &MainWindow::updateActions);
    connect(m_listModel.get(), &ListModel::dropRefused, this, &MainWindow::showDropRefusal);
    connect(m_treeModel.get(), &TreeModel::dropRefused, this, &MainWindow::showDropRefusal);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::updateActions);
    connect(m_list, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { editRecordAt(static_cast<std::size_t>(i.row())); });
    connect(m_list->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this] { m_context.profile->setSort(m_state.sortColumn(), m_state.sortOrder()); });
}

QAction* MainWindow::makeAction(Command c, const char* text, void (MainWindow::*slot)(),
                                const QKeySequence& key) {
    auto* a = new QAction(t(text), this);
    if (!key.isEmpty()) {
        a->setShortcut(key);
    }
    if (slot != nullptr) {
        connect(a, &QAction::triggered, this, slot);
    }
    m_actions[static_cast<std::size_t>(c)] = a;
    return a;
}

void MainWindow::buildActions() {
    makeAction(Command::FileNew, text::kFileNew, &MainWindow::onNew, QKeySequence::New);
    makeAction(Command::FileOpen, text::kFileOpen, &MainWindow::onOpen, QKeySequence::Open);
    makeAction(Command::FileSave, text::kFileSave, &MainWindow::onSave, QKeySequence::Save);
    makeAction(Command::FileSaveAs, text::kFileSaveAs, &MainWindow::onSaveAs);
    makeAction(Command::FileImport, text::kFileImport, &MainWindow::onImport);
    action(Command::FileImport)->setStatusTip(t(text::kFileImportTip));
    action(Command::FileImport)->setIconText(t(text::kFileImportButton));
    makeAction(Command::FileExit, text::kFileExit, nullptr);
    connect(action(Command::FileExit), &QAction::triggered, this, &QWidget::close);

    makeAction(Command::Undo, "元に戻す(&U)", &MainWindow::onUndo,
               QKeySequence(Qt::CTRL | Qt::Key_Z));
    makeAction(Command::Cut, text::kEditCut, &MainWindow::onCut,
               QKeySequence(Qt::CTRL | Qt::Key_X));
    makeAction(Command::Copy, text::kEditCopy, &MainWindow::onCopy,
               QKeySequence(Qt::CTRL | Qt::Key_C));
    makeAction(Command::Paste, text::kEditPaste, &MainWindow::onPaste,
               QKeySequence(Qt::CTRL | Qt::Key_V));
    makeAction(Command::Delete, text::kEditDelete, &MainWindow::onDelete,
               QKeySequence(Qt::Key_Delete));
    // The Delete key deletes records only while the list has the focus.
    action(Command::Delete)->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_list->addAction(action(Command::Delete));
    makeAction(Command::Renumber, text::kEditRenumber, &MainWindow::onRenumber);

    makeAction(Command::RecordNew, text::kRecordNew, &MainWindow::onRecordNew);
    makeAction(Command::RecordEdit, text::kRecordEdit, &MainWindow::onRecordEdit,
               QKeySequence(Qt::Key_Return));
    action(Command::RecordEdit)->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_list->addAction(action(Command::RecordEdit));

    makeAction(Command::FolderNew, text::kFolderNew, &MainWindow::onFolderNew);
    makeAction(Command::FolderEdit, text::kFolderEdit, &MainWindow::onEditTreeItem);
    makeAction(Command::FolderDelete, text::kFolderDelete, &MainWindow::onDeleteTreeItem);
    makeAction(Command::GroupNew, text::kGroupNew, &MainWindow::onGroupNew);
    makeAction(Command::GroupEdit, text::kGroupEdit, &MainWindow::onEditTreeItem);
    makeAction(Command::GroupDelete, text::kGroupDelete, &MainWindow::onDeleteTreeItem);
    makeAction(Command::TreePaste, text::kFolderPaste, &MainWindow::onTreePaste);

    makeAction(Command::EditMessage, text::kSendEditMessage, &MainWindow::onEditMessage);
    makeAction(Command::Options, text::kSendOptions, &MainWindow::onOptions);
    makeAction(Command::SendMail, text::kSendMail, &MainWindow::onSendMail);
    action(Command::SendMail)->setIconText(t(text::kSendMailButton));
    makeAction(Command::SendFailed, text::kSendFailed, &MainWindow::onSendFailed);
    makeAction(Command::CheckAddresses, text::kCheckAddresses, &MainWindow::onCheckAddresses);
    action(Command::CheckAddresses)->setIconText(t(text::kCheckAddressesButton));
    makeAction(Command::SendLog, text::kSendLog, &MainWindow::onSendLog);
    makeAction(Command::CheckLog, text::kCheckLog, &MainWindow::onCheckLog);

    makeAction(Command::ViewToolBar, text::kViewToolBar, nullptr);
    makeAction(Command::ViewStatusBar, text::kViewStatusBar, nullptr);
    for (Command c : {Command::ViewToolBar, Command::ViewStatusBar}) {
        action(c)->setCheckable(true);
        action(c)->setChecked(true);
    }
    connect(action(Command::ViewStatusBar), &QAction::toggled, statusBar(), &QWidget::setVisible);

    makeAction(Command::HelpContents, text::kHelpContents, &MainWindow::onHelpContents,
               QKeySequence::HelpContents);
    makeAction(Command::HelpAbout, text::kHelpAbout, &MainWindow::onHelpAbout);

    for (auto& r : m_recent) {
        r = new QAction(this);
        r->setVisible(false);
        connect(r, &QAction::triggered, this, [this, r] {
            if (maybeSave()) {
                openBook(r->data().toString());
            }
        });
    }
}

// The menu bar, in one place: commands of other features are added here.
void MainWindow::buildMenus() {
    auto add = [this](Menu m, const char* title) {
        QMenu* menu = menuBar()->addMenu(t(title));
        m_menus[static_cast<std::size_t>(m)] = menu;
        return menu;
    };
    QMenu* file = add(Menu::File, text::kMenuFile);
    file->addAction(action(Command::FileNew));
    file->addAction(action(Command::FileOpen));
    file->addAction(action(Command::FileSave));
    file->addAction(action(Command::FileSaveAs));
    file->addSeparator();
    file->addAction(action(Command::FileImport));
    m_recentSeparator = file->addSeparator();
    for (QAction* r : m_recent) {
        file->addAction(r);
    }
    file->addSeparator();
    file->addAction(action(Command::FileExit));
    updateRecentFiles();

    QMenu* edit = add(Menu::Edit, text::kMenuEdit);
    edit->addAction(action(Command::Undo));
    edit->addSeparator();
    edit->addAction(action(Command::Cut));
    edit->addAction(action(Command::Copy));
    edit->addAction(action(Command::Paste));
    edit->addAction(action(Command::Delete));
    edit->addSeparator();
    edit->addAction(action(Command::Renumber));

    QMenu* record = add(Menu::Record, text::kMenuRecord);
    record->addAction(action(Command::RecordNew));
    record->addAction(action(Command::RecordEdit));

    QMenu* folder = add(Menu::Folder, text::kMenuFolder);
    folder->addAction(action(Command::FolderNew));
    folder->addAction(action(Command::FolderEdit));
    folder->addAction(action(Command::FolderDelete));
    folder->addSeparator();
    folder->addAction(action(Command::GroupNew));
    folder->addAction(action(Command::GroupEdit));
    folder->addAction(action(Command::GroupDelete));
    folder->addSeparator();
    folder->addAction(action(Command::TreePaste));

    QMenu* send = add(Menu::Send, text::kMenuSend);
    send->addAction(action(Command::EditMessage));
    send->addSeparator();
    send->addAction(action(Command::CheckAddresses));
    send->addAction(action(Command::SendMail));
    send->addAction(action(Command::SendFailed));
    send->addSeparator();
    send->addAction(action(Command::Options));

    QMenu* view = add(Menu::View, text::kMenuView);
    view->addAction(action(Command::ViewToolBar));
    view->addAction(action(Command::ViewStatusBar));
    view->addSeparator();
    view->addAction(action(Command::SendLog));
    view->addAction(action(Command::CheckLog));

    QMenu* help = add(Menu::Help, text::kMenuHelp);
    help->addAction(action(Command::HelpContents));
    help->addSeparator();
    help->addAction(action(Command::HelpAbout));

    // The list's and the tree's context menus offer their own commands.
    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (Command c : {Command::RecordEdit, Command::RecordNew, Command::Cut, Command::Copy,
                      Command::Paste, Command::Delete, Command::Renumber}) {
        if (!m_list->actions().contains(action(c))) {
            m_list->addAction(action(c));
        }
    }
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (Command c :
         {Command::FolderNew, Command::FolderEdit, Command::FolderDelete, Command::GroupNew,
          Command::GroupEdit, Command::GroupDelete, Command::TreePaste}) {
        m_tree->addAction(action(c));
    }
}

void MainWindow::buildToolBar() {
    m_toolBar = addToolBar(t("標準"));
    m_toolBar->setObjectName(QStringLiteral("standard"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (Command c : {Command::FileNew, Command::FileOpen, Command::FileSave}) {
        m_toolBar->addAction(action(c));
    }
    m_toolBar->addAction(action(Command::FileImport));
    m_toolBar->addSeparator();
    for (Command c : {Command::Cut, Command::Copy, Command::Paste, Command::Delete}) {
        m_toolBar->addAction(action(c));
    }
    m_toolBar->addSeparator();
    for (Command c : {Command::RecordNew, Command::RecordEdit, Command::EditMessage}) {
        m_toolBar->addAction(action(c));
    }
    m_toolBar->addSeparator();
    for (Command c : {Command::CheckAddresses, Command::SendMail}) {
        m_toolBar->addAction(action(c));
    }
    m_toolBar->addSeparator();
    m_toolBar->addAction(action(Command::HelpContents));
    connect(action(Command::ViewToolBar), &QAction::toggled, m_toolBar, &QWidget::setVisible);
}

// --- the profile

void MainWindow::restoreLayout() {
    Profile& p = *m_context.profile;
    const auto widths = p.columnWidths();
    for (std::size_t i = 0; i < widths.size(); ++i) {
        m_list->setColumnWidth(static_cast<int>(i), widths[i]);
    }
    m_splitter->setSizes({p.leftViewWidth(), 700});
    resize(900, 560);
    const QByteArray geometry = p.windowGeometry();
    if (!geometry.isEmpty() && restoreGeometry(geometry)) {
        // Never back minimised, or where no screen shows it.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        bool onScreen = false;
        for (const QScreen* s : QGuiApplication::screens()) {
            onScreen = onScreen || s->availableGeometry().intersects(frameGeometry());
        }
        if (!onScreen) {
            resize(900, 560);
            if (const QScreen* s = QGuiApplication::primaryScreen()) {
                move(s->availableGeometry().center() - rect().center());
            }
        }
    }
    const auto column = static_cast<int>(p.sortColumn());
    const Qt::SortOrder order = p.sortOrder() == addressbook::SortOrder::Descending
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    m_list->horizontalHeader()->setSortIndicator(column, order);
    m_list->setSortingEnabled(true);  // sorts once by the indicator
}

void MainWindow::saveLayout() {
    Profile& p = *m_context.profile;
    p.setSort(m_state.sortColumn(), m_state.sortOrder());
    std::array<int, addressbook::kListColumnCount> widths{};
    for (std::size_t i = 0; i < widths.size(); ++i) {
        widths[i] = m_list->columnWidth(static_cast<int>(i));
    }
    p.setColumnWidths(widths);
    if (!m_splitter->sizes().isEmpty()) {
        p.setLeftViewWidth(m_splitter->sizes().first());
    }
    p.setWindowGeometry(saveGeometry());
    p.sync();
}

// --- state shown

void MainWindow::updateTitle() {
    const QString name = m_path.isEmpty() ? t(text::kUntitled) : QFileInfo(m_path).fileName();
    setWindowTitle(QStringLiteral("%1[*] - %2").arg(name, t(text::kAppTitle)));
    setWindowModified(m_doc.isModified());
}

void MainWindow::updateCount() {
    m_count->setText(t(text::kRecordCount).arg(m_state.recordRowCount(), 5));
    m_contents->setText(m_context.contFileName.empty()
                            ? QString()
                            : QFileInfo(ui::fromSjis(m_context.contFileName)).fileName());
}

void MainWindow::updateActions() {
    const bool idle = !m_doc.runInProgress();
    const bool rows = !selectedRows().empty();
    const TreeSelection tree = m_treeModel->selectionOf(m_tree->currentIndex());
    const bool listShows = m_state.hasBlankRow();
    auto enable = [this](Command c, bool on) { action(c)->setEnabled(on); };
    enable(Command::FileNew, idle);
    enable(Command::FileOpen, idle);
    enable(Command::FileImport, idle);
    enable(Command::Undo, idle && m_editor.canUndo());
    QString undo = QString::fromStdString(m_editor.undoText());
    action(Command::Undo)->setText(undo.section(QLatin1Char('\t'), 0, 0));
    enable(Command::Cut, idle && rows);
    enable(Command::Copy, rows);
    enable(Command::Paste, idle && listShows && m_editor.canPaste());
    enable(Command::Delete, idle && rows);
    enable(Command::Renumber, idle && listShows && m_state.recordRowCount() > 0);
    enable(Command::RecordNew, idle && listShows);
    enable(Command::RecordEdit, idle && listShows);
    enable(Command::FolderNew, idle);
    enable(Command::GroupNew, idle);
    enable(Command::FolderEdit, idle && tree.kind == TreeSelection::Kind::Folder);
    enable(Command::FolderDelete, idle && tree.kind == TreeSelection::Kind::Folder);
    enable(Command::GroupEdit, idle && tree.kind == TreeSelection::Kind::Group);
    enable(Command::GroupDelete, idle && tree.kind == TreeSelection::Kind::Group);
    enable(Command::TreePaste,
           idle && m_editor.canPaste() && tree.kind != TreeSelection::Kind::GroupRoot);
    for (QAction* r : m_recent) {
        r->setEnabled(idle);
    }
    // One run at a time: the next waits until the last one's window is closed.
    enable(Command::SendMail, idle && m_command == nullptr);
    enable(Command::SendFailed, idle && m_command == nullptr && listShowsSendErrors());
    enable(Command::CheckAddresses, idle && m_command == nullptr);
}

void MainWindow::updateRecentFiles() {
    const QStringList files = m_context.profile->recentFiles();
    for (int i = 0; i < Profile::kRecentFiles; ++i) {
        QAction* r = m_recent[static_cast<std::size_t>(i)];
        if (i < files.size()) {
            r->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
            r->setData(files[i]);
            r->setVisible(true);
        } else {
            r->setVisible(false);
        }
    }
    m_recentSeparator->setVisible(!files.isEmpty());
}

void MainWindow::showCoreError(const Status& status) {
    if (!status) {
        showMessage(this, t(text::kAppTitle), QString::fromStdString(status.error().message),
                    QMessageBox::Critical);
    }
}

void MainWindow::showDropRefusal(const QString& message) {
    showMessage(this, t(text::kAppTitle), message, QMessageBox::Critical);
}

// --- the document's news

void MainWindow::documentReset() {
    updateTitle();
    updateActions();
}

void MainWindow::undoChanged() {
    updateActions();
}

void MainWindow::modifiedChanged(bool modified) {
    setWindowModified(modified);
}

void MainWindow::runChanged(bool running) {
    (void)running;
    updateActions();
}

// --- tree and list

void MainWindow::treeCurrentChanged() {
    if (m_syncing || m_treeModel->changing()) {
        return;
    }
    const TreeSelection s = m_treeModel->selectionOf(m_tree->currentIndex());
    if (!(s == m_state.selection())) {
        WaitCursor wait;
        m_editor.select(s);
    }
    updateCount();
    updateActions();
}

void MainWindow::followListSelection() {
    m_syncing = true;
    m_tree->setCurrentIndex(m_treeModel->indexOf(m_state.selection()));
    m_syncing = false;
    updateActions();
}

void MainWindow::selectTreeItem(const TreeSelection& selection) {
    m_tree->setCurrentIndex(m_treeModel->indexOf(selection));
    treeCurrentChanged();
}

std::vector<std::size_t> MainWindow::selectedRows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : m_list->selectionModel()->selectedRows()) {
        const auto row = static_cast<std::size_t>(i.row());
        if (!m_state.isBlankRow(row)) {
            rows.push_back(row);
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// --- files

bool MainWindow::maybeSave() {
    if (!m_doc.isModified()) {
        return true;
    }
    const QString name = m_path.isEmpty() ? t(text::kUntitled) : QFileInfo(m_path).fileName();
    switch (askYesNoCancel(this, t(text::kAppTitle), t(text::kSaveChanges).arg(name))) {
        case QMessageBox::Yes:
            return saveBook();
        case QMessageBox::No:
            return true;
        default:
            return false;
    }
}

bool MainWindow::newBook() {
    if (auto made = m_doc.OnNewDocument(m_context.profile->freeFieldTitles()); !made) {
        showCoreError(made);
        return false;
    }
    m_path.clear();
    updateTitle();
    return true;
}

bool MainWindow::openBook(const QString& path) {
    Status opened = Ok{};
    {
        WaitCursor wait;
        opened = m_doc.OnOpenDocument(toPath(path), m_context.profile->freeFieldTitles());
    }
    if (!opened) {
        showMessage(this, t(text::kAppTitle),
                    t(text::kOpenFailed).arg(QString::fromStdString(opened.error().message)),
                    QMessageBox::Critical);
        return false;
    }
    m_path = QFileInfo(path).absoluteFilePath();
    m_context.profile->addRecentFile(m_path);
    updateRecentFiles();
    updateTitle();
    return true;
}

bool MainWindow::saveBook() {
    if (m_path.isEmpty()) {
        const QString path = QFileDialog::getSaveFileName(
            this, t(text::kFileSaveAs).remove("(&A)..."), QString(), t(text::kFileFilter));
        return !path.isEmpty() && saveBookAs(path);
    }
    return saveBookAs(m_path);
}

bool MainWindow::saveBookAs(const QString& path) {
    QString target = path;
    if (QFileInfo(target).suffix().isEmpty()) {
        target += QStringLiteral(".") + t(text::kExtension);
    }
    Status saved = Ok{};
    {
        WaitCursor wait;
        saved = m_doc.OnSaveDocument(toPath(target));
    }
    if (!saved) {
        showMessage(this, t(text::kAppTitle),
                    t(text::kSaveFailed).arg(QString::fromStdString(saved.error().message)),
                    QMessageBox::Critical);
        return false;
    }
    // The book's titles become those of the next new book.
    m_context.profile->setFreeFieldTitles(m_doc.freeFieldTitles());
    m_path = QFileInfo(target).absoluteFilePath();
    m_context.profile->addRecentFile(m_path);
    updateRecentFiles();
    updateTitle();
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_doc.runInProgress()) {
        showMessage(this, t(text::kAppTitle), fromUtf8(addressbook::kRunInProgressText),
                    QMessageBox::Information);
        event->ignore();
        return;
    }
    if (!maybeSave()) {
        event->ignore();
        return;
    }
    saveLayout();
    event->accept();
}

void MainWindow::onNew() {
    if (maybeSave()) {
        newBook();
    }
}

void MainWindow::onOpen() {
    if (!maybeSave()) {
        return;
    }
    const QString path = QFileDialog::getOpenFileName(this, t(text::kFileOpen).remove("(&O)..."),
                                                      QString(), t(text::kFileFilter));
    if (!path.isEmpty()) {
        openBook(path);
    }
}

void MainWindow::onSave() {
    saveBook();
}

void MainWindow::onSaveAs() {
    const QString path = QFileDialog::getSaveFileName(this, t(text::kFileSaveAs).remove("(&A)..."),
                                                      m_path, t(text::kFileFilter));
    if (!path.isEmpty()) {
        saveBookAs(path);
    }
}

void MainWindow::onImport() {
    // A first run imports into the folder the list shows.
    const TreeSelection shown = m_state.selection();
    const int folder =
        shown.kind == TreeSelection::Kind::Folder ? static_cast<int>(shown.index) : 0;
    addressbook::wizard::ImportWizard wizard(m_doc, m_importState, folder, this);
    wizard.exec();
}

// --- editing

void MainWindow::onUndo() {
    WaitCursor wait;
    showCoreError(m_editor.undo());
}

void MainWindow::onCut() {
    WaitCursor wait;
    showCoreError(m_editor.cutRows(selectedRows()));
    updateActions();
}

void MainWindow::onCopy() {
    m_editor.copyRows(selectedRows());
    updateActions();
}

void MainWindow::onPaste() {
    const QModelIndex current = m_list->currentIndex();
    const std::size_t row =
        current.isValid() ? static_cast<std::size_t>(current.row()) : m_state.recordRowCount();
    WaitCursor wait;
    showCoreError(m_editor.pasteAt(row));
}

void MainWindow::onDelete() {
    const auto rows = selectedRows();
    if (rows.empty()) {
        return;
    }
    if (!askYesNo(this, t(text::kAppTitle), fromUtf8(m_editor.deleteQuestion()))) {
        return;
    }
    WaitCursor wait;
    showCoreError(m_editor.deleteRows(rows));
}

void MainWindow::onRenumber() {
    if (!askYesNo(this, t(text::kAppTitle), fromUtf8(addressbook::kRenumberQuestion))) {
        return;
    }
    WaitCursor wait;
    showCoreError(m_editor.renumberSendOrder());
}

void MainWindow::editRecordAt(std::size_t row) {
    if (!m_state.hasBlankRow() || m_doc.runInProgress()) {
        return;
    }
    RecordEditorDialog dialog(m_editor, row, this);
    if (!dialog.closedAtOnce()) {
        dialog.exec();
    }
}

void MainWindow::onRecordNew() {
    editRecordAt(m_state.recordRowCount());
}

void MainWindow::onRecordEdit() {
    const QModelIndex current = m_list->currentIndex();
    editRecordAt(current.isValid() ? static_cast<std::size_t>(current.row())
                                   : m_state.recordRowCount());
}

void MainWindow::onFolderNew() {
    newTreeItem(FolderEditor::Kind::Folder);
}

void MainWindow::onGroupNew() {
    newTreeItem(FolderEditor::Kind::Group);
}

void MainWindow::newTreeItem(FolderEditor::Kind kind) {
    const bool folder = kind == FolderEditor::Kind::Folder;
    const auto count = folder ? m_doc.folders().size() : m_doc.groups().size();
    FolderEditor dialog(kind, static_cast<int>(count) + 1, kFirstChoosableIcon, QString(), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const auto icon = static_cast<std::uint16_t>(dialog.icon());
    auto added = folder ? m_editor.newFolder(dialog.nameSjis(), icon)
                        : m_editor.newGroup(dialog.nameSjis(), icon);
    if (!added) {
        showCoreError(added.error());
    }
}

// The folder or group selected in the tree (the roots cannot be edited).
void MainWindow::onEditTreeItem() {
    const TreeSelection s = m_treeModel->selectionOf(m_tree->currentIndex());
    const bool folder = s.kind == TreeSelection::Kind::Folder;
    const addressbook::Folder* f = folder ? m_doc.folderByNumber(s.index) : nullptr;
    const addressbook::Group* g =
        s.kind == TreeSelection::Kind::Group ? m_doc.groupByIndex(s.index) : nullptr;
    if (f == nullptr && g == nullptr) {
        return;
    }
    FolderEditor dialog(folder ? FolderEditor::Kind::Folder : FolderEditor::Kind::Group,
                        static_cast<int>(folder ? s.index : s.index + 1),
                        folder ? f->icon : g->icon, ui::fromSjis(folder ? f->name : g->name), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const auto icon = static_cast<std::uint16_t>(dialog.icon());
    showCoreError(folder ? m_editor.editFolder(s.index, dialog.nameSjis(), icon)
                         : m_editor.editGroup(s.index, dialog.nameSjis(), icon));
}

void MainWindow::onDeleteTreeItem() {
    const TreeSelection s = m_treeModel->selectionOf(m_tree->currentIndex());
    const bool folder = s.kind == TreeSelection::Kind::Folder;
    const addressbook::Folder* f = folder ? m_doc.folderByNumber(s.index) : nullptr;
    const addressbook::Group* g =
        s.kind == TreeSelection::Kind::Group ? m_doc.groupByIndex(s.index) : nullptr;
    if (f == nullptr && g == nullptr) {
        return;
    }
    // The same question for a group as for a folder.
    if (!askYesNo(this, t(text::kAppTitle),
                  fromUtf8(addressbook::deleteFolderQuestion(folder ? f->name : g->name)),
                  QMessageBox::Warning)) {
        return;
    }
    WaitCursor wait;
    showCoreError(folder ? m_editor.deleteFolder(s.index) : m_editor.deleteGroup(s.index));
}

void MainWindow::onTreePaste() {
    const TreeSelection s = m_treeModel->selectionOf(m_tree->currentIndex());
    WaitCursor wait;
    switch (s.kind) {
        case TreeSelection::Kind::All:
            showCoreError(m_editor.pasteOnFolder(0));
            break;
        case TreeSelection::Kind::Folder:
            showCoreError(m_editor.pasteOnFolder(s.index));
            break;
        case TreeSelection::Kind::Group:
            showCoreError(m_editor.pasteOnGroup(s.index));
            break;
        case TreeSelection::Kind::GroupRoot:
            break;
    }
}

// --- the dialog libraries, help

void MainWindow::onEditMessage() {
    const int end = runMessageEditor(this, m_context.settings, m_context.contFileName);
    // Whatever path the editor ended with is the current send contents.
    if (end != 0) {
        showCoreError(m_context.store.saveCommon(m_context.contFileName));
        updateCount();
    }
}

void MainWindow::onOptions() {
    if (runOptionsDialog(this, m_context.settings) == 1) {
        showCoreError(m_context.store.saveOption(m_context.settings));
    }
}

// --- sending and checking

// The book's path for the send log, or its title as the caption shows it for
// the check log.
std::string MainWindow::bookNameSjis(bool fullPath) const {
    const QString name = m_path.isEmpty() ? t(text::kUntitled)
                         : fullPath       ? m_path
                                          : QFileInfo(m_path).fileName();
    auto sjis = ui::toSjis(name);
    return sjis ? *sjis : QFile::encodeName(name).toStdString();
}

std::filesystem::path MainWindow::bookFile() const {
    return m_path.isEmpty() ? std::filesystem::path()
                            : std::filesystem::path(QFile::encodeName(m_path).toStdString());
}

void MainWindow::runCommand(ui::JobCommand* command, const std::function<bool()>& execute) {
    m_command = command;
    updateActions();
    connect(command, &ui::JobCommand::runEnded, this, [this] {
        // The statuses are in the document (the list has shown them already).
        updateCount();
        updateActions();
    });
    connect(command, &ui::JobCommand::finished, this, [this, command] {
        command->deleteLater();
        if (m_command == command) {
            m_command = nullptr;
        }
        updateActions();
    });
    if (!execute()) {
        // Ended before the run: a box was shown, or the person cancelled.
        m_command = nullptr;
        delete command;
        updateActions();
    }
}

bool MainWindow::listShowsSendErrors() const {
    for (std::size_t row = 0; row < m_state.recordRowCount(); ++row) {
        const addressbook::Record* record = m_state.recordAt(row);
        if (record != nullptr && record->status() == addressbook::kStatusSendError) {
            return true;
        }
    }
    return false;
}

void MainWindow::onSendMail() {
    startSend(driver::BookSelection::kNormal);
}

void MainWindow::onSendFailed() {
    startSend(driver::BookSelection::kFailedOnly);
}

void MainWindow::startSend(driver::BookSelection selection) {
    if (m_command != nullptr || m_doc.runInProgress()) {
        return;
    }
    ui::SendCommandSetup setup;
    setup.job.settings = m_context.settings;
    setup.job.contentsPath = m_context.contFileName;
    setup.job.options.recipientSourceName = bookNameSjis(true);
    setup.job.options.customHeaderFile = besideProgram("CustmHeader.hdr");
    setup.job.options.smtpAuthFile = besideProgram("SMTPAuth.txt");
    if (m_context.dialUp) {
        setup.job.options.loadDialUp =
            [library = m_context.dialUp]() -> Result<std::shared_ptr<const DialUpLibrary>> {
            return library;
        };
    }
    setup.job.book.path = bookFile();
    setup.recipients = [this, selection] {
        return std::make_unique<driver::BookRecipients>(m_doc, m_state, selection);
    };
    setup.store = &m_context.store;
    setup.now = m_now;
    setup.contentsConfirmed = [this](const std::string& path) {
        m_context.contFileName = path;
        updateCount();
    };
    // The same journal as tarn send's, beside the book; a book never saved
    // has none.
    if (!m_path.isEmpty()) {
        setup.journal = driver::journalPathFor(toPath(m_path));
    }
    auto* command = new ui::SendCommand(this, std::move(setup));
    runCommand(command, [command] { return command->execute(); });
}

void MainWindow::onCheckAddresses() {
    if (m_command != nullptr || m_doc.runInProgress()) {
        return;
    }
    ui::CheckCommandSetup setup;
    setup.job.settings = m_context.settings;
    setup.job.options.documentTitle = bookNameSjis(false);
    if (m_context.dialUp) {
        setup.job.options.loadDialUp =
            [library = m_context.dialUp]() -> Result<std::shared_ptr<const DialUpLibrary>> {
            return library;
        };
    }
    setup.job.book.path = bookFile();
    setup.source = [this] { return std::make_unique<driver::BookCheckSource>(m_doc, m_state); };
    setup.store = &m_context.store;
    setup.settingsAccepted = [this](const CheckSettings& check) {
        m_context.settings.check = check;
    };
    auto* command = new ui::CheckCommand(this, std::move(setup));
    runCommand(command, [command] { return command->execute(); });
}

void MainWindow::onSendLog() {
    ui::showSendLog(this, m_context.settings, m_start);
}

void MainWindow::onCheckLog() {
    ui::showCheckLog(this, m_context.settings, m_start);
}

void MainWindow::checkFirstUse() {
    if (m_firstUseChecked) {
        return;
    }
    m_firstUseChecked = true;
    const AccountSettings& a = m_context.settings.defaultAccount;
    if (!fieldText(a.SMTPName).empty() && !fieldText(a.FromName).empty()) {
        return;
    }
    onOptions();
}

void MainWindow::onHelpContents() {
    const std::filesystem::path help = programFolder() / "help";
    const std::filesystem::path index = help / "index.html";
    if (!std::filesystem::exists(index)) {
        showMessage(this, t(text::kAppTitle),
                    t(text::kHelpMissing).arg(QString::fromStdString(help.string())),
                    QMessageBox::Warning);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(index.string())));
}

void MainWindow::onHelpAbout() {
    QMessageBox box(QMessageBox::NoIcon, t("バージョン情報"),
                    t("<b>ターノス グループ送信</b><br>Version %1<br><br>"
                      "アドレス帳の宛先に、一人ずつ宛名を差し込んだメールを送信します。")
                        .arg(QString::fromStdString(programVersionText())),
                    QMessageBox::Ok, this);
    box.setIconPixmap(applicationIcon().pixmap(64, 64));
    box.exec();
}

}  // namespace tarn::gpsend

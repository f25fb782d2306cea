#include "editor_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QVBoxLayout>

#include "common/cp932.h"
#include "common/files.h"
#include "common/iso2022jp.h"
#include "common/sjis.h"
#include "contents/merge.h"
#include "dialogs.h"
#include "editor/files.h"
#include "editor/preview.h"
#include "editor/rewrap.h"
#include "editor/texts.h"
#include "fields.h"
#include "highlighter.h"
#include "prompts.h"
#include "sjis_line.h"
#include "ui/sjis_text.h"

namespace tarn::editor {
namespace {

// Imported text files larger than this are refused (a body is read whole).
constexpr std::size_t kMaxTextFileBytes = std::size_t{16} << 20;
constexpr int kPathRole = Qt::UserRole;

QString fromUtf8(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The widgets hold line ends as LF; files hold CR LF.
QString forWidget(std::string_view sjis) {
    QString text = ui::fromSjis(sjis);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString displayPath(const std::filesystem::path& path) {
    return QFile::decodeName(path.c_str());
}

std::filesystem::path fileSystemPath(const QString& path) {
    return {QFile::encodeName(path).toStdString()};
}

QString unsavableText(const QString& characters) {
    return QStringLiteral(
               "次の文字はシフトJIS (CP932) で表せません: %1\n"
               "赤い波線の付いた文字を別の文字に置き換えてください。")
        .arg(characters);
}

}  // namespace

EditorDialog::EditorDialog(EditorPrompts& prompts, const std::string& senderNameSjis,
                           const std::string& senderAddressSjis, QWidget* parent)
    : QDialog(parent),
      m_prompts(prompts),
      m_senderName(sjis::truncate(senderNameSjis, 127)),
      m_senderAddress(sjis::truncate(senderAddressSjis, 127)),
      m_libraryFolder(editorLibraryFolder()),
      m_sender(new FieldEdit(true, this)),
      m_cc(new FieldEdit(true, this)),
      m_bcc(new FieldEdit(true, this)),
      m_subject(new FieldEdit(true, this)),
      m_attachments(new AttachmentList(this)),
      m_body(new FieldEdit(false, this)) {
    setObjectName(QStringLiteral("messageEditor"));
    m_sender->setObjectName(QStringLiteral("sender"));
    m_cc->setObjectName(QStringLiteral("cc"));
    m_bcc->setObjectName(QStringLiteral("bcc"));
    m_subject->setObjectName(QStringLiteral("subject"));
    m_attachments->setObjectName(QStringLiteral("attachments"));
    m_body->setObjectName(QStringLiteral("body"));
    setSizeGripEnabled(true);
    for (FieldEdit* field : {m_sender, m_cc, m_bcc, m_subject, m_body}) {
        field->setFont(messageFont());
    }
    m_sender->setReadOnly(true);
    m_sender->setFocusPolicy(Qt::ClickFocus);
    QPalette face = m_sender->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    m_sender->setPalette(face);
    m_sender->setPlainText(ui::fromSjis(senderText(m_senderName, m_senderAddress)));
    m_body->setLineWrapMode(QPlainTextEdit::NoWrap);

    new MessageHighlighter(m_subject->document(), MessageHighlighter::Scope::Message);
    new MessageHighlighter(m_body->document(), MessageHighlighter::Scope::Message);
    new MessageHighlighter(m_cc->document(), MessageHighlighter::Scope::Address);
    new MessageHighlighter(m_bcc->document(), MessageHighlighter::Scope::Address);

    buildActions();
    buildMenus();
    buildLayout(buildToolBar());

    for (FieldEdit* field : {m_cc, m_bcc, m_subject, m_body}) {
        connect(field->document(), &QTextDocument::modificationChanged, this,
                [this] { updateCaption(); });
    }
    for (FieldEdit* field : {m_subject, m_body}) {
        connect(field, &FieldEdit::contextMenuRequested, this,
                [this, field](QMenu* menu, QPoint pos) {
                    addReplacementItems(field, menu, pos);
                    menu->addSeparator();
                    menu->addMenu(tagMenu(menu));
                });
    }
    connect(m_attachments, &AttachmentList::filesDropped, this, [this](const QStringList& paths) {
        for (const QString& p : paths) {
            addAttachment(p);
        }
    });
    connect(m_attachments, &AttachmentList::itemsRemoved, this, [this] { setModified(true); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && isAncestorOf(now)) {
            m_lastFocus = now;
        }
    });

    setHeadersShown(false);
    updateCaption();
    resize(780, 640);
}

EditorDialog::~EditorDialog() = default;

// ---- construction ----------------------------------------------------------

QAction* EditorDialog::makeAction(const char* name, const QString& text,
                                  const std::function<void()>& run,
                                  const QList<QKeySequence>& keys) {
    auto* a = new QAction(text, this);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    connect(a, &QAction::triggered, this, [run] { run(); });
    addAction(a);
    return a;
}

QAction* EditorDialog::action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void EditorDialog::buildActions() {
    // Without a desktop session Qt's theme is the bare "hicolor", which has no
    // action icons; the common default theme has them when it is installed.
    const QString bare = QStringLiteral("hicolor");
    if (QIcon::themeName() == bare && !QIcon::hasThemeIcon(QStringLiteral("edit-cut"))) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
        if (!QIcon::hasThemeIcon(QStringLiteral("edit-cut"))) {
            QIcon::setThemeName(bare);
        }
    }
    QStyle* s = style();
    auto icon = [](const char* theme, const QIcon& fallback) {
        return QIcon::fromTheme(QString::fromLatin1(theme), fallback);
    };
    QAction* a = makeAction("fileNew", QStringLiteral("新規作成(&N)"), [this] { newMessage(); },
                            {QKeySequence(Qt::CTRL | Qt::Key_N)});
    a->setIconText(QStringLiteral("新規"));
    a->setIcon(icon("document-new", s->standardIcon(QStyle::SP_FileIcon)));
    a = makeAction("fileOpen", QStringLiteral("開く(&O)..."), [this] { openMessage(); },
                   {QKeySequence(Qt::CTRL | Qt::Key_O)});
    a->setIconText(QStringLiteral("開く"));
    a->setIcon(icon("document-open", s->standardIcon(QStyle::SP_DialogOpenButton)));
    a = makeAction("fileSave", QStringLiteral("上書き保存(&S)"), [this] { save(); },
                   {QKeySequence(Qt::CTRL | Qt::Key_S)});
    a->setIconText(QStringLiteral("保存"));
    a->setIcon(icon("document-save", s->standardIcon(QStyle::SP_DialogSaveButton)));
    makeAction("fileSaveAs", QStringLiteral("名前を付けて保存(&A)..."), [this] { saveAs(); });
    for (std::size_t i = 0; i < kMessageTemplates.size(); ++i) {
        const std::string name = "template" + std::to_string(i);
        makeAction(name.c_str(), fromUtf8(std::string(kMessageTemplates[i].menuText)),
                   [this, i] { loadTemplate(i); });
    }
    makeAction("importText", QStringLiteral("テキストファイルの読み込み(&R)..."),
               [this] { importTextFile(); });
    makeAction("fileExit", QStringLiteral("終了(&X)"), [this] { closeEditor(); });

    auto onField = [this](void (QPlainTextEdit::*fn)()) {
        return [this, fn] {
            if (FieldEdit* f = focusedField()) {
                (f->*fn)();
            }
        };
    };
    makeAction("editUndo", QStringLiteral("元に戻す(&U)"), onField(&QPlainTextEdit::undo),
               {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    a = makeAction("editCut", QStringLiteral("切り取り(&T)"), onField(&QPlainTextEdit::cut),
                   {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    a->setIconText(QStringLiteral("切り取り"));
    a->setIcon(icon("edit-cut", {}));
    a = makeAction("editCopy", QStringLiteral("コピー(&C)"), onField(&QPlainTextEdit::copy),
                   {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    a->setIconText(QStringLiteral("ｺﾋﾟｰ"));
    a->setIcon(icon("edit-copy", {}));
    a = makeAction("editPaste", QStringLiteral("貼り付け(&P)"), onField(&QPlainTextEdit::paste),
                   {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    a->setIconText(QStringLiteral("貼り付け"));
    a->setIcon(icon("edit-paste", {}));
    makeAction("editSelectAll", QStringLiteral("すべて選択(&A)"),
               [this] {
                   if (FieldEdit* f = focusedField()) {
                       f->selectAll();
                   } else if (m_attachments->hasFocus()) {
                       m_attachments->selectAll();
                   }
               },
               {QKeySequence(Qt::CTRL | Qt::Key_A)});

    a = makeAction("attach", QStringLiteral("添付ファイルの選択(&A)..."),
                   [this] { addAttachmentsByDialog(); });
    a->setIconText(QStringLiteral("添付"));
    a->setIcon(icon("mail-attachment", s->standardIcon(QStyle::SP_FileLinkIcon)));
    for (std::size_t k = 0; k < contents::kMergeFieldCount; ++k) {
        QString text = ui::fromSjis(contents::MergeTagTable[k]);
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        const std::string name = "insertTag" + std::to_string(k);
        makeAction(name.c_str(), text, [this, k] { insertTag(k); });
    }
    makeAction("rewrap", QStringLiteral("自由桁改行(&C)"), [this] { rewrapBody(); });
    a = makeAction("preview", QStringLiteral("差し込みプレビュー(&V)..."),
                   [this] { showPreview(); });
    a->setIconText(QStringLiteral("ﾌﾟﾚﾋﾞｭｰ"));
    a->setIcon(icon("document-print-preview", s->standardIcon(QStyle::SP_FileDialogContentsView)));
    m_showHeaders = makeAction("showHeaders", QStringLiteral("BCCを表示(&H)"), [] {});
    m_showHeaders->setCheckable(true);
    connect(m_showHeaders, &QAction::toggled, this, [this](bool on) { setHeadersShown(on); });
    a = makeAction("help", QStringLiteral("ヘルプ(&H)"), [this] { showHelp(); },
                   {QKeySequence(Qt::Key_F1)});
    a->setIconText(QStringLiteral("ﾍﾙﾌﾟ"));
    a->setIcon(icon("help-contents", s->standardIcon(QStyle::SP_DialogHelpButton)));
}

QMenu* EditorDialog::tagMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("差し込み(&I)"), parent);
    for (std::size_t k = 0; k < contents::kMergeFieldCount; ++k) {
        menu->addAction(action(QStringLiteral("insertTag%1").arg(k)));
        if (k == 4) {
            menu->addSeparator();
        }
    }
    return menu;
}

void EditorDialog::buildMenus() {
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(QStringLiteral("ファイル(&F)"));
    for (const char* name : {"fileNew", "fileOpen", "fileSave", "fileSaveAs"}) {
        file->addAction(action(QString::fromLatin1(name)));
    }
    file->addSeparator();
    QMenu* templates = file->addMenu(QStringLiteral("ひな形(&T)"));
    for (std::size_t i = 0; i < kMessageTemplates.size(); ++i) {
        templates->addAction(action(QStringLiteral("template%1").arg(i)));
    }
    file->addAction(action(QStringLiteral("importText")));
    file->addSeparator();
    file->addAction(action(QStringLiteral("fileExit")));

    QMenu* edit = bar->addMenu(QStringLiteral("編集(&E)"));
    edit->addAction(action(QStringLiteral("editUndo")));
    edit->addSeparator();
    for (const char* name : {"editCut", "editCopy", "editPaste"}) {
        edit->addAction(action(QString::fromLatin1(name)));
    }
    edit->addSeparator();
    edit->addAction(action(QStringLiteral("editSelectAll")));
    edit->addSeparator();
    edit->addMenu(tagMenu(edit));

    QMenu* tools = bar->addMenu(QStringLiteral("ツール(&T)"));
    tools->addAction(action(QStringLiteral("attach")));
    tools->addSeparator();
    tools->addAction(action(QStringLiteral("rewrap")));
    tools->addAction(action(QStringLiteral("preview")));
    tools->addSeparator();
    tools->addAction(m_showHeaders);

    QMenu* help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(action(QStringLiteral("help")));
    m_menuBar = bar;
}

QToolBar* EditorDialog::buildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(22, 22));
    bar->setMovable(false);
    for (const char* name : {"fileNew", "fileOpen", "fileSave", "", "editCut", "editCopy",
                             "editPaste", "", "attach", "", "preview", "help"}) {
        if (*name == '\0') {
            bar->addSeparator();
        } else {
            bar->addAction(action(QString::fromLatin1(name)));
        }
    }
    return bar;
}

void EditorDialog::buildLayout(QToolBar* toolBar) {
    auto* header = new QGridLayout;
    header->setHorizontalSpacing(4);
    header->setVerticalSpacing(3);
    auto row = [header](int r, const QString& text, QWidget* field) {
        auto* label = new QLabel(text);
        label->setBuddy(field);
        header->addWidget(label, r, 0, Qt::AlignLeft | Qt::AlignVCenter);
        header->addWidget(field, r, 1);
        return label;
    };
    row(0, QStringLiteral(" 送信者 : "), m_sender);
    m_ccLabel = row(1, QStringLiteral(" CC :"), m_cc);
    m_bccLabel = row(2, QStringLiteral(" BCC :"), m_bcc);
    row(3, QStringLiteral(" 件名 : "), m_subject);
    QLabel* attach = row(4, QStringLiteral(" 添付 : "), m_attachments);
    header->setAlignment(attach, Qt::AlignLeft | Qt::AlignTop);
    header->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 6);
    layout->setSpacing(4);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(toolBar);
    layout->addLayout(header);
    layout->addWidget(m_body, 1);
}

// ---- state -------------------------------------------------------------------

bool EditorDialog::isModified() const {
    if (m_unsavedContent) {
        return true;
    }
    for (const FieldEdit* field : {m_cc, m_bcc, m_subject, m_body}) {
        if (field->document()->isModified()) {
            return true;
        }
    }
    return false;
}

void EditorDialog::setModified(bool modified) {
    m_unsavedContent = modified;
    if (!modified) {
        for (FieldEdit* field : {m_cc, m_bcc, m_subject, m_body}) {
            field->document()->setModified(false);
        }
    }
    updateCaption();
}

void EditorDialog::updateCaption() {
    const std::string title = m_path.empty() ? std::string() : m_path.filename().string();
    setWindowTitle(fromUtf8(editorCaption(title, isModified())));
}

bool EditorDialog::headersShown() const {
    return m_showHeaders->isChecked();
}

void EditorDialog::setHeadersShown(bool shown) {
    {
        const QSignalBlocker block(m_showHeaders);
        m_showHeaders->setChecked(shown);
    }
    for (QWidget* w : {static_cast<QWidget*>(m_ccLabel), static_cast<QWidget*>(m_cc),
                       static_cast<QWidget*>(m_bccLabel), static_cast<QWidget*>(m_bcc)}) {
        w->setVisible(shown);
    }
}

FieldEdit* EditorDialog::focusedField() const {
    auto* field = qobject_cast<FieldEdit*>(QApplication::focusWidget());
    return field != nullptr && isAncestorOf(field) ? field : nullptr;
}

std::vector<std::string> EditorDialog::attachmentPaths() const {
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(m_attachments->count()));
    for (int i = 0; i < m_attachments->count(); ++i) {
        paths.push_back(m_attachments->item(i)->data(kPathRole).toByteArray().toStdString());
    }
    return paths;
}

void EditorDialog::clearFields() {
    for (FieldEdit* field : {m_cc, m_bcc, m_subject, m_body}) {
        field->clear();
    }
    m_attachments->clear();
}

void EditorDialog::setBody(const QString& text) {
    m_body->setPlainText(text);
}

void EditorDialog::startNew() {
    clearFields();
    m_path.clear();
    m_pathSjis.clear();
    setModified(false);
}

// ---- start, load and save ------------------------------------------------------

void EditorDialog::start(const std::string& pathSjis) {
    std::error_code ec;
    const std::filesystem::path path = pathFromSjis(pathSjis);
    // No file there yet is a new message; one that cannot be read has been reported.
    if (pathSjis.empty() || !std::filesystem::exists(path, ec) || !loadFile(path, pathSjis)) {
        startNew();
    }
    m_subject->setFocus();
}

bool EditorDialog::loadFile(const std::filesystem::path& path, const std::string& pathSjis) {
    contents::SendContents record;
    if (const int code = contents::LoadSendContents(path, record); code != contents::kContentsOk) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("送信内容の読み込みに失敗しました。"),
                       fromUtf8(contentsResultText(code)) + QLatin1Char('\n') + displayPath(path));
        return false;
    }
    upgradeEarlierTags(record.body);
    clearFields();
    m_subject->setPlainText(forWidget(record.subject));
    m_cc->setPlainText(forWidget(record.cc));
    m_bcc->setPlainText(forWidget(record.bcc));
    setBody(forWidget(record.body));
    for (const std::string& attachment : contents::splitAttachments(record.attachments)) {
        addStoredAttachment(attachment);
    }
    setHeadersShown(!record.bcc.empty());
    m_path = path;
    m_pathSjis = pathSjis;
    setModified(false);

    const bool readable = cp932::toUtf8(record.subject) && cp932::toUtf8(record.body) &&
                          cp932::toUtf8(record.cc) && cp932::toUtf8(record.bcc);
    if (!readable) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("シフトJISとして読めないバイトがあります。"),
                       QStringLiteral("読めない部分は \uFFFD で表示しています。"
                                      "この文字を直すまで保存できません。"));
    }
    return true;
}

std::optional<contents::SendContents> EditorDialog::gatherContents(const QString& failureText) {
    const QString subject = m_subject->toPlainText();
    const QString cc = m_cc->toPlainText();
    const QString bcc = m_bcc->toPlainText();
    const QString body = m_body->toPlainText();
    const QString foreign = ui::unrepresentableCharacters(subject + cc + bcc + body);
    if (!foreign.isEmpty()) {
        m_prompts.tell(this, QMessageBox::Warning, failureText, unsavableText(foreign));
        return std::nullopt;
    }
    contents::SendContents record;
    record.subject = *ui::toSjis(subject);
    record.cc = *ui::toSjis(cc);
    record.bcc = *ui::toSjis(bcc);
    record.body = contents::normaliseBodyLineEnds(*ui::toSjis(body));
    record.attachments = contents::joinAttachments(attachmentPaths());
    return record;
}

bool EditorDialog::saveTo(const std::filesystem::path& path, const std::string& pathSjis) {
    const QString failed = QStringLiteral("送信内容の保存に失敗しました。");
    auto record = gatherContents(failed);
    if (!record) {
        return false;
    }
    if (const int code = contents::SaveSendContents(path, *record); code != contents::kContentsOk) {
        m_prompts.tell(this, QMessageBox::Critical, failed,
                       fromUtf8(contentsResultText(code)) + QLatin1Char('\n') + displayPath(path));
        return false;
    }
    m_path = path;
    m_pathSjis = pathSjis;
    setModified(false);
    return true;
}

bool EditorDialog::save() {
    return m_path.empty() ? saveAs() : saveTo(m_path, m_pathSjis);
}

bool EditorDialog::saveAs() {
    const QString chosen =
        m_prompts.saveMessageFile(this, m_path.empty() ? QString() : displayPath(m_path));
    if (chosen.isEmpty()) {
        return false;
    }
    const std::filesystem::path path = fileSystemPath(chosen);
    auto sjis = handBackPath(path);
    if (!sjis) {
        m_prompts.tell(this, QMessageBox::Warning, QStringLiteral("送信内容の保存に失敗しました。"),
                       fromUtf8(sjis.error().message));
        return false;
    }
    return saveTo(path, *sjis);
}

EditorDialog::SaveAnswer EditorDialog::askToSave() {
    if (!isModified()) {
        return SaveAnswer::Unmodified;
    }
    const auto answer = m_prompts.ask(this, QStringLiteral("変更内容を保存しますか？"),
                                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::No) {
        return SaveAnswer::Discarded;
    }
    if (answer != QMessageBox::Yes) {
        return SaveAnswer::Cancelled;
    }
    const bool hadFile = !m_path.empty();
    if (!save()) {
        return SaveAnswer::Cancelled;
    }
    return hadFile ? SaveAnswer::SavedExisting : SaveAnswer::SavedNew;
}

// ---- commands ----------------------------------------------------------------

void EditorDialog::newMessage() {
    if (askToSave() != SaveAnswer::Cancelled) {
        startNew();
        m_subject->setFocus();
    }
}

void EditorDialog::openMessage() {
    if (askToSave() == SaveAnswer::Cancelled) {
        return;
    }
    const QString chosen = m_prompts.openMessageFile(this);
    if (chosen.isEmpty()) {
        return;
    }
    const std::filesystem::path path = fileSystemPath(chosen);
    auto sjis = handBackPath(path);
    if (!sjis) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("送信内容の読み込みに失敗しました。"),
                       fromUtf8(sjis.error().message));
        return;
    }
    if (loadFile(path, *sjis)) {
        m_subject->setFocus();
    }
}

void EditorDialog::loadTemplate(std::size_t index) {
    if (index >= kMessageTemplates.size() || askToSave() == SaveAnswer::Cancelled) {
        return;
    }
    startNew();
    setHeadersShown(false);
    const auto file = templateFile(m_libraryFolder, index);
    contents::SendContents record;
    if (const int code = editor::loadTemplate(file, record); code != contents::kContentsOk) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("送信内容の読み込みに失敗しました。"),
                       fromUtf8(contentsResultText(code)) + QLatin1Char('\n') + displayPath(file));
        return;
    }
    m_subject->setPlainText(forWidget(record.subject));
    setBody(forWidget(record.body));
    // The template's text is nowhere saved yet: closing asks.
    setModified(true);
    m_subject->setFocus();
}

void EditorDialog::importTextFile() {
    if (askToSave() == SaveAnswer::Cancelled) {
        return;
    }
    const QString chosen = m_prompts.openTextFile(this);
    if (chosen.isEmpty()) {
        return;
    }
    auto bytes = readWholeFile(fileSystemPath(chosen), kMaxTextFileBytes);
    if (!bytes) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("テキストファイルを読み込めません。"),
                       fromUtf8(bytes.error().message));
        return;
    }
    const ImportedText text = decodeTextFile(*bytes);
    startNew();
    QString body = fromUtf8(text.utf8);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    setBody(body);
    setModified(true);
    m_body->setFocus();
    if (text.badOffset >= 0) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("シフトJISとして読めないバイトがあります (%1 バイト目)。")
                           .arg(text.badOffset),
                       QStringLiteral("読めない部分は \uFFFD で表示しています。"
                                      "この文字を直すまで保存できません。"));
    } else if (const QString foreign = ui::unrepresentableCharacters(body); !foreign.isEmpty()) {
        m_prompts.tell(this, QMessageBox::Warning,
                       QStringLiteral("UTF-8 のテキストファイルとして読み込みました。"),
                       unsavableText(foreign));
    }
}

void EditorDialog::addAttachmentsByDialog() {
    for (const QString& path : m_prompts.openAttachments(this)) {
        addAttachment(path);
    }
}

bool EditorDialog::addAttachment(const QString& path) {
    auto sjis = attachmentPath(fileSystemPath(path));
    if (!sjis) {
        m_prompts.tell(this, QMessageBox::Warning, QStringLiteral("添付できません。"),
                       fromUtf8(sjis.error().message));
        return false;
    }
    addStoredAttachment(*sjis);
    setModified(true);
    return true;
}

void EditorDialog::addStoredAttachment(const std::string& pathSjis) {
    const QFileInfo info(QFile::decodeName(pathFromSjis(pathSjis).c_str()));
    std::optional<std::uint64_t> size;
    if (info.isFile()) {
        size = static_cast<std::uint64_t>(info.size());
    }
    static const QFileIconProvider icons;
    auto* item = new QListWidgetItem(
        icons.icon(info), fromUtf8(attachmentItemText(info.fileName().toStdString(), size)));
    item->setData(kPathRole, QByteArray::fromStdString(pathSjis));
    item->setToolTip(info.filePath());
    if (!size) {
        item->setForeground(Qt::red);
    }
    m_attachments->addItem(item);
}

void EditorDialog::insertTag(std::size_t index) {
    if (index >= contents::kMergeFieldCount) {
        return;
    }
    FieldEdit* target = m_lastFocus == m_subject ? m_subject : m_body;
    QTextCursor cursor = target->textCursor();
    cursor.insertText(ui::fromSjis(contents::MergeTagTable[index]));
    target->setTextCursor(cursor);
    target->setFocus();
}

void EditorDialog::rewrapBody() {
    const std::optional<int> columns = m_prompts.askColumns(this);
    if (!columns || *columns < 1) {
        return;
    }
    const QString body = m_body->toPlainText();
    auto sjis = ui::toSjis(body);
    if (!sjis) {
        m_prompts.tell(this, QMessageBox::Warning, QStringLiteral("自由桁改行できません。"),
                       unsavableText(ui::unrepresentableCharacters(body)));
        return;
    }
    const QString wrapped = forWidget(editor::rewrapBody(*sjis, *columns));
    if (wrapped == body) {
        return;
    }
    // One edit, so that a single undo brings the old lines back.
    QTextCursor cursor(m_body->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(wrapped);
    cursor.endEditBlock();
}

void EditorDialog::showPreview() {
    auto record = gatherContents(QStringLiteral("差し込みプレビューを表示できません。"));
    if (!record) {
        return;
    }
    const std::string text =
        previewText(m_senderName, m_senderAddress, *record, m_prompts.scriptHost(this));
    m_prompts.showPreview(this, forWidget(text));
}

void EditorDialog::showHelp() {
    const auto page = m_libraryFolder / "help" / "html" / "MSGEDIT.htm";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(page, ec)) {
        m_prompts.tell(this, QMessageBox::Information,
                       QStringLiteral("ヘルプファイルが見つかりません。"), displayPath(page));
    } else if (!m_prompts.openDocument(displayPath(page))) {
        m_prompts.tell(this, QMessageBox::Warning, QStringLiteral("ヘルプを開けません。"),
                       displayPath(page));
    }
}

void EditorDialog::addReplacementItems(FieldEdit* field, QMenu* menu, QPoint pos) {
    const QTextCursor at = field->cursorForPosition(pos);
    const QTextBlock block = at.block();
    // The boundary nearest the click: the character under it lies before the
    // boundary when the click was left of it.
    const int clicked = at.positionInBlock() - (pos.x() < field->cursorRect(at).x() ? 1 : 0);
    const QString text = block.text();
    const SjisLine line = toSjisLine(text);
    bool any = false;
    for (const auto& c : iso2022jp::findNonStandard(line.bytes)) {
        any = any || !c.replacement.empty();
        const auto [from, length] = line.span(c.offset, c.length);
        if (clicked < from || clicked >= from + length) {
            continue;
        }
        const QString character = text.mid(from, length);
        menu->addSeparator();
        if (c.replacement.empty()) {
            menu->addAction(
                    QStringLiteral("「%1」は一部のメールソフトで表示されません").arg(character))
                ->setEnabled(false);
            continue;
        }
        const QString replacement = ui::fromSjis(c.replacement);
        const int start = block.position() + from;
        const int end = start + length;
        menu->addAction(
            QStringLiteral("「%1」を「%2」に置き換える(&R)").arg(character, replacement), this,
            [field, start, end, replacement] {
                QTextCursor edit(field->document());
                edit.setPosition(start);
                edit.setPosition(end, QTextCursor::KeepAnchor);
                edit.insertText(replacement);
            });
    }
    for (QTextBlock b = field->document()->begin(); !any && b.isValid(); b = b.next()) {
        for (const auto& c : iso2022jp::findNonStandard(toSjisLine(b.text()).bytes)) {
            any = any || !c.replacement.empty();
        }
    }
    if (any) {
        menu->addAction(QStringLiteral("一部のメールソフトで表示されない文字をすべて置き換える"),
                        this, [this, field] { replaceNonStandard(field); });
    }
}

int EditorDialog::replaceNonStandard(FieldEdit* field) {
    int replaced = 0;
    QTextCursor edit(field->document());
    edit.beginEditBlock();
    for (QTextBlock block = field->document()->begin(); block.isValid(); block = block.next()) {
        const SjisLine line = toSjisLine(block.text());
        const auto found = iso2022jp::findNonStandard(line.bytes);
        // From the end of the line, so that earlier positions stay put.
        for (auto c = found.rbegin(); c != found.rend(); ++c) {  // NOLINT(modernize-loop-convert)
            if (c->replacement.empty()) {
                continue;
            }
            const auto [from, length] = line.span(c->offset, c->length);
            edit.setPosition(block.position() + from);
            edit.setPosition(block.position() + from + length, QTextCursor::KeepAnchor);
            edit.insertText(ui::fromSjis(c->replacement));
            ++replaced;
        }
    }
    edit.endEditBlock();
    return replaced;
}

void EditorDialog::closeEditor() {
    const SaveAnswer answer = askToSave();
    if (answer == SaveAnswer::Cancelled) {
        return;
    }
    if (m_body->document()->isEmpty() &&
        m_prompts.ask(
            this,
            QStringLiteral("送信内容が空です。\n送信時は送信内容が空の場合、エラーとなります。\n"
                           "このまま終了しますか？"),
            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    done(answer == SaveAnswer::SavedExisting ? kEndSaved
         : answer == SaveAnswer::Discarded   ? kEndDiscarded
                                             : kEndUnchanged);
}

void EditorDialog::reject() {
    closeEditor();
}

void EditorDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    closeEditor();
}

}  // namespace tarn::editor

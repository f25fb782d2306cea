// The editor window on the offscreen platform, driven through its commands
// with scripted answers.
#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "contents/send_contents.h"
#include "editor/files.h"
#include "editor_dialog.h"
#include "fields.h"
#include "scripted_prompts.h"
#include "ui/sjis_text.h"

using namespace tarn::editor;
using tarn::contents::SendContents;
using tarn::editor::test::ScriptedPrompts;

namespace {

std::string sj(const QString& text) {
    return *tarn::ui::toSjis(text);
}

std::string readBytes(const QString& path) {
    std::ifstream in(std::filesystem::path(path.toStdString()), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const QString& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path.toStdString()), std::ios::binary) << bytes;
}

// The colour the highlighter gave the character at `position` of the block.
QColor colourAt(const QPlainTextEdit* edit, int blockNumber, int position) {
    const QTextBlock block = edit->document()->findBlockByNumber(blockNumber);
    for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
        if (position >= r.start && position < r.start + r.length) {
            return r.format.foreground().color();
        }
    }
    return {};
}

}  // namespace

class EditorDialogTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A file with every field filled, two attachments (one of them gone).
    QString writeFullMessage(const QString& name) {
        writeBytes(path(QStringLiteral("見積書.pdf")), std::string(999, 'x'));
        SendContents m;
        m.subject = sj(QStringLiteral("&[会社名] 御中 ｾｰﾙ①のご案内"));
        m.attachments = sj(path(QStringLiteral("見積書.pdf"))) + "\t" + sj(path("gone.txt"));
        m.body = sj(QStringLiteral("&[名前]&[敬称]\r\n\r\n本文です。\r\n"));
        m.cc = "cc@example.jp";
        m.bcc = "bcc@example.jp";
        return tarn::contents::SaveSendContents(path(name).toStdString(), m) == 0 ? path(name)
                                                                                  : QString();
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void openAndSaveRoundTripThroughTheWindow() {
        const QString file = writeFullMessage(QStringLiteral("案内.tnm"));
        const std::string original = readBytes(file);
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, sj(QStringLiteral("山田 太郎")), "taro@example.jp");
        dialog.start(sj(file));

        QCOMPARE(dialog.windowTitle(), QStringLiteral("送信メッセージ作成 - 案内.tnm"));
        QCOMPARE(dialog.senderField()->toPlainText(),
                 QStringLiteral("山田 太郎 <taro@example.jp>"));
        QCOMPARE(dialog.subjectField()->toPlainText(),
                 QStringLiteral("&[会社名] 御中 ｾｰﾙ①のご案内"));
        QCOMPARE(dialog.bodyField()->toPlainText(),
                 QStringLiteral("&[名前]&[敬称]\n\n本文です。\n"));
        QVERIFY(dialog.headersShown());
        QCOMPARE(dialog.attachmentList()->count(), 2);
        QCOMPARE(dialog.attachmentList()->item(0)->text(), QStringLiteral("見積書.pdf (999 Byte)"));
        QCOMPARE(dialog.attachmentList()->item(1)->text(),
                 QStringLiteral("gone.txt (ファイルがありません)"));
        QVERIFY(!dialog.isModified());

        // Saved unchanged, the file comes back byte for byte.
        dialog.action(QStringLiteral("fileSave"))->trigger();
        QVERIFY(prompts.told.isEmpty());
        QCOMPARE(readBytes(file), original);

        // A change marks the caption; Save As moves to the new file.
        dialog.subjectField()->setFocus();
        QTest::keyClicks(dialog.subjectField(), QStringLiteral("X"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("送信メッセージ作成 - 案内.tnm *"));
        prompts.savePath = path(QStringLiteral("別名.tnm"));
        dialog.action(QStringLiteral("fileSaveAs"))->trigger();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("送信メッセージ作成 - 別名.tnm"));
        QCOMPARE(dialog.filePathSjis(), sj(prompts.savePath));
        SendContents saved;
        QCOMPARE(tarn::contents::LoadSendContents(prompts.savePath.toStdString(), saved), 0);
        QCOMPARE(saved.body, sj(QStringLiteral("&[名前]&[敬称]\r\n\r\n本文です。\r\n")));
        QCOMPARE(saved.attachments.size() > 0, true);
        QCOMPARE(readBytes(file), original);
    }

    void earlierTagsAndTheHeaderRows() {
        // The earlier layout: no signature, and only subject, attachments and body.
        const std::string body = "&[Free field1]/&[Free field2]/&[Free field10]";
        const std::string bytes = std::string("\x05OLDER\x01S") + std::string(1, '\0') +
                                  std::string(1, static_cast<char>(body.size())) + body;
        writeBytes(path("earlier.tnm"), bytes);
        ScriptedPrompts prompts;
        EditorDialog earlier(prompts, "", "");
        earlier.start(sj(path("earlier.tnm")));
        QCOMPARE(earlier.bodyField()->toPlainText(),
                 QStringLiteral("&[Freefield1]/&[Freefield2]/&[Freefield10]"));
        QCOMPARE(earlier.senderField()->toPlainText(), QStringLiteral("選択されていません。"));

        // CC alone leaves the rows hidden; a BCC shows them.
        SendContents m;
        m.body = "b";
        m.cc = "cc@example.jp";
        QCOMPARE(tarn::contents::SaveSendContents(path("cc.tnm").toStdString(), m), 0);
        EditorDialog ccOnly(prompts, "", "");
        ccOnly.start(sj(path("cc.tnm")));
        QVERIFY(!ccOnly.headersShown());
        QVERIFY(ccOnly.ccField()->isHidden());
        QCOMPARE(ccOnly.ccField()->toPlainText(), QStringLiteral("cc@example.jp"));
        ccOnly.action(QStringLiteral("showHeaders"))->trigger();
        QVERIFY(!ccOnly.ccField()->isHidden() && !ccOnly.bccField()->isHidden());

        m.bcc = "bcc@example.jp";
        QCOMPARE(tarn::contents::SaveSendContents(path("bcc.tnm").toStdString(), m), 0);
        EditorDialog withBcc(prompts, "", "");
        withBcc.start(sj(path("bcc.tnm")));
        QVERIFY(withBcc.headersShown());
        QVERIFY(prompts.told.isEmpty());
    }

    void aFileThatCannotBeReadStartsANewMessage() {
        writeBytes(path("broken.tnm"),
                   "\x18ZEPH2.0.0.0SEND_CONTENTS\x05"
                   "ab");
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start(sj(path("broken.tnm")));
        QCOMPARE(prompts.told.size(), 1);
        QVERIFY(prompts.told[0].startsWith(QStringLiteral("送信内容の読み込みに失敗しました。\n")));
        QCOMPARE(dialog.filePathSjis(), std::string());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("送信メッセージ作成 - 新規メッセージ"));
    }

    void templatesLoadSubjectAndBodyWithoutAPath() {
        const QString file = writeFullMessage(QStringLiteral("t.tnm"));
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start(sj(file));
        for (std::size_t i = 0; i < kMessageTemplates.size(); ++i) {
            prompts.answers = {QMessageBox::No};  // after the first, the template is unsaved
            dialog.action(QStringLiteral("template%1").arg(i))->trigger();
            QCOMPARE(prompts.told, QStringList());
            QVERIFY(!dialog.subjectField()->toPlainText().isEmpty());
            QVERIFY(dialog.bodyField()->toPlainText().contains(QStringLiteral("&[名前]&[敬称]")));
            QVERIFY(dialog.ccField()->toPlainText().isEmpty());
            QVERIFY(dialog.bccField()->toPlainText().isEmpty());
            QCOMPARE(dialog.attachmentList()->count(), 0);
            QVERIFY(!dialog.headersShown());
            QCOMPARE(dialog.filePathSjis(), std::string());
            QCOMPARE(dialog.windowTitle(), QStringLiteral("送信メッセージ作成 - 新規メッセージ *"));
        }
        QCOMPARE(prompts.asked.size(), 5);  // the first replaced a saved, unchanged file
        // Saving asks for a name.
        prompts.savePath = path(QStringLiteral("年末.tnm"));
        dialog.action(QStringLiteral("fileSave"))->trigger();
        QCOMPARE(prompts.saveSuggestions, QStringList{QString()});
        QCOMPARE(dialog.filePathSjis(), sj(prompts.savePath));
    }

    void rewrapAsksForColumnsAndCanBeUndone() {
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start("");
        const QString body = QStringLiteral("あいうえお。かき\n「あいうえ「かき」");
        dialog.bodyField()->setPlainText(body);
        prompts.columns = 0;
        dialog.action(QStringLiteral("rewrap"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(), body);
        prompts.columns.reset();  // cancelled
        dialog.action(QStringLiteral("rewrap"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(), body);

        prompts.columns = 10;
        dialog.action(QStringLiteral("rewrap"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(),
                 QStringLiteral("あいうえお。\nかき\n「あいうえ\n「かき」"));
        dialog.bodyField()->undo();
        QCOMPARE(dialog.bodyField()->toPlainText(), body);

        // A character Shift_JIS cannot hold has no width to count: named, nothing changes.
        dialog.bodyField()->setPlainText(QStringLiteral("あいうえお🍣かきくけこ"));
        dialog.action(QStringLiteral("rewrap"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(), QStringLiteral("あいうえお🍣かきくけこ"));
        QCOMPARE(prompts.told.size(), 1);
        QVERIFY(prompts.told[0].contains(QStringLiteral("🍣")));
    }

    void attachmentsShowSizesAndCanBeRemoved() {
        QVERIFY(QDir().mkpath(path("files")));
        const QString a = path("files/a.bin"), b = path("files/b b.bin"), c = path("files/c.zip");
        writeBytes(a, std::string(999, 'a'));
        writeBytes(b, std::string(1400, 'b'));
        writeBytes(c, "");
        std::filesystem::resize_file(c.toStdString(), 2500000);
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start("");
        prompts.attachments = {a, b, c, a};
        dialog.action(QStringLiteral("attach"))->trigger();
        QListWidget* list = dialog.attachmentList();
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(0)->text(), QStringLiteral("a.bin (999 Byte)"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("b b.bin (1 KB)"));
        QCOMPARE(list->item(2)->text(), QStringLiteral("c.zip (2.50 MB)"));
        QVERIFY(!list->item(0)->icon().isNull());
        QVERIFY(dialog.isModified());

        // Names a .tnm file cannot hold are refused, and say why.
        QVERIFY(!dialog.addAttachment(path("files/tab\there.txt")));
        QVERIFY(!dialog.addAttachment(path("files/寿司🍣.txt")));
        QCOMPARE(prompts.told.size(), 2);
        QVERIFY(prompts.told[1].contains(QStringLiteral("🍣")));

        list->setFocus();
        list->clearSelection();
        list->item(0)->setSelected(true);
        list->item(2)->setSelected(true);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(dialog.attachmentPaths(), (std::vector<std::string>{sj(b), sj(a)}));
    }

    void previewShowsTheSampleMessage() {
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, sj(QStringLiteral("営業部")), "sales@example.jp");
        dialog.start("");
        dialog.subjectField()->setPlainText(QStringLiteral("&[会社名]様へ"));
        dialog.ccField()->setPlainText(QStringLiteral("cc@example.jp"));
        dialog.bodyField()->setPlainText(
            QStringLiteral("#If &[敬称] = \"様\" Then\n&[名前]&[敬称]\n#End If\n&[Freefield2]"));
        dialog.action(QStringLiteral("preview"))->trigger();
        QCOMPARE(prompts.previews.size(), 1);
        QCOMPARE(prompts.previews[0],
                 QStringLiteral("From : 営業部 <sales@example.jp>\n"
                                "Subject : ○○○○○○○株式会社様へ\n"
                                "CC : cc@example.jp\n\n\n"
                                "Body :\n○△□太郎様\n--フリーフィールド２--\n"));
        QVERIFY(prompts.host.errors.empty());
    }

    void tagsGoToTheSubjectOnlyWhenItHasTheFocus() {
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.start("");
        dialog.subjectField()->setPlainText(QStringLiteral("ご案内"));
        dialog.subjectField()->setFocus();
        dialog.subjectField()->moveCursor(QTextCursor::Start);
        dialog.action(QStringLiteral("insertTag0"))->trigger();
        QCOMPARE(dialog.subjectField()->toPlainText(), QStringLiteral("&[会社名]ご案内"));
        QCOMPARE(dialog.subjectField()->textCursor().position(), 6);

        dialog.setHeadersShown(true);
        dialog.ccField()->setFocus();
        QVERIFY(dialog.ccField()->hasFocus());
        dialog.action(QStringLiteral("insertTag14"))->trigger();
        QCOMPARE(dialog.ccField()->toPlainText(), QString());
        QCOMPARE(dialog.bodyField()->toPlainText(), QStringLiteral("&[Freefield10]"));
        QVERIFY(dialog.bodyField()->hasFocus());
        // A selection is replaced.
        dialog.bodyField()->selectAll();
        dialog.action(QStringLiteral("insertTag3"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(), QStringLiteral("&[名前]"));
        dialog.hide();
    }

    void coloursAndCharactersThatCannotBeSaved() {
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start("");
        dialog.bodyField()->setPlainText(QStringLiteral("&[名前]様 ｶﾅ ①髙 寿司🍣"));
        const QPlainTextEdit* body = dialog.bodyField();
        QCOMPARE(colourAt(body, 0, 0), QColor(0, 0, 192));
        QCOMPARE(colourAt(body, 0, 4), QColor(0, 0, 192));
        QCOMPARE(colourAt(body, 0, 5), QColor());          // 様
        QCOMPARE(colourAt(body, 0, 7), QColor(Qt::red));   // ｶ
        QCOMPARE(colourAt(body, 0, 10), QColor(Qt::red));  // ①
        QCOMPARE(colourAt(body, 0, 14), QColor());         // 司
        QCOMPARE(colourAt(body, 0, 15), QColor(Qt::red));  // 🍣, two UTF-16 units
        QCOMPARE(colourAt(body, 0, 16), QColor(Qt::red));

        // Saving refuses, names the character, and writes nothing.
        prompts.savePath = path("refused.tnm");
        dialog.action(QStringLiteral("fileSave"))->trigger();
        QCOMPARE(prompts.told.size(), 1);
        QVERIFY(prompts.told[0].startsWith(QStringLiteral("送信内容の保存に失敗しました。\n")));
        QVERIFY(prompts.told[0].contains(QStringLiteral("🍣")));
        QVERIFY(!QFile::exists(prompts.savePath));
        QCOMPARE(dialog.filePathSjis(), std::string());
    }

    void charactersSomeReadersCannotShowAreMarkedWithTheirReplacement() {
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start("");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        FieldEdit* body = dialog.bodyField();
        body->setPlainText(QStringLiteral("髙橋様\n①㈱と\uE000"));
        auto underlined = [body](int blockNumber, int position) {
            const QTextBlock block = body->document()->findBlockByNumber(blockNumber);
            for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
                if (position >= r.start && position < r.start + r.length) {
                    return r.format.underlineStyle() == QTextCharFormat::DashUnderline;
                }
            }
            return false;
        };
        QVERIFY(underlined(0, 0));   // 髙
        QVERIFY(!underlined(0, 1));  // 橋
        QVERIFY(underlined(1, 0));   // ①, red as well
        QCOMPARE(colourAt(body, 1, 0), QColor(Qt::red));
        QVERIFY(underlined(1, 3));  // a user-defined character

        // The context menu at 髙 offers its replacement; one undo takes it back.
        QTextCursor first(body->document());
        const QPoint at = body->cursorRect(first).center() + QPoint(3, 0);
        QMenu menu;
        dialog.addReplacementItems(body, &menu, at);
        QStringList texts;
        for (QAction* a : menu.actions()) {
            if (!a->isSeparator()) {
                texts << a->text();
            }
        }
        QCOMPARE(texts,
                 (QStringList{
                     QStringLiteral("「髙」を「高」に置き換える(&R)"),
                     QStringLiteral("一部のメールソフトで表示されない文字をすべて置き換える")}));
        menu.actions().at(1)->trigger();
        QCOMPARE(body->toPlainText(), QStringLiteral("高橋様\n①㈱と\uE000"));
        body->undo();
        QCOMPARE(body->toPlainText(), QStringLiteral("髙橋様\n①㈱と\uE000"));

        // A character with no replacement says so and offers nothing.
        QTextCursor last(body->document()->findBlockByNumber(1));
        last.setPosition(last.block().position() + 3);
        QMenu noReplacement;
        dialog.addReplacementItems(body, &noReplacement,
                                   body->cursorRect(last).center() + QPoint(3, 0));
        QVERIFY(!noReplacement.actions().at(1)->isEnabled());
        QVERIFY(noReplacement.actions().at(1)->text().startsWith(QStringLiteral("「\uE000」は")));

        QCOMPARE(dialog.replaceNonStandard(body), 3);
        QCOMPARE(body->toPlainText(), QStringLiteral("高橋様\n(1)(株)と\uE000"));
        dialog.hide();
    }

    void textFilesReplaceTheMessage() {
        const QString file = writeFullMessage(QStringLiteral("before.tnm"));
        writeBytes(path("sjis.txt"), sj(QStringLiteral("一行目\r\n二行目ｶﾅ①")));
        writeBytes(path("utf8.txt"),
                   "\xEF\xBB\xBF"
                   "寿司🍣と€\n");
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start(sj(file));
        prompts.textPath = path("sjis.txt");
        dialog.action(QStringLiteral("importText"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(), QStringLiteral("一行目\n二行目ｶﾅ①"));
        QVERIFY(dialog.subjectField()->toPlainText().isEmpty());
        QVERIFY(dialog.ccField()->toPlainText().isEmpty());
        QCOMPARE(dialog.attachmentList()->count(), 0);
        QCOMPARE(dialog.filePathSjis(), std::string());
        QVERIFY(prompts.told.isEmpty());

        prompts.answers = {QMessageBox::No};
        prompts.textPath = path("utf8.txt");
        dialog.action(QStringLiteral("importText"))->trigger();
        QCOMPARE(dialog.bodyField()->toPlainText(), QStringLiteral("寿司🍣と€\n"));
        QCOMPARE(prompts.told.size(), 1);
        QVERIFY(prompts.told[0].contains(QStringLiteral("🍣€")));
    }

    void closeStepsEndWithTheirCodes() {
        const QString file = writeFullMessage(QStringLiteral("close.tnm"));
        auto change = [](EditorDialog& d) {
            d.subjectField()->insertPlainText(QStringLiteral("!"));
        };
        struct Case {
            const char* name;
            bool withFile;
            bool changed;
            std::deque<QMessageBox::StandardButton> answers;
            int end;  // 0: still open
        };
        const Case cases[] = {
            {"unchanged", true, false, {}, kEndUnchanged},
            {"saved to its file", true, true, {QMessageBox::Yes}, kEndSaved},
            {"saved under a new name", false, true, {QMessageBox::Yes}, kEndUnchanged},
            {"not saved", true, true, {QMessageBox::No}, kEndDiscarded},
            {"cancelled", true, true, {QMessageBox::Cancel}, 0},
        };
        for (const Case& c : cases) {
            ScriptedPrompts prompts;
            prompts.answers = c.answers;
            prompts.savePath = path("new-name.tnm");
            EditorDialog dialog(prompts, "", "");
            dialog.start(c.withFile ? sj(file) : std::string());
            if (!c.withFile) {
                dialog.bodyField()->setPlainText(QStringLiteral("本文"));
            }
            if (c.changed) {
                change(dialog);
            }
            dialog.open();
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY2(prompts.answers.empty(), c.name);
            QCOMPARE(dialog.isVisible(), c.end == 0);
            QCOMPARE(dialog.result(), c.end);
            dialog.done(0);
        }
        // Only the case that said Yes wrote to the file.
        SendContents saved;
        QCOMPARE(tarn::contents::LoadSendContents(file.toStdString(), saved), 0);
        QCOMPARE(std::count(saved.subject.begin(), saved.subject.end(), '!'), 1);

        // An empty body asks even when nothing changed; No keeps the editor open.
        ScriptedPrompts prompts;
        EditorDialog empty(prompts, "", "");
        empty.start("");
        empty.open();
        prompts.answers = {QMessageBox::No};
        empty.action(QStringLiteral("fileExit"))->trigger();
        QVERIFY(empty.isVisible());
        QCOMPARE(prompts.asked.size(), 1);
        QVERIFY(prompts.asked[0].startsWith(QStringLiteral("送信内容が空です。\n")));
        prompts.answers = {QMessageBox::Yes};
        empty.close();
        QVERIFY(!empty.isVisible());
        QCOMPARE(empty.result(), int(kEndUnchanged));
    }

    void aSaveThatFailsKeepsTheEditorOpen() {
        const QString dir = path("locked");
        QVERIFY(QDir().mkpath(dir));
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        dialog.start("");
        dialog.bodyField()->insertPlainText(QStringLiteral("本文"));
        prompts.savePath = dir + QStringLiteral("/missing-folder/a.tnm");
        prompts.answers = {QMessageBox::Yes};
        dialog.open();
        dialog.action(QStringLiteral("fileExit"))->trigger();
        QVERIFY(dialog.isVisible());
        QCOMPARE(prompts.told.size(), 1);
        QVERIFY(prompts.told[0].startsWith(QStringLiteral("送信内容の保存に失敗しました。\n")));
        QVERIFY(dialog.isModified());
        dialog.done(0);
    }

    void helpOpensThePageBesideTheLibraryWhenThereIsOne() {
        ScriptedPrompts prompts;
        EditorDialog dialog(prompts, "", "");
        const std::filesystem::path folder = path("library").toStdString();
        dialog.setLibraryFolder(folder);
        dialog.action(QStringLiteral("help"))->trigger();
        QCOMPARE(prompts.documents.size(), 0);
        QCOMPARE(prompts.told.size(), 1);
        QVERIFY(prompts.told[0].startsWith(QStringLiteral("ヘルプファイルが見つかりません。\n")));
        const auto page = folder / "help" / "html" / "MSGEDIT.htm";
        std::filesystem::create_directories(page.parent_path());
        writeBytes(QString::fromStdString(page.string()), "<html></html>");
        dialog.action(QStringLiteral("help"))->trigger();
        QCOMPARE(prompts.documents, QStringList{QString::fromStdString(page.string())});
    }
};

QTEST_MAIN(EditorDialogTest)
#include "editor_dialog_test.moc"

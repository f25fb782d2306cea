// The exported entry point, as the applications call it: modal, with real
// message boxes, and the path handed back by the end code's rule.
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include "contents/send_contents.h"
#include "modal_driver.h"
#include "tarnedit.h"
#include "ui/sjis_text.h"

using tarn::editor::test::ModalDriver;

namespace {

bool isEditor(QWidget* w) {
    return w->objectName() == QLatin1String("messageEditor");
}
bool isQuestion(QWidget* w, const QString& start) {
    auto* box = qobject_cast<QMessageBox*>(w);
    return box != nullptr && box->text().startsWith(start);
}
ModalDriver::Step press(const QString& question, QMessageBox::StandardButton button) {
    return {[question](QWidget* w) { return isQuestion(w, question); },
            [button](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(button)->click(); }};
}
ModalDriver::Step escapeFromEditor() {
    return {isEditor, [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }};
}

}  // namespace

class ZephEditTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    std::string writeMessage(const QString& name) {
        tarn::contents::SendContents m;
        m.subject = "Subject";
        m.body = "Body\r\n";
        const QString path = m_dir.filePath(name);
        return tarn::contents::SaveSendContents(path.toStdString(), m) == 0
                   ? *tarn::ui::toSjis(path)
                   : std::string();
    }

private slots:
    void withoutAPathBufferNothingShows() { QCOMPARE(ZEPHEdit(nullptr, "a", "b", nullptr), 0); }

    void anUnchangedFileHandsItsPathBack() {
        const std::string path = writeMessage(QStringLiteral("送信文.tnm"));
        char buffer[ZEPHEDIT_PATH_SIZE] = {};
        std::memcpy(buffer, path.data(), path.size());
        const std::string longName(300, 'n');  // the sender field shows 127 bytes of it
        QString sender;
        ModalDriver driver(
            {{isEditor, [&sender](QWidget* w) {
                  sender = w->findChild<QPlainTextEdit*>(QStringLiteral("sender"))->toPlainText();
                  QTest::keyClick(w, Qt::Key_Escape);
              }}});
        QCOMPARE(ZEPHEdit(nullptr, longName.c_str(), "a@example.jp", buffer),
                 ZEPHEDIT_END_UNCHANGED);
        QVERIFY(driver.finished());
        QCOMPARE(std::string(buffer), path);
        QCOMPARE(sender, QString(127, QLatin1Char('n')) + QStringLiteral(" <a@example.jp>"));
    }

    void aNewMessageHandsBackAnEmptyPath() {
        // A path with no file behind it starts a new message; it was never
        // saved, so the path handed back is empty.
        const std::string missing = *tarn::ui::toSjis(m_dir.filePath(QStringLiteral("none.tnm")));
        char buffer[ZEPHEDIT_PATH_SIZE] = {};
        std::memcpy(buffer, missing.data(), missing.size());
        ModalDriver driver(
            {escapeFromEditor(), press(QStringLiteral("送信内容が空です。"), QMessageBox::Yes)});
        QCOMPARE(ZEPHEdit(nullptr, "", "", buffer), ZEPHEDIT_END_UNCHANGED);
        QVERIFY(driver.finished());
        QCOMPARE(buffer[0], '\0');
    }

    void changedMessagesEndBySavingOrNot() {
        // Saved to its file: 6; not saved: 7, and the file is as it was. The
        // path stays in the buffer either way.
        const std::pair<QMessageBox::StandardButton, int> cases[] = {
            {QMessageBox::Yes, ZEPHEDIT_END_SAVED}, {QMessageBox::No, ZEPHEDIT_END_DISCARDED}};
        for (const auto& [answer, end] : cases) {
            const QString name = QStringLiteral("changed%1.tnm").arg(end);
            const std::string path = writeMessage(name);
            char buffer[ZEPHEDIT_PATH_SIZE] = {};
            std::memcpy(buffer, path.data(), path.size());
            ModalDriver driver({{isEditor,
                                 [](QWidget* w) {
                                     w->findChild<QPlainTextEdit*>(QStringLiteral("subject"))
                                         ->insertPlainText(QStringLiteral("新しい"));
                                     QTest::keyClick(w, Qt::Key_Escape);
                                 }},
                                press(QStringLiteral("変更内容を保存しますか？"), answer)});
            QCOMPARE(ZEPHEdit(nullptr, "", "", buffer), end);
            QVERIFY(driver.finished());
            QCOMPARE(std::string(buffer), path);
            tarn::contents::SendContents m;
            QCOMPARE(tarn::contents::LoadSendContents(m_dir.filePath(name).toStdString(), m), 0);
            QCOMPARE(m.subject,
                     *tarn::ui::toSjis(end == ZEPHEDIT_END_SAVED ? QStringLiteral("新しいSubject")
                                                                 : QStringLiteral("Subject")));
        }
    }
};

QTEST_MAIN(ZephEditTest)
#include "zephedit_test.moc"

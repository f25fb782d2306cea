// The editor on a real X server (Xvfb): screenshots for a person to look at,
// and `tarn edit` driven from outside as a person would, with xdotool.
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "dialogs.h"
#include "editor_dialog.h"
#include "fields.h"
#include "screenshot.h"
#include "scripted_prompts.h"
#include "ui/sjis_text.h"

using namespace tarn::editor;

namespace {

// Shows the preview window, photographs it, and closes it.
class PhotographingPrompts : public test::ScriptedPrompts {
public:
    void showPreview(QWidget* parent, const QString& text) override {
        ScriptedPrompts::showPreview(parent, text);
        PreviewDialog dialog(text, parent);
        dialog.show();
        if (QTest::qWaitForWindowExposed(&dialog)) {
            QTest::qWait(50);  // let the first paint finish
            shot = tarn::ui::test::saveScreenshot(&dialog, QStringLiteral("merge_preview"));
        }
    }
    QString shot;
};

struct ToolRun {
    int exitCode = -1;
    QString out;
};

ToolRun runTool(const QString& program, const QStringList& args, int timeoutMs = 30000) {
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (p.waitForFinished(timeoutMs)) {
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    } else {
        p.kill();
        p.waitForFinished();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return r;
}

// The X window whose title matches, waiting for it to appear (bounded).
QString waitForWindow(const QString& title) {
    return runTool(QStringLiteral("timeout"),
                   {QStringLiteral("20"), QStringLiteral("xdotool"), QStringLiteral("search"),
                    QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--name"), title})
        .out.section(QLatin1Char('\n'), 0, 0);
}

bool xdotool(const QStringList& args) {
    return runTool(QStringLiteral("xdotool"), args).exitCode == 0;
}

}  // namespace

class EditorXvfbTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(m_dir.isValid());
    }

    void screenshotsOfATemplateAndItsPreview() {
        const QString attachment = m_dir.filePath(QStringLiteral("会社案内.pdf"));
        std::ofstream(attachment.toStdString()).close();
        std::filesystem::resize_file(attachment.toStdString(), 2500000);

        PhotographingPrompts prompts;
        EditorDialog dialog(prompts, *tarn::ui::toSjis(QStringLiteral("営業部 山田 太郎")),
                            "yamada@example.co.jp");
        dialog.start("");
        dialog.action(QStringLiteral("template0"))->trigger();
        QVERIFY(dialog.addAttachment(attachment));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::qWait(50);
        const QString shot =
            tarn::ui::test::saveScreenshot(&dialog, QStringLiteral("editor_template"));
        QVERIFY(!shot.isEmpty());
        qInfo("screenshot: %s", qPrintable(shot));

        dialog.action(QStringLiteral("preview"))->trigger();
        QVERIFY(!prompts.shot.isEmpty());
        QVERIFY(prompts.previews.value(0).contains(QStringLiteral("○△□太郎様")));
        qInfo("screenshot: %s", qPrintable(prompts.shot));
        dialog.hide();
    }

    void tarnEditOpensTheFileAndReportsTheEnd() {
        const QString file = m_dir.filePath(QStringLiteral("案内.tnm"));
        QVERIFY(QFile::copy(QStringLiteral(TARN_BIN_DIR "/Document/開店挨拶.tnm"), file));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARN_REGISTRY"), m_dir.filePath(QStringLiteral("registry")));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));

        // Unchanged: Esc closes it and the path comes back.
        QProcess edit;
        const auto stop = qScopeGuard([&edit] {
            if (edit.state() != QProcess::NotRunning) {
                edit.kill();
                edit.waitForFinished();
            }
        });
        edit.setProcessEnvironment(env);
        edit.start(QStringLiteral(TARN_BIN_DIR "/tarn"), {QStringLiteral("edit"), file});
        QString window = waitForWindow(QStringLiteral("送信メッセージ作成 - 案内.tnm"));
        QVERIFY(!window.isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QVERIFY(edit.waitForFinished(20000));
        QCOMPARE(edit.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(edit.readAllStandardOutput()).trimmed(),
                 QStringLiteral("送信内容ファイル: ") + file);

        // Typed into and not saved: the question, No, and end code 7.
        edit.start(QStringLiteral(TARN_BIN_DIR "/tarn"), {QStringLiteral("edit"), file});
        window = waitForWindow(QStringLiteral("送信メッセージ作成 - 案内.tnm"));
        QVERIFY(!window.isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}));
        QVERIFY(xdotool({QStringLiteral("type"), QStringLiteral("abc")}));
        QVERIFY(!waitForWindow(QStringLiteral("送信メッセージ作成 - 案内.tnm \\*")).isEmpty());
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        const QString question = waitForWindow(QStringLiteral("ターノス - 送信内容作成"));
        QVERIFY(!question.isEmpty());
        QVERIFY(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), question}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("alt+n")}));
        QVERIFY(edit.waitForFinished(20000));
        QCOMPARE(edit.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(edit.readAllStandardOutput()).trimmed(),
                 QStringLiteral("変更を保存せずに終了しました。"));
        QCOMPARE(QFile(file).size(),
                 QFile(QStringLiteral(TARN_BIN_DIR "/Document/開店挨拶.tnm")).size());
    }

    void tarnEditWithoutADisplaySaysSo() {
        QProcess edit;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            env.remove(QString::fromLatin1(name));
        }
        env.insert(QStringLiteral("TARN_REGISTRY"), m_dir.filePath(QStringLiteral("registry")));
        edit.setProcessEnvironment(env);
        edit.start(QStringLiteral(TARN_BIN_DIR "/tarn"),
                   {QStringLiteral("edit"), m_dir.filePath(QStringLiteral("x.tnm"))});
        QVERIFY(edit.waitForFinished(20000));
        QCOMPARE(edit.exitCode(), 1);
        QVERIFY(QString::fromUtf8(edit.readAllStandardError()).contains(QStringLiteral("DISPLAY")));
    }
};

QTEST_MAIN(EditorXvfbTest)
#include "editor_xvfb_test.moc"

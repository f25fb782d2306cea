// The group-send window driven through its actions, menus, header and drops,
// with the results checked in the document and in the views.
#include <time.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include <filesystem>

#include "common/program.h"
#include "folder_dialogs.h"
#include "list_model.h"
#include "record_dialogs.h"
#include "tree_model.h"
#include "ui/sjis_text.h"
#include "window_fixture.h"
#include "wizard_driver.h"

using namespace tarn::gpsend;
using namespace tarn::gpsend::test;
using tarn::addressbook::Field;
using tarn::addressbook::ListColumn;
using tarn::addressbook::TreeSelection;
using Cmd = MainWindow::Command;

namespace {

// CPU time of this thread: on a loaded machine wall time mostly measures the
// wait for a processor.
qint64 cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
}

void clickHeader(MainWindow& w, ListColumn column) {
    QHeaderView* header = w.listView()->horizontalHeader();
    const int c = static_cast<int>(column);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(c) + header->sectionSize(c) / 2, 5));
}

// Triggers a command that asks a question first; returns the question.
QString answered(MainWindow& w, Cmd c, QMessageBox::StandardButton answer) {
    QString seen;
    const Pending box = answerNextBox(answer, &seen);
    w.action(c)->trigger();
    return box.answered() ? seen : QStringLiteral("(no question was asked)");
}

// The same, when only the answer matters: true when a question was asked.
bool asked(MainWindow& w, Cmd c, QMessageBox::StandardButton answer) {
    return answered(w, c, answer) != QStringLiteral("(no question was asked)");
}

QMimeData* dragRows(MainWindow& w, const std::vector<int>& rows) {
    QModelIndexList indexes;
    for (int r : rows) {
        indexes << w.listModel()->index(r, 0) << w.listModel()->index(r, 1);
    }
    return w.listModel()->mimeData(indexes);
}

QString undoText(MainWindow& w) {
    return w.action(Cmd::Undo)->text();
}

}  // namespace

class GroupSendWindowTest : public QObject {
    Q_OBJECT

private slots:
    void theModelsKeepTheirContractThroughEveryKindOfChange() {
        WindowFixture f;
        MainWindow& w = f.window();
        QAbstractItemModelTester treeTester(w.treeModel(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester listTester(w.listModel(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.fillBook();
        QCOMPARE(w.listModel()->rowCount(), 6);  // five records and the blank row
        w.selectTreeItem(TreeSelection::folder(1));
        clickHeader(w, ListColumn::Name);
        f.selectRows({0, 2});
        QVERIFY(asked(w, Cmd::Delete, QMessageBox::Yes));
        QVERIFY(w.editor().undo().ok());
        QVERIFY(f.doc().addFolder(sj("取引先"), 12).ok());
        QVERIFY(f.doc().moveFolder(6, 1).ok());
        QVERIFY(f.doc().removeFolder(2).ok());
        QVERIFY(
            f.doc()
                .addMembers(0, std::vector<const tarn::addressbook::Record*>{&f.doc().record(0),
                                                                             &f.doc().record(3)})
                .ok());
        w.selectTreeItem(TreeSelection::group(0));
        QVERIFY(f.doc().removeGroup(0).ok());
        w.selectTreeItem(TreeSelection::groupRoot());
        QCOMPARE(w.listModel()->rowCount(), 0);  // nothing, not even the blank row
        QVERIFY(w.newBook());
        QCOMPARE(w.listModel()->rowCount(), 1);
        QTRY_COMPARE(w.treeView()->currentIndex(), w.treeModel()->allRecordsIndex());
        QVERIFY(w.treeView()->isExpanded(w.treeModel()->allRecordsIndex()));
        QVERIFY(w.treeView()->isExpanded(w.treeModel()->groupsIndex()));
    }

    void theListShowsItsColumnsIconsAndCount() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        QStringList headers;
        for (int c = 0; c < 9; ++c) {
            headers << w.listModel()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        }
        QCOMPARE(headers.join(QLatin1Char(',')),
                 QStringLiteral("送信順,名前,アドレス,フォルダ,会社名,部署名,役職,敬称,状態"));
        QCOMPARE(w.listView()->columnWidth(2), 130);
        QCOMPARE(w.countLabel()->text(), QStringLiteral("表示ﾚｺｰﾄﾞ     5 件"));
        // new rows come at the end, unsorted; 伊藤 (the fifth) has a send error
        QCOMPARE(w.listModel()->index(4, 1).data().toString(), QStringLiteral("伊藤"));
        QCOMPARE(w.listModel()->index(4, 0).data().toString(), QStringLiteral("5"));
        QCOMPARE(w.listModel()->index(4, 8).data().toString(), QStringLiteral("送信エラー"));
        QCOMPARE(w.listModel()->index(4, 3).data().toString(), QStringLiteral("フォルダ1"));
        QCOMPARE(w.listModel()->index(3, 3).data().toString(), QStringLiteral("なし"));
        const QIcon withOverlay =
            w.listModel()->index(4, 0).data(Qt::DecorationRole).value<QIcon>();
        const QIcon plain = w.listModel()->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!plain.isNull());
        QVERIFY(withOverlay.pixmap(16).toImage() != plain.pixmap(16).toImage());
        QCOMPARE(w.listModel()->index(5, 1).data().toString(), QString());  // the blank row
        w.selectTreeItem(TreeSelection::folder(2));
        QCOMPARE(w.countLabel()->text(), QStringLiteral("表示ﾚｺｰﾄﾞ     1 件"));
    }

    void headerClicksToggleTheSortAndTiesKeepTheSendOrder() {
        WindowFixture f;
        MainWindow& w = f.window();
        // Kana names, where Japanese order and byte order differ: katakana
        // (0x83..) sorts after hiragana (0x82..) as bytes, but カ comes before さ.
        std::vector<tarn::addressbook::Record> people = {
            person("さとう", "a@example.jp", 2),
            person("さとう", "b@example.jp", 1),
            person("すずき", "c@example.jp", 1, tarn::addressbook::kStatusInvalid),
            person("カトウ", "d@example.jp"),
            person("ﾀﾅｶ", "e@example.jp", 1),
            person("いとう", "f@example.jp", 1, tarn::addressbook::kStatusSendError)};
        QVERIFY(f.doc().appendRecords(people).ok());
        clickHeader(w, ListColumn::Name);
        QCOMPARE(f.rows(), QStringLiteral("いとう:6 カトウ:4 さとう:1 さとう:2 すずき:3 ﾀﾅｶ:5"));
        clickHeader(w, ListColumn::Name);  // the same column: descending, ties reversed too
        QCOMPARE(f.rows(), QStringLiteral("ﾀﾅｶ:5 すずき:3 さとう:2 さとう:1 カトウ:4 いとう:6"));
        QCOMPARE(w.listView()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        clickHeader(w, ListColumn::Status);  // another column: ascending, errors together
        QCOMPARE(f.rows(), QStringLiteral("さとう:1 さとう:2 カトウ:4 ﾀﾅｶ:5 すずき:3 いとう:6"));
        QCOMPARE(w.listView()->horizontalHeader()->sortIndicatorSection(), 8);
        QCOMPARE(w.listView()->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
        // kept in the profile for the next start
        f.reopen();
        QCOMPARE(f.window().listState().sortColumn(), ListColumn::Status);
        QCOMPARE(f.window().listView()->horizontalHeader()->sortIndicatorSection(), 8);
    }

    void renumberingMakesTheSendOrderFollowTheRows() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        clickHeader(w, ListColumn::Address);  // the sort column already: now descending
        QCOMPARE(answered(w, Cmd::Renumber, QMessageBox::No),
                 QStringLiteral("送信順を表示順に付け直します。\nよろしいですか？"));
        QCOMPARE(f.book(), QStringLiteral("佐藤 鈴木 高橋 田中 伊藤"));
        QVERIFY(asked(w, Cmd::Renumber, QMessageBox::Yes));
        QCOMPARE(f.book(), QStringLiteral("田中 高橋 鈴木 佐藤 伊藤"));
        QCOMPARE(f.rows(), QStringLiteral("田中:1 高橋:2 鈴木:3 佐藤:4 伊藤:5"));
        QVERIFY(w.isWindowModified());

        // a group: its member order follows the rows
        QVERIFY(
            f.doc()
                .addMembers(1, std::vector<const tarn::addressbook::Record*>{&f.doc().record(4),
                                                                             &f.doc().record(0)})
                .ok());
        w.selectTreeItem(TreeSelection::group(1));
        QCOMPARE(f.rows(), QStringLiteral("田中:2 伊藤:1"));  // still by address, descending
        QVERIFY(asked(w, Cmd::Renumber, QMessageBox::Yes));
        QCOMPARE(f.rows(), QStringLiteral("田中:1 伊藤:2"));
        QCOMPARE(tarn::ui::fromSjis(f.doc().groups()[1].members[0]->name()),
                 QStringLiteral("田中"));
    }

    void deleteInAGroupKeepsTheRecordAndOutsideOneIsUndone() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        QVERIFY(
            f.doc()
                .addMembers(0, std::vector<const tarn::addressbook::Record*>{&f.doc().record(1),
                                                                             &f.doc().record(3)})
                .ok());
        w.selectTreeItem(TreeSelection::group(0));
        f.selectRows({0});
        w.listView()->setFocus();
        QCOMPARE(
            answered(w, Cmd::Delete, QMessageBox::Yes),
            QStringLiteral("レコードをグループメンバシップより削除します。\nよろしいですか？"));
        QCOMPARE(f.rows(), QStringLiteral("田中:1"));
        QCOMPARE(f.doc().recordCount(), 5u);
        QVERIFY(!w.action(Cmd::Undo)->isEnabled());

        w.selectTreeItem(TreeSelection::all());
        clickHeader(w, ListColumn::SendOrder);
        f.selectRows({1, 3});
        QCOMPARE(answered(w, Cmd::Delete, QMessageBox::Yes),
                 QStringLiteral("レコードを削除します。\nよろしいですか？"));
        QCOMPARE(f.book(), QStringLiteral("佐藤 高橋 伊藤"));
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)削除"));
        w.action(Cmd::Undo)->trigger();
        QCOMPARE(f.book(), QStringLiteral("佐藤 鈴木 高橋 田中 伊藤"));
        QCOMPARE(f.rows(), QStringLiteral("佐藤:1 鈴木:2 高橋:3 田中:4 伊藤:5"));
        QVERIFY(!w.action(Cmd::Undo)->isEnabled());
    }

    void cutPasteAndTheirUndo() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        clickHeader(w, ListColumn::SendOrder);
        f.selectRows({0});
        w.action(Cmd::Cut)->trigger();  // no question
        QCOMPARE(f.book(), QStringLiteral("鈴木 高橋 田中 伊藤"));
        w.selectTreeItem(TreeSelection::folder(2));
        f.selectRows({0});
        w.action(Cmd::Paste)->trigger();
        QCOMPARE(f.rows(), QStringLiteral("佐藤:2 鈴木:1"));
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)貼り付け"));
        w.action(Cmd::Undo)->trigger();
        QCOMPARE(f.rows(), QStringLiteral("鈴木:1"));
        // paste on a tree item
        w.selectTreeItem(TreeSelection::group(3));
        w.action(Cmd::TreePaste)->trigger();
        QCOMPARE(f.rows(), QStringLiteral("佐藤:1"));
        QCOMPARE(f.doc().recordCount(), 5u);
    }

    void dropsFromTheModelsMimeData() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        clickHeader(w, ListColumn::SendOrder);
        TreeModel* tree = w.treeModel();
        const QModelIndex folder2 = w.treeModel()->indexOf(TreeSelection::folder(2));

        // records onto a folder (undoable), onto the folder they are in (nothing)
        std::unique_ptr<QMimeData> drag(dragRows(w, {0, 2}));
        QVERIFY(drag->hasFormat(QStringLiteral("TarnRecordFormat")));
        QVERIFY(tree->canDropMimeData(drag.get(), Qt::MoveAction, -1, 0, folder2));
        QVERIFY(!tree->canDropMimeData(drag.get(), Qt::MoveAction, -1, 0, tree->groupsIndex()));
        tree->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, folder2);
        QCOMPARE(f.doc().record(0).folder(), 2);
        QCOMPARE(f.doc().record(2).folder(), 2);
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)ﾌｫﾙﾀﾞ変更"));
        std::unique_ptr<QMimeData> again(dragRows(w, {0}));
        tree->dropMimeData(again.get(), Qt::MoveAction, -1, 0, folder2);
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)ﾌｫﾙﾀﾞ変更"));
        w.action(Cmd::Undo)->trigger();
        QCOMPARE(f.doc().record(0).folder(), 1);

        // records onto a group: members, no undo
        std::unique_ptr<QMimeData> toGroup(dragRows(w, {3, 1}));
        tree->dropMimeData(toGroup.get(), Qt::CopyAction, -1, 0,
                           tree->indexOf(TreeSelection::group(2)));
        QCOMPARE(f.doc().groups()[2].members.size(), 2u);

        // rows onto the list: moved to the row dropped on (undoable)
        std::unique_ptr<QMimeData> rowsDrag(dragRows(w, {0, 1}));
        w.listModel()->dropMimeData(rowsDrag.get(), Qt::MoveAction, -1, 0,
                                    w.listModel()->index(4, 0));
        QCOMPARE(f.rows(), QStringLiteral("高橋:3 田中:4 佐藤:1 鈴木:2 伊藤:5"));
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)移動"));
        w.action(Cmd::Undo)->trigger();
        QCOMPARE(f.rows(), QStringLiteral("佐藤:1 鈴木:2 高橋:3 田中:4 伊藤:5"));

        // a folder dragged onto folder 1 goes before it; its records follow
        QModelIndexList folder3{tree->indexOf(TreeSelection::folder(3))};
        std::unique_ptr<QMimeData> folderDrag(tree->mimeData(folder3));
        QVERIFY(folderDrag->hasFormat(QStringLiteral("TarnFolderFormat")));
        QVERIFY(f.doc()
                    .setFolder(std::vector<const tarn::addressbook::Record*>{&f.doc().record(3)}, 3)
                    .ok());
        tree->dropMimeData(folderDrag.get(), Qt::MoveAction, -1, 0,
                           tree->indexOf(TreeSelection::folder(1)));
        QCOMPARE(tarn::ui::fromSjis(f.doc().folders()[0].name), QStringLiteral("フォルダ3"));
        QCOMPARE(f.doc().record(3).folder(), 1);
        QCOMPARE(f.doc().record(0).folder(), 2);
        QTRY_COMPARE(w.treeView()->currentIndex(), tree->allRecordsIndex());
        // a group dragged outside any group goes to the end
        std::unique_ptr<QMimeData> groupDrag(
            tree->mimeData({tree->indexOf(TreeSelection::group(0))}));
        tree->dropMimeData(groupDrag.get(), Qt::MoveAction, -1, 0, tree->allRecordsIndex());
        QCOMPARE(tarn::ui::fromSjis(f.doc().groups()[4].name), QStringLiteral("グループ1"));

        // a drag that no longer matches the book is refused with a message
        std::unique_ptr<QMimeData> stale(dragRows(w, {0}));
        QVERIFY(
            f.doc()
                .setStatuses(std::vector<tarn::addressbook::StatusUpdate>{{&f.doc().record(0), 3}})
                .ok());
        QString refused;
        const Pending box = answerNextBox(QMessageBox::Ok, &refused);
        tree->dropMimeData(stale.get(), Qt::MoveAction, -1, 0, folder2);
        QVERIFY(box.answered());
        QVERIFY2(refused.contains(QStringLiteral("一致しません")), qPrintable(refused));
    }

    void deletingAMiddleFolderRenumbersLaterRecords() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        QVERIFY(f.doc()
                    .setFolder(std::vector<const tarn::addressbook::Record*>{&f.doc().record(3)}, 3)
                    .ok());
        f.selectRows({0});
        answered(w, Cmd::Delete, QMessageBox::Yes);  // something to undo
        QVERIFY(w.action(Cmd::Undo)->isEnabled());
        w.selectTreeItem(TreeSelection::folder(2));
        QVERIFY(w.action(Cmd::FolderDelete)->isEnabled());
        QCOMPARE(answered(w, Cmd::FolderDelete, QMessageBox::Yes),
                 QStringLiteral("フォルダ「フォルダ2」を削除します。\nよろしいですか？"));
        QCOMPARE(f.doc().folders().size(), 4u);
        for (std::size_t i = 0; i < f.doc().recordCount(); ++i) {
            const auto& r = f.doc().record(i);
            if (r.name() == sj("田中")) {
                QCOMPARE(r.folder(), 2);  // was in folder 3
            }
            if (r.name() == sj("鈴木")) {
                QCOMPARE(r.folder(), 0);  // was in the deleted folder
            }
        }
        QVERIFY(!w.action(Cmd::Undo)->isEnabled());
        QCOMPARE(w.treeModel()->rowCount(w.treeModel()->allRecordsIndex()), 4);
        // the tree shows what the list shows: folder 2 was removed, so "すべて"
        QTRY_COMPARE(w.treeView()->currentIndex(), w.treeModel()->allRecordsIndex());
        QCOMPARE(f.list().selection(), TreeSelection::all());

        // showing folder 2 (田中) while folder 1 goes elsewhere: list and tree
        // both follow it to number 1
        w.selectTreeItem(TreeSelection::folder(2));
        QCOMPARE(f.rows(), QStringLiteral("田中:1"));
        QVERIFY(f.doc().removeFolder(1).ok());
        QCOMPARE(f.list().selection(), TreeSelection::folder(1));
        QCOMPARE(f.rows(), QStringLiteral("田中:1"));
        QTRY_COMPARE(w.treeView()->currentIndex(),
                     w.treeModel()->indexOf(TreeSelection::folder(1)));
    }

    void theRecordEditorChecksBeforeLeavingARecord() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        clickHeader(w, ListColumn::SendOrder);
        f.selectRows({1});
        QStringList messages;
        QString focused;
        const Pending editor = onNext<RecordEditorDialog>([&](RecordEditorDialog* d) {
            QCOMPARE(d->numberLabel()->text(), QStringLiteral("2"));
            QVERIFY(d->previousButton()->isEnabled());
            QCOMPARE(d->field(Field::Name)->text(), QStringLiteral("鈴木"));
            QCOMPARE(d->statusBox()->currentText(), QStringLiteral("妥当性エラー"));
            QCOMPARE(d->folderBox()->currentText(), QStringLiteral("フォルダ2"));
            auto attempt = [&] {
                QString seen;
                const Pending box = answerNextBox(QMessageBox::Ok, &seen);
                d->accept();
                messages << (box.answered() ? seen : QStringLiteral("(none)"));
            };
            d->field(Field::Company)->setText(QString(513, QChar(0x3042)));  // 1,026 bytes
            d->field(Field::Name)->setText(QString(600, QLatin1Char('n')));
            attempt();
            focused = d->focusWidget() == d->field(Field::Company) ? "company" : "?";
            d->field(Field::Company)->setText(QStringLiteral("株式会社つばさ物流"));
            attempt();
            d->field(Field::Name)->setText(QStringLiteral("鈴木 花子"));
            d->field(Field::Email)->setText(QStringLiteral("　 "));
            attempt();
            d->field(Field::Email)->setText(QStringLiteral("寿司🍣@example.jp"));
            attempt();
            d->field(Field::Email)->setText(QStringLiteral("hanako@example.jp  "));
            d->statusBox()->setCurrentIndex(0);
            d->accept();
        });
        w.action(Cmd::RecordEdit)->trigger();
        QVERIFY(editor.answered());
        QCOMPARE(messages.size(), 4);
        QCOMPARE(messages[0], QStringLiteral("全角で512文字以内で入力してください。"));
        QCOMPARE(messages[1], QStringLiteral("半角で512文字以内で入力してください。"));
        QCOMPARE(messages[2], QStringLiteral("電子メールアドレスが登録されていません"));
        QVERIFY2(messages[3].contains(QStringLiteral("🍣")), qPrintable(messages[3]));
        QCOMPARE(focused, QStringLiteral("company"));
        QCOMPARE(tarn::ui::fromSjis(f.doc().record(1).name()), QStringLiteral("鈴木 花子"));
        QCOMPARE(f.doc().record(1).email(), "hanako@example.jp");
        QCOMPARE(f.doc().record(1).status(), 0);
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)編集"));
        w.action(Cmd::Undo)->trigger();
        QCOMPARE(f.doc().record(1).email(), "suzuki@example.jp");
    }

    void theRecordEditorCreatesRecordsWithMembershipsAndTitles() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        w.selectTreeItem(TreeSelection::folder(1));
        const Pending editor = onNext<RecordEditorDialog>([&](RecordEditorDialog* d) {
            QVERIFY(!d->newButton()->isEnabled());  // on the blank row already
            QCOMPARE(d->numberLabel()->text(), QStringLiteral("4"));
            QCOMPARE(d->folderBox()->currentText(), QStringLiteral("フォルダ1"));
            d->field(Field::Name)->setText(QStringLiteral("渡辺"));
            d->field(Field::Email)->setText(QStringLiteral("watanabe@example.jp"));
            d->honorificBox()->setEditText(QStringLiteral("各位"));
            const Pending membership = onNext<MembershipDialog>([](MembershipDialog* m) {
                m->otherList()->item(1)->setSelected(true);  // グループ2
                m->addButton()->click();
                QCOMPARE(m->memberList()->count(), 1);
                m->accept();
            });
            d->membershipButton()->click();
            QVERIFY(membership.answered());
            const Pending freeFields = onNext<FreeFieldDialog>([](FreeFieldDialog* ff) {
                ff->valueEdit(0)->setText(QStringLiteral("東京都港区"));
                ff->startTitleEdit(0);
                ff->titleEdit()->setText(QStringLiteral("住所"));
                emit ff->titleEdit()->editingFinished();
                QCOMPARE(ff->titleLabel(0)->text(), QStringLiteral("住所"));
                ff->accept();
            });
            d->freeFieldButton()->click();
            QVERIFY(freeFields.answered());
            d->accept();
        });
        w.action(Cmd::RecordNew)->trigger();
        QVERIFY(editor.answered());
        QCOMPARE(f.doc().recordCount(), 6u);
        const auto& r = f.doc().record(5);
        QCOMPARE(tarn::ui::fromSjis(r.name()), QStringLiteral("渡辺"));
        QCOMPARE(r.folder(), 1);
        QCOMPARE(tarn::ui::fromSjis(r.freeFieldText(0)), QStringLiteral("東京都港区"));
        QVERIFY(f.doc().isMember(1, &r));
        QCOMPARE(tarn::ui::fromSjis(f.doc().freeFieldTitles()[0]), QStringLiteral("住所"));
        QCOMPARE(tarn::ui::fromSjis(f.doc().honorifics().front()), QStringLiteral("各位"));
        QCOMPARE(f.window().listState().recordRowCount(), 4u);
        QCOMPARE(undoText(w), QStringLiteral("元に戻す(&U)新規"));
        w.action(Cmd::Undo)->trigger();
        QCOMPARE(f.doc().recordCount(), 5u);
    }

    void folderAndGroupEditorsWithTheIconChooser() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        QString tooLong;
        const Pending newFolder = onNext<FolderEditor>([&](FolderEditor* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("フォルダ編集"));
            d->nameEdit()->setText(QString(513, QChar(0x3042)));
            {
                const Pending box = answerNextBox(QMessageBox::Ok, &tooLong);
                d->accept();
            }
            d->nameEdit()->setText(QStringLiteral("取引先"));
            const Pending chooser = onNext<IconChooser>([](IconChooser* c) {
                QCOMPARE(c->list()->count(), 100);
                QCOMPARE(c->chosenIcon(), 2);  // the current one chosen
                c->list()->clearSelection();
                c->accept();  // nothing chosen: stays open
                QVERIFY(c->isVisible());
                c->list()->item(40)->setSelected(true);
                c->accept();
            });
            d->findChild<QPushButton*>()->click();
            QVERIFY(chooser.answered());
            QCOMPARE(d->icon(), 42);
            d->accept();
        });
        w.action(Cmd::FolderNew)->trigger();
        QVERIFY(newFolder.answered());
        QCOMPARE(tooLong, QStringLiteral("全角で512文字以内で入力してください。"));
        QCOMPARE(f.doc().folders().size(), 6u);
        QCOMPARE(f.doc().folders()[5].icon, 42);
        const QModelIndex added = w.treeModel()->indexOf(TreeSelection::folder(6));
        QCOMPARE(added.data().toString(), QStringLiteral("取引先"));

        // renaming folder 1 shows in the tree and in the list's rows
        w.selectTreeItem(TreeSelection::folder(1));
        const Pending rename = onNext<FolderEditor>([](FolderEditor* d) {
            d->nameEdit()->setText(QStringLiteral("得意先"));
            d->accept();
        });
        w.action(Cmd::FolderEdit)->trigger();
        QVERIFY(rename.answered());
        QCOMPARE(w.treeModel()->indexOf(TreeSelection::folder(1)).data().toString(),
                 QStringLiteral("得意先"));
        QCOMPARE(w.listModel()->index(0, 3).data().toString(), QStringLiteral("得意先"));

        const Pending newGroup = onNext<FolderEditor>([](FolderEditor* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("グループ編集"));
            d->nameEdit()->setText(QStringLiteral("展示会"));
            d->accept();
        });
        w.action(Cmd::GroupNew)->trigger();
        QVERIFY(newGroup.answered());
        QCOMPARE(tarn::ui::fromSjis(f.doc().groups().back().name), QStringLiteral("展示会"));
        w.selectTreeItem(TreeSelection::group(5));
        QCOMPARE(answered(w, Cmd::GroupDelete, QMessageBox::Yes),
                 QStringLiteral("フォルダ「展示会」を削除します。\nよろしいですか？"));
        QCOMPARE(f.doc().groups().size(), 5u);
    }

    void theModifiedMarkAndTheSaveQuestion() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        QCOMPARE(w.windowTitle(), QStringLiteral("新規[*] - ターノス"));
        QVERIFY(!w.isWindowModified());
        f.selectRows({0});
        w.action(Cmd::Cut)->trigger();
        QVERIFY(w.isWindowModified());

        QString question;
        {
            const Pending box = answerNextBox(QMessageBox::Cancel, &question);
            QVERIFY(!w.close());
        }
        QCOMPARE(question, QStringLiteral("新規 への変更を保存しますか?"));

        const QString path = QString::fromStdString((f.dir() / "顧客.tn2").string());
        QVERIFY(w.saveBookAs(path));
        QCOMPARE(w.windowTitle(), QStringLiteral("顧客.tn2[*] - ターノス"));
        QVERIFY(!w.isWindowModified());
        QVERIFY(w.action(Cmd::FileSave)->isEnabled());

        // a damaged file changes nothing and says why
        tarn::test::writeFile(f.dir() / "壊れた.tn2", "not a book");
        QString why;
        {
            const Pending box = answerNextBox(QMessageBox::Ok, &why);
            QVERIFY(!w.openBook(QString::fromStdString((f.dir() / "壊れた.tn2").string())));
        }
        QVERIFY2(why.contains(QStringLiteral("アドレス帳ファイルが壊れているか")), qPrintable(why));
        QCOMPARE(w.currentPath(), path);
        QCOMPARE(f.doc().recordCount(), 4u);

        // reopened, and in the recent files
        QVERIFY(w.newBook());
        QVERIFY(w.openBook(path));
        QCOMPARE(f.doc().recordCount(), 4u);
        QCOMPARE(f.context().profile->recentFiles().value(0), path);

        f.selectRows({0});
        w.action(Cmd::Copy)->trigger();
        w.action(Cmd::Paste)->trigger();
        QVERIFY(w.isWindowModified());
        const Pending box = answerNextBox(QMessageBox::No);
        QVERIFY(w.close());
        QVERIFY(box.answered());
    }

    void editingIsOffWhileARunHoldsTheBook() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        f.selectRows({0});
        QVERIFY(w.action(Cmd::Delete)->isEnabled());
        {
            auto run = f.doc().beginRun();
            QVERIFY(run.ok());
            for (Cmd c : {Cmd::Delete, Cmd::Cut, Cmd::RecordEdit, Cmd::FolderNew, Cmd::FileOpen}) {
                QVERIFY(!w.action(c)->isEnabled());
            }
            QVERIFY(w.action(Cmd::Copy)->isEnabled());
            QString why;
            const Pending box = answerNextBox(QMessageBox::Ok, &why);
            QVERIFY(!w.close());  // not while a run holds the book
            QVERIFY(box.answered());
            QVERIFY(why.startsWith(QStringLiteral("送信またはアドレスチェックの実行中")));
        }
        QVERIFY(w.action(Cmd::Delete)->isEnabled());
    }

    void theOptionsDialogOpensOnFirstUseAndTheEditorFromItsCommand() {
        WindowFixture f;
        MainWindow& w = f.window();
        // The options dialog may open its account dialog over itself first:
        // every dialog is cancelled until the options dialog itself is.
        QStringList titles;
        const Pending options = onNextModal([&](QWidget* modal) {
            auto* d = qobject_cast<QDialog*>(modal);
            if (d == nullptr) {
                return false;
            }
            titles << d->windowTitle();
            d->reject();
            return d->windowTitle() == QStringLiteral("ターノス  - オプション設定");
        });
        w.checkFirstUse();  // the settings are empty: no server, no sender
        QVERIFY(options.answered());
        QCOMPARE(titles.last(), QStringLiteral("ターノス  - オプション設定"));
        w.checkFirstUse();  // once only
        tarn::setFieldText(f.context().settings.defaultAccount.FromName, sj("営業部"));

        f.context().contFileName = sj("/nonexistent/案内.tnm");
        QString editorTitle;
        const Pending editor = onNextModal([&](QWidget* modal) {
            auto* d = qobject_cast<QDialog*>(modal);
            if (d == nullptr || qobject_cast<QMessageBox*>(modal) != nullptr) {
                return false;
            }
            editorTitle = d->windowTitle();
            // Closing an empty message, the editor asks whether to end anyway.
            const Pending empty = answerNextBox(QMessageBox::Yes);
            d->reject();
            return true;
        });
        w.action(Cmd::EditMessage)->trigger();
        QVERIFY(editor.answered());
        QVERIFY2(!editorTitle.isEmpty(), "the message editor did not open");
    }

    void importFromTheFileMenuFillsTheShownFolder() {
        WindowFixture f;
        MainWindow& w = f.window();
        f.fillBook();
        w.selectTreeItem(TreeSelection::folder(2));
        const std::size_t before = f.doc().recordCount();
        const std::size_t shownBefore = f.list().recordRowCount();
        using tarn::addressbook::wizard::ImportWizard;
        namespace drive = tarn::addressbook::wizard::test;
        QStringList boxes;
        const Pending wizard = onNext<ImportWizard>([&](ImportWizard* wz) {
            wz->setField(QStringLiteral("kind"),
                         static_cast<int>(tarn::addressbook::ImportKind::Csv));
            wz->next();
            drive::typeAndLeave(*wz, "file",
                                QString::fromUtf8(TARN_TESTDATA) + "/csv/recipients_sjis.csv");
            wz->next();
            drive::mapSampleColumns(*wz);
            drive::MessageBoxCatcher catcher;  // the row without an address is reported
            drive::finish(*wz);
            boxes = catcher.seen;
        });
        w.action(Cmd::FileImport)->trigger();
        QVERIFY(wizard.answered());
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(f.doc().recordCount(), before + 11);
        // Into the folder the list showed, and the list shows them at once.
        QCOMPARE(f.doc().record(before).folder(), std::uint16_t{2});
        QCOMPARE(f.list().recordRowCount(), shownBefore + 11);
        QCOMPARE(w.countLabel()->text(),
                 QStringLiteral("表示ﾚｺｰﾄﾞ %1 件").arg(shownBefore + 11, 5));
        QVERIFY(w.isWindowModified());
        QVERIFY(!w.action(Cmd::Undo)->isEnabled());  // an import is not undone
        QCOMPARE(w.action(Cmd::FileImport)->statusTip(),
                 QStringLiteral("データベースからインポートします"));
    }

    // The pages the Help menu, the message editor and the options dialogs open
    // lie beside the program as they are installed, and no link among them is broken.
    void theHelpPagesAreBesideTheProgramWithoutBrokenLinks() {
        const std::filesystem::path help = tarn::programFolder() / "help";
        for (const char* page : {"index.html", "html/MSGEDIT.htm", "html/OPT_ACO.htm"}) {
            QVERIFY2(std::filesystem::is_regular_file(help / page), page);
        }
        const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)"));
        int links = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(help)) {
            if (e.path().extension() != ".html" && e.path().extension() != ".htm") {
                continue;
            }
            QFile file(QString::fromStdString(e.path().string()));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(file.readAll());
            for (auto m = link.globalMatch(html); m.hasNext(); ++links) {
                const std::filesystem::path target =
                    e.path().parent_path() / m.next().captured(1).toStdString();
                QVERIFY2(std::filesystem::exists(target),
                         qPrintable(
                             QString::fromStdString(e.path().string() + " -> " + target.string())));
            }
        }
        QVERIFY(links > 20);
    }

    void theLayoutComesBackAtTheNextStart() {
        WindowFixture f;
        f.window().listView()->setColumnWidth(1, 177);
        f.window().resize(820, 510);
        f.reopen();
        QCOMPARE(f.window().listView()->columnWidth(1), 177);
        QCOMPARE(f.window().size(), QSize(820, 510));
        QCOMPARE(f.window().listView()->columnWidth(7), 40);
    }

    void aFullBookOpensWithoutReadingEveryRow() {
        WindowFixture f;
        tarn::addressbook::CTarnSendDoc big;
        QVERIFY(big.OnNewDocument(tarn::addressbook::defaultFreeFieldTitles()).ok());
        std::vector<tarn::addressbook::Record> records;
        const char* families[] = {"佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "山本", "中村"};
        for (std::size_t i = 0; i < tarn::addressbook::CTarnSendDoc::kMaxRecords; ++i) {
            records.push_back(person(families[i % 8], "user" + std::to_string(i) + "@example.jp",
                                     static_cast<std::uint16_t>(i % 6)));
        }
        QVERIFY(big.appendRecords(records).ok());
        const auto path = f.dir() / "big.tn2";
        QVERIFY(big.OnSaveDocument(path).ok());

        f.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window()));
        QElapsedTimer clock;
        clock.start();
        {
            tarn::addressbook::CTarnSendDoc alone;
            QVERIFY(alone.OnOpenDocument(path, tarn::addressbook::defaultFreeFieldTitles()).ok());
        }
        const qint64 readAlone = clock.elapsed();
        clock.restart();
        const qint64 cpuBefore = cpuMs();
        QVERIFY(f.window().openBook(QString::fromStdString(path.string())));
        const qint64 opened = clock.elapsed();
        const qint64 openedCpu = cpuMs() - cpuBefore;
        f.window().listView()->viewport()->grab();  // one paint of the visible rows
        const qint64 painted = clock.elapsed();
        clock.restart();
        const qint64 sortCpuBefore = cpuMs();
        clickHeader(f.window(), ListColumn::Name);
        const qint64 sorted = clock.elapsed();
        const qint64 sortedCpu = cpuMs() - sortCpuBefore;
        clock.restart();
        f.window().selectTreeItem(TreeSelection::folder(3));
        const qint64 folder = clock.elapsed();
        qInfo(
            "99,999 records: the file read alone in %lld ms; opened in the window and sorted "
            "by address in %lld ms (%lld ms of processor time), first paint at %lld ms, "
            "sorted by name in %lld ms (%lld ms of processor time), folder 3 shown in %lld ms",
            readAlone, opened, openedCpu, painted, sorted, sortedCpu, folder);
        QCOMPARE(f.window().listState().recordRowCount(), 16'666u);
        QCOMPARE(f.window().countLabel()->text(), QStringLiteral("表示ﾚｺｰﾄﾞ 16666 件"));
        f.window().selectTreeItem(TreeSelection::all());
        QCOMPARE(f.window().countLabel()->text(), QStringLiteral("表示ﾚｺｰﾄﾞ 99999 件"));
    }
};

QTEST_MAIN(GroupSendWindowTest)
#include "window_test.moc"

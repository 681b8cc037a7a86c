// The engine's result tree as a Qt item model: consistent for Qt's own model tester while the
// tree is shown, emptied, clicked and renamed; check clicks follow the engine's rule and tell
// the views of every row they change.
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "ui/result_tree_model.h"

using namespace quorlan;
using namespace quorlan::ui;

namespace {

// Root, three folders, the second with two sub-folders, one of them deleted.
void buildTree(ResultModel& m) {
    m.tree.ResetRootItem();
    TreeItem* root = m.tree.root();
    m.AddFolderNode(root, "Photos", 3, 0, 0, 0, false);
    TreeItem* docs = m.AddFolderNode(root, "Docs", 4, 0, 0, 0, false);
    m.AddFolderNode(root, "QLN_Miscellaneous", 0x0FFFFFFF, 0, 0, 0, false);
    m.AddFolderNode(docs, "2023", 7, 0, 0, 4, false);
    m.AddFolderNode(docs, "old", 8, 0, 0, 4, true);
}

QStringList texts(const QAbstractItemModel& model, const QModelIndex& parent = {}, int depth = 0) {
    QStringList out;
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex i = model.index(r, 0, parent);
        out << QString(depth * 2, QLatin1Char(' ')) + i.data().toString();
        out << texts(model, i, depth + 1);
    }
    return out;
}

}  // namespace

class ResultTreeModelTest : public QObject {
    Q_OBJECT
private slots:
    void passesTheModelTesterThroughItsLife();
    void checkClicksFollowTheEngineAndReachTheViews();
    void renamedFoldersShowAfterRefresh();
};

void ResultTreeModelTest::passesTheModelTesterThroughItsLife() {
    ResultModel engine;
    buildTree(engine);
    ResultTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);  // nothing shown before attach
    model.attach(&engine);
    QCOMPARE(texts(model), (QStringList{QStringLiteral("Root"), QStringLiteral("  Photos"), QStringLiteral("  Docs"),
                                        QStringLiteral("    2023"), QStringLiteral("    old"),
                                        QStringLiteral("  QLN_Miscellaneous")}));
    const QModelIndex docs = model.index(1, 0, model.index(0, 0));
    QCOMPARE(model.item(docs)->text, std::string("Docs"));
    QCOMPARE(model.parent(model.index(1, 0, docs)), docs);
    QCOMPARE(model.indexOf(model.item(model.index(1, 0, docs))), model.index(1, 0, docs));
    QVERIFY(!model.index(2, 0, docs).isValid());
    // The deleted folder is drawn in red, the others in the view's colour.
    QCOMPARE(model.index(1, 0, docs).data(Qt::ForegroundRole).value<QColor>(), QColor(160, 0, 0));
    QVERIFY(!model.index(0, 0, docs).data(Qt::ForegroundRole).isValid());
    QVERIFY(model.flags(docs).testFlag(Qt::ItemIsUserCheckable));

    model.clickCheckBox(docs);
    model.setOpen(docs, true);
    // A job rebuilds the tree: the model lets go first, then shows the new tree.
    model.detach();
    QCOMPARE(model.rowCount(), 0);
    engine.Clear();
    buildTree(engine);
    model.attach(&engine);
    QCOMPARE(model.rowCount(model.index(0, 0)), 3);
}

void ResultTreeModelTest::checkClicksFollowTheEngineAndReachTheViews() {
    ResultModel engine;
    buildTree(engine);
    ResultTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.attach(&engine);
    const QModelIndex root = model.index(0, 0);
    const QModelIndex docs = model.index(1, 0, root);
    const QModelIndex old = model.index(1, 0, docs);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // A view's click (setData) checks the folder with its subtree; the root is then partly checked.
    QVERIFY(model.setData(docs, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(docs.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    QCOMPARE(old.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    QCOMPARE(root.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::PartiallyChecked);
    // Every changed row was announced: the folder, its children and the root.
    bool sawChildren = false;
    bool sawRoot = false;
    for (const QList<QVariant>& args : changed) {
        const auto from = args.at(0).value<QModelIndex>();
        sawChildren = sawChildren || (from.parent() == docs);
        sawRoot = sawRoot || from == root;
    }
    QVERIFY(sawChildren && sawRoot);

    // Asking for the state an item already has changes nothing.
    changed.clear();
    QVERIFY(model.setData(docs, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(changed.count(), 0);
    // A partly checked item unchecks with its subtree, as the engine's click does.
    model.clickCheckBox(root);
    QCOMPARE(root.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    QCOMPARE(old.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    QVERIFY(!model.setData(docs, QStringLiteral("x"), Qt::DisplayRole));  // names are not edited
}

void ResultTreeModelTest::renamedFoldersShowAfterRefresh() {
    ResultModel engine;
    buildTree(engine);
    ResultTreeModel model;
    model.attach(&engine);
    const QModelIndex docs = model.index(1, 0, model.index(0, 0));
    const QModelIndex first = model.index(0, 0, docs);
    // A listing on the worker renames a folder and marks it deleted: the model shows its own copy
    // until the window refreshes it.
    model.item(first)->text = "Holiday 2023";
    engine.FindFolderNode(model.item(first))->deleted = true;
    QCOMPARE(first.data().toString(), QStringLiteral("2023"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).value<QModelIndex>(), first);
    QCOMPARE(first.data().toString(), QStringLiteral("Holiday 2023"));
    QCOMPARE(first.data(Qt::ForegroundRole).value<QColor>(), QColor(160, 0, 0));
    changed.clear();
    model.refresh();  // nothing new
    QCOMPARE(changed.count(), 0);
}

QObject* makeResultTreeModelTest() { return new ResultTreeModelTest; }

#include "result_tree_model_test.moc"

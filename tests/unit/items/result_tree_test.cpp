#include "items/result_tree.h"

#include <gtest/gtest.h>

#include <map>

#include "items/tables.h"

namespace quorlan {
namespace {

// A: A1, A2 (A21, A22); B.
struct Sample {
    ResultModel model;
    TreeItem *a, *a1, *a2, *a21, *a22, *b;
    Sample() {
        TreeItem* root = model.tree.root();
        a = model.AddFolderNode(root, "A", 10, 0, 0, 0, false);
        a1 = model.AddFolderNode(a, "A1", 11, 0, 0, 10, false);
        a2 = model.AddFolderNode(a, "A2", 12, 0, 0, 10, false);
        a21 = model.AddFolderNode(a2, "A21", 13, 0, 0, 12, false);
        a22 = model.AddFolderNode(a2, "A22", 14, 0, 0, 12, false);
        b = model.AddFolderNode(root, "B", 20, 0, 0, 0, false);
    }
    std::string states() const {
        std::string s;
        for (const TreeItem* i : {model.tree.root(), static_cast<const TreeItem*>(a), static_cast<const TreeItem*>(a1),
                                  static_cast<const TreeItem*>(a2), static_cast<const TreeItem*>(a21),
                                  static_cast<const TreeItem*>(a22), static_cast<const TreeItem*>(b)}) {
            s += std::to_string(i->check);
        }
        return s;
    }
};

TEST(ResultTree, CheckBoxClicksPropagate) {
    // Each step clicks one item; the states read root, A, A1, A2, A21, A22, B (1 unchecked,
    // 2 checked, 3 partly checked).
    const struct {
        const char* click;
        const char* states;
    } steps[] = {
        {"A21", "3313211"},                             // A2, A and the root partly checked
        {"A22", "3312221"},                             // last unchecked child: A2 checked
        {"A1", "3222221"},                              // all of A checked
        {"B", "2222222"},                               // everything checked
        {"A2", "3321112"},                              // a checked item unchecks its subtree
        {"A", "3111112"},                               // A partly checked: one click unchecks it all
        {"B", "1111111"},
        {"Root", "2222222"},
    };
    Sample t;
    std::map<std::string, TreeItem*> byName{{"A", t.a},     {"A1", t.a1},   {"A2", t.a2}, {"A21", t.a21},
                                            {"A22", t.a22}, {"B", t.b},     {"Root", t.model.tree.root()}};
    for (const auto& step : steps) {
        ResultTree::ClickCheckBox(byName.at(step.click));
        EXPECT_EQ(t.states(), step.states) << "after clicking " << step.click;
    }
    // Checking a child while a sibling is partly checked makes the parent partly checked.
    Sample u;
    ResultTree::ClickCheckBox(u.a21);
    ResultTree::ClickCheckBox(u.a1);
    EXPECT_EQ(u.a->check, kPartlyChecked);
    EXPECT_TRUE(ResultTree::IsChecked(u.a2)) << "a partly checked item counts as checked";
}

TEST(ResultTree, ItemPaths) {
    Sample t;
    EXPECT_EQ(ResultTree::GetItemPath(t.a21), "A\\A2\\A21");
    EXPECT_EQ(ResultTree::GetItemPath(t.a21, "/"), "A/A2/A21");
    EXPECT_EQ(ResultTree::GetItemPath(t.model.tree.root()), "");
    TreeItem* drive = t.model.tree.InsertItem(t.model.tree.root(), "E:\\", 4);
    TreeItem* photos = t.model.tree.InsertItem(drive, "Photos", 4);
    EXPECT_EQ(ResultTree::GetItemPath(photos), "E:\\Photos") << "no doubled separator";
    EXPECT_EQ(t.model.FindFolderNode(t.a2)->self, 12u);
    EXPECT_EQ(t.model.tree.FindItem(t.a22->id), t.a22);
}

RecordTable folderRows(const std::vector<std::tuple<const char*, std::uint32_t, std::uint32_t, const char*>>& rows) {
    RecordTable t = MakeFatEntryTable();
    for (const auto& [name, self, parent, type] : rows) {
        const int r = t.AppendRow(name);
        t.SetNumber(r, "self", self);
        t.SetNumber(r, "parent", parent);
        t.SetCell(r, "Type", type);
    }
    return t;
}

TEST(AddChildFolders, AddsTheRunOfChildrenAndConsumesTheirRows) {
    ResultModel model;
    model.nameCounter = 7;
    RecordTable t = folderRows({{"x", 30, 5, "FOLDER"},
                                {"first", 31, 5, "FOLDER"},
                                {"", 32, 5, "FOLDER"},
                                {"file", 33, 5, "FILE"},
                                {"last", 34, 5, "FOLDER"},
                                {"other", 40, 6, "FOLDER"}});
    t.SortByColumn(t.ColumnIndex("parent"), true);
    TreeItem* parent = model.tree.root();
    AddChildFolders(model, 5, t, parent);
    std::vector<std::string> names;
    for (const auto& child : parent->children) names.push_back(child->text);
    // Children enter in descending row order; a row that is no folder never becomes one; an
    // empty name is numbered.
    EXPECT_EQ(names, (std::vector<std::string>{"last", "DIR_7", "first", "x"}));
    EXPECT_EQ(model.nameCounter, 8);
    EXPECT_TRUE(model.found);
    ASSERT_EQ(t.RowCount(), 2);
    EXPECT_EQ(t.GetCell(0, "Name"), "file");
    EXPECT_EQ(t.GetCell(1, "Name"), "other");
    AddChildFolders(model, 99, t, parent);  // no such parent
    EXPECT_EQ(t.RowCount(), 2);
}

TEST(ReparentLostFolders, FoldersWithoutParentGoUnderTheMiscFolder) {
    for (const auto numbering : {FolderNumbering::Fat, FolderNumbering::Ntfs}) {
        const std::uint32_t root = numbering == FolderNumbering::Fat ? 0 : 5;
        RecordTable t = MakeFatEntryTable();
        AddMiscFolderRow(t, root);
        auto add = [&](std::uint32_t self, std::uint32_t parent) {
            const int r = t.AppendRow("d" + std::to_string(self));
            t.SetNumber(r, "self", self);
            t.SetNumber(r, "parent", parent);
            t.SetCell(r, "Type", "FOLDER");
        };
        // The NTFS form searches from row 1: there the root folder's own row (record 5) sorts first.
        if (numbering == FolderNumbering::Ntfs) add(5, 5);
        add(100, root);  // under the root
        add(101, 100);   // parent found
        add(102, 555);   // parent overwritten
        add(103, 101);
        t.SortByColumn(t.ColumnIndex("self"), true);
        int calls = 0;
        ReparentLostFolders(t, numbering, [&](int, int) { ++calls; });
        std::map<std::string, std::string> parentOf;
        for (int r = 0; r < t.RowCount(); ++r) parentOf[std::string(t.GetCell(r, "Name"))] = t.GetCell(r, "parent");
        EXPECT_EQ(parentOf["QLN_Miscellaneous"], std::to_string(root));
        EXPECT_EQ(parentOf["d100"], std::to_string(root));
        EXPECT_EQ(parentOf["d101"], "100");
        EXPECT_EQ(parentOf["d102"], "268435455");
        EXPECT_EQ(parentOf["d103"], "101");
        EXPECT_EQ(calls, t.RowCount() - 1);
    }
}

}  // namespace
}  // namespace quorlan

namespace quorlan {
namespace {

TEST(ResultTree, AChainOfFoldersDeeperThanTheStackIsWalkedAndFreed) {
    // A damaged disk can chain each folder's parent to the one before it, any number deep.
    auto tree = std::make_unique<ResultTree>();
    TreeItem* item = tree->root();
    constexpr int kDepth = 300000;
    for (int i = 0; i < kDepth; ++i) item = tree->InsertItem(item, "d", kImageClosedFolder);
    int visited = 0;
    ResultTree::ForEach(tree->root(), [&](TreeItem*) { ++visited; });
    EXPECT_EQ(visited, kDepth + 1);
    ResultTree::ClickCheckBox(tree->root());
    EXPECT_EQ(item->check, kChecked);
    tree->Clear();
    EXPECT_TRUE(tree->root()->children.empty());
    for (int i = 0; i < kDepth; ++i) item = tree->InsertItem(tree->root(), "flat", kImageClosedFolder);
    tree.reset();  // and the destructor
}

}  // namespace
}  // namespace quorlan

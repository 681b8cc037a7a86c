// The recovered folder tree as an engine model: items with text, image and three-state check
// boxes, the chain of folder nodes tied to them, and the operations that build the tree from an
// entry table. Front ends only display it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "items/record_table.h"

namespace quorlan {

// Check-box states, as the tree's state images number them.
enum CheckState : int { kUnchecked = 1, kChecked = 2, kPartlyChecked = 3 };

// Normal image indices of folder items.
inline constexpr int kImageClosedFolder = 4;
inline constexpr int kImageOpenFolder = 5;
inline constexpr int kImagePreviousFolder = 3;
inline constexpr int kImageOpenedByOpen = 7;

struct TreeItem {
    std::int64_t id = 0;  // stable handle, shown in the file list's "Debug Info 3"
    std::string text;
    int image = kImageClosedFolder;
    int check = kUnchecked;
    bool expanded = false;
    TreeItem* parent = nullptr;
    std::vector<std::unique_ptr<TreeItem>> children;
};

class ResultTree {
public:
    ResultTree();
    ~ResultTree();
    ResultTree(const ResultTree&) = delete;
    ResultTree& operator=(const ResultTree&) = delete;

    [[nodiscard]] TreeItem* root() { return m_root.get(); }
    [[nodiscard]] const TreeItem* root() const { return m_root.get(); }
    // Inserts an item after parent's last child.
    TreeItem* InsertItem(TreeItem* parent, std::string text, int image);
    [[nodiscard]] TreeItem* FindItem(std::int64_t id) const;
    // Gives the root item the text "Root" (the tree always has a root item).
    void ResetRootItem() { m_root->text = "Root"; }
    void Clear();

    static void SetCheck(TreeItem* item, int state) { item->check = state; }
    [[nodiscard]] static int GetCheck(const TreeItem* item) { return item->check; }
    // Checked means any state but unchecked: a partly checked item counts as checked.
    [[nodiscard]] static bool IsChecked(const TreeItem* item) { return item->check != kUnchecked; }

    // A click on an item's check box: a checked or partly checked item is unchecked with its
    // whole subtree, an unchecked one checked with its subtree; then every ancestor becomes
    // checked (all children checked), unchecked (all unchecked) or partly checked.
    static void ClickCheckBox(TreeItem* item);

    // The texts of the item and its ancestors below the root item, top down, joined by
    // separator; no separator after a text that already ends with one. Empty for the root.
    [[nodiscard]] static std::string GetItemPath(const TreeItem* item, std::string_view separator = "\\");
    // The path of a file listed in a folder, from the folder's GetItemPath with "/": the form the
    // command line prints and takes.
    [[nodiscard]] static std::string FilePath(const std::string& folderPath, const std::string& name) {
        return folderPath.empty() ? name : folderPath + "/" + name;
    }

    // Every item of the subtree in depth-first order, each child before its next sibling. Walks
    // with a stack of its own: a damaged disk can chain folders deeper than the thread's stack.
    // f may change the texts of items not yet visited, not the shape of the tree.
    template <typename F>
    static void ForEach(TreeItem* item, F&& f) {
        std::vector<TreeItem*> pending{item};
        while (!pending.empty()) {
            TreeItem* next = pending.back();
            pending.pop_back();
            f(next);
            for (auto it = next->children.rbegin(); it != next->children.rend(); ++it) pending.push_back(it->get());
        }
    }

private:
    std::unique_ptr<TreeItem> m_root;
    std::unordered_map<std::int64_t, TreeItem*> m_byId;
    std::int64_t m_nextId = 1;
};

// One folder shown in the tree.
struct FolderNode {
    std::string name;
    TreeItem* item = nullptr;
    std::uint32_t self = 0;    // first cluster (FAT) or MFT record number (NTFS)
    std::uint32_t parent = 0;  // the parent folder's number
    std::uint64_t date = 0;    // FAT: the date word; NTFS: the time stamp
    std::uint64_t time = 0;    // FAT: the time word
    bool expanded = false;     // its own directory was read to name its sub-folders
    bool deleted = false;      // it, or a folder above it, is deleted
};

// The tree with its folder nodes in the order they were added, and the counters the builders
// share. One per session.
class ResultModel {
public:
    ResultTree tree;
    std::vector<FolderNode> nodes;  // insertion order
    // Names folders that have none: "DIR_1", "DIR_2", ... never reset while the program runs.
    int nameCounter = 1;
    // Set by the builders when a search produced something.
    bool found = false;
    // Counts the results this model has held: Clear starts the next one. What was worked out
    // about one result (which deleted files can be trusted) is kept with its number.
    std::uint64_t generation = 1;

    // Inserts a tree item under parentItem (closed-folder image, unchecked) and appends its
    // node; returns the item.
    TreeItem* AddFolderNode(TreeItem* parentItem, const std::string& name, std::uint32_t self, std::uint64_t date,
                            std::uint64_t time, std::uint32_t parent, bool deleted);
    [[nodiscard]] FolderNode* FindFolderNode(const TreeItem* item);
    // Indices into nodes of the nodes whose parent is the given number, in chain order.
    [[nodiscard]] const std::vector<std::size_t>& ChildrenOf(std::uint32_t parent) const;
    [[nodiscard]] std::string NextDirName() { return "DIR_" + std::to_string(nameCounter++); }
    // Frees the tree and its nodes (the name counter lives on).
    void Clear();

private:
    std::unordered_map<const TreeItem*, std::size_t> m_nodeOfItem;
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> m_childrenOf;
};

// Adds under parentItem a node for every "FOLDER" row of the entry table (sorted by "parent")
// whose "parent" is parentSelf, and deletes those rows. Children enter in descending row order.
void AddChildFolders(ResultModel& model, std::uint32_t parentSelf, RecordTable& entryTable, TreeItem* parentItem);

// Adds the sub-folders of every node, level by level (nodes added while it runs included), from
// the folder table sorted by "parent", consuming the rows it places. Rows that no level
// reaches (folders whose parents form a cycle) then go under "QLN_Miscellaneous" (the root item
// when there is none), each followed by its own sub-folders, instead of being lost. With
// skipRepeatedSelf a node with the same number as the one before it is passed over (its
// children went to that one). afterNode(k) is called after the k-th node (from 1).
void PlaceFolderLevels(ResultModel& model, RecordTable& folderTable, bool skipRepeatedSelf,
                       const std::function<void(std::size_t k)>& afterNode);

// Gives every row whose parent is no row's "self" the parent 268435455, so that it shows under
// "QLN_Miscellaneous". The table must be sorted by "self". Rows whose parent is the root (0 for
// FAT, 5 for NTFS) keep it. progress(i, n) is called per row.
enum class FolderNumbering { Fat, Ntfs };
void ReparentLostFolders(RecordTable& entryTable, FolderNumbering numbering,
                         const std::function<void(int, int)>& progress = {});

// Appends the special folder "QLN_Miscellaneous" as a row with the given root parent number.
void AddMiscFolderRow(RecordTable& entryTable, std::uint32_t rootParent);

}  // namespace quorlan

#include "items/result_tree.h"

#include "items/tables.h"

namespace quorlan {

namespace {

// Frees a subtree item by item, so that a deep chain of folders does not recurse once per level.
void destroySubtree(std::unique_ptr<TreeItem> root) {
    std::vector<std::unique_ptr<TreeItem>> pending;
    if (root) pending.push_back(std::move(root));
    while (!pending.empty()) {
        std::unique_ptr<TreeItem> item = std::move(pending.back());
        pending.pop_back();
        for (auto& child : item->children) pending.push_back(std::move(child));
    }
}

}  // namespace

ResultTree::ResultTree() { Clear(); }

ResultTree::~ResultTree() { destroySubtree(std::move(m_root)); }

void ResultTree::Clear() {
    m_byId.clear();
    destroySubtree(std::move(m_root));
    m_root = std::make_unique<TreeItem>();
    m_root->id = m_nextId++;
    m_root->text = "Root";
    m_root->image = 2;
    m_byId[m_root->id] = m_root.get();
}

TreeItem* ResultTree::InsertItem(TreeItem* parent, std::string text, int image) {
    auto item = std::make_unique<TreeItem>();
    item->id = m_nextId++;
    item->text = std::move(text);
    item->image = image;
    item->parent = parent;
    TreeItem* raw = item.get();
    parent->children.push_back(std::move(item));
    m_byId[raw->id] = raw;
    return raw;
}

TreeItem* ResultTree::FindItem(std::int64_t id) const {
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : it->second;
}

void ResultTree::ClickCheckBox(TreeItem* item) {
    const bool check = !IsChecked(item);
    const int state = check ? kChecked : kUnchecked;
    ForEach(item, [state](TreeItem* i) { i->check = state; });
    for (TreeItem* p = item->parent; p != nullptr; p = p->parent) {
        bool all = true;
        for (const auto& child : p->children) {
            if (child->check != state) {
                all = false;
                break;
            }
        }
        p->check = all ? state : kPartlyChecked;
    }
}

std::string ResultTree::GetItemPath(const TreeItem* item, std::string_view separator) {
    std::vector<const std::string*> texts;
    for (const TreeItem* i = item; i != nullptr && i->parent != nullptr; i = i->parent) texts.push_back(&i->text);
    std::string path;
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        if (!path.empty() && !path.ends_with(separator)) path += separator;
        path += **it;
    }
    return path;
}

TreeItem* ResultModel::AddFolderNode(TreeItem* parentItem, const std::string& name, std::uint32_t self,
                                     std::uint64_t date, std::uint64_t time, std::uint32_t parent, bool deleted) {
    TreeItem* item = tree.InsertItem(parentItem, name, kImageClosedFolder);
    item->check = kUnchecked;
    tree.root()->check = kUnchecked;
    nodes.push_back({name, item, self, parent, date, time, false, deleted});
    m_nodeOfItem[item] = nodes.size() - 1;
    m_childrenOf[parent].push_back(nodes.size() - 1);
    return item;
}

FolderNode* ResultModel::FindFolderNode(const TreeItem* item) {
    const auto it = m_nodeOfItem.find(item);
    return it == m_nodeOfItem.end() ? nullptr : &nodes[it->second];
}

const std::vector<std::size_t>& ResultModel::ChildrenOf(std::uint32_t parent) const {
    static const std::vector<std::size_t> kNone;
    const auto it = m_childrenOf.find(parent);
    return it == m_childrenOf.end() ? kNone : it->second;
}

void ResultModel::Clear() {
    nodes.clear();
    m_nodeOfItem.clear();
    m_childrenOf.clear();
    tree.Clear();
    found = false;
    ++generation;
}

void AddChildFolders(ResultModel& model, std::uint32_t P, RecordTable& table, TreeItem* parentItem) {
    const int parentCol = table.ColumnIndex("parent");
    auto parentOf = [&](int row) { return table.GetU64(row, "parent"); };
    // Binary search for a row of the run of rows whose parent is P.
    int low = 0;
    int high = table.RowCount() - 1;
    int found = -1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const std::uint64_t v = parentOf(mid);
        if (v == P) {
            found = mid;
            break;
        }
        if (v < P) low = mid + 1;
        else high = mid - 1;
    }
    if (found < 0 || parentCol < 0) return;
    int first = found;
    while (first > 0 && parentOf(first - 1) == P) --first;
    for (int r = table.RowCount() - 1; r >= first; --r) {
        if (table.GetCell(r, "Type") != "FOLDER") continue;
        const std::uint64_t parent = parentOf(r);
        if (parent < P) break;
        if (parent > P) continue;
        std::string name(table.GetCell(r, "Name"));
        if (name.empty()) name = model.NextDirName();
        const std::uint32_t self = table.GetU32(r, "self");
        const auto date = static_cast<std::uint64_t>(table.GetI64(r, "date"));
        const auto time = static_cast<std::uint64_t>(table.GetI64(r, "time"));
        const bool deleted = table.GetCell(r, "Deleted") == "1";
        model.found = true;
        table.DeleteRow(r);
        model.AddFolderNode(parentItem, name, self, date, time, P, deleted);
    }
}

void PlaceFolderLevels(ResultModel& model, RecordTable& table, bool skipRepeatedSelf,
                       const std::function<void(std::size_t)>& afterNode) {
    std::size_t k = 0;
    auto placeLevels = [&] {
        for (; k < model.nodes.size(); ++k) {
            if (!(skipRepeatedSelf && k > 0 && model.nodes[k].self == model.nodes[k - 1].self)) {
                AddChildFolders(model, model.nodes[k].self, table, model.nodes[k].item);
            }
            if (afterNode) afterNode(k + 1);
        }
    };
    placeLevels();
    TreeItem* miscItem = model.tree.root();
    for (const FolderNode& n : model.nodes) {
        if (n.self == kOrphanNumber) miscItem = n.item;
    }
    // Each round takes one row away, so this ends.
    while (table.RowCount() > 0) {
        if (table.GetCell(0, "Type") != "FOLDER") {
            table.DeleteRow(0);
            continue;
        }
        std::string name(table.GetCell(0, "Name"));
        if (name.empty()) name = model.NextDirName();
        const std::uint32_t self = table.GetU32(0, "self");
        const auto date = static_cast<std::uint64_t>(table.GetI64(0, "date"));
        const auto time = static_cast<std::uint64_t>(table.GetI64(0, "time"));
        const bool deleted = table.GetCell(0, "Deleted") == "1";
        table.DeleteRow(0);
        model.found = true;
        model.AddFolderNode(miscItem, name, self, date, time, kOrphanNumber, deleted);
        placeLevels();
    }
}

void ReparentLostFolders(RecordTable& table, FolderNumbering numbering, const std::function<void(int, int)>& progress) {
    const int n = table.RowCount();
    const std::uint64_t root = numbering == FolderNumbering::Fat ? 0 : 5;
    const int searchFrom = numbering == FolderNumbering::Fat ? 0 : 1;
    std::vector<std::uint64_t> selves(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) selves[static_cast<std::size_t>(i)] = table.GetU64(i, "self");
    for (int i = 0; i < n; ++i) {
        const std::uint64_t p = table.GetU64(i, "parent");
        if (p != root) {
            int low = searchFrom;
            int high = n - 1;
            bool present = false;
            while (low <= high) {
                const int mid = low + (high - low) / 2;
                const std::uint64_t v = selves[static_cast<std::size_t>(mid)];
                if (v == p) {
                    present = true;
                    break;
                }
                if (v < p) low = mid + 1;
                else high = mid - 1;
            }
            if (!present) table.SetNumber(i, "parent", kOrphanNumber);
        }
        if (i > 0 && progress) progress(i, n);
    }
}

void AddMiscFolderRow(RecordTable& table, std::uint32_t rootParent) {
    const int r = table.AppendRow(kMiscFolderName);
    table.SetCell(r, "sector", "0");
    table.SetNumber(r, "self", kOrphanNumber);
    table.SetNumber(r, "parent", rootParent);
    table.SetCell(r, "date", "0");
    table.SetCell(r, "time", "0");
    table.SetCell(r, "size", "0");
    table.SetCell(r, "attr", "16");
    table.SetCell(r, "sysID", "0");
    table.SetCell(r, "Type", "FOLDER");
}

}  // namespace quorlan

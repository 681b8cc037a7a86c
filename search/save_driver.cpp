#include "search/save_driver.h"

#include <set>
#include <tuple>

#include "core/text.h"
#include "fat/fat_file.h"
#include "items/tables.h"
#include "ntfs/ntfs_file.h"
#include "search/deleted_files.h"

namespace quorlan {

namespace {

// A row's or folder's time stamp in seconds since 1970: NTFS keeps a 64-bit time in date, FAT
// the date and time words.
std::optional<std::int64_t> unixTimeOf(const RecoveryState& state, std::uint64_t date, std::uint64_t time) {
    if (state.params.isNtfs()) return NtfsTimeToUnix(static_cast<std::int64_t>(date));
    return FatTimeToUnix(static_cast<std::uint16_t>(date), static_cast<std::uint16_t>(time));
}

class Planner {
public:
    Planner(RecoveryState& state, SectorReader& reader, SaveObserver& observer, std::stop_token stop)
        : m_state(state), m_reader(reader), m_observer(observer), m_stop(std::move(stop)) {}

    // The folder with everything below it. Each folder is listed (which names its sub-folders)
    // before its sub-folders' paths are taken.
    void addSubtree(TreeItem* top) {
        ResultTree::ForEach(top, [&](TreeItem* item) {
            if (stopped() || !m_folders.insert(item->id).second) return;
            addFolderItem(item);
            for (const ListedRow& row : ListFolderRows(m_state, m_reader, item, FolderListing::Select)) {
                if (!row.isFolder) addFile(item, row);
            }
            m_observer.countingFiles(m_plan.files);
        });
    }

    // Save: checked folders whole; partly checked ones are walked for their checked parts.
    void addChecked(TreeItem* top) {
        std::vector<TreeItem*> pending{top};
        while (!pending.empty() && !stopped()) {
            TreeItem* item = pending.back();
            pending.pop_back();
            if (item->check == kChecked) {
                addSubtree(item);
            } else if (item->check == kPartlyChecked) {
                (void)ListFolderRows(m_state, m_reader, item, FolderListing::Select);
                for (auto it = item->children.rbegin(); it != item->children.rend(); ++it) pending.push_back(it->get());
            }
        }
    }

    void addFile(const TreeItem* folder, const ListedRow& row) {
        if (!m_files.insert({folder->id, row.name, row.firstCluster, row.recordSector, row.self}).second) return;
        SaveItem item;
        item.folders = chain(folder);
        item.name = row.name;
        item.deleted = row.deleted;
        item.mayBeIncomplete = row.mayBeIncomplete;
        item.mayBeIncompleteWhy = row.mayBeIncompleteWhy;
        item.size = row.size;
        item.modified = unixTimeOf(m_state, row.rawDate, row.rawTime);
        item.source = m_plan.rows.size();
        m_plan.rows.push_back(row);
        m_plan.items.push_back(std::move(item));
        ++m_plan.files;
    }

    // Whether the folder was added with a subtree.
    [[nodiscard]] bool covers(const TreeItem* item) const { return m_folders.count(item->id) != 0; }

    [[nodiscard]] bool stopped() {
        if (m_stop.stop_requested()) m_plan.stopped = true;
        return m_plan.stopped;
    }

    SavePlan take() {
        m_observer.countingFiles(m_plan.files);
        return std::move(m_plan);
    }

private:
    void addFolderItem(const TreeItem* folder) {
        if (folder->parent == nullptr) return;  // the root is the destination itself
        SaveItem item;
        item.isFolder = true;
        item.folders = chain(folder);
        if (const FolderNode* node = m_state.model.FindFolderNode(folder)) {
            item.deleted = node->deleted;
            item.modified = unixTimeOf(m_state, node->date, node->time);
        }
        m_plan.items.push_back(std::move(item));
    }

    static std::vector<SaveFolder> chain(const TreeItem* item) {
        std::vector<SaveFolder> folders;
        for (const TreeItem* i = item; i != nullptr && i->parent != nullptr; i = i->parent) {
            folders.push_back({i->text, i->id});
        }
        return {folders.rbegin(), folders.rend()};
    }

    RecoveryState& m_state;
    SectorReader& m_reader;
    SaveObserver& m_observer;
    std::stop_token m_stop;
    SavePlan m_plan;
    std::set<std::int64_t> m_folders;
    std::set<std::tuple<std::int64_t, std::string, std::uint32_t, std::uint64_t, std::uint32_t>> m_files;
};

// Whether a non-empty path of paths lies below the folder (at any depth).
bool anyPathBelow(const std::set<std::string>& paths, const std::string& folderPath) {
    const std::string prefix = folderPath.empty() ? std::string() : folderPath + "/";
    for (auto it = paths.lower_bound(prefix); it != paths.end() && it->starts_with(prefix); ++it) {
        if (!it->empty()) return true;
    }
    return false;
}

}  // namespace

SavePlan PlanSave(RecoveryState& state, SectorReader& reader, const SaveSelection& selection, SaveObserver& observer,
                  std::stop_token stop) {
    Planner planner(state, reader, observer, std::move(stop));
    TreeItem* root = state.model.tree.root();
    if (selection.all) {
        planner.addSubtree(root);
        return planner.take();
    }
    planner.addChecked(root);
    for (const ListedRow& row : selection.selectedRows) {
        if (row.isFolder) {
            if (TreeItem* item = state.model.tree.FindItem(row.itemId); item != nullptr) planner.addSubtree(item);
        } else if (selection.listedFolder != nullptr) {
            planner.addFile(selection.listedFolder, row);
        }
    }
    return planner.take();
}

SavePlan PlanOpenFile(const RecoveryState& state, const ListedRow& row) {
    SavePlan plan;
    if (row.isFolder) return plan;
    SaveItem item;
    item.name = row.name;
    item.deleted = row.deleted;
    item.size = row.size;
    item.modified = unixTimeOf(state, row.rawDate, row.rawTime);
    plan.items.push_back(std::move(item));
    plan.rows.push_back(row);
    plan.files = 1;
    return plan;
}

SavePlan PlanSaveOfPaths(RecoveryState& state, SectorReader& reader, const std::vector<std::string>& paths,
                         std::vector<std::string>& unmatched, SaveObserver& observer, std::stop_token stop) {
    Planner planner(state, reader, observer, stop);
    std::set<std::string> wanted(paths.begin(), paths.end());
    std::set<std::string> found;
    TreeItem* root = state.model.tree.root();
    if (wanted.count("") != 0) {
        found.insert("");
        planner.addSubtree(root);
    }
    // Parents are listed before their children, so every folder has its name when its path is
    // compared.
    ResultTree::ForEach(root, [&](TreeItem* item) {
        if (planner.stopped()) return;
        const std::string folderPath = ResultTree::GetItemPath(item, "/");
        if (item != root && wanted.count(folderPath) != 0) {
            found.insert(folderPath);
            planner.addSubtree(item);
        }
        // A folder saved whole was listed with its subtree, files and all; it is listed again
        // only to match paths named below it.
        if (planner.covers(item) && !anyPathBelow(wanted, folderPath)) return;
        for (const ListedRow& row : ListFolderRows(state, reader, item, FolderListing::Select)) {
            if (row.isFolder) continue;
            const std::string filePath = ResultTree::FilePath(folderPath, row.name);
            if (wanted.count(filePath) != 0) {
                found.insert(filePath);
                planner.addFile(item, row);
            }
        }
    });
    if (stop.stop_requested()) (void)planner.stopped();
    for (const std::string& p : paths) {
        if (found.count(p) == 0) unmatched.push_back(p);
    }
    return planner.take();
}

SaveSummary SaveItems(RecoveryState& state, SectorReader& reader, const SavePlan& plan,
                      const std::filesystem::path& destination, SaveObserver& observer, SaveControl& control) {
    const FatVolumeParams& params = state.params;
    ClusterChainReader chains(reader, params);
    const bool ntfs = params.isNtfs();
    const NtfsVolumeParams volume = NtfsVolumeOf(params);
    const std::function<FileLayout(const SaveItem&)> layoutOf = [&](const SaveItem& item) -> FileLayout {
        const ListedRow& row = plan.rows.at(item.source);
        if (ntfs) {
            return NtfsFileLayout(reader, volume, state.mftRuns, row.recordSector, row.self, row.deleted, row.stream);
        }
        return FatRowLayout(state, reader, chains, row, item.size);
    };
    return WriteSaveItems(plan.items, destination, reader, layoutOf, observer, control);
}

}  // namespace quorlan

#include "search/deleted_files.h"

#include <set>
#include <unordered_map>

#include "fat/fat_file.h"
#include "fat/fat_listing.h"
#include "items/tables.h"
#include "ntfs/ntfs_search.h"

namespace quorlan {

namespace {

constexpr const char* kWhyNotWeighed = "its entry was not among those weighed";

// Drops what was worked out for an earlier result.
DeletedFilesWeighing& weighingOf(RecoveryState& state) {
    if (state.deletedFiles.generation != state.model.generation) {
        state.deletedFiles = DeletedFilesWeighing{};
        state.deletedFiles.generation = state.model.generation;
    }
    return state.deletedFiles;
}

// Reads the directory of every folder of the tree, parents first, and weighs the volume's
// deleted files. A folder is deleted when its node says so, when the entry naming it in its
// parent is deleted, or when a folder above it is.
const FatDeletedFiles& fatWeighing(RecoveryState& state, SectorReader& reader) {
    DeletedFilesWeighing& weighing = weighingOf(state);
    if (weighing.fat) return *weighing.fat;
    const FatVolumeParams& params = state.params;
    FatDirectoryReader directory(reader, params);
    std::vector<FatEntryFact> facts;
    std::vector<std::uint32_t> folders;
    std::unordered_map<const TreeItem*, bool> deletedAt;
    std::set<std::pair<std::uint32_t, std::uint32_t>> deletedFolderEntries;  // (folder, cluster its entry names)
    std::set<std::uint32_t> read;
    ResultModel& model = state.model;
    ResultTree::ForEach(model.tree.root(), [&](TreeItem* item) {
        const FolderNode* node = model.FindFolderNode(item);
        const std::uint32_t self = node != nullptr ? node->self : 0;
        bool deleted = node != nullptr && node->deleted;
        if (item->parent != nullptr) {
            const FolderNode* parent = model.FindFolderNode(item->parent);
            deleted = deleted || deletedAt[item->parent] ||
                      deletedFolderEntries.count({parent != nullptr ? parent->self : 0, self}) != 0;
        }
        deletedAt[item] = deleted;
        if (self == kOrphanNumber || !read.insert(self).second) return;
        if (node != nullptr) folders.push_back(self);
        const std::size_t before = facts.size();
        directory.CollectEntryFacts(self, deleted, facts);
        for (std::size_t i = before; i < facts.size(); ++i) {
            if (facts[i].directory && facts[i].deleted) deletedFolderEntries.insert({self, facts[i].firstCluster});
        }
    });
    if (params.isFat32()) folders.push_back(static_cast<std::uint32_t>(params.RootStart));
    ClusterChainReader chains(reader, params);
    weighing.fat = FatDeletedFiles::Weigh(chains, params, VolumeEndOf(state, reader), facts, folders);
    return *weighing.fat;
}

// Weighs the deleted files of the NTFS entry table (the records marked deleted) and their
// streams.
const std::map<std::pair<std::uint32_t, std::string>, NtfsDeletedTrust>& ntfsWeighing(RecoveryState& state,
                                                                                      SectorReader& reader) {
    DeletedFilesWeighing& weighing = weighingOf(state);
    if (weighing.ntfs) return *weighing.ntfs;
    const RecordTable& table = state.tables.ntfsEntryTable;
    const int name = table.RequireColumn("Name"), sector = table.RequireColumn("sector");
    const int self = table.RequireColumn("self"), deleted = table.RequireColumn("Deleted");
    const int type = table.RequireColumn("Type");
    std::vector<NtfsDeletedData> items;
    int file = -1;  // the file row of the streams that follow it
    for (int r = 0; r < table.RowCount(); ++r) {
        const bool stream = table.GetCell(r, type) == kNtfsStreamType && file >= 0;
        if (!stream) file = r;
        if (table.GetCell(r, deleted) != "1") continue;
        items.push_back({table.GetU64(r, sector), table.GetU32(r, self),
                         stream ? NtfsStreamName(table.GetCell(file, name), table.GetCell(r, name)) : std::string()});
    }
    const std::vector<NtfsDeletedTrust> trust =
        WeighNtfsDeleted(reader, NtfsVolumeOf(state.params), state.mftRuns, items);
    weighing.ntfs.emplace();
    for (std::size_t i = 0; i < items.size(); ++i)
        weighing.ntfs->emplace(std::pair{items[i].self, items[i].stream}, trust[i]);
    return *weighing.ntfs;
}

}  // namespace

std::uint64_t VolumeEndOf(const RecoveryState& state, SectorReader& reader) {
    return state.setup.rangeEnd > 0 ? state.setup.rangeEnd : reader.totalSectors();
}

void MarkDeletedFiles(RecoveryState& state, SectorReader& reader, std::vector<ListedRow>& rows) {
    const bool ntfs = state.params.isNtfs();
    if (!ntfs && !state.params.isFat()) return;
    for (ListedRow& row : rows) {
        if (row.isFolder || !row.deleted) continue;
        if (ntfs) {
            const auto& weighed = ntfsWeighing(state, reader);
            // A file listed as deleted only because its folder is: its record, and the clusters
            // the $Bitmap gives it, are its own.
            const auto it = weighed.find({row.self, row.stream});
            if (it == weighed.end()) continue;
            row.mayBeIncomplete = it->second.mayBeIncomplete;
            row.mayBeIncompleteWhy = it->second.why;
        } else if (row.size > 0) {
            const FatGuess* guess = fatWeighing(state, reader).Find(row.entryPosition);
            row.mayBeIncomplete = guess == nullptr || guess->mayBeIncomplete;
            row.mayBeIncompleteWhy = guess == nullptr ? kWhyNotWeighed : guess->why;
        }
    }
}

FileLayout FatRowLayout(RecoveryState& state, SectorReader& reader, ClusterChainReader& chains, const ListedRow& row,
                        std::uint64_t size) {
    const FatVolumeParams& params = state.params;
    const std::uint64_t volumeEnd = VolumeEndOf(state, reader);
    if (size > 0 && params.isFat() && row.firstCluster >= 2) {
        const auto first = chains.entry(row.firstCluster);
        if (row.deleted || !first || *first == 0) {
            if (const FatGuess* guess = fatWeighing(state, reader).Find(row.entryPosition)) {
                return FatGuessLayout(params, *guess, size);
            }
        }
    }
    return FatFileLayout(chains, params, row.firstCluster, size, row.deleted, volumeEnd);
}

}  // namespace quorlan

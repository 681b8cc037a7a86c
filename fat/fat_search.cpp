#include "fat/fat_search.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/sector_scan.h"
#include "fat/fat_dir.h"
#include "fat/fat_listing.h"
#include "items/tables.h"

namespace quorlan {

namespace {
constexpr std::uint32_t kScanChunkSectors = 512;  // 256 KiB

std::string sectorsStatus(std::uint64_t sector, std::uint64_t end) {
    return "Sectors  " + std::to_string(sector) + " of " + std::to_string(end);
}
}  // namespace

void ScanDirectoryClusters(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd,
                           RecordTable& table, const RunContext& context) {
    SearchObserver& observer = context.observer;
    observer.counter(Counter::FoldersFound, 0);
    observer.counter(Counter::BootSectorsFound, 0);
    observer.status(sectorsStatus(0, rangeEnd));

    AddMiscFolderRow(table, 0);
    std::uint64_t rows = 1;
    observer.counter(Counter::FoldersFound, rows);

    const std::uint64_t spc = params.SPC;
    // A cluster size the scan cannot step by (parameters that could not be worked out).
    if (spc == 0 || spc > kScanChunkSectors || kScanChunkSectors % spc != 0) return;
    const bool fat32 = params.isFat32();
    const std::uint64_t dataStart = ClusterToSector(params, 2);

    observer.beginPhase("Completed ", rangeEnd);
    // Chunks hold whole clusters (the chunk size is a multiple of the cluster size), so the
    // cluster of a sector follows from its distance to cluster 2.
    const ScanOptions options{.chunkSectors = kScanChunkSectors};
    (void)ScanSectors(reader, dataStart, rangeEnd, options, context, [&](const ScanChunk& chunk) {
        observer.status(sectorsStatus(chunk.firstSector, rangeEnd));
        std::uint64_t cluster = 2 + (chunk.firstSector - dataStart) / spc;
        for (std::uint64_t offset = 0; offset < chunk.sectorCount; offset += spc, ++cluster) {
            const ByteView first(chunk.bytes.data() + offset * kSectorSize, kSectorSize);
            if (!IsDirectoryStart(first)) continue;
            const std::uint64_t self = EntryCluster(first, fat32);
            std::uint64_t parent = EntryCluster(first.sub(kDotDotEntry, kDirEntrySize), fat32);
            if (self != cluster) continue;  // a copy of a directory, not the directory itself
            // Some writers name the FAT32 root's cluster in ".." instead of 0: still the root.
            if (fat32 && parent == params.RootStart) parent = 0;
            const int r = table.AppendRow("Dir" + std::to_string(rows));
            table.SetNumber(r, "sector", chunk.firstSector + offset);
            table.SetNumber(r, "self", self);
            table.SetNumber(r, "parent", parent);
            table.SetNumber(r, "date", first.u16le_unchecked(kDirDate));
            table.SetNumber(r, "time", first.u16le_unchecked(kDirTime));
            table.SetNumber(r, "size", first.u32le_unchecked(kDirSize));
            table.SetNumber(r, "attr", first.u8_unchecked(kDirAttr));
            table.SetCell(r, "sysID", "0");
            table.SetCell(r, "Type", "FOLDER");
            ++rows;
            observer.counter(Counter::FoldersFound, rows);
        }
        return ScanStep::Continue;
    });
}

int RebuildLostParents(SectorReader& reader, const FatVolumeParams& params, RecordTable& table) {
    if (!params.isFat()) return 0;
    const int selfColumn = table.RequireColumn("self");
    const int parentColumn = table.RequireColumn("parent");
    std::unordered_set<std::uint64_t> selves;
    for (int r = 0; r < table.RowCount(); ++r) selves.insert(table.GetU64(r, selfColumn));
    const std::uint64_t clusters = params.firstFAT != 0 ? params.fatEntries() : 0;
    std::unordered_set<std::uint64_t> lost;
    for (int r = 0; r < table.RowCount(); ++r) {
        const std::uint64_t p = table.GetU64(r, parentColumn);
        if (p < 2 || p >= kOrphanNumber || selves.contains(p) || (clusters != 0 && p >= clusters)) continue;
        lost.insert(p);
    }
    if (lost.empty()) return 0;

    // The entry found for each lost parent, by cluster.
    struct Holder {
        std::uint64_t folder = 0;  // the folder whose directory holds the entry
        std::string name;
        std::uint16_t date = 0;
        std::uint16_t time = 0;
        std::uint8_t attr = 0;
        bool deleted = false;
    };
    std::map<std::uint64_t, Holder> found;
    FatDirectoryReader directory(reader, params);
    std::vector<std::uint64_t> folders;
    for (const std::uint64_t s : selves) {
        if (s != 0 && s < kRebuiltFolderBase && s != kOrphanNumber) folders.push_back(s);
    }
    std::sort(folders.begin(), folders.end());
    folders.insert(folders.begin(), 0);  // the root first
    for (const std::uint64_t folder : folders) {
        // The FAT16 root region goes on past an end marker, as its listing does.
        const bool fat16Root = folder == 0 && !params.isFat32();
        directory.ForEachEntry(static_cast<std::uint32_t>(folder),
                               fat16Root ? EndMarker::EndsSector : EndMarker::EndsDirectory, [&](const FatDirEntry& e) {
            if (!e.isDirectory() || !lost.contains(e.cluster)) return true;
            const Holder h{folder, e.name, e.raw.u16le_unchecked(kDirDate), e.raw.u16le_unchecked(kDirTime), e.attr,
                           e.deleted};
            const auto [it, added] = found.try_emplace(e.cluster, h);
            if (!added && it->second.deleted && !e.deleted) it->second = h;
            return true;
        });
    }

    int rows = 0;
    for (const auto& [cluster, holder] : found) {
        const std::uint64_t sector = ClusterToSector(params, cluster);
        const int r = table.AppendRow(holder.name);
        table.SetNumber(r, "sector", sector);
        table.SetNumber(r, selfColumn, kRebuiltFolderBase + cluster);
        table.SetNumber(r, parentColumn, holder.folder);
        table.SetNumber(r, "date", holder.date);
        table.SetNumber(r, "time", holder.time);
        table.SetCell(r, "size", "0");
        table.SetNumber(r, "attr", holder.attr);
        table.SetCell(r, "sysID", "0");
        table.SetCell(r, "Type", "FOLDER");
        if (holder.deleted) table.SetCell(r, "Deleted", "1");
        ++rows;
    }
    for (int r = 0; r < table.RowCount(); ++r) {
        const std::uint64_t p = table.GetU64(r, parentColumn);
        if (lost.contains(p) && found.contains(p)) table.SetNumber(r, parentColumn, kRebuiltFolderBase + p);
    }
    return rows;
}

namespace {

// Names the rows of the folders directly under the root from the root directory's entries.
void nameTopLevelFolders(ResultModel& model, RecordTable& table, SectorReader& reader, const FatVolumeParams& params) {
    // The first row with parent 0 for each self.
    std::unordered_map<std::uint64_t, int> topRow;
    for (int r = 0; r < table.RowCount(); ++r) {
        if (table.GetU64(r, "parent") == 0) topRow.emplace(table.GetU64(r, "self"), r);
    }
    FatDirectoryReader directory(reader, params);
    // Of several entries naming one folder, the one FolderEntryRank puts first (the later one
    // among equals).
    std::unordered_map<std::uint64_t, int> rankOf;
    // An end marker ends only its sector here: the pass goes on with the next one.
    directory.ForEachEntry(0, EndMarker::EndsSector, [&](const FatDirEntry& e) {
        model.found = true;
        const auto it = topRow.find(e.cluster);
        if (it == topRow.end()) return true;
        const int rank = FolderEntryRank(e);
        const auto [best, first] = rankOf.try_emplace(e.cluster, rank);
        if (!first && rank < best->second) return true;
        best->second = rank;
        table.SetCell(it->second, "Name", e.name);
        table.SetCell(it->second, "Deleted", e.deleted ? "1" : "");
        return true;
    });
}

}  // namespace

void BuildFatResultTree(ResultModel& model, RecordTable& table, SectorReader& reader, const FatVolumeParams& params,
                        TreeVariant variant, SearchObserver& observer) {
    if (table.RowCount() > 1) model.found = true;
    if (variant != TreeVariant::LoadedLog) nameTopLevelFolders(model, table, reader, params);

    TreeItem* root = model.tree.root();
    for (int r = 0; r < table.RowCount(); ++r) {
        if (table.GetU64(r, "parent") != 0 || table.GetCell(r, "Type") != "FOLDER") continue;
        model.AddFolderNode(root, std::string(table.GetCell(r, "Name")), table.GetU32(r, "self"),
                            static_cast<std::uint16_t>(table.GetU64(r, "date")),
                            static_cast<std::uint16_t>(table.GetU64(r, "time")), 0, table.GetCell(r, "Deleted") == "1");
    }
    // The top-level rows stay in the table but are placed: take them out of the search for
    // rows that no level reaches.
    for (int r = table.RowCount() - 1; r >= 0; --r) {
        if (table.GetU64(r, "parent") == 0 && table.GetCell(r, "Type") == "FOLDER") table.DeleteRow(r);
    }
    root->expanded = true;
    model.tree.ResetRootItem();

    const bool showProgress = variant != TreeVariant::ChosenFileSystem;
    observer.beginPhase("Completed ", 100);
    std::uint64_t shown = 0;
    PlaceFolderLevels(model, table, false, [&](std::size_t k) {
        if (!showProgress) return;
        const std::uint64_t percent = k * 100 / model.nodes.size();
        if (percent > shown) {
            shown = percent;
            observer.setDone(percent);
        }
    });
    if (variant != TreeVariant::ChosenFileSystem) {
        table.DeleteAllRows();
        for (FolderNode& n : model.nodes) {
            n.expanded = true;
            n.item->expanded = false;
        }
    }
}

}  // namespace quorlan

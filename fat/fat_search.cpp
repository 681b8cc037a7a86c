#include "fat/fat_search.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/sector_scan.h"
#include "fat/fat_dir.h"
#include "fat/fat_live_tree.h"
#include "fat/fat_listing.h"
#include "items/tables.h"

namespace quorlan {

namespace {
constexpr std::uint32_t kScanChunkSectors = 512;  // 256 KiB

std::string sectorsStatus(std::uint64_t sector, std::uint64_t end) {
    return "Sectors  " + std::to_string(sector) + " of " + std::to_string(end);
}

// A folder found by its first cluster, with the fields of its "." entry that its row holds.
struct FoundFolder {
    std::uint64_t cluster = 0;
    std::uint64_t sector = 0;
    std::uint32_t parent = 0;
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint32_t size = 0;
    std::uint8_t attr = 0;
};

// The folder that begins at this first sector of a cluster: a "." entry naming the cluster
// itself, then a ".." entry.
std::optional<FoundFolder> folderAt(ByteView first, std::uint64_t cluster, std::uint64_t sector,
                                    const FatVolumeParams& params) {
    if (!IsDirectoryStart(first)) return std::nullopt;
    const bool fat32 = params.isFat32();
    if (EntryCluster(first, fat32) != cluster) return std::nullopt;  // a copy of a directory, not the directory
    std::uint32_t parent = EntryCluster(first.sub(kDotDotEntry, kDirEntrySize), fat32);
    // Some writers name the FAT32 root's cluster in ".." instead of 0: still the root.
    if (fat32 && parent == params.RootStart) parent = 0;
    // IsDirectoryStart matched 35 bytes, so the sector is there: the entry fields lie inside it.
    return FoundFolder{cluster,
                       sector,
                       parent,
                       first.u16le_unchecked(kDirDate),
                       first.u16le_unchecked(kDirTime),
                       first.u32le_unchecked(kDirSize),
                       first.u8_unchecked(kDirAttr)};
}

struct ClusterRun {
    std::uint64_t first = 0;
    std::uint64_t end = 0;  // the first cluster after the run
};

// The runs of clusters 2 .. clusterEnd - 1 that owned does not mark, joining two runs apart by
// at most mergeGap owned clusters.
std::vector<ClusterRun> runsToScan(const std::vector<bool>& owned, std::uint64_t clusterEnd, std::uint64_t mergeGap) {
    const auto isOwned = [&](std::uint64_t c) { return c < owned.size() && owned[c]; };
    std::vector<ClusterRun> runs;
    for (std::uint64_t c = 2; c < clusterEnd;) {
        if (isOwned(c)) {
            ++c;
            continue;
        }
        std::uint64_t e = c + 1;
        while (e < clusterEnd && !isOwned(e)) ++e;
        if (!runs.empty() && c - runs.back().end <= mergeGap) {
            runs.back().end = e;
        } else {
            runs.push_back({c, e});
        }
        c = e;
    }
    return runs;
}

}  // namespace

DirectoryScanReport ScanDirectoryClusters(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd,
                                          RecordTable& table, const RunContext& context,
                                          const DirectoryScanOptions& options) {
    SearchObserver& observer = context.observer;
    DirectoryScanReport report;
    observer.counter(Counter::FoldersFound, 0);
    observer.counter(Counter::BootSectorsFound, 0);
    observer.status(sectorsStatus(0, rangeEnd));

    AddMiscFolderRow(table, 0);
    observer.counter(Counter::FoldersFound, 1);

    const std::uint64_t spc = params.SPC;
    // A cluster size the scan cannot step by (parameters that could not be worked out).
    if (spc == 0 || spc > kScanChunkSectors || kScanChunkSectors % spc != 0) return report;
    const std::uint64_t dataStart = ClusterToSector(params, 2);
    const std::uint64_t clusterEnd = rangeEnd > dataStart ? 2 + (rangeEnd - dataStart + spc - 1) / spc : 2;

    std::vector<FoundFolder> found;
    const auto examine = [&](std::uint64_t cluster, std::uint64_t sector, ByteView first) {
        if (auto folder = folderAt(first, cluster, sector, params)) {
            found.push_back(*folder);
            observer.counter(Counter::FoldersFound, found.size() + 1);
        }
    };

    observer.beginPhase("Completed ", rangeEnd);
    LiveClusters live;
    report.everyCluster = options.everyCluster;
    if (report.everyCluster.empty()) {
        live = WalkLiveTree(reader, params, rangeEnd, context, examine);
        if (!live.untrusted.empty()) {
            // The folders of the walk are found again by the full scan.
            found.clear();
            observer.counter(Counter::FoldersFound, 1);
            report.everyCluster = live.untrusted;
        }
    }
    if (!report.everyCluster.empty()) observer.status("Reading every cluster: " + report.everyCluster);

    if (!live.stopped) {
        const std::uint64_t clusterBytes = spc * kSectorSize;
        const std::uint64_t mergeGap = options.mergeGapBytes / clusterBytes;
        const std::vector<ClusterRun> runs = report.everyCluster.empty() ? runsToScan(live.owned, clusterEnd, mergeGap)
                                                                         : std::vector<ClusterRun>{{2, clusterEnd}};
        // Chunks hold whole clusters (the chunk size is a multiple of the cluster size) and each
        // run begins with a cluster, so the cluster of a sector follows from its distance to
        // cluster 2.
        const auto visit = [&](const ScanChunk& chunk) {
            observer.status(sectorsStatus(chunk.firstSector, rangeEnd));
            std::uint64_t cluster = 2 + (chunk.firstSector - dataStart) / spc;
            for (std::uint64_t offset = 0; offset < chunk.sectorCount; offset += spc, ++cluster) {
                if (cluster < live.owned.size() && live.owned[cluster]) continue;  // inside a merged gap
                const ByteView first(chunk.bytes.data() + offset * kSectorSize, kSectorSize);
                examine(cluster, chunk.firstSector + offset, first);
            }
            return ScanStep::Continue;
        };
        for (const ClusterRun& run : runs) {
            const std::uint64_t start = ClusterToSector(params, run.first);
            const std::uint64_t end = std::min(ClusterToSector(params, run.end), rangeEnd);
            if (start >= end) continue;
            // Short runs get a buffer of their own size.
            const std::uint64_t runSectors = (run.end - run.first) * spc;
            const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(kScanChunkSectors, runSectors));
            const ScanSummary summary =
                ScanSectors(reader, start, end, ScanOptions{.chunkSectors = chunk}, context, visit);
            report.sectorsScanned += summary.nextSector - start;
            ++report.runs;
            if (summary.end == ScanEnd::Stopped) break;
        }
    }

    std::sort(found.begin(), found.end(),
              [](const FoundFolder& a, const FoundFolder& b) { return a.cluster < b.cluster; });
    std::uint64_t rows = 1;
    for (const FoundFolder& f : found) {
        const int r = table.AppendRow("Dir" + std::to_string(rows));
        table.SetNumber(r, "sector", f.sector);
        table.SetNumber(r, "self", f.cluster);
        table.SetNumber(r, "parent", f.parent);
        table.SetNumber(r, "date", f.date);
        table.SetNumber(r, "time", f.time);
        table.SetNumber(r, "size", f.size);
        table.SetNumber(r, "attr", f.attr);
        table.SetCell(r, "sysID", "0");
        table.SetCell(r, "Type", "FOLDER");
        ++rows;
    }
    return report;
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

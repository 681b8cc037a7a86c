#include "fat/fat_search.h"

#include <algorithm>
#include <unordered_map>

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

namespace {

// Names the rows of the folders directly under the root from the root directory's entries.
void nameTopLevelFolders(ResultModel& model, RecordTable& table, SectorReader& reader, const FatVolumeParams& params) {
    // The first row with parent 0 for each self.
    std::unordered_map<std::uint64_t, int> topRow;
    for (int r = 0; r < table.RowCount(); ++r) {
        if (table.GetU64(r, "parent") == 0) topRow.emplace(table.GetU64(r, "self"), r);
    }
    FatDirectoryReader directory(reader, params);
    // An end marker ends only its sector here: the pass goes on with the next one.
    directory.ForEachEntry(0, EndMarker::EndsSector, [&](const FatDirEntry& e) {
        model.found = true;
        const auto it = topRow.find(e.cluster);
        if (it == topRow.end()) return true;
        table.SetCell(it->second, "Name", e.name);
        if (e.deleted) table.SetCell(it->second, "Deleted", "1");
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

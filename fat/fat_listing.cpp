#include "fat/fat_listing.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "items/file_types.h"

namespace quorlan {

namespace {

struct EntryName {
    std::string name;
    bool deleted = false;
};

// In the FAT16 root region an end marker ends its sector only; elsewhere the whole directory.
EndMarker listingEndMarker(std::uint32_t folderCluster, const FatVolumeParams& params) {
    return folderCluster == 0 && !params.isFat32() ? EndMarker::EndsSector : EndMarker::EndsDirectory;
}

}  // namespace

std::optional<std::string> FatDirectoryReader::LongName(std::span<const std::byte> sector, std::size_t entryOffset,
                                                        std::uint64_t sectorNumber) {
    return ReadLongName(sector, entryOffset, sectorNumber,
                        [this](std::uint64_t s, std::span<std::byte> out) -> std::optional<std::uint64_t> {
        // The sector visited before s in directory order, from the cluster in hand when it lies
        // there, else from the disk.
        const auto it = std::find(m_visited.rbegin(), m_visited.rend(), s);
        if (it == m_visited.rend() || std::next(it) == m_visited.rend()) return std::nullopt;
        const std::uint64_t previous = *std::next(it);
        if (previous >= m_clusterFirstSector && (previous - m_clusterFirstSector) * kSectorSize < m_cluster.size()) {
            std::memcpy(out.data(), m_cluster.data() + (previous - m_clusterFirstSector) * kSectorSize, kSectorSize);
        } else {
            (void)m_reader.ReadSectors(previous, 1, out);
        }
        return previous;
    });
}

void FatDirectoryReader::ForEachDirectorySector(std::uint32_t folderCluster, const SectorVisit& outerVisit) {
    m_visited.clear();
    if (!m_params.isFat()) return;
    const auto visit = [&](std::uint64_t sectorNumber, std::span<const std::byte> sector) {
        m_visited.push_back(sectorNumber);
        return outerVisit(sectorNumber, sector);
    };
    if (folderCluster == 0 && !m_params.isFat32()) {
        // The FAT16 root region, read as one run.
        if (m_params.RootStart == 0 || m_params.RootSectors == 0) return;
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_params.RootSectors, kMaxRunSectors));
        m_cluster.assign(static_cast<std::size_t>(count) * kSectorSize, std::byte{0});
        m_clusterFirstSector = m_params.RootStart;
        (void)m_reader.ReadSectors(m_params.RootStart, count, m_cluster);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!visit(m_params.RootStart + i, std::span<const std::byte>(m_cluster).subspan(i * kSectorSize, kSectorSize))) return;
        }
        return;
    }
    if (folderCluster == 0) folderCluster = static_cast<std::uint32_t>(m_params.RootStart);
    if (folderCluster == 0) return;
    const auto spc = static_cast<std::uint32_t>(m_params.SPC);
    if (spc == 0 || spc > 128) return;
    for (const std::uint32_t c : m_chains.FollowClusterChain(folderCluster)) {
        // Sectors that cannot be read count as zeros: the end of the directory.
        m_cluster.assign(static_cast<std::size_t>(spc) * kSectorSize, std::byte{0});
        m_clusterFirstSector = ClusterToSector(m_params, c);
        if (m_reader.ReadSectors(m_clusterFirstSector, spc, m_cluster) == 0) {
            std::fill(m_cluster.begin(), m_cluster.end(), std::byte{0});
            (void)m_reader.ReadSectors(m_clusterFirstSector, spc, m_cluster);
        }
        for (std::uint32_t i = 0; i < spc; ++i) {
            if (!visit(m_clusterFirstSector + i, std::span<const std::byte>(m_cluster).subspan(i * kSectorSize, kSectorSize))) return;
        }
    }
}

void FatDirectoryReader::ForEachEntry(std::uint32_t folderCluster, EndMarker endMarker, const EntryVisit& visit) {
    const bool fat32 = m_params.isFat32();
    ForEachDirectorySector(folderCluster, [&](std::uint64_t sectorNumber, std::span<const std::byte> sector) {
        for (std::size_t e = 0; e < kEntriesPerSector; ++e) {
            const std::size_t offset = e * kDirEntrySize;
            const ByteView raw(sector.data() + offset, kDirEntrySize);
            if (raw.u8_unchecked(kDirName) == 0) return endMarker == EndMarker::EndsSector;
            if (IsDotEntry(raw) || IsLongNameEntry(raw)) continue;
            ShortNameResult shortName = ShortName(raw);
            if (!IsListableName(shortName.name)) continue;
            FatDirEntry entry;
            entry.raw = raw;
            entry.deleted = shortName.deleted;
            entry.cluster = EntryCluster(raw, fat32);
            entry.attr = raw.u8_unchecked(kDirAttr);
            entry.position = sectorNumber * kSectorSize + offset;
            // A long name with characters no FAT name may hold (damage, or a crafted disk) gives
            // way to the 8.3 name, which passed the check: the entry stays found.
            if (auto longName = LongName(sector, offset, sectorNumber); longName && IsListableName(*longName)) {
                entry.name = std::move(*longName);
            } else {
                entry.name = std::move(shortName.name);
            }
            if (!visit(entry)) return false;
        }
        return true;
    });
}

std::vector<FatFileEntry> FatDirectoryReader::ListFatFiles(std::uint32_t folderCluster) {
    std::vector<FatFileEntry> files;
    const bool fat16Root = folderCluster == 0 && !m_params.isFat32();
    const FolderSource source = fat16Root ? FolderSource::DirectRegion : FolderSource::ClusterChain;
    ForEachEntry(folderCluster, listingEndMarker(folderCluster, m_params), [&](const FatDirEntry& e) {
        if (e.isDirectory()) return true;
        FatFileEntry file;
        file.type = FileTypeOf(e.name, source);
        file.name = e.name;
        file.deleted = e.deleted;
        file.size = e.raw.u32le_unchecked(kDirSize);
        file.date = e.raw.u16le_unchecked(kDirDate);
        file.time = e.raw.u16le_unchecked(kDirTime);
        file.firstCluster = e.cluster;
        file.entryPosition = e.position;
        files.push_back(std::move(file));
        return true;
    });
    return files;
}

void FatDirectoryReader::CollectEntryFacts(std::uint32_t folderCluster, bool folderDeleted,
                                           std::vector<FatEntryFact>& out) {
    const bool fat32 = m_params.isFat32();
    const bool endsSectorOnly = listingEndMarker(folderCluster, m_params) == EndMarker::EndsSector;
    ForEachDirectorySector(folderCluster, [&](std::uint64_t sectorNumber, std::span<const std::byte> sector) {
        for (std::size_t e = 0; e < kEntriesPerSector; ++e) {
            const std::size_t offset = e * kDirEntrySize;
            const ByteView raw(sector.data() + offset, kDirEntrySize);
            if (raw.u8_unchecked(kDirName) == 0) return endsSectorOnly;
            if (IsDotEntry(raw) || IsLongNameEntry(raw)) continue;
            FatEntryFact fact;
            fact.position = sectorNumber * kSectorSize + offset;
            fact.firstCluster = EntryCluster(raw, fat32);
            fact.size = raw.u32le_unchecked(kDirSize);
            fact.directory = (raw.u8_unchecked(kDirAttr) & kAttrDirectory) != 0;
            fact.deleted = folderDeleted || IsDeleted(raw);
            fact.created = FatStamp(raw.u16le_unchecked(kDirCreateDate), raw.u16le_unchecked(kDirCreateTime),
                                    raw.u8_unchecked(kDirCreateHundredths));
            fact.written = FatStamp(raw.u16le_unchecked(kDirDate), raw.u16le_unchecked(kDirTime), 0);
            out.push_back(fact);
        }
        return true;
    });
}

int FatDirectoryReader::NameSubFoldersOf(ResultModel& model, const FolderNode& node) {
    const std::uint32_t self = node.self;
    const std::vector<std::size_t> children = model.ChildrenOf(self);
    if (children.empty()) return 0;
    int named = 0;
    // Per child, the rank of the entry that named it (-1: none yet) and whether that one is deleted.
    std::vector<int> rank(children.size(), -1);
    std::vector<bool> deleted(children.size(), false);
    // Sub-folders are always read through the folder's cluster chain, also the FAT32 root's. Any
    // entry naming a child's first cluster names it; of several, the one FolderEntryRank puts
    // first (the later one among equals).
    ForEachEntry(self == 0 ? static_cast<std::uint32_t>(m_params.RootStart) : self, EndMarker::EndsDirectory,
                 [&](const FatDirEntry& e) {
        for (std::size_t k = 0; k < children.size(); ++k) {
            FolderNode& child = model.nodes[children[k]];
            if (child.self != e.cluster) continue;
            const int r = FolderEntryRank(e);
            if (r >= rank[k]) {
                if (rank[k] < 0) ++named;
                rank[k] = r;
                deleted[k] = e.deleted;
                child.name = e.name;
                child.item->text = e.name;
            }
            break;
        }
        return true;
    });
    for (std::size_t k = 0; k < children.size(); ++k) {
        if (deleted[k]) model.nodes[children[k]].deleted = true;
    }
    return named;
}

}  // namespace quorlan

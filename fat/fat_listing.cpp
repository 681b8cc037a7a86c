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

std::vector<FatFileEntry> FatDirectoryReader::ListFatFiles(std::uint32_t folderCluster) {
    std::vector<FatFileEntry> files;
    const bool fat16Root = folderCluster == 0 && !m_params.isFat32();
    const FolderSource source = fat16Root ? FolderSource::DirectRegion : FolderSource::ClusterChain;
    ForEachDirectorySector(folderCluster, [&](std::uint64_t sectorNumber, std::span<const std::byte> sector) {
        for (std::size_t e = 0; e < kEntriesPerSector; ++e) {
            const std::size_t offset = e * kDirEntrySize;
            const ByteView entry(sector.data() + offset, kDirEntrySize);
            // In the FAT16 root region an end marker ends this sector only; elsewhere the whole
            // directory.
            if (entry.u8_unchecked(0) == 0) return fat16Root;
            if (IsDotEntry(entry) || IsLongNameEntry(entry)) continue;
            if ((entry.u8_unchecked(kDirAttr) & kAttrDirectory) != 0) continue;
            const std::uint32_t cluster = fat16Root ? entry.u16le_unchecked(kDirClusterLow)
                                                    : EntryCluster(entry, m_params.isFat32());
            ShortNameResult name = ShortName(entry);
            if (!IsListableName(name.name)) continue;
            // A long name with characters no FAT name may hold (damage, or a crafted disk) gives
            // way to the 8.3 name, which passed the check: the file stays found.
            if (auto longName = LongName(sector, offset, sectorNumber); longName && IsListableName(*longName)) {
                name.name = std::move(*longName);
            }
            FatFileEntry file;
            file.type = FileTypeOf(name.name, source);
            file.name = std::move(name.name);
            file.deleted = name.deleted;
            file.size = entry.u32le_unchecked(kDirSize);
            file.date = entry.u16le_unchecked(kDirDate);
            file.time = entry.u16le_unchecked(kDirTime);
            file.firstCluster = cluster;
            files.push_back(std::move(file));
        }
        return true;
    });
    return files;
}

int FatDirectoryReader::NameSubFoldersOf(ResultModel& model, const FolderNode& node) {
    const std::uint32_t self = node.self;
    const std::vector<std::size_t> children = model.ChildrenOf(self);
    if (children.empty()) return 0;
    int named = 0;
    // Sub-folders are always read through the folder's cluster chain, also the FAT32 root's.
    ForEachDirectorySector(self == 0 ? static_cast<std::uint32_t>(m_params.RootStart) : self,
                           [&](std::uint64_t sectorNumber, std::span<const std::byte> sector) {
        for (std::size_t e = 0; e < kEntriesPerSector; ++e) {
            const std::size_t offset = e * kDirEntrySize;
            const ByteView entry(sector.data() + offset, kDirEntrySize);
            if (entry.u8_unchecked(0) == 0) return false;
            if (IsDotEntry(entry) || IsLongNameEntry(entry)) continue;
            const std::uint32_t cluster = EntryCluster(entry, m_params.isFat32());
            ShortNameResult name = ShortName(entry);
            if (!IsListableName(name.name)) continue;
            // A long name with characters no FAT name may hold (damage, or a crafted disk) gives
            // way to the 8.3 name, which passed the check: the file stays found.
            if (auto longName = LongName(sector, offset, sectorNumber); longName && IsListableName(*longName)) {
                name.name = std::move(*longName);
            }
            for (const std::size_t i : children) {
                FolderNode& child = model.nodes[i];
                if (child.self != cluster) continue;
                child.name = name.name;
                child.item->text = name.name;
                if (name.deleted) child.deleted = true;
                ++named;
                break;
            }
        }
        return true;
    });
    return named;
}

}  // namespace quorlan

// Reading FAT directories for the file list: the files of a folder, and the names of its
// sub-folders.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/sector_reader.h"
#include "fat/fat_deleted.h"
#include "fat/fat_dir.h"
#include "fat/fat_volume.h"
#include "items/result_tree.h"

namespace quorlan {

// One file entry as the file list shows it.
struct FatFileEntry {
    std::string name;
    std::string type;
    std::uint32_t size = 0;
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint32_t firstCluster = 0;
    bool deleted = false;
    std::uint64_t entryPosition = 0;  // where the entry lies: its sector x 512 + its offset
};

// A short directory entry as the entry walker hands it on: not "." or "..", not a long-name
// entry, with a name that passed the name check (the long name when it passes too, else the
// 8.3 name).
struct FatDirEntry {
    ByteView raw;  // the 32 bytes of the entry
    std::string name;
    bool deleted = false;
    std::uint32_t cluster = 0;  // the first cluster (FAT16: the low word only)
    std::uint8_t attr = 0;
    std::uint64_t position = 0;  // where the entry lies: its sector x 512 + its offset
    [[nodiscard]] bool isDirectory() const { return (attr & kAttrDirectory) != 0; }
};

// How strongly an entry names the folder whose first cluster it holds, when several do (a
// folder deleted and a new one made in its place leave a deleted and a live entry naming the same
// cluster): a live entry before a deleted one, and a directory entry before any other.
[[nodiscard]] inline int FolderEntryRank(const FatDirEntry& e) {
    return (e.deleted ? 0 : 2) + (e.isDirectory() ? 1 : 0);
}

// What a first byte of 0 (the end marker) does to a walk: the FAT16 root region and the naming
// of the top-level folders go on with the next sector, any other walk ends there.
enum class EndMarker { EndsSector, EndsDirectory };

// Reads a directory's sectors cluster by cluster and serves the long-name walk's look-backs.
class FatDirectoryReader {
public:
    FatDirectoryReader(SectorReader& reader, const FatVolumeParams& params)
        : m_reader(reader), m_params(params), m_chains(reader, params) {}

    // The files of the folder whose first cluster is folderCluster (0: the root).
    [[nodiscard]] std::vector<FatFileEntry> ListFatFiles(std::uint32_t folderCluster);

    // Appends what each short entry of the folder says (names unchecked: an entry whose name
    // cannot be listed still holds its first cluster), for weighing the volume's deleted files.
    // folderDeleted: the folder, or one above it, is deleted.
    void CollectEntryFacts(std::uint32_t folderCluster, bool folderDeleted, std::vector<FatEntryFact>& out);

    // Names the child folder nodes of node from its directory entries (and marks the deleted
    // ones). Returns how many nodes were named.
    int NameSubFoldersOf(ResultModel& model, const FolderNode& node);

    // Calls visit(sectorNumber, sectorBytes) for each sector of a directory: the FAT16 root
    // region when folderCluster is 0 on FAT16, else the sectors of the folder's cluster chain.
    // visit returns false to stop.
    using SectorVisit = std::function<bool(std::uint64_t sectorNumber, std::span<const std::byte> sector)>;
    void ForEachDirectorySector(std::uint32_t folderCluster, const SectorVisit& visit);

    ClusterChainReader& chains() { return m_chains; }

    // Calls visit for each short entry of a directory (see ForEachDirectorySector) in order,
    // until visit returns false or the end marker ends the walk.
    using EntryVisit = std::function<bool(const FatDirEntry& entry)>;
    void ForEachEntry(std::uint32_t folderCluster, EndMarker endMarker, const EntryVisit& visit);

    // The long name of the entry at entryOffset of a sector of this directory.
    [[nodiscard]] std::optional<std::string> LongName(std::span<const std::byte> sector, std::size_t entryOffset,
                                                      std::uint64_t sectorNumber);

private:
    SectorReader& m_reader;
    const FatVolumeParams& m_params;
    ClusterChainReader m_chains;
    std::vector<std::byte> m_cluster;      // the cluster being read
    std::uint64_t m_clusterFirstSector = 0;
    std::vector<std::uint64_t> m_visited;  // the directory's sectors read so far, in order
};

}  // namespace quorlan

// Deleted FAT files, weighed against every directory entry of the volume: where their clusters
// most likely lie, now that the FAT no longer says, and which of them the evidence cannot vouch
// for.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "fat/fat_volume.h"

namespace quorlan {

inline constexpr std::int64_t kNoStamp = std::numeric_limits<std::int64_t>::min();

// A FAT date word, time word and hundredths of a second as hundredths of a second since
// 1980-01-01 (in the volume's local time); kNoStamp when they are no date and time.
[[nodiscard]] std::int64_t FatStamp(std::uint16_t date, std::uint16_t time, std::uint8_t hundredths);

// What one short directory entry of the volume says.
struct FatEntryFact {
    std::uint64_t position = 0;  // where the entry lies: its sector x 512 + its offset
    std::uint32_t firstCluster = 0;
    std::uint32_t size = 0;
    bool directory = false;
    bool deleted = false;             // the entry, or a folder above it, is deleted
    std::int64_t created = kNoStamp;  // FatStamp of the creation time
    std::int64_t written = kNoStamp;  // FatStamp of the last write
};

// Where a deleted file's bytes are taken from.
struct FatGuess {
    std::vector<std::uint32_t> clusters;  // in file order; fewer than the size needs when no more were found
    bool mayBeIncomplete = false;         // the evidence cannot vouch for these clusters
    std::string why;                      // what it cannot vouch for; empty when nothing
};

// The guesses for the deleted files of one volume. A deleted file's first cluster and size are
// known, and so are the clusters the FAT gives to live files, the first clusters of all other
// entries (no file's clusters run through another's first one) and the entries' times; two
// deleted files cannot share a cluster. From that:
//   - a file whose run of free clusters from its first one meets no other entry's first cluster
//     and no live file's cluster keeps that run (the contiguous guess);
//   - a blocked file (its run meets one) takes its first cluster and then the nearest free
//     clusters that no entry starts at and no other file keeps. When the times say where its
//     clusters must lie (a file created after its last write, whose first cluster lies between,
//     was given its clusters after it, as long as no older entry lies behind that one), it takes
//     the nearest ones there: when only clusters another file's run holds lie there, it takes
//     those, and that file takes the next ones it can have instead;
//   - a file is marked when the evidence cannot vouch for it: its run was blocked, it had to
//     give up clusters, its clusters are among the nearest candidates of a blocked file, its
//     first cluster is allocated to a live file or named by another entry, or the volume ends
//     before its size.
// Files whose first cluster is allocated, or named by another entry, keep the contiguous guess of
// free clusters and take no part in the weighing.
class FatDeletedFiles {
public:
    // Weighs the deleted files among entries (files not marked deleted whose first cluster is
    // free count too: their chain is gone). folderClusters are the first clusters of the folders
    // the search found, which hold no file's data. volumeEnd is the first sector after the volume.
    [[nodiscard]] static FatDeletedFiles Weigh(ClusterChainReader& chains, const FatVolumeParams& params,
                                               std::uint64_t volumeEnd, const std::vector<FatEntryFact>& entries,
                                               const std::vector<std::uint32_t>& folderClusters);

    // The guess for the entry at position, or nullptr when it was not weighed.
    [[nodiscard]] const FatGuess* Find(std::uint64_t position) const;
    [[nodiscard]] std::size_t Count() const { return m_guesses.size(); }

private:
    std::unordered_map<std::uint64_t, FatGuess> m_guesses;
};

}  // namespace quorlan

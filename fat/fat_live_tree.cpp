#include "fat/fat_live_tree.h"

#include <optional>

#include "core/sector_scan.h"
#include "fat/fat_dir.h"
#include "fat/fat_listing.h"

namespace quorlan {

namespace {

constexpr std::uint32_t kFatChunkSectors = 2048;  // 1 MiB per read of a FAT copy
// The most FAT entries held in memory (32 Mi, 128 MiB); a larger FAT is not followed, every
// cluster is scanned instead. A 64 GB stick has 2 Mi with 32 KiB clusters, 16 Mi with 4 KiB.
constexpr std::uint64_t kMaxLoadedEntries = std::uint64_t{32} << 20;

// FAT entry values: 0 free, then cluster numbers, the bad-cluster mark, and end-of-chain marks.
constexpr std::uint32_t kFat12Bad = 0xFF7;
constexpr std::uint32_t kFat12EndOfChain = 0xFF8;
constexpr std::uint32_t kFat16Bad = 0xFFF7;
constexpr std::uint32_t kFat16EndOfChain = 0xFFF8;
constexpr std::uint32_t kFat32Bad = 0x0FFFFFF7;
constexpr std::uint32_t kFat32EndOfChain = 0x0FFFFFF8;
constexpr std::uint32_t kFat32EntryMask = 0x0FFFFFFF;  // FAT32 keeps its top four bits reserved

enum class EntryKind { Free, Next, Bad, EndOfChain, Invalid };

class Walk {
public:
    Walk(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd, const RunContext& context,
         const LiveClusterVisit& visit)
        : m_reader(reader),
          m_params(params),
          m_rangeEnd(rangeEnd),
          m_context(context),
          m_visit(visit),
          m_fat32(params.isFat32()),
          m_fat12(params.isFat12()),
          m_entryBytes(m_fat32 ? 4 : 2),
          m_badMark(m_fat32 ? kFat32Bad : m_fat12 ? kFat12Bad : kFat16Bad),
          m_endMark(m_fat32 ? kFat32EndOfChain : m_fat12 ? kFat12EndOfChain : kFat16EndOfChain) {}

    LiveClusters run() {
        if (!m_params.isFat() || m_params.SPC == 0 || m_params.SPC > 128) {
            return untrusted("the cluster size is unknown");
        }
        if (m_params.firstFAT == 0 || m_params.SPF == 0) return untrusted("the place of the FAT is unknown");
        // The clusters that begin below the end of the range, bounded by the FAT's entries.
        const std::uint64_t dataStart = ClusterToSector(m_params, 2);
        const std::uint64_t clusterEnd =
            m_rangeEnd > dataStart ? 2 + (m_rangeEnd - dataStart + m_params.SPC - 1) / m_params.SPC : 2;
        m_entries = std::min(m_params.fatEntries(), clusterEnd);
        if (m_entries > kMaxLoadedEntries) return untrusted("the FAT is too large to hold in memory");
        m_out.owned.assign(m_entries, false);

        m_context.observer.status("Reading the FAT...");
        if (!loadFat()) return finish();
        if (m_fat32 && (m_params.RootStart < 2 || m_params.RootStart >= m_entries)) {
            return untrusted("the root folder's cluster lies outside the FAT");
        }
        m_context.observer.status("Reading the live folders...");
        walkTree();
        return finish();
    }

private:
    LiveClusters untrusted(std::string why) {
        if (m_out.untrusted.empty()) m_out.untrusted = std::move(why);
        return finish();
    }

    LiveClusters finish() {
        if (!m_out.untrusted.empty()) m_out.owned.clear();
        return std::move(m_out);
    }

    void setUntrusted(std::string why) {
        if (m_out.untrusted.empty()) m_out.untrusted = std::move(why);
    }

    // A stop request ended a read of the FAT: nothing is owned yet, and the scan does not run.
    bool stopped(const ScanSummary& scan) {
        if (scan.end != ScanEnd::Stopped) return false;
        m_out.stopped = true;
        m_out.owned.clear();
        return true;
    }

    // Calls take(cluster, entry) for each entry of a chunk of the FAT copy that begins at
    // fatStart, up to m_entries.
    template <typename Take>
    void entriesOf(const ScanChunk& chunk, std::uint64_t fatStart, Take&& take) const {
        if (m_fat12) {
            // Two 12-bit entries share three bytes, so an entry may straddle sectors: only the
            // entries whose two bytes both lie in the chunk are taken. A FAT12 FAT (at most 12
            // sectors) is read as one chunk; a chunk split by an unreadable sector makes the FAT
            // untrusted anyway.
            const std::uint64_t base = (chunk.firstSector - fatStart) * kSectorSize;
            const std::uint64_t size = std::min<std::uint64_t>(chunk.bytes.size(), std::uint64_t{chunk.sectorCount} * kSectorSize);
            const ByteView bytes(chunk.bytes);
            for (std::uint64_t c = (base * 2 + 2) / 3; c < m_entries; ++c) {
                const std::uint64_t at = c * 3 / 2;
                if (at < base) continue;
                if (at + 1 >= base + size) break;
                const std::uint32_t word = bytes.u16le_unchecked(at - base);
                take(c, c % 2 == 0 ? (word & 0x0FFFu) : (word >> 4));
            }
            return;
        }
        const std::uint64_t perSector = kSectorSize / m_entryBytes;
        const std::uint64_t first = (chunk.firstSector - fatStart) * perSector;
        const std::uint64_t end = std::min(m_entries, first + std::uint64_t{chunk.sectorCount} * perSector);
        const ByteView bytes(chunk.bytes);
        for (std::uint64_t c = first; c < end; ++c) {
            // Entries never straddle sectors, and (c - first) x entry size lies inside the chunk.
            const std::size_t at = (c - first) * m_entryBytes;
            take(c, m_fat32 ? bytes.u32le_unchecked(at) : std::uint32_t{bytes.u16le_unchecked(at)});
        }
    }

    // Reads copy 1 into m_next and compares copy 2 with it; false when the walk cannot go on.
    bool loadFat() {
        const std::uint64_t fatBytes = m_fat12 ? (m_entries * 3 + 1) / 2 : m_entries * m_entryBytes;
        const std::uint64_t sectors = (fatBytes + kSectorSize - 1) / kSectorSize;
        m_next.assign(m_entries, 0);
        const auto chunkSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(kFatChunkSectors, sectors));
        const ScanOptions options{.chunkSectors = chunkSectors};
        const ScanSummary first = ScanSectors(m_reader, m_params.firstFAT, m_params.firstFAT + sectors, options,
                                              m_context, [&](const ScanChunk& chunk) {
            entriesOf(chunk, m_params.firstFAT, [&](std::uint64_t c, std::uint32_t entry) { m_next[c] = entry; });
            return ScanStep::Continue;
        });
        if (stopped(first)) return false;
        if (first.unreadableSectors > 0) {
            setUntrusted("a sector of the FAT cannot be read");
            return false;
        }
        // Copy 2 must agree in every entry but entry 1, which holds flags that some systems keep
        // in one copy only.
        bool same = true;
        const ScanSummary second = ScanSectors(m_reader, m_params.secondFAT, m_params.secondFAT + sectors, options,
                                               m_context, [&](const ScanChunk& chunk) {
            entriesOf(chunk, m_params.secondFAT, [&](std::uint64_t c, std::uint32_t entry) {
                if (c != 1 && entry != m_next[c]) same = false;
            });
            return same ? ScanStep::Continue : ScanStep::Stop;
        });
        if (stopped(second)) return false;
        if (second.unreadableSectors > 0) {
            setUntrusted("a sector of the second FAT cannot be read");
            return false;
        }
        if (!same) {
            setUntrusted("the two copies of the FAT differ");
            return false;
        }

        // Every entry is checked once here, so that the chains followed later only meet kinds
        // they can judge.
        for (std::uint64_t c = 2; c < m_entries; ++c) {
            if (kindOf(m_next[c]) == EntryKind::Invalid) {
                setUntrusted("the FAT holds an entry that names no cluster (cluster " + std::to_string(c) + ")");
                return false;
            }
        }
        return true;
    }

    [[nodiscard]] EntryKind kindOf(std::uint32_t v) const {
        if (m_fat32 && v > kFat32EntryMask) return EntryKind::Invalid;
        if (v == 0) return EntryKind::Free;
        if (v >= m_endMark) return EntryKind::EndOfChain;
        if (v == m_badMark) return EntryKind::Bad;
        if (v >= 2 && v < m_entries) return EntryKind::Next;
        return EntryKind::Invalid;
    }

    // Marks a cluster as owned; a cluster owned already means chains cross.
    bool claim(std::uint64_t cluster) {
        if (cluster >= m_out.owned.size()) {
            setUntrusted("a chain leaves the FAT");
            return false;
        }
        if (m_out.owned[cluster]) {
            setUntrusted("two chains share cluster " + std::to_string(cluster));
            return false;
        }
        m_out.owned[cluster] = true;
        return true;
    }

    // Marks a live file's chain. Bounded: every step claims a cluster not claimed before.
    bool markChain(std::uint32_t cluster) {
        for (;;) {
            if (!claim(cluster)) return false;
            const std::uint32_t next = m_next[cluster];
            switch (kindOf(next)) {
                case EntryKind::EndOfChain:
                    return true;
                case EntryKind::Next:
                    cluster = next;
                    break;
                default:
                    setUntrusted("the chain of a live file breaks off at cluster " + std::to_string(cluster));
                    return false;
            }
        }
    }

    void walkTree() {
        FatDirectoryReader directory(m_reader, m_params);
        directory.chains().UseLoadedFat(m_next);
        std::vector<std::uint32_t> pending{0};  // 0: the root
        while (!pending.empty()) {
            if (m_context.stopRequested()) {
                m_out.stopped = true;
                return;
            }
            const std::uint32_t folder = pending.back();
            pending.pop_back();
            if (!walkFolder(directory, folder, pending)) return;
        }
    }

    // Reads one folder whole, marks its clusters and the chains of its files, and queues its
    // sub-folders. False when the FAT turned out untrusted.
    bool walkFolder(FatDirectoryReader& directory, std::uint32_t folder, std::vector<std::uint32_t>& pending) {
        // The FAT16 root region lies before the data area; an end marker ends only its sector
        // there, as the listing reads it.
        const bool region = folder == 0 && !m_fat32;
        bool ended = false;
        bool ok = true;
        std::optional<std::uint64_t> last;
        directory.ForEachDirectorySector(folder, [&](std::uint64_t sector, std::span<const std::byte> bytes) {
            if (!region && (sector - m_params.Cluster0Start) % m_params.SPC == 0) {
                const std::uint64_t cluster = (sector - m_params.Cluster0Start) / m_params.SPC;
                if (!claim(cluster)) return ok = false;
                last = cluster;
                if (sector < m_rangeEnd) m_visit(cluster, sector, ByteView(bytes));
            }
            // Past the end marker the chain is still read to its end: its clusters are the
            // folder's, and are judged here instead of by the scan.
            if (ended) return true;
            for (std::size_t e = 0; e < kEntriesPerSector; ++e) {
                const ByteView raw(bytes.data() + e * kDirEntrySize, kDirEntrySize);
                if (raw.u8_unchecked(kDirName) == 0) {
                    ended = !region;
                    break;
                }
                if (IsDeleted(raw) || IsDotEntry(raw) || IsLongNameEntry(raw)) continue;
                if (!IsListableName(ShortName(raw).name)) continue;
                const std::uint32_t cluster = EntryCluster(raw, m_fat32);
                if (cluster < 2) continue;  // an empty file, or the volume label
                if (cluster >= m_entries) {
                    setUntrusted("a live entry names cluster " + std::to_string(cluster) + ", beyond the FAT");
                    return ok = false;
                }
                if ((raw.u8_unchecked(kDirAttr) & kAttrDirectory) != 0) {
                    pending.push_back(cluster);
                } else if (!markChain(cluster)) {
                    return ok = false;
                }
            }
            return true;
        });
        if (!ok) return false;
        // The chain read ends where the FAT says it ends, not at a free cluster or a loop.
        if (last && kindOf(m_next[*last]) != EntryKind::EndOfChain) {
            setUntrusted("the chain of a live folder breaks off at cluster " + std::to_string(*last));
            return false;
        }
        return true;
    }

    SectorReader& m_reader;
    const FatVolumeParams& m_params;
    const std::uint64_t m_rangeEnd;
    const RunContext& m_context;
    const LiveClusterVisit& m_visit;
    const bool m_fat32;
    const bool m_fat12;
    const std::size_t m_entryBytes;  // FAT16 and FAT32; FAT12 packs 1.5 bytes per entry
    const std::uint32_t m_badMark;
    const std::uint32_t m_endMark;
    std::uint64_t m_entries = 0;       // FAT entries loaded: clusters 0 .. m_entries - 1
    std::vector<std::uint32_t> m_next;  // FAT copy 1, entry by entry
    LiveClusters m_out;
};

}  // namespace

LiveClusters WalkLiveTree(SectorReader& reader, const FatVolumeParams& params, std::uint64_t rangeEnd,
                          const RunContext& context, const LiveClusterVisit& visit) {
    return Walk(reader, params, rangeEnd, context, visit).run();
}

}  // namespace quorlan

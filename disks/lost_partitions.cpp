#include "disks/lost_partitions.h"

#include <algorithm>
#include <array>
#include <set>

#include "fat/fat_boot_sector.h"
#include "ntfs/ntfs_boot_sector.h"

namespace quorlan {

namespace {

constexpr std::uint32_t kNormalHeads = 255;
constexpr std::uint32_t kNormalSectorsPerTrack = 63;
// Geometries of found volumes probed at most, beside the disk's own: a disk holds one or two.
constexpr std::size_t kMaxOtherGeometries = 8;

// A geometry: heads x sectors per track; a cylinder is heads x sectors per track sectors.
struct Geometry {
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
    [[nodiscard]] std::uint64_t cylinder() const { return std::uint64_t{heads} * sectorsPerTrack; }
    auto operator<=>(const Geometry&) const = default;
};

// The places offset, offset + step, offset + 2 x step, ...
struct Places {
    std::uint64_t offset = 0;
    std::uint64_t step = 1;
    bool boundary = false;  // a partition may end right before each place (NTFS backups)
    [[nodiscard]] bool holds(std::uint64_t sector) const { return sector >= offset && (sector - offset) % step == 0; }
    // The first place at or after sector.
    [[nodiscard]] std::uint64_t firstFrom(std::uint64_t sector) const {
        if (sector <= offset) return offset;
        return offset + (sector - offset + step - 1) / step * step;
    }
};

// Walks, in ascending order and once each, the places of several series inside [from, to),
// leaving out those of series already walked.
class PlaceWalk {
public:
    PlaceWalk(std::vector<Places> series, const std::vector<Places>& done, std::uint64_t from, std::uint64_t to)
        : m_series(std::move(series)), m_done(done), m_to(to) {
        for (const Places& p : m_series) m_next.push_back(p.firstFrom(from));
    }
    // Leaves out the places before sector.
    void skipTo(std::uint64_t sector) {
        for (std::size_t i = 0; i < m_series.size(); ++i) {
            if (m_next[i] < sector) m_next[i] = std::min(m_series[i].firstFrom(sector), m_to);
        }
    }
    // The next place, and whether some series marks it as a boundary; false at the end.
    bool next(std::uint64_t& sector, bool& boundary) {
        for (;;) {
            std::uint64_t lowest = m_to;
            for (const std::uint64_t n : m_next) lowest = std::min(lowest, n);
            if (lowest >= m_to) return false;
            boundary = false;
            for (std::size_t i = 0; i < m_series.size(); ++i) {
                if (m_next[i] != lowest) continue;
                boundary = boundary || m_series[i].boundary;
                m_next[i] = lowest + m_series[i].step < lowest ? m_to : lowest + m_series[i].step;
            }
            const bool walked =
                std::any_of(m_done.begin(), m_done.end(), [&](const Places& p) { return p.holds(lowest); });
            if (walked) continue;
            sector = lowest;
            return true;
        }
    }

private:
    std::vector<Places> m_series;
    const std::vector<Places>& m_done;
    std::uint64_t m_to;
    std::vector<std::uint64_t> m_next;
};

using SectorBuffer = std::array<std::byte, kSectorSize>;

class LostPartitionSearch {
public:
    LostPartitionSearch(SectorReader& reader, const DiskPartitionList& listed, const LostPartitionRequest& request,
                        const RunContext& context)
        : m_reader(reader), m_listed(listed), m_context(context), m_total(reader.totalSectors()) {
        m_result.rangeStart = request.rangeStart;
        m_result.rangeEnd = request.rangeEnd == 0 || request.rangeEnd > m_total ? m_total : request.rangeEnd;
        // Geometries other than 63 sectors per track are searched as 255 x 63.
        m_base = request.sectorsPerTrack == kNormalSectorsPerTrack && request.heads >= 1 && request.heads <= 255
                     ? Geometry{request.heads, kNormalSectorsPerTrack}
                     : Geometry{kNormalHeads, kNormalSectorsPerTrack};
        const std::uint64_t length =
            m_result.rangeEnd > m_result.rangeStart ? m_result.rangeEnd - m_result.rangeStart : 0;
        m_budget = std::max(kMinSearchReads, length / kSearchReadFraction);
    }

    LostPartitionResult run() {
        SearchObserver& observer = m_context.observer;
        observer.status("Searching Partition...");
        observer.counter(Counter::PartitionsFound, 0);
        if (m_result.rangeStart >= m_result.rangeEnd) return finish();
        if (static_cast<int>(m_listed.partitions.size()) >= kMaxPartitions) {
            m_result.limitReached = true;
            return finish();
        }
        m_geometries.insert(m_base);

        // The disk's own cylinders and the 1 MiB boundaries; they always run.
        walk({{0, m_base.cylinder(), true},
              {m_base.sectorsPerTrack, m_base.cylinder(), false},
              {0, kAlignmentSectors, true}},
             true);
        // The last sector of the range, where the last volume of a disk keeps an NTFS backup.
        if (!ended()) probeEnd(m_result.rangeEnd - 1);

        // Geometries that found volumes were formatted with, while the reads allow.
        while (!ended() && !m_pending.empty()) {
            const Geometry g = m_pending.front();
            m_pending.erase(m_pending.begin());
            walk({{0, g.cylinder(), true}, {g.sectorsPerTrack, g.cylinder(), false}}, false);
        }
        return finish();
    }

private:
    [[nodiscard]] bool ended() const { return m_result.stopped || m_result.limitReached; }

    // Probes the places of some series in ascending order, as one phase of progress. The
    // places of a geometry found on the disk are probed only outside the volumes known, and
    // only when they fit in what is left of the budget (backups then take what remains); the
    // disk's own places always are.
    void walk(std::vector<Places> series, bool always) {
        // Counting stops once the places outnumber the reads left: such a geometry is not probed.
        const std::uint64_t left = m_budget > m_result.sectorsRead ? m_budget - m_result.sectorsRead : 0;
        std::uint64_t count = 0;
        {
            PlaceWalk counting(series, m_walked, m_result.rangeStart, m_result.rangeEnd);
            std::uint64_t sector = 0;
            bool boundary = false;
            while (counting.next(sector, boundary)) {
                if (!always) {
                    if (const auto end = knownEnd(sector)) {
                        counting.skipTo(*end);
                        continue;
                    }
                    if (count == left) return;
                }
                ++count;
            }
        }
        m_reserved = count;
        m_context.observer.beginPhase("Completed ", count);
        PlaceWalk places(series, m_walked, m_result.rangeStart, m_result.rangeEnd);
        std::uint64_t sector = 0;
        bool boundary = false;
        std::uint64_t done = 0;
        while (!ended() && done < count && places.next(sector, boundary)) {
            if (!always) {
                if (const auto end = knownEnd(sector)) {
                    places.skipTo(*end);
                    continue;
                }
            }
            if (m_context.stopRequested()) {
                m_result.stopped = true;
                break;
            }
            if (boundary && sector > m_result.rangeStart) probeEnd(sector - 1);
            probeStart(sector);
            m_reserved = count - ++done;
            m_context.observer.setDone(done);
        }
        if (!m_result.stopped) m_context.observer.setDone(count);  // places skipped inside volumes found on the way
        m_reserved = 0;
        for (const Places& p : series) m_walked.push_back(p);
    }

    // Reads beyond the places themselves (backups, chains) while the budget leaves room for the
    // places still to probe.
    [[nodiscard]] bool canAfford(std::uint64_t reads) const {
        return m_result.sectorsRead + m_reserved + reads <= m_budget;
    }

    void read(std::uint64_t sector, SectorBuffer& buffer) {
        buffer.fill(std::byte{0});
        if (sector >= m_total) return;
        (void)m_reader.ReadSectors(sector, 1, buffer);
        ++m_result.sectorsRead;
    }

    // A place where a volume may begin.
    void probeStart(std::uint64_t at) {
        SectorBuffer sector;
        read(at, sector);
        if (m_reserved > 0) --m_reserved;  // this read was reserved
        const ByteView view(sector);
        if (const auto boot = RecogniseBootSector(view)) {
            add(boot->type, at, at + boot->sectors, PartitionSource::BootSector, at);
            noteGeometry(*boot);
            return;
        }
        // Sector 0 is the partition table's, which the table reader has read.
        if (at != 0 && LooksLikeExtendedRecord(view, at, m_total)) {
            if (m_visitedRecords.count(at) != 0 || !canAfford(1)) return;
            const ExtendedChain chain = FollowExtendedChain(m_reader, at, m_total, m_visitedRecords);
            m_result.sectorsRead += chain.sectorsRead;
            for (const PartitionEntry& p : chain.partitions) {
                add(p.type, p.start, p.end, PartitionSource::ExtendedRecord, p.evidence, p.tableType);
            }
            return;
        }
        // A FAT32 volume whose first boot sector is damaged: its copy lies 6 sectors on, and
        // says so in its parameter block.
        if (known(at) || !canAfford(1)) return;
        const std::uint64_t copyAt = at + kFat32BackupBootSector;
        read(copyAt, sector);
        const auto copy = RecogniseBootSector(view);
        if (copy && copy->type == FileSystemType::Fat32 && view.u16le(kBpbBackupBootSector) == kFat32BackupBootSector) {
            add(FileSystemType::Fat32, at, at + copy->sectors, PartitionSource::BackupBootSector, copyAt);
            noteGeometry(*copy);
        }
    }

    // A place where a volume may end: an NTFS volume keeps a copy of its boot sector in its last
    // sector, and the copy names the volume's length.
    void probeEnd(std::uint64_t at) {
        if (at < m_result.rangeStart || known(at) || !canAfford(2)) return;
        SectorBuffer sector;
        read(at, sector);
        const auto copy = RecogniseBootSector(ByteView(sector));
        if (!copy || copy->type != FileSystemType::Ntfs || copy->sectors - 1 > at) return;
        const std::uint64_t start = at - (copy->sectors - 1);
        // The first boot sector may be intact too, where no place fell on it.
        read(start, sector);
        const auto first = RecogniseBootSector(ByteView(sector));
        const bool intact = first && first->type == FileSystemType::Ntfs && first->sectors == copy->sectors;
        add(FileSystemType::Ntfs, start, at + 1,
            intact ? PartitionSource::BootSector : PartitionSource::BackupBootSector, intact ? start : at);
        noteGeometry(*copy);
    }

    // The end of the volumes listed or found that hold a sector; empty when none does.
    [[nodiscard]] std::optional<std::uint64_t> knownEnd(std::uint64_t sector) const {
        std::optional<std::uint64_t> end;
        for (const auto* list : {&m_listed.partitions, &m_result.found}) {
            for (const PartitionEntry& p : *list) {
                if (p.start <= sector && sector < p.end) end = std::max(end.value_or(0), p.end);
            }
        }
        return end;
    }
    [[nodiscard]] bool known(std::uint64_t sector) const { return knownEnd(sector).has_value(); }

    void add(FileSystemType type, std::uint64_t start, std::uint64_t end, PartitionSource source,
             std::uint64_t evidence, std::uint8_t tableType = 0) {
        if (start < m_result.rangeStart || start >= m_result.rangeEnd) return;
        auto same = [&](const PartitionEntry& p) { return p.start == start && p.end == end && p.type == type; };
        if (std::any_of(m_listed.partitions.begin(), m_listed.partitions.end(), same) ||
            std::any_of(m_result.found.begin(), m_result.found.end(), same)) {
            return;
        }
        if (m_listed.partitions.size() + m_result.found.size() >= static_cast<std::size_t>(kMaxPartitions)) {
            m_result.limitReached = true;
            return;
        }
        PartitionEntry p;
        p.type = type;
        p.start = start;
        p.end = end;
        p.tableType = tableType;
        p.source = source;
        p.evidence = evidence;
        m_result.found.push_back(p);
        m_context.observer.counter(Counter::PartitionsFound, m_result.found.size());
    }

    // A volume formatted with another geometry (its hidden sectors a whole number of its
    // tracks) lets the search probe that geometry's cylinders too.
    void noteGeometry(const RecognisedBootSector& boot) {
        if (boot.sectorsPerTrack < 1 || boot.sectorsPerTrack > 63 || boot.heads < 1 || boot.heads > 255) return;
        if (boot.hiddenSectors % boot.sectorsPerTrack != 0) return;
        const Geometry g{boot.heads, boot.sectorsPerTrack};
        if (m_geometries.size() > kMaxOtherGeometries || m_geometries.count(g) != 0) return;
        m_geometries.insert(g);
        m_pending.push_back(g);
    }

    LostPartitionResult finish() {
        std::stable_sort(m_result.found.begin(), m_result.found.end(),
                         [](const PartitionEntry& a, const PartitionEntry& b) { return a.start < b.start; });
        return std::move(m_result);
    }

    SectorReader& m_reader;
    const DiskPartitionList& m_listed;
    const RunContext& m_context;
    const std::uint64_t m_total;
    Geometry m_base;
    std::uint64_t m_budget = 0;
    std::uint64_t m_reserved = 0;  // places of the current walk not probed yet
    std::set<Geometry> m_geometries;
    std::vector<Geometry> m_pending;
    std::vector<Places> m_walked;
    std::set<std::uint64_t> m_visitedRecords;
    LostPartitionResult m_result;
};

}  // namespace

std::optional<RecognisedBootSector> RecogniseBootSector(ByteView sector) {
    RecognisedBootSector boot;
    // ClassifyFatBootSector tests "FAT32" before "FAT16"; NTFS comes last. The search looks for
    // the volumes of partitioned media: a FAT12 floppy is no partition of a disk.
    if (const auto fat = ClassifyFatBootSector(sector); fat && *fat != FileSystemType::Fat12) {
        boot.type = *fat;
        boot.sectors = sector.u32le(kBpbTotalSectors32).value_or(0);
        if (boot.sectors == 0) boot.sectors = sector.u16le(kBpbTotalSectors16).value_or(0);
        boot.sectorsPerTrack = sector.u16le(kBpbSectorsPerTrack).value_or(0);
        boot.heads = sector.u16le(kBpbHeads).value_or(0);
        boot.hiddenSectors = sector.u32le(kBpbHiddenSectors).value_or(0);
    } else if (IsNtfsBootSector(sector)) {
        boot.type = FileSystemType::Ntfs;
        // The count leaves out the backup boot sector, which lies in the partition's last sector.
        const std::uint64_t count = sector.u64le(kNtfsTotalSectors).value_or(0);
        boot.sectors = count == 0 ? 0 : checkedAdd(count, 1).value_or(0);
        boot.sectorsPerTrack = sector.u16le(kNtfsSectorsPerTrack).value_or(0);
        boot.heads = sector.u16le(kNtfsHeads).value_or(0);
        boot.hiddenSectors = sector.u32le(kNtfsHiddenSectors).value_or(0);
    } else {
        return std::nullopt;
    }
    // A volume's end must be representable: no partition of 2^63 sectors or more.
    if (boot.sectors == 0 || boot.sectors >= (std::uint64_t{1} << 63)) return std::nullopt;
    return boot;
}

LostPartitionResult SearchLostPartitions(SectorReader& reader, const DiskPartitionList& listed,
                                         const LostPartitionRequest& request, const RunContext& context) {
    return LostPartitionSearch(reader, listed, request, context).run();
}

std::size_t AddFoundPartitions(DiskPartitionList& list, const std::vector<PartitionEntry>& found) {
    std::size_t added = 0;
    for (const PartitionEntry& f : found) {
        const bool held = std::any_of(list.partitions.begin(), list.partitions.end(), [&](const PartitionEntry& p) {
            return p.start == f.start && p.end == f.end && p.type == f.type;
        });
        if (held) continue;
        if (list.partitions.size() >= static_cast<std::size_t>(kMaxPartitions)) {
            list.limitReached = true;
            break;
        }
        list.partitions.push_back(f);
        list.partitionFound = true;
        ++added;
    }
    return added;
}

}  // namespace quorlan

#include "fat/fat_advance.h"

#include <algorithm>
#include <array>
#include <bit>
#include <compare>
#include <unordered_map>

#include "core/sector_scan.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_dir.h"
#include "items/result_tree.h"

namespace quorlan {

namespace {

// The boot-sector test reads the last two characters of the type texts.
constexpr std::size_t kFat32TypeDigits = kFat32TypeText + 3;  // "32" of "FAT32" at 0x52
constexpr std::size_t kFat16TypeDigits = kFat16TypeText + 3;  // "16" of "FAT16" at 0x36

// A directory entry's cluster as the scan reads it: the low word at 0x1A and the high word at
// 0x14, on FAT16 too.
std::uint64_t scanCluster(ByteView entry) { return EntryCluster(entry, true); }

}  // namespace

FatScanDetector::FatScanDetector(RecordTable& bootSectors, RecordTable& directories,
                                 std::vector<FatStartSector>& fatStarts, ScanCounters& counters)
    : m_boot(bootSectors), m_dirs(directories), m_fatStarts(fatStarts), m_counters(counters) {}

std::vector<LeadingBytes> FatScanDetector::leadingBytes() const {
    return {{'.', ' '}, {0xF8, 0xFF}};
}

void FatScanDetector::examine(const ScannedSector& scanned) {
    const ByteView s = scanned.bytes.sub(0, kSectorSize);
    if (s.size() < kSectorSize) return;
    // The whole sector lies in the view: the reads below are within it.
    if (s.u8_unchecked(kBootSignature) == 0x55 && s.u8_unchecked(kBootSignature + 1) == 0xAA) {
        if (s.matches(kFat32TypeDigits, "32")) {
            AddFatBootSectorRow(m_boot, scanned.number, s, true);
            m_counters.add(Counter::BootSectorsFound);
        } else if (s.matches(kFat16TypeDigits, "16")) {
            AddFatBootSectorRow(m_boot, scanned.number, s, false);
            m_counters.add(Counter::BootSectorsFound);
        }
    }
    if (IsDirectoryStart(s)) {
        const int r = m_dirs.AppendRow(std::to_string(scanned.number));
        m_dirs.SetNumber(r, "Self Cluster", scanCluster(s));
        m_dirs.SetNumber(r, "Parent Cluster", scanCluster(s.sub(kDotDotEntry, kDirEntrySize)));
        m_dirs.SetCell(r, "File System", "0");
        m_dirs.SetNumber(r, "Date", s.u16le_unchecked(kDirDate));
        m_dirs.SetNumber(r, "Time", s.u16le_unchecked(kDirTime));
        m_counters.add(Counter::FoldersFound);
    } else if (s.u8_unchecked(0) == 0xF8 && s.u8_unchecked(1) == 0xFF && s.u8_unchecked(2) == 0xFF &&
               m_fatStarts.size() < kMaxFatStarts) {
        m_fatStarts.push_back({scanned.number, s.u8_unchecked(3)});
    }
}

void AddFatBootSectorRow(RecordTable& table, std::uint64_t B, ByteView s, bool fat32) {
    const std::uint64_t spc = s.u8(kBpbSectorsPerCluster).value_or(0);
    const std::uint64_t reserved = s.u16le(kBpbReservedSectors).value_or(0);
    std::uint64_t total = s.u32le(kBpbTotalSectors32).value_or(0);
    const int r = table.AppendRow(std::to_string(B));
    table.SetNumber(r, "SPC", spc);
    table.SetNumber(r, "Reserve Sectors", reserved);
    table.SetNumber(r, "firstFAT", B + reserved);
    if (fat32) {
        const std::uint64_t spf = s.u32le(kBpbSectorsPerFat32).value_or(0);
        table.SetNumber(r, "SPF", spf);
        table.SetCell(r, "Root Sectors", "0");
        table.SetNumber(r, "Root Start", s.u32le(kBpbRootCluster).value_or(0));
        // Kept modulo 2^64, as the volume record keeps it, where the values make it fall before
        // sector 0 (no directory then fits it).
        table.SetNumber(r, "Cluster0Start", B + reserved + 2 * spf - 2 * spc);
        table.SetNumber(r, "secondFAT", B + reserved + spf);
    } else {
        const std::uint64_t spf = s.u16le(kBpbSectorsPerFat16).value_or(0);
        const std::uint64_t rootSectors = s.u16le(kBpbRootEntries).value_or(0) / 16;
        table.SetNumber(r, "SPF", spf);
        table.SetNumber(r, "Root Sectors", rootSectors);
        table.SetNumber(r, "Root Start", B + reserved + 2 * spf);
        table.SetNumber(r, "Cluster0Start", B + reserved + rootSectors + 2 * spf - 2 * spc);
        table.SetNumber(r, "secondFAT", B + reserved + spf);
        // A small FAT16 volume keeps its size in the 16-bit count and 0 in the 32-bit one.
        if (total == 0) total = s.u16le(kBpbTotalSectors16).value_or(0);
    }
    table.SetNumber(r, "TotalSectors", B + total);
    table.SetCell(r, "PartType", fat32 ? "FAT32" : "FAT16");
}

namespace {

constexpr std::array<std::uint64_t, 8> kClusterSizes = {1, 2, 4, 8, 16, 32, 64, 128};

bool validClusterSize(std::uint64_t spc) { return spc >= 1 && spc <= 128 && std::has_single_bit(spc); }

// A directory row of the scan, as numbers.
struct Dir {
    std::uint64_t sector = 0;
    std::uint64_t self = 0;
    std::int64_t fs = 0;  // 0: not assigned yet; -1: fits no file system; n: file system n
};

// The directories grouped, for each cluster size, by the sector where cluster 0 would lie if the
// directory belonged to a volume of that cluster size (its sector - its cluster x the size, when
// that is above sector 0): the directories of one volume share one group of its cluster size.
// Within a group the rows follow in table order, which is disk order, so their cluster numbers
// rise along it too.
class DirGroups {
public:
    explicit DirGroups(const std::vector<Dir>& dirs) : m_slot(dirs.size()) {
        for (std::size_t k = 0; k < kClusterSizes.size(); ++k) {
            std::vector<Entry>& entries = m_entries[k];
            for (std::size_t i = 0; i < dirs.size(); ++i) {
                if (const auto key = cluster0(dirs[i], kClusterSizes[k])) {
                    entries.push_back({*key, static_cast<std::uint32_t>(i)});
                }
            }
            std::sort(entries.begin(), entries.end());
            m_next[k].resize(entries.size() + 1);
            for (std::uint32_t j = 0; j <= entries.size(); ++j) m_next[k][j] = j;
            for (std::uint32_t j = 0; j < entries.size(); ++j) m_slot[entries[j].row][k] = j;
        }
    }

    // The sector of cluster 0 for a directory of a volume of this cluster size; empty when its
    // cluster would lie at or before sector 0.
    static std::optional<std::uint64_t> cluster0(const Dir& d, std::uint64_t spc) {
        const auto offset = checkedMul(d.self, spc);
        if (!offset || *offset >= d.sector) return std::nullopt;
        return d.sector - *offset;
    }

    // The rows of the group (spc, c0), in table order.
    [[nodiscard]] std::vector<std::uint32_t> rows(std::uint64_t spc, std::uint64_t c0) const {
        const std::vector<Entry>& entries = m_entries[index(spc)];
        std::vector<std::uint32_t> out;
        for (auto it = std::lower_bound(entries.begin(), entries.end(), Entry{c0, 0});
             it != entries.end() && it->key == c0; ++it) {
            out.push_back(it->row);
        }
        return out;
    }

    // The first row after row i in i's group of this cluster size that has not been retired.
    [[nodiscard]] std::optional<std::uint32_t> nextCandidate(std::uint32_t i, std::uint64_t spc) {
        const std::size_t k = index(spc);
        const std::uint32_t at = m_slot[i][k];
        if (at == kNone) return std::nullopt;
        const std::vector<Entry>& entries = m_entries[k];
        const std::uint32_t j = find(m_next[k], at + 1);
        // Retired rows are skipped across group boundaries: a row of another group means none.
        if (j >= entries.size() || entries[j].key != entries[at].key) return std::nullopt;
        return entries[j].row;
    }

    // Row i is no candidate any more (it was assigned, or found no partner).
    void retire(std::uint32_t i) {
        for (std::size_t k = 0; k < kClusterSizes.size(); ++k) {
            if (const std::uint32_t at = m_slot[i][k]; at != kNone) m_next[k][at] = at + 1;
        }
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    struct Entry {
        std::uint64_t key;
        std::uint32_t row;
        auto operator<=>(const Entry&) const = default;
    };
    static std::size_t index(std::uint64_t spc) { return static_cast<std::size_t>(std::countr_zero(spc)); }
    // next[j] is j while entry j is a candidate, else a later entry: a union-find with path
    // halving over the retired entries; next[size] is the end.
    static std::uint32_t find(std::vector<std::uint32_t>& next, std::uint32_t j) {
        while (next[j] != j) {
            next[j] = next[next[j]];
            j = next[j];
        }
        return j;
    }

    std::array<std::vector<Entry>, kClusterSizes.size()> m_entries;
    std::array<std::vector<std::uint32_t>, kClusterSizes.size()> m_next;
    struct Slots : std::array<std::uint32_t, kClusterSizes.size()> {
        Slots() { fill(kNone); }
    };
    std::vector<Slots> m_slot;
};

}  // namespace

std::optional<FatCopies> FindFatCopies(std::span<const FatStartSector> starts, std::uint64_t cluster0,
                                       std::uint64_t spc, std::optional<FileSystemType> type) {
    const auto dataStart = checkedAdd(cluster0, 2 * spc);
    if (!dataStart || *dataStart > (std::uint64_t{1} << 62)) return std::nullopt;
    const std::uint64_t D = *dataStart;
    const auto below = [](const FatStartSector& f, std::uint64_t sector) { return f.sector < sector; };
    const auto end = std::lower_bound(starts.begin(), starts.end(), D, below);
    for (auto second = end; second != starts.begin();) {
        --second;
        const bool fat32 = second->byte3 == 0x0F;
        if (type && *type != (fat32 ? FileSystemType::Fat32 : FileSystemType::Fat16)) continue;
        // The first copy lies SPF before the second, and the data area SPF after it (plus the
        // FAT16 root region R): firstFAT = 2 x secondFAT - D + R.
        const std::uint64_t f2 = second->sector;
        if (f2 == 0) continue;
        const std::uint64_t twice = 2 * f2;
        const std::uint64_t lowR = fat32 ? 0 : 1;
        const std::uint64_t highR = fat32 ? 0 : 4096;
        if (twice + highR < D) continue;
        const std::uint64_t lo = twice + lowR > D ? twice + lowR - D : 0;
        const std::uint64_t hi = std::min(twice + highR - D, f2 - 1);
        if (lo > hi) continue;
        // The nearest fitting first copy below the second.
        auto first = std::upper_bound(starts.begin(), second, hi,
                                      [](std::uint64_t sector, const FatStartSector& f) { return sector < f.sector; });
        while (first != starts.begin()) {
            --first;
            if (first->sector < lo) break;
            if (first->byte3 != second->byte3) continue;
            FatCopies copies;
            copies.firstFAT = first->sector;
            copies.secondFAT = f2;
            copies.SPF = f2 - first->sector;
            copies.rootSectors = D - (twice - first->sector);
            copies.type = fat32 ? FileSystemType::Fat32 : FileSystemType::Fat16;
            return copies;
        }
    }
    return std::nullopt;
}

namespace {

bool isFatStart(std::span<const FatStartSector> starts, std::uint64_t sector) {
    const auto it = std::lower_bound(starts.begin(), starts.end(), sector,
                                     [](const FatStartSector& f, std::uint64_t x) { return f.sector < x; });
    return it != starts.end() && it->sector == sector;
}

}  // namespace

FatAnalysisResult AnalyzeFatScan(const RecordTable& boot, RecordTable& directories,
                                 std::span<const FatStartSector> fatStarts, std::optional<FileSystemType> chosenType,
                                 RecordTable& fileSystems, SearchObserver& observer) {
    FatAnalysisResult result;
    const int sectorColumn = directories.RequireColumn("Sector");
    const int selfColumn = directories.RequireColumn("Self Cluster");
    const int fsColumn = directories.RequireColumn("File System");
    std::vector<Dir> dirs(static_cast<std::size_t>(directories.RowCount()));
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const int r = static_cast<int>(i);
        dirs[i] = {directories.GetU64(r, sectorColumn), directories.GetU64(r, selfColumn), 0};
    }
    DirGroups groups(dirs);
    std::int64_t number = fileSystems.RowCount();

    observer.status("Analyzing The Data For File Systems Phase 1 \\ 2   ...");
    observer.beginPhase("Completed ", dirs.size());
    std::uint64_t steps = 0;
    const auto assign = [&](std::uint32_t row, std::int64_t fs) {
        dirs[row].fs = fs;
        groups.retire(row);
        if (++steps % 1024 == 0) observer.setDone(std::min<std::uint64_t>(steps, dirs.size()));
    };

    // Phase 1: the volumes of the boot sectors found.
    for (int b = 0; b < boot.RowCount(); ++b) {
        const std::uint64_t spc = boot.GetU64(b, "SPC");
        if (!validClusterSize(spc)) continue;  // no volume steps by such clusters
        const std::uint64_t c0 = boot.GetU64(b, "Cluster0Start");
        const std::uint64_t last = boot.GetU64(b, "TotalSectors");
        bool added = false;
        const auto add = [&] {
            added = true;
            ++number;
            ++result.fileSystems;
            const int r = fileSystems.AppendRow(boot.GetCell(b, 0));
            for (int c = 1; c < boot.ColumnCount(); ++c) fileSystems.SetCell(r, c, boot.GetCell(b, c));
        };
        for (const std::uint32_t row : groups.rows(spc, c0)) {
            if (dirs[row].fs != 0 || dirs[row].sector > last) continue;
            if (!added) add();
            assign(row, number);
        }
        // A volume that holds no folder (its files all in the root) is still one when both its
        // FATs begin where its boot sector puts them.
        if (!added && isFatStart(fatStarts, boot.GetU64(b, "firstFAT")) &&
            isFatStart(fatStarts, boot.GetU64(b, "secondFAT"))) {
            add();
        }
    }
    result.stage = 1;

    // Phase 2: volumes without a boot sector, from pairs of directories.
    observer.status("Analyzing The Data For File Systems Phase 2 \\ 2   ...");
    for (std::uint32_t a = 0; a < dirs.size(); ++a) {
        if (dirs[a].fs != 0) continue;
        std::optional<std::uint32_t> partner;
        std::uint64_t spc = 0;
        for (const std::uint64_t size : kClusterSizes) {
            const auto b = groups.nextCandidate(a, size);
            if (!b) continue;
            const Dir& l = dirs[a];
            const Dir& h = dirs[*b];
            // Later in its volume: higher on the disk and at a higher cluster; and, as every pair
            // must, a cluster number below both sectors. Within a group the clusters rise, so
            // when the first candidate fails these, every later one does.
            if (!(h.sector > l.sector && h.self > l.self && h.self < h.sector && h.self < l.sector)) continue;
            if (!partner || *b < *partner) {
                partner = *b;
                spc = size;
            }
        }
        if (!partner) {
            assign(a, -1);
            continue;
        }
        const std::uint64_t c0 = *DirGroups::cluster0(dirs[a], spc);
        ++number;
        ++result.fileSystems;
        std::uint64_t largest = dirs[*partner].self;
        assign(a, number);
        assign(*partner, number);
        // Every directory of that volume joins it, also one that found no partner before it.
        for (const std::uint32_t row : groups.rows(spc, c0)) {
            if (dirs[row].fs != 0 && dirs[row].fs != -1) continue;
            largest = std::max(largest, dirs[row].self);
            assign(row, number);
        }
        FileSystemType type = FileSystemType::Fat32;
        if (chosenType) {
            type = *chosenType == FileSystemType::Fat32 || largest > 0x10000 ? FileSystemType::Fat32
                                                                              : FileSystemType::Fat16;
        } else if (const auto copies = FindFatCopies(fatStarts, c0, spc, std::nullopt)) {
            type = copies->type;
        }
        const int r = fileSystems.AppendRow("0");
        fileSystems.SetNumber(r, "SPC", spc);
        fileSystems.SetNumber(r, "Cluster0Start", c0);
        fileSystems.SetCell(r, "PartType", FileSystemTypeText(type));
    }
    result.stage = 2;
    observer.setDone(dirs.size());

    for (std::size_t i = 0; i < dirs.size(); ++i) {
        directories.SetSignedNumber(static_cast<int>(i), fsColumn, dirs[i].fs);
    }
    return result;
}

namespace {

// The first FAT starts (at most wanted) in from <= sector < to: those the pass kept where it
// scanned, and from the disk where it did not.
std::vector<std::uint64_t> fatStartsIn(std::uint64_t from, std::uint64_t to, const FatScanCoverage& scan,
                                       SectorReader& reader, std::size_t wanted) {
    std::vector<std::uint64_t> found;
    constexpr std::uint32_t kRead = 2048;
    std::vector<std::byte> buffer;
    for (std::uint64_t s = from; s < to && found.size() < wanted;) {
        if (s >= scan.from && s < scan.to) {
            // Scanned: the starts the pass kept.
            const std::uint64_t until = std::min(to, scan.to);
            for (auto it = std::lower_bound(scan.fatStarts.begin(), scan.fatStarts.end(), s,
                                            [](const FatStartSector& f, std::uint64_t x) { return f.sector < x; });
                 it != scan.fatStarts.end() && it->sector < until && found.size() < wanted; ++it) {
                found.push_back(it->sector);
            }
            s = until;
            continue;
        }
        const std::uint64_t until = std::min(to, s < scan.from ? scan.from : to);
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kRead, until - s));
        buffer.resize(static_cast<std::size_t>(count) * kSectorSize);
        (void)ReadSectorRange(reader, s, count, buffer);
        for (std::uint32_t i = 0; i < count && found.size() < wanted; ++i) {
            const std::byte* b = buffer.data() + static_cast<std::size_t>(i) * kSectorSize;
            if (b[0] == kMediaFixedDisk && b[1] == std::byte{0xFF} && b[2] == std::byte{0xFF}) found.push_back(s + i);
        }
        s += count;
    }
    return found;
}

}  // namespace

FatVolumeParams BuildFatAdvanceEntries(std::size_t number, RecordTable& fileSystems, const RecordTable& directories,
                                       const FatScanCoverage& scan, SectorReader& reader, RecordTable& entryTable,
                                       SearchObserver& observer) {
    const int row = static_cast<int>(number) - 1;
    const FileSystemType type = FileSystemTypeFromText(fileSystems.GetCell(row, "PartType"));
    const bool fat32 = type == FileSystemType::Fat32;
    const std::uint64_t rootCluster = fat32 && fileSystems.GetU64(row, "Root Start") != 0
                                          ? fileSystems.GetU64(row, "Root Start")
                                          : 2;

    AddMiscFolderRow(entryTable, 0);
    const std::string wanted = std::to_string(number);
    std::uint64_t count = 0;
    for (int r = 0; r < directories.RowCount(); ++r) {
        if (directories.GetCell(r, "File System") != wanted) continue;
        std::uint64_t parent = directories.GetU64(r, "Parent Cluster");
        // Some writers name the FAT32 root's cluster in ".." instead of 0: still the root.
        if (fat32 && parent == rootCluster) parent = 0;
        const int e = entryTable.AppendRow("DIR" + std::to_string(count++));
        entryTable.SetCell(e, "sector", directories.GetCell(r, "Sector"));
        entryTable.SetCell(e, "self", directories.GetCell(r, "Self Cluster"));
        entryTable.SetNumber(e, "parent", parent);
        entryTable.SetCell(e, "attr", "16");
        entryTable.SetCell(e, "date", directories.GetCell(r, "Date"));
        entryTable.SetCell(e, "time", directories.GetCell(r, "Time"));
        entryTable.SetCell(e, "Type", "FOLDER");
        entryTable.SetCell(e, "size", "0");
    }

    const std::uint64_t c0 = fileSystems.GetU64(row, "Cluster0Start");
    const std::uint64_t spc = fileSystems.GetU64(row, "SPC");
    if (fileSystems.GetU64(row, "firstFAT") == 0) {
        observer.beginPhase("Completed ", 1);
        std::optional<FatCopies> copies = FindFatCopies(scan.fatStarts, c0, spc, type);
        if (copies) {
            if (!fat32) fileSystems.SetNumber(row, "Root Sectors", copies->rootSectors);
        } else {
            // The first two FAT starts in a fixed window before cluster 0.
            const std::uint64_t window = fat32 ? 30000 : 550;
            std::uint64_t from = c0 > window ? c0 - window : 63;
            if (from == 0) from = 63;
            const auto found = fatStartsIn(from, c0, scan, reader, 2);
            if (found.size() == 2) copies = FatCopies{found[0], found[1], found[1] - found[0], 0, type};
        }
        if (copies) {
            fileSystems.SetNumber(row, "firstFAT", copies->firstFAT);
            fileSystems.SetNumber(row, "secondFAT", copies->secondFAT);
            fileSystems.SetNumber(row, "SPF", copies->SPF);
            fileSystems.SetNumber(row, "Root Start", fat32 ? 2 : copies->secondFAT + copies->SPF);
        }
        observer.setDone(1);
    }

    FatVolumeParams p;
    p.PartType = type;
    p.firstFAT = fileSystems.GetU64(row, "firstFAT");
    p.secondFAT = fileSystems.GetU64(row, "secondFAT");
    p.ReserveSectors = fileSystems.GetU64(row, "Reserve Sectors");
    p.RootSectors = fileSystems.GetU64(row, "Root Sectors");
    if (!fat32 && p.RootSectors == 0) p.RootSectors = 32;  // 512 entries
    p.RootStart = fileSystems.GetU64(row, "Root Start");
    if (p.RootStart == 0) {
        // FAT32: the root's usual first cluster. FAT16: the root region ends where cluster 2 begins.
        p.RootStart = fat32 ? 2 : c0 + 2 * spc - p.RootSectors;
    }
    p.SPC = spc;
    p.SPF = fileSystems.GetU64(row, "SPF");
    p.Cluster0Start = c0;
    return p;
}

}  // namespace quorlan

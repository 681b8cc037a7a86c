#include "disks/partition_table.h"

#include <array>
#include <set>

#include "fat/fat_boot_sector.h"
#include "ntfs/ntfs_boot_sector.h"

namespace quorlan {

namespace {

// A partition-table entry: four 16-byte entries from byte 0x1BE of a master or extended record.
constexpr std::size_t kTableOffset = 0x1BE;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryType = 0x04;         // u8 type code, 0 = empty
constexpr std::size_t kEntryFirstSector = 0x08;  // u32, relative to the record's base
constexpr std::size_t kEntrySectorCount = 0x0C;  // u32
constexpr std::size_t kRecordSignature = 510;    // 0x55 0xAA

struct TableEntry {
    std::uint8_t type;
    std::uint32_t first;
    std::uint32_t count;
};

TableEntry entryAt(ByteView sector, int index) {
    const std::size_t base = kTableOffset + static_cast<std::size_t>(index) * kEntrySize;
    // The table lies wholly inside a 512-byte sector (0x1BE + 4 x 16 = 0x1FE).
    return {sector.u8_unchecked(base + kEntryType), sector.u32le_unchecked(base + kEntryFirstSector),
            sector.u32le_unchecked(base + kEntrySectorCount)};
}

bool isSigned(ByteView sector) {
    // Either byte of the signature counts: a record damaged in one byte is still read.
    return sector.u8_unchecked(kRecordSignature) == 0x55 || sector.u8_unchecked(kRecordSignature + 1) == 0xAA;
}

// Reads one sector into a zeroed buffer, so that an unreadable sector is judged as empty and
// never as the sector read before it. A sector beyond the disk is not read; it reads as zeros.
bool readZeroed(SectorReader& reader, std::uint64_t sector, std::uint64_t totalSectors,
                std::array<std::byte, kSectorSize>& buffer) {
    buffer.fill(std::byte{0});
    if (sector >= totalSectors) return false;
    (void)reader.ReadSectors(sector, 1, buffer);
    return true;
}

class TableReader {
public:
    TableReader(SectorReader& reader, std::uint64_t totalSectors, CorruptTableNotice* notice)
        : m_reader(reader), m_total(totalSectors), m_notice(notice) {}

    DiskPartitionList run() {
        if (!readZeroed(m_reader, 0, m_total, m_sector)) return m_list;
        const ByteView mbr(m_sector);
        if (!isSigned(mbr)) return m_list;
        m_list.tableSigned = true;

        // An unpartitioned stick: sector 0 is the volume's own boot sector, and the bytes where a
        // table would lie are boot code. The whole disk is one volume.
        if (const auto type = superfloppyType(mbr)) {
            m_list.superfloppy = true;
            list(*type, 0, m_total, 0, true);
            return m_list;
        }

        std::array<TableEntry, 4> entries{};
        for (int i = 0; i < 4; ++i) entries[static_cast<std::size_t>(i)] = entryAt(mbr, i);

        std::optional<std::uint64_t> extendedBase;
        for (const TableEntry& e : entries) {
            if (e.type == 0) continue;
            if (static_cast<std::int64_t>(m_total) - static_cast<std::int64_t>(e.first) <
                kSanityMinSectors) {
                m_list.corrupt = true;
                if (m_notice != nullptr) m_notice->raise();
                return m_list;
            }
            readZeroed(m_reader, e.first, m_total, m_sector);
            const std::uint8_t code = EffectiveTypeCode(e.type, ByteView(m_sector));
            if (const auto type = PartitionTypeLabel(code)) {
                list(*type, e.first, std::uint64_t{e.first} + e.count, e.type, true);
            } else if (IsExtendedType(code)) {
                extendedBase = e.first;  // a later extended entry replaces an earlier one
            }
        }
        if (extendedBase) {
            std::set<std::uint64_t> visited;
            const ExtendedChain chain = FollowExtendedChain(m_reader, *extendedBase, m_total, visited);
            m_list.chainEnd = chain.end;
            for (const PartitionEntry& p : chain.partitions) list(p.type, p.start, p.end, p.tableType, false);
        }
        return m_list;
    }

private:
    static std::optional<FileSystemType> superfloppyType(ByteView sector0) {
        if (const auto fat = ClassifyFatBootSector(sector0)) return *fat;
        if (IsNtfsBootSector(sector0)) return FileSystemType::Ntfs;
        return std::nullopt;
    }

    void list(FileSystemType type, std::uint64_t start, std::uint64_t end, std::uint8_t tableType,
              bool fromMbr) {
        if (static_cast<int>(m_list.partitions.size()) >= kMaxPartitions) {
            m_list.limitReached = true;
            return;
        }
        m_list.partitions.push_back({type, start, end, tableType, fromMbr});
        m_list.partitionFound = true;
    }

    SectorReader& m_reader;
    std::uint64_t m_total;
    CorruptTableNotice* m_notice;
    std::array<std::byte, kSectorSize> m_sector{};
    DiskPartitionList m_list;
};

std::string sizeMbText(std::uint64_t start, std::uint64_t end) {
    const std::uint64_t sectors = end > start ? end - start : 0;
    return std::to_string(sectors >> 11) + " MB";
}

}  // namespace

std::optional<FileSystemType> PartitionTypeLabel(std::uint8_t typeCode) {
    switch (typeCode) {
        case 0x07:
            return FileSystemType::Ntfs;
        case 0x01:
        case 0x04:
        case 0x06:
        case 0x0E:
            return FileSystemType::Fat16;
        case 0x0B:
        case 0x0C:
            return FileSystemType::Fat32;
        default:
            return std::nullopt;
    }
}

std::string PartitionTypeName(FileSystemType type) {
    if (type == FileSystemType::Unknown) return "Unknown Partition";
    return std::string(FileSystemTypeText(type));
}

bool IsExtendedType(std::uint8_t typeCode) { return typeCode == 0x05 || typeCode == 0x0F; }

std::uint8_t EffectiveTypeCode(std::uint8_t tableCode, ByteView firstSector) {
    if (firstSector.matches(kFat32TypeText, "FAT32")) return 0x0B;
    if (firstSector.matches(kFat16TypeText, "FAT16")) return 0x06;
    if (firstSector.matches(kNtfsOemId, "NTFS")) return 0x07;
    return tableCode;
}

ExtendedChain FollowExtendedChain(SectorReader& reader, std::uint64_t base, std::uint64_t totalSectors,
                                  std::set<std::uint64_t>& visited) {
    ExtendedChain chain;
    std::array<std::byte, kSectorSize> sector{};
    std::uint64_t link = 0;
    int records = 0;
    bool pending = true;
    while (pending) {
        pending = false;
        const std::uint64_t record = base + link;
        if (record >= totalSectors || record < base) {
            chain.end = ChainEnd::OutOfDisk;
            break;
        }
        if (!visited.insert(record).second) {
            chain.end = ChainEnd::Loop;
            break;
        }
        if (++records > kMaxExtendedRecords) {
            chain.end = ChainEnd::TooLong;
            break;
        }
        readZeroed(reader, record, totalSectors, sector);
        ++chain.sectorsRead;
        // All four entries count, as the operating systems read them: a record may list a second
        // partition, and its link, in entries 2 and 3. Partitions are relative to this record,
        // the link to the extended partition's first record.
        std::array<TableEntry, 4> entries{};
        for (int i = 0; i < 4; ++i) entries[static_cast<std::size_t>(i)] = entryAt(ByteView(sector), i);
        for (const TableEntry& e : entries) {
            if (e.type == 0) continue;
            if (IsExtendedType(e.type)) {
                link = e.first;  // a later link replaces an earlier one
                pending = true;
                continue;
            }
            const std::uint64_t start = record + e.first;
            std::array<std::byte, kSectorSize> first{};
            if (readZeroed(reader, start, totalSectors, first)) ++chain.sectorsRead;
            const std::uint8_t code = EffectiveTypeCode(e.type, ByteView(first));
            if (const auto type = PartitionTypeLabel(code)) {
                PartitionEntry p;
                p.type = *type;
                p.start = start;
                p.end = start + e.count;
                p.tableType = e.type;
                p.evidence = record;
                chain.partitions.push_back(p);
            }
        }
    }
    return chain;
}

bool LooksLikeExtendedRecord(ByteView sector, std::uint64_t at, std::uint64_t totalSectors) {
    if (sector.size() < kSectorSize) return false;
    if (sector.u8_unchecked(kRecordSignature) != 0x55 || sector.u8_unchecked(kRecordSignature + 1) != 0xAA) return false;
    bool partition = false;
    for (int i = 0; i < 4; ++i) {
        const TableEntry e = entryAt(sector, i);
        // The entry's boot flag: 0, or 0x80 for the partition the BIOS boots.
        const auto flag = sector.u8_unchecked(kTableOffset + static_cast<std::size_t>(i) * kEntrySize);
        if (e.type == 0) {
            if (e.first != 0 || e.count != 0) return false;
            continue;
        }
        if ((flag != 0x00 && flag != 0x80) || e.first == 0 || e.count == 0) return false;
        if (IsExtendedType(e.type)) continue;  // the link's base is not known here
        if (at + e.first + e.count > totalSectors) return false;
        if (PartitionTypeLabel(e.type)) partition = true;
    }
    return partition;
}

std::string PartitionSourceText(PartitionSource source) {
    switch (source) {
        case PartitionSource::BootSector:
            return "Boot Sector";
        case PartitionSource::BackupBootSector:
            return "Backup Boot Sector";
        case PartitionSource::ExtendedRecord:
            return "Extended Boot Record";
        case PartitionSource::Table:
            break;
    }
    return {};
}

DiskPartitionList ReadPartitionTable(SectorReader& reader, std::uint64_t totalSectors,
                                     CorruptTableNotice* notice) {
    return TableReader(reader, totalSectors, notice).run();
}

std::string PartitionNodeText(int number, FileSystemType type) {
    return "Partition - " + std::to_string(number) + " ( " + PartitionTypeName(type) + " )";
}

std::string DiskNodeText(std::size_t diskNumber) { return "Disk " + std::to_string(diskNumber); }

DetailRows PartitionDetailsRows(SearchMode mode, std::size_t diskNumber, std::size_t partitionIndex,
                                const PartitionEntry& partition) {
    const std::string number = std::to_string(partitionIndex + 1);
    const std::string size = sizeMbText(partition.start, partition.end);
    DetailRows rows;
    if (mode == SearchMode::Advance) {
        rows = {{"1.   Partition Number          :          ", number},
                {"2.   Search Mode               :          ", "Advance"},
                {"3.   Size                             :  ", size}};
    } else {
        rows = {{"1.   Disk Number                    :  ", std::to_string(diskNumber)},
                {"2.   Partition Number              :  ", number},
                {"3.   Partition Type                   :  ", PartitionTypeName(partition.type)},
                {"4.   Search Mode                   :  ", "Standard"},
                {"5.   Start Sector                     :  ", std::to_string(partition.start)},
                {"6.   End Sector                      :  ", std::to_string(partition.end)},
                {"7.   Size                                 :  ", size}};
    }
    if (partition.source != PartitionSource::Table) {
        const std::string label = mode == SearchMode::Advance ? "4.   Found By                   :          "
                                                              : "8.   Found By                         :  ";
        rows.emplace_back(label, PartitionSourceText(partition.source) + " (sector " +
                                     std::to_string(partition.evidence) + ")");
    }
    return rows;
}

DetailRows UnknownPartitionDetailsRows(SearchMode mode, std::size_t diskNumber,
                                       std::size_t partitionIndex, const std::string& diskSectorsText,
                                       const std::string& diskCapacityText) {
    PartitionEntry unknown{FileSystemType::Unknown, 0, 0, 0, false};
    DetailRows rows = PartitionDetailsRows(mode, diskNumber, partitionIndex, unknown);
    if (mode == SearchMode::Advance) {
        rows[2].second = diskCapacityText;
    } else {
        rows[4].second = "0";
        rows[5].second = diskSectorsText;
        rows[6].second = diskCapacityText;
    }
    return rows;
}

}  // namespace quorlan

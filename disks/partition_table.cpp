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

class TableReader {
public:
    TableReader(SectorReader& reader, std::uint64_t totalSectors, CorruptTableNotice* notice)
        : m_reader(reader), m_total(totalSectors), m_notice(notice) {}

    DiskPartitionList run() {
        if (!readSector(0)) return m_list;
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
            const std::uint8_t code = effectiveCodeAt(e.type, e.first);
            if (const auto type = PartitionTypeLabel(code)) {
                list(*type, e.first, std::uint64_t{e.first} + e.count, e.type, true);
            } else if (IsExtendedType(code)) {
                extendedBase = e.first;  // a later extended entry replaces an earlier one
            }
        }
        if (extendedBase) followChain(*extendedBase);
        return m_list;
    }

private:
    void followChain(std::uint64_t base) {
        std::set<std::uint64_t> visited;
        std::uint64_t link = 0;
        bool pending = true;
        while (pending) {
            pending = false;
            const std::uint64_t record = base + link;
            if (record >= m_total) {
                m_list.chainEnd = ChainEnd::OutOfDisk;
                return;
            }
            if (!visited.insert(record).second) {
                m_list.chainEnd = ChainEnd::Loop;
                return;
            }
            if (static_cast<int>(visited.size()) > kMaxExtendedRecords) {
                m_list.chainEnd = ChainEnd::TooLong;
                return;
            }
            readSector(record);
            const ByteView ebr(m_sector);
            // Only the first two entries of an extended record are used: a logical partition and
            // the link to the next record.
            const std::array<TableEntry, 2> entries{entryAt(ebr, 0), entryAt(ebr, 1)};
            for (const TableEntry& e : entries) {
                if (e.type == 0) continue;
                if (IsExtendedType(e.type)) {
                    link = e.first;
                    pending = true;
                    continue;
                }
                const std::uint64_t start = record + e.first;
                const std::uint8_t code = effectiveCodeAt(e.type, start);
                if (const auto type = PartitionTypeLabel(code)) {
                    list(*type, start, start + e.count, e.type, false);
                }
            }
        }
    }

    std::uint8_t effectiveCodeAt(std::uint8_t tableCode, std::uint64_t sector) {
        readSector(sector);
        return EffectiveTypeCode(tableCode, ByteView(m_sector));
    }

    // Reads one sector into a zeroed buffer, so that an unreadable sector is judged as empty and
    // never as the sector read before it.
    bool readSector(std::uint64_t sector) {
        m_sector.fill(std::byte{0});
        if (sector >= m_total) return false;
        (void)m_reader.ReadSectors(sector, 1, m_sector);
        return true;
    }

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
    if (mode == SearchMode::Advance) {
        return {{"1.   Partition Number          :          ", number},
                {"2.   Search Mode               :          ", "Advance"},
                {"3.   Size                             :  ", size}};
    }
    return {{"1.   Disk Number                    :  ", std::to_string(diskNumber)},
            {"2.   Partition Number              :  ", number},
            {"3.   Partition Type                   :  ", PartitionTypeName(partition.type)},
            {"4.   Search Mode                   :  ", "Standard"},
            {"5.   Start Sector                     :  ", std::to_string(partition.start)},
            {"6.   End Sector                      :  ", std::to_string(partition.end)},
            {"7.   Size                                 :  ", size}};
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

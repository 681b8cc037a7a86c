// The $MFT: its run list, record-to-sector mapping, the walk of the Standard Search, and the
// rows the whole-disk scan makes of FILE records and INDX buffers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "core/sector_scan.h"
#include "items/record_table.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// The runs of the $MFT's $DATA, also where they continue in extension records named by the
// $MFT's attribute list. Read from record 0 at the MFT sector, or from the mirror's copy when
// that one is damaged. Empty when neither holds a usable record 0.
[[nodiscard]] RunList BuildMftRunList(SectorReader& reader, const NtfsVolumeParams& params);

// The entries of a record's $ATTRIBUTE_LIST, resident or not (a file with many runs keeps a long
// list outside its record). At most 1 MiB of list is read.
[[nodiscard]] std::vector<AttributeListEntry> AttributeListEntries(SectorReader& reader, ByteView record,
                                                                   const NtfsVolumeParams& params);

// The sector of the first half of MFT record n, or empty when no run covers it.
[[nodiscard]] std::optional<std::uint64_t> MftRecordToSector(const RunList& mftRuns, std::uint64_t n,
                                                             std::uint64_t recordSectors);

// Reads one record at a sector and repairs it (RepairFileRecord); empty when it does not begin
// with "FILE".
[[nodiscard]] std::optional<std::vector<std::byte>> ReadFileRecord(SectorReader& reader, std::uint64_t sector,
                                                                   std::uint64_t recordSectors);

// Reads file records through windows of the disk (1 MiB unless told): records read in the order
// the $MFT holds them share one read instead of one read each.
class MftRecordWindow {
public:
    MftRecordWindow(SectorReader& reader, std::uint64_t recordSectors, std::uint32_t windowSectors = 2048)
        : m_window(reader, std::max<std::uint32_t>(windowSectors, 8)), m_recordSectors(recordSectors) {}

    // The record at sector with its update sequence applied, or empty when it is no FILE record
    // (or records are not 1 to 8 sectors long).
    [[nodiscard]] std::optional<std::vector<std::byte>> read(std::uint64_t sector);

private:
    SectorWindow m_window;
    std::uint64_t m_recordSectors;
};

struct MftWalkCounts {
    std::uint64_t folders = 0;
    std::uint64_t files = 0;
    std::uint64_t slots = 0;
};

// Visits every record slot of the $MFT in order (deleted records included) and appends a row
// for each named FILE record: folders to folderTable (after "QLN_Miscellaneous", which it adds
// first with parent 5), files to fileTable. Reads the $MFT in large runs; a stop request ends
// the walk at the next run of records.
MftWalkCounts WalkMft(SectorReader& reader, const NtfsVolumeParams& params, const RunList& mftRuns,
                      RecordTable& folderTable, RecordTable& fileTable, const RunContext& context);

// A FILE record found at sector by the whole-disk scan becomes one MftEntryTable row; false
// when the sector holds no FILE record.
bool AddMftEntryRow(SectorReader& reader, std::uint64_t sector, RecordTable& mftEntryTable);
// INDX buffer header fields.
inline constexpr std::size_t kIndxMagic = 0x00;           // "INDX"
inline constexpr std::size_t kIndxVcn = 0x10;             // u64: the buffer's cluster in its index, low 32 bits used
inline constexpr std::size_t kIndxNodeHeader = 0x18;      // the node header; its offsets count from here
inline constexpr std::size_t kIndxEntriesOffset = 0x18;   // u32: first index entry, from the node header
inline constexpr std::size_t kIndxAllocatedSize = 0x20;   // u32: bytes of entries, from the node header
inline constexpr std::uint64_t kIndxMaxBytes = 0x10000;   // no index buffer is larger
// Index entry fields.
inline constexpr std::size_t kIndexEntryKey = 0x10;       // the key: a $FILE_NAME value

// An INDX buffer found at sector becomes one MftRefTable row naming the folder it belongs to;
// returns whether a row was added.
bool AddMftRefRow(SectorReader& reader, std::uint64_t sector, ByteView firstSector, RecordTable& mftRefTable);

}  // namespace quorlan

// The $MFT: its run list, record-to-sector mapping, the walk of the Standard Search, and the
// rows the whole-disk scan makes of FILE records and INDX buffers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
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

// A base record and the extension records its attribute list names (resident or not), those
// read from the disk only when asked for: the record itself is 0, the others follow in the order
// the list names them (at most 68).
class FileRecordGroup {
public:
    FileRecordGroup(SectorReader& reader, ByteView record, std::uint64_t self, const NtfsVolumeParams& params,
                    const RunList& mftRuns);

    [[nodiscard]] std::size_t size() const { return m_numbers.size(); }
    // Record k, repaired; empty when the $MFT does not place it or it is no FILE record.
    [[nodiscard]] std::optional<ByteView> at(std::size_t k);
    // The file's named data streams, with the size that the part of each starting at cluster 0
    // gives (0 when no record of the group holds that part).
    [[nodiscard]] std::vector<std::pair<std::string, std::uint64_t>> namedStreams();

private:
    SectorReader& m_reader;
    ByteView m_record;
    const RunList& m_mftRuns;
    std::uint64_t m_recordSectors;
    std::vector<AttributeListEntry> m_listed;
    std::vector<std::uint64_t> m_numbers;
    std::vector<std::optional<std::vector<std::byte>>> m_extensions;
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

// FILE records as the whole-disk scan meets them: the record sizes it recognises, from the
// record's own allocated size (0x1C): 1024 bytes, and 2048 and 4096 bytes as volumes on
// 4096-byte-sector media use. 0 when the sector does not begin a FILE record of such a size.
[[nodiscard]] std::size_t ScannedRecordBytes(ByteView firstSector);

// A FILE record found at sector by the whole-disk scan, repaired (ApplyCheckedFixup), becomes one
// MftEntryTable row: its name, parent and creation time (FindAnyFileName; empty and 0 without a
// $FILE_NAME), "fsNumber" "0", the size of its unnamed $DATA, and
//   - a folder (flags 2 or 3): "type" "FOLDER", "selfMFT" its record number where the record
//     carries one (RecordNumber; "0" otherwise), "First Run" the cluster of its first index
//     buffer (FirstIndexCluster), "Deleted" "1" for flags 2;
//   - anything else: "type" "File", "selfMFT" its record number where the record carries one, else
//     SystemFileNumber of its name, "First Run" "0", "Deleted" "1" for flags 0.
// An extension record (one that names a base record) holds attributes of another file and gives
// no row: false.
bool AddMftEntryRow(ByteView record, std::uint64_t sector, RecordTable& mftEntryTable);

// INDX buffer header fields.
inline constexpr std::size_t kIndxMagic = 0x00;          // "INDX"
inline constexpr std::size_t kIndxVcn = 0x10;            // u64: the buffer's cluster in its index
inline constexpr std::size_t kIndxNodeHeader = 0x18;     // the node header; its offsets count from here
inline constexpr std::size_t kIndxEntriesOffset = 0x18;  // u32: first index entry, from the node header
inline constexpr std::size_t kIndxEntriesSize = 0x1C;    // u32: bytes of entries in use, from the node header
inline constexpr std::size_t kIndxAllocatedSize = 0x20;  // u32: bytes of entries, from the node header
inline constexpr std::uint64_t kIndxMaxBytes = 0x10000;  // no index buffer is larger
// Index entry fields.
inline constexpr std::size_t kIndexEntryReference = 0x00;  // u64: the file the entry names
inline constexpr std::size_t kIndexEntryLength = 0x08;     // u16
inline constexpr std::size_t kIndexEntryKeyLength = 0x0A;  // u16
inline constexpr std::size_t kIndexEntryFlags = 0x0C;      // u16: 0x02 the node's last entry, which has no key
inline constexpr std::size_t kIndexEntryKey = 0x10;        // the key: a $FILE_NAME value in a folder's index

// The size in bytes of the INDX buffer that begins in firstSector: its allocated size + 0x18, when
// that is a whole number of sectors up to 64 KiB; 0 otherwise (a buffer the scan skips whole).
[[nodiscard]] std::size_t IndexBufferBytes(ByteView firstSector);

// Visits the entries of a repaired INDX buffer in order, up to the node's last entry:
// visit(reference, key) with the file reference of each entry (0 for the last) and its key.
// Returns false, after visiting the entries before it, where the entries do not fit: an entry
// shorter than its header, one or a key that runs past the entries in use or past the buffer, or
// no last entry. A buffer for which this fails is skipped whole.
bool ForEachIndexEntry(ByteView buffer, const std::function<void(std::uint64_t reference, ByteView key)>& visit);

// Whether an index key is a $FILE_NAME value (the keys of a folder's index, $I30), with its whole
// name inside it; the other indexes of a volume ($Secure, $Extend's) hold shorter keys.
[[nodiscard]] bool IsFileNameKey(ByteView key);

// What became of an INDX buffer found by the scan.
enum class IndexBufferRow {
    Added,     // a row names its folder
    NoFolder,  // its first entry names no folder: a buffer of another index, or an empty one
    Damaged,   // its entries do not fit it (ForEachIndexEntry): skipped whole
};

// A repaired INDX buffer found at sector by the whole-disk scan becomes one MftRefTable row naming
// the folder it belongs to: the parent in its first entry's key, when that is a $FILE_NAME and the
// parent is above 4 (the system files hold no folder index); "vcn" its place in that folder's
// index, "fsNumber" 4294967295 (no file system yet).
IndexBufferRow AddMftRefRow(ByteView buffer, std::uint64_t sector, RecordTable& mftRefTable);

}  // namespace quorlan

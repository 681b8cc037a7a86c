// The NTFS Advance Search: NTFS boot sectors, FILE records and INDX buffers recognised sector by
// sector in the one pass over a disk, the file systems worked out from them (also where the boot
// sectors are gone), and the folders and files of a chosen one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/run_context.h"
#include "core/sector_detector.h"
#include "core/sector_reader.h"
#include "items/record_table.h"
#include "ntfs/ntfs_boot_sector.h"
#include "ntfs/ntfs_record.h"

namespace quorlan {

// The "File System" of a folder that fits no file system yet.
inline constexpr std::uint64_t kNtfsUndecided = 4294967295;

// The tables an NTFS pass fills and its analysis works on.
struct NtfsScanTables {
    RecordTable& bootSectors;  // a FileSystemTable: one row per NTFS boot sector (NTFS meanings)
    RecordTable& mftEntries;   // the MftEntryTable: one row per base FILE record
    RecordTable& mftRefs;      // the MftRefTable: one row per INDX buffer of a folder
    RecordTable& directories;  // a DirectoryTable: the analysis's work list, then its folders
};

// Where a file system of the list lies: its records and folders lie in start <= sector < end.
struct FileSystemExtent {
    std::size_t number = 0;  // its number in the list (row + 1)
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // its own end where a boot sector gave it, else the end of the range
};

// The file system a sector belongs to: of those whose extent holds it, the one that starts last
// (a volume kept as a file inside another holds its own records). 0 for none.
[[nodiscard]] std::size_t FileSystemHolding(const std::vector<FileSystemExtent>& extents, std::uint64_t sector);

// One NTFS file system of the list of file systems, as the analysis found it.
struct NtfsVolumeFacts {
    std::size_t number = 0;  // its number in the list (row + 1)
    std::uint64_t start = 0;
    std::uint64_t sectorsPerCluster = 0;
    std::optional<int> bootRow;  // the boot-sector row that gave it
};

// What the pass learns besides its table rows, for the analysis and for the entries of a chosen
// file system.
struct NtfsScanFindings {
    struct Record {
        std::uint8_t sectors = 2;  // the record's size in sectors
        bool numbered = false;     // it carries its own number (RecordNumber)
        bool mayHoldStreams = false;  // it has a named $DATA or an attribute list: read again for its streams
    };
    std::vector<Record> records;  // one per MftEntryTable row, in row order

    // An extension record that holds the name of its base record, or the start of its data: a
    // file with very many runs keeps its $FILE_NAME there, and the base record has none.
    struct Extension {
        std::uint64_t sector = 0;
        std::uint64_t base = 0;  // the base record's number
        std::optional<FileNameInfo> name;
        std::optional<std::uint64_t> dataSize;
    };
    std::vector<Extension> extensions;

    // A copy of record 0 ($MFT) or 1 ($MFTMirr): where the $MFT and its mirror lie.
    struct SystemRecord {
        std::uint64_t sector = 0;
        std::uint64_t number = 0;                  // 0 or 1
        std::optional<std::uint64_t> dataCluster;  // the first cluster of its $DATA
    };
    std::vector<SystemRecord> systemRecords;

    std::vector<std::uint64_t> indxSectors;  // every sector that begins with "INDX", in disk order
    // Votes for the cluster sizes 2^k sectors (k = 0 to 7): the allocated size of a non-resident
    // attribute over the clusters its runs span.
    std::array<std::uint64_t, 8> clusterVotes{};
    std::uint64_t skippedRecords = 0;  // FILE records whose update sequence does not check out
    std::uint64_t skippedBuffers =
        0;  // INDX buffers over 64 KiB, with a damaged update sequence or entries past their end

    // Filled by the analysis: the NTFS file systems of the list, where every file system of the
    // list lies, and for each DirectoryTable row (a folder) its MftEntryTable row.
    std::vector<NtfsVolumeFacts> volumes;
    std::vector<FileSystemExtent> extents;
    std::vector<int> folderRows;
};

// Stage 1 of the NTFS Advance Search, one sector at a time, with the sectors after it (at least
// 64 KiB, the longest INDX buffer): a sector that ends in 0x55 0xAA and carries "NTFS" at 3 is a
// boot sector (a row of bootSectors, AddNtfsBootSectorRow); else one that begins a FILE record of
// 1, 2 or 4 KiB becomes an MftEntryTable row (AddMftEntryRow); else one that begins an INDX
// buffer becomes an MftRefTable row (AddMftRefRow). Records and buffers are repaired with their
// update sequence checked first; those that fail, and INDX buffers over 64 KiB or whose entries
// run past their end, are skipped and counted. "Boot Sectors Found" and "MFT Found" (records)
// grow with the rows.
class NtfsScanDetector final : public SectorDetector {
public:
    NtfsScanDetector(NtfsScanTables tables, NtfsScanFindings& findings, ScanCounters& counters);

    [[nodiscard]] std::vector<LeadingBytes> leadingBytes() const override;
    [[nodiscard]] bool wantsBootSignature() const override { return true; }
    void examine(const ScannedSector& sector) override;

private:
    void examineRecord(const ScannedSector& sector);
    void examineBuffer(const ScannedSector& sector);

    NtfsScanTables m_tables;
    NtfsScanFindings& m_findings;
    ScanCounters& m_counters;
    std::vector<std::byte> m_scratch;  // one record or buffer, repaired
};

// Appends the boot-sector row of the NTFS boot sector at sector number: "Sector" the sector,
// "SPF" sectors per cluster, "SPC" the index buffer size and "Root Sectors" the record size in
// sectors, "Root Start" the volume's sectors, "Reserve Sectors" the $MFT's cluster and
// "Cluster0Start" its mirror's.
void AddNtfsBootSectorRow(RecordTable& bootSectors, std::uint64_t number, ByteView sector);

// The part of the disk a pass covered.
struct NtfsScanCoverage {
    std::uint64_t rangeStart = 0;  // the search range, rangeStart <= sector < rangeEnd
    std::uint64_t rangeEnd = 0;
    std::uint64_t scannedTo = 0;  // the first sector the pass did not reach
};

struct NtfsAnalysisResult {
    std::size_t fileSystems = 0;  // NTFS file systems appended to the list
    bool assumed = false;         // the one was assumed: nothing else identified one
};

// Stage 2 of the NTFS Advance Search over the rows of a pass.
//  - Folders without a number of their own get the number their parent's index entry gives them
//    (same name, parent and creation time), looked up in an index of those three; the INDX
//    buffers are read again for this only when such a folder exists. Every other row without a
//    number gets the one after the row before it.
//  - directories gets one row per folder; only the first INDX buffer of each folder (VCN 0) is
//    kept in mftRefs.
//  - Each boot sector whose volume holds a folder's first index buffer where the folder's first
//    run puts it, or whose $MFT cluster holds record 0, is a file system; a boot sector found
//    only as the backup in a volume's last sector gives its volume too.
//  - The folders left are paired: two folders whose first index buffers lie where one volume of
//    some cluster size puts them both (grouped by that volume's start, for each of the eight
//    sizes) give a file system without a boot sector, which every folder it explains joins.
//  - Every folder not placed so goes to the file system whose extent holds its record
//    (FileSystemHolding): a boot sector's volume, else up to the end of the range.
//  - When none was identified but records were found, one is assumed: it starts where the $MFT
//    found puts it (the start of the range without one), with the cluster size the records' own
//    run lists vote for (8 without votes).
// File systems are appended to fileSystems after its rows ("Sector" and "Cluster0Start" the
// start, "SPF" the end of its volume or of the range, "SPC", "PartType" "NTFS") and described in
// findings.volumes; findings.extents says where every file system of the list lies. Reads the disk only for the buffers
// above and where the pass did not look.
NtfsAnalysisResult AnalyzeNtfsScan(NtfsScanTables tables, NtfsScanFindings& findings, const NtfsScanCoverage& coverage,
                                   SectorReader& reader, RecordTable& fileSystems, SearchObserver& observer);

// What listing and saving the files of a chosen file system need.
struct NtfsAdvanceVolume {
    NtfsVolumeParams volume;
    RunList mftRuns;  // the $MFT's runs: from its record 0 found, else from where its records lie
};

// Stage 3 of the NTFS Advance Search for file system number (row number - 1 of fileSystems): the
// folder table gets "QLN_Miscellaneous" and one row per folder of that file system (the first of
// several with one number), the file table one row per named file whose record lies in the file
// system (FileSystemHolding; one per number: the copy where the $MFT puts it, else the first
// found). The
// scan's tables are left as they are.
[[nodiscard]] NtfsAdvanceVolume BuildNtfsAdvanceEntries(std::size_t number, const RecordTable& fileSystems,
                                                        NtfsScanTables tables, const NtfsScanFindings& findings,
                                                        SectorReader& reader, RecordTable& folderTable,
                                                        RecordTable& fileTable, SearchObserver& observer);

// The $MFT's runs as the positions of the records found give them: records whose sectors step
// by the record size with their numbers lie in one run; numbers between runs are holes.
[[nodiscard]] RunList MftRunsFromPositions(std::vector<std::pair<std::uint64_t, std::uint64_t>> numberAndSector,
                                           std::uint64_t recordSectors);

}  // namespace quorlan

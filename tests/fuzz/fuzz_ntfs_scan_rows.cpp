// Fuzzes what the Advance Search's pass makes of a FILE record or an INDX buffer: the input is the
// structure as found on the disk (its first sector and up to 64 KiB after it). It goes through the
// NTFS detector as the pass hands it a sector, and, repaired with and without the check of its
// update sequence, through AddMftEntryRow, AddMftRefRow and the walk of an INDX buffer's entries.
#include <cstdint>
#include <cstring>
#include <vector>

#include "items/tables.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_advance.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlan;
    std::vector<std::byte> bytes(size);
    if (size > 0) std::memcpy(bytes.data(), data, size);

    // One detector for every input, as one pass keeps it; its tables are emptied for each.
    static RecordTable boot = MakeFileSystemTable();
    static RecordTable entries = MakeMftEntryTable();
    static RecordTable refs = MakeMftRefTable();
    static RecordTable dirs = MakeDirectoryTable();
    static NtfsScanFindings findings;
    static NullObserver quiet;
    static ScanCounters counters(quiet);
    static NtfsScanDetector detector({boot, entries, refs, dirs}, findings, counters);
    for (RecordTable* t : {&boot, &entries, &refs}) t->DeleteAllRows();
    findings = NtfsScanFindings{};
    // The pass shows a sector with at least 64 KiB after it; the input may be shorter.
    std::vector<std::byte> sector = bytes;
    sector.resize(std::max<std::size_t>(size, kSectorSize));
    detector.examine({1000, ByteView(sector)});
    if (entries.RowCount() != static_cast<int>(findings.records.size())) __builtin_trap();

    for (const bool checked : {true, false}) {
        std::vector<std::byte> repaired = bytes;
        if (checked) {
            if (!ApplyCheckedFixup(repaired)) continue;
        } else {
            ApplyFixup(repaired);
        }
        const ByteView view(repaired);
        (void)AddMftEntryRow(view, 2000, entries);
        (void)AddMftRefRow(view, 3000, refs);
        (void)ForEachIndexEntry(view, [](std::uint64_t, ByteView key) {
            if (IsFileNameKey(key)) (void)ParseFileNameValue(key);
        });
    }
    return 0;
}

// What each family of file systems brings to an Advance Search, and where a family plugs in.
//
// An Advance Search makes one pass over its range for every file system it looks for. Each
// family (FAT, NTFS) gives the pass its detectors (SectorDetector), which record what they
// recognise in the family's own tables of RecordTables; after the pass (finished or stopped) the
// analysis of each family in turn, FAT first, works out which file systems its findings belong
// to and appends one row per file system to tables.fileSystemTableIdentified, numbered from 1
// across the families (the next number is that table's row count + 1; the "File System" cells of
// the family's directory table hold these numbers). Building the entries of a chosen file system
// goes to the family of its row's "PartType".
//
// The families are made by MakeAdvanceEngine; the NTFS family lives in advance_ntfs.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/run_context.h"
#include "core/sector_detector.h"
#include "core/sector_reader.h"
#include "items/volume.h"
#include "search/recovery_state.h"

namespace quorlan {

struct AdvanceSearchRequest;

class AdvanceEngine {
public:
    virtual ~AdvanceEngine() = default;

    // The detectors for one pass, owned by the engine and alive until the engine is destroyed or
    // asked again. The driver has emptied every Advance table and state.advance beforehand.
    [[nodiscard]] virtual std::vector<SectorDetector*> Detectors(RecoveryState& state, ScanCounters& counters) = 0;

    // Stage 2, after the pass: appends the file systems of this family to
    // state.tables.fileSystemTableIdentified. Runs to its end also after a stopped pass (the
    // observer reports its phases); may read the disk (index buffers, a confirming sector).
    virtual void Analyze(const AdvanceSearchRequest& request, RecoveryState& state, SectorReader& reader,
                         SearchObserver& observer) = 0;

    // Adds, for each file system of this family, the folders the analysis assigned to it:
    // folders[n - 1] for file system n (the vector holds a slot for every row of the list).
    virtual void CountFolders(const RecoveryState& state, std::vector<std::uint64_t>& folders) const = 0;

    // Stage 3 for file system number (1-based; its row's "PartType" is of this family): the
    // folder rows, the lost-folder pass and the tree in state.model, the working parameters in
    // state.params (and for NTFS the file rows), so that listing and saving work as after a
    // Standard Search. state.model and the entry tables were emptied by the driver. Reads the
    // disk as it needs; the scan tables are left fit for building another file system.
    virtual void BuildEntries(std::size_t number, RecoveryState& state, SectorReader& reader,
                              SearchObserver& observer) = 0;
};

// The engine of a family: FAT for FAT16 and FAT32, NTFS for NTFS; empty for any other type.
[[nodiscard]] std::unique_ptr<AdvanceEngine> MakeAdvanceEngine(FileSystemType type);

// Defined by each family's file.
[[nodiscard]] std::unique_ptr<AdvanceEngine> MakeFatAdvanceEngine();   // advance_fat.cpp
[[nodiscard]] std::unique_ptr<AdvanceEngine> MakeNtfsAdvanceEngine();  // advance_ntfs.cpp

}  // namespace quorlan

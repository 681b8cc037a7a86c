// Runs every search mode of the engine over one disk, each within a stated time bound, and
// gathers what a user would see of it: the folders and files listed, the bytes saved, the
// partitions found, the sectors that could not be read. The damage tests compare these between
// a damaged disk and a reference.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stop_token>
#include <string>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"
#include "disks/lost_partitions.h"
#include "disks/partition_table.h"
#include "fat/fat_volume.h"
#include "items/result_tree.h"
#include "ntfs/ntfs_boot_sector.h"
#include "search/advance_search.h"
#include "search/folder_listing.h"
#include "search/recovery_state.h"
#include "search/save_driver.h"
#include "search/search_driver.h"
#include "tests/support/temp_dir.h"

namespace quorlan::test {

enum class DamageMode {
    Standard,        // the Standard Search of every listed partition (or of those the lost-partition
                     // search finds, when the table lists none): the folder tree
    Listing,         // the same, then every folder listed with its files
    Saving,          // the same, then Save All
    LostPartitions,  // the lost-partition search of the whole disk
    Advance,         // the Advance Search of the whole disk (FAT and NTFS in one pass), then the
                     // entries of every file system it identifies, every folder listed
};

inline const char* DamageModeName(DamageMode m) {
    switch (m) {
        case DamageMode::Standard:
            return "standard";
        case DamageMode::Listing:
            return "listing";
        case DamageMode::Saving:
            return "saving";
        case DamageMode::LostPartitions:
            return "lost partitions";
        case DamageMode::Advance:
            return "advance";
    }
    return "?";
}

struct DamageOutcome {
    bool ended = true;                         // the run ended within its bound
    std::set<std::string> items;               // "p<n>:path/" folders, "p<n>:path size [deleted]" files
    std::map<std::string, std::string> saved;  // "p<n>/path" -> the file's bytes
    std::set<std::string> incomplete;          // "p<n>/path" of files the save summary lists as incomplete
    std::set<std::string> partitions;          // "start-end type" of the partitions found
    std::uint64_t unreadable = 0;              // the reader's count after the run
};

class QuietSaveObserver final : public SaveObserver {
public:
    void beginPhase(std::string_view, std::uint64_t) override {}
    void setDone(std::uint64_t) override {}
    void status(std::string_view) override {}
    void counter(Counter, std::uint64_t) override {}
};

inline std::string itemPath(const TreeItem* item) {
    std::string path;
    for (const TreeItem* i = item; i != nullptr && i->parent != nullptr; i = i->parent) path = i->text + "/" + path;
    return path;
}

inline std::map<std::string, std::string> filesBelow(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(dir)) return files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        // A large file (the fixtures' sparse ones) is compared by its size only.
        if (e.file_size() > (16u << 20)) {
            files[std::filesystem::relative(e.path(), dir).string()] = "<" + std::to_string(e.file_size()) + " bytes>";
            continue;
        }
        std::string bytes(static_cast<std::size_t>(e.file_size()), '\0');
        std::ifstream in(e.path(), std::ios::binary);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        files[std::filesystem::relative(e.path(), dir).string()] = std::move(bytes);
    }
    return files;
}

// Adds the folders of a search's tree ("tag:path/") and, when asked, the files every folder
// lists ("tag:path/name size [deleted]").
inline void CollectItems(SectorReader& reader, RecoveryState& state, const std::string& tag, bool listFiles,
                         std::stop_token stop, DamageOutcome& out) {
    ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) {
        if (stop.stop_requested()) return;
        const std::string path = tag + ":" + itemPath(item);
        out.items.insert(path);
        if (!listFiles) return;
        for (const ListedRow& r : ListFolderRows(state, reader, item, FolderListing::Select)) {
            if (r.isFolder) continue;
            out.items.insert(path + r.name + " " + std::to_string(r.size) + (r.deleted ? " deleted" : ""));
        }
    });
}

// One mode over the disk the reader reads; stops early when stop is requested.
inline DamageOutcome RunDamageMode(SectorReader& reader, DamageMode mode, std::stop_token stop) {
    DamageOutcome out;
    NullObserver quiet;
    const RunContext context{quiet, stop};
    if (mode == DamageMode::Advance) {
        // File systems are told apart by where they start and their type, not by their number in
        // the list (a damaged disk may show one more or one fewer before them).
        RecoveryState state;
        AdvanceSearchRequest request;
        request.rangeEnd = reader.totalSectors();
        (void)RunAdvanceSearch(request, reader, state, context);
        for (const IdentifiedFileSystem& fs : IdentifiedFileSystems(state)) {
            if (stop.stop_requested()) break;
            const std::string tag = std::string(FileSystemTypeText(fs.type)) + "@" + std::to_string(fs.start);
            out.partitions.insert(tag);
            if (!RunEntryBuilding(fs.number, reader, state, context)) continue;
            CollectItems(reader, state, tag, true, stop, out);
        }
        out.unreadable = reader.unreadableSectors();
        return out;
    }
    if (mode == DamageMode::LostPartitions) {
        const LostPartitionResult found = SearchLostPartitions(reader, DiskPartitionList{}, {}, context);
        for (const PartitionEntry& p : found.found) {
            out.partitions.insert(std::to_string(p.start) + "-" + std::to_string(p.end) + " " +
                                  std::string(FileSystemTypeText(p.type)));
        }
        out.unreadable = reader.unreadableSectors();
        return out;
    }
    DiskPartitionList list = ReadPartitionTable(reader, reader.totalSectors());
    if (list.partitions.empty()) {
        // As the window does after the corrupt-table notice: the partitions the search finds.
        (void)AddFoundPartitions(list, SearchLostPartitions(reader, list, {}, context).found);
    }
    for (const PartitionEntry& p : list.partitions)
        out.partitions.insert(std::to_string(p.start) + "-" + std::to_string(p.end));
    TempDir saveDir;
    for (std::size_t n = 0; n < list.partitions.size() && !stop.stop_requested(); ++n) {
        const PartitionEntry& p = list.partitions[n];
        if (!StandardSearchAccepts(p.type)) continue;
        const std::string tag = "p" + std::to_string(n + 1);
        SearchRequest request;
        request.type = p.type;
        request.rangeStart = p.start;
        request.rangeEnd = p.end;
        request.partitionIndex = n;
        if (IsFatType(p.type)) {
            request.validated = ValidateFatPartition(reader, p.type, p.start);
        } else {
            request.ntfs = ValidateNtfsBootSector(reader, p.start, p.end);
        }
        RecoveryState state;
        (void)RunSearch(request, reader, state, context);
        CollectItems(reader, state, tag, mode != DamageMode::Standard, stop, out);
        if (mode != DamageMode::Saving || stop.stop_requested()) continue;
        QuietSaveObserver observer;
        SaveSelection all;
        all.all = true;
        const SavePlan plan = PlanSave(state, reader, all, observer, stop);
        SaveControl control;
        control.stop = stop;
        const auto dest = saveDir / tag;
        std::filesystem::create_directories(dest);
        const SaveSummary summary = SaveItems(state, reader, plan, dest, observer, control);
        for (const SaveProblem& problem : summary.incomplete) out.incomplete.insert(tag + "/" + problem.path);
        for (auto& [path, bytes] : filesBelow(dest)) out.saved[tag + "/" + path] = std::move(bytes);
    }
    out.unreadable = reader.unreadableSectors();
    return out;
}

// Runs a mode on a thread of its own and waits at most bound for it. A run that overruns is a
// failure: it is asked to stop, and the test waits for it (a hang then shows as the test's own
// time-out rather than as a thread left behind).
inline DamageOutcome RunDamageModeWithin(SectorReader& reader, DamageMode mode, std::chrono::seconds bound) {
    std::stop_source stop;
    auto running = std::async(std::launch::async, [&] { return RunDamageMode(reader, mode, stop.get_token()); });
    if (running.wait_for(bound) == std::future_status::timeout) {
        ADD_FAILURE() << DamageModeName(mode) << " did not end within " << bound.count() << " s";
        stop.request_stop();
        DamageOutcome out = running.get();
        out.ended = false;
        return out;
    }
    return running.get();
}

}  // namespace quorlan::test

// disks, disk and partitions: the disks offered, one disk's details and a disk's partitions.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/progress.h"
#include "cli/session_input.h"
#include "disks/disk_inventory.h"
#include "disks/disk_watcher.h"
#include "disks/partition_table.h"
#include "session/session.h"

namespace quorlan::cli {

namespace {

// Where the disks are listed from: the system's sysfs and udev database, or the tree that
// QUORLAN_SYSFS_ROOT names (DIR/block and DIR/run/udev/data), which tests build of their own.
InventoryRoots inventoryRoots() {
    InventoryRoots roots;
    const char* root = std::getenv("QUORLAN_SYSFS_ROOT");
    if (root != nullptr && *root != '\0') {
        roots.sysBlock = std::filesystem::path(root) / "block";
        roots.udevData = std::filesystem::path(root) / "run" / "udev" / "data";
    }
    return roots;
}

std::string detailsJson(const DetailRows& rows) {
    JsonArray array;
    for (const auto& [name, value] : rows) array.push(JsonObject().add("name", name).add("value", value).str());
    return array.str();
}

void printDetails(const DetailRows& rows, const char* indent) {
    // Partition labels carry their own spacing ("...:  "); disk labels end at the colon.
    for (const auto& [name, value] : rows) {
        std::cout << indent << name << (!name.empty() && name.back() == ' ' ? "" : " ") << value << "\n";
    }
}

std::string diskJson(const DiskInfo& disk) {
    return JsonObject()
        .add("index", static_cast<std::uint64_t>(disk.Index))
        .add("node", DiskTreeNodeText(disk))
        .add("device", disk.DeviceID)
        .add("model", disk.Model)
        .add("sectors", disk.TotalSectors)
        .raw("details", detailsJson(DiskDetailsRows(disk)))
        .str();
}

void printDisk(const DiskInfo& disk) {
    std::cout << DiskTreeNodeText(disk) << "\n";
    printDetails(DiskDetailsRows(disk), "  ");
}

void printDiskList(const std::vector<DiskInfo>& disks, bool json) {
    if (json) {
        JsonArray array;
        for (const DiskInfo& d : disks) array.push(diskJson(d));
        std::cout << array.str() << "\n";
    } else if (disks.empty()) {
        std::cout << "Could not find any Pen Drive or other USB Removable Media connected to your system.\n";
    } else {
        for (const DiskInfo& d : disks) printDisk(d);
    }
    std::cout.flush();
}

}  // namespace

int cmdDisks(const Options& opt) {
    if (!opt.positional.empty()) return usageError("'disks' takes no arguments");
    Session session;
    session.RefreshDisks(inventoryRoots());
    printDiskList(session.disks(), opt.json);
    if (!opt.watch) return kExitDone;

    // Lists the disks again whenever one is plugged in or pulled out, until Ctrl-C.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<DiskInfo> latest;
    bool fresh = false;
    DiskWatchOptions watchOptions;
    watchOptions.roots = inventoryRoots();
    if (const char* poll = std::getenv("QUORLAN_WATCH_POLL_MS"); poll != nullptr && *poll != '\0') {
        watchOptions.pollInterval = std::chrono::milliseconds(std::strtoul(poll, nullptr, 10));
    }
    const InterruptWatch interrupt;
    const DiskWatcher watcher(watchOptions, [&](const std::vector<DiskInfo>& disks) {
        const std::lock_guard lock(mutex);
        latest = disks;
        fresh = true;
        changed.notify_one();
    });
    while (!interrupt.interrupted()) {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return fresh; })) continue;
        fresh = false;
        session.RefreshDisks(watchOptions.roots);
        if (!opt.json) std::cout << "\n";
        printDiskList(session.disks(), opt.json);
    }
    return kExitDone;
}

int cmdDisk(const Options& opt) {
    Session session;
    int exitCode = kExitDone;
    const auto slot = addDisk(session, opt, exitCode);
    if (!slot) return exitCode;
    const DiskInfo& disk = *session.disk(*slot);
    if (opt.json) {
        std::cout << diskJson(disk) << "\n";
    } else {
        printDisk(disk);
    }
    return kExitDone;
}

int cmdPartitions(const Options& opt) {
    if (const auto bad = checkFindLost(opt)) return *bad;
    Session session;
    TerminalProgress progress;
    if (const auto failed = openDisk(session, opt, &progress)) return *failed;
    const auto slot = session.selectedDisk();
    const DiskPartitionList& list = session.partitions();
    const std::size_t listed = list.partitions.size();

    if (list.corrupt) {
        std::cerr << "quorlan-cli: Partition Table is corrupted: an entry starts within " << kSanityMinSectors
                  << " sectors of the end of the disk; the partitions before it are listed\n";
    } else if (!list.tableSigned) {
        std::cerr << "quorlan-cli: sector 0 holds no partition table (no 0x55 0xAA signature)\n";
    } else if (!list.partitionFound) {
        std::cerr << "quorlan-cli: the partition table lists no FAT16, FAT32 or NTFS partition\n";
    }
    switch (list.chainEnd) {
        case ChainEnd::Loop:
            std::cerr << "quorlan-cli: the extended partition chain points back at itself; it was followed once\n";
            break;
        case ChainEnd::TooLong:
            std::cerr << "quorlan-cli: the extended partition chain is longer than " << kMaxExtendedRecords
                      << " records; the rest was not read\n";
            break;
        case ChainEnd::OutOfDisk:
            std::cerr << "quorlan-cli: the extended partition chain points beyond the end of the disk\n";
            break;
        case ChainEnd::None:
            break;
    }
    if (progress.partitionTableCorruptSeen() && !opt.findLost) {
        std::cerr << "quorlan-cli: --find-lost searches the disk for the partitions that its table no longer lists\n";
    }

    LostPartitionResult found;
    if (opt.findLost) {
        if (const auto code = findLostPartitions(session, opt, progress, found)) return *code;
        const std::size_t added = list.partitions.size() - listed;
        std::cerr << "quorlan-cli: searched sectors " << found.rangeStart << " to " << found.rangeEnd - 1 << ": read "
                  << found.sectorsRead << " of " << found.rangeEnd - found.rangeStart << " sectors; ";
        if (added == 0) {
            std::cerr << "found no partition that the table does not list\n";
        } else {
            std::cerr << "found " << added << " partition(s) that the table does not list, numbered from " << listed + 1
                      << "\n";
        }
        if (found.stopped) {
            std::cerr << "quorlan-cli: partition search stopped; the partitions found until then are listed\n";
        }
    }
    if (list.limitReached) {
        std::cerr << "quorlan-cli: more than " << kMaxPartitions << " partitions; the rest are not listed\n";
    }
    if (const auto bad = session.reader()->unreadableSectors(); bad > 0) {
        std::cerr << "quorlan-cli: " << UnreadableSectorsText(bad) << "\n";
    }

    // A search that found nothing on a disk whose table lists nothing: the one item "Unknown
    // Partition", with the whole disk as its extent.
    const bool unknown = opt.findLost && list.partitions.empty();
    const DiskInfo& disk = *session.disk(*slot);
    const DetailRows unknownRows = UnknownPartitionDetailsRows(SearchMode::Standard, *slot, 0,
                                                               std::to_string(disk.TotalSectors), CapacityText(disk));
    if (opt.json) {
        JsonArray array;
        for (std::size_t i = 0; i < list.partitions.size(); ++i) {
            const PartitionEntry& p = list.partitions[i];
            JsonObject object;
            object.add("index", static_cast<std::uint64_t>(i + 1))
                .add("type", PartitionTypeName(p.type))
                .add("start", p.start)
                .add("end", p.end)
                .add("primary", p.fromMbr)
                .add("node", PartitionNodeText(static_cast<int>(i + 1), p.type))
                .raw("details", detailsJson(PartitionDetailsRows(SearchMode::Standard, *slot, i, p)));
            if (p.source != PartitionSource::Table) {
                object.add("found", true).add("foundBy", PartitionSourceText(p.source)).add("foundAt", p.evidence);
            }
            array.push(object.str());
        }
        if (unknown) {
            array.push(JsonObject()
                           .add("type", PartitionTypeName(FileSystemType::Unknown))
                           .add("start", std::uint64_t{0})
                           .add("end", disk.TotalSectors)
                           .add("node", PartitionTypeName(FileSystemType::Unknown))
                           .raw("details", detailsJson(unknownRows))
                           .str());
        }
        std::cout << array.str() << "\n";
    } else {
        std::cout << DiskNodeText(*slot) << "\n";
        for (std::size_t i = 0; i < list.partitions.size(); ++i) {
            const PartitionEntry& p = list.partitions[i];
            std::cout << "  " << PartitionNodeText(static_cast<int>(i + 1), p.type) << "\n";
            printDetails(PartitionDetailsRows(SearchMode::Standard, *slot, i, p), "    ");
        }
        if (unknown) {
            std::cout << "  " << PartitionTypeName(FileSystemType::Unknown) << "\n";
            printDetails(unknownRows, "    ");
        }
    }
    if (found.stopped) return kExitStopped;
    if (unknown) {
        return failure(
            "no FAT16, FAT32 or NTFS partition on this disk: its partition table lists none, and the search of the "
            "disk found no boot sector of one");
    }
    return kExitDone;
}

}  // namespace quorlan::cli

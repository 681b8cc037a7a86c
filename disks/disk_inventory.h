// The removable disks of the machine (from sysfs and the udev database) and disk images opened
// by the user, with the details the disk page shows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/device_table.h"
#include "disks/partition_table.h"

namespace quorlan {

// One disk with the properties of the system's disk-drive inventory, named as there.
struct DiskInfo {
    std::size_t Index = 0;  // the disk's slot: "Disk N"
    std::string MediaType;  // "Removable Media", or "Disk Image" for an image file
    std::string Model;
    std::string InterfaceType;
    std::uint64_t TotalCylinders = 0;
    std::uint32_t TotalHeads = 0;
    std::uint64_t TotalSectors = 0;  // the whole medium in 512-byte sectors
    std::uint32_t BytesPerSector = 512;
    std::uint32_t SectorsPerTrack = 0;
    std::string FirmwareRevision;
    std::string PNPDeviceID;
    std::string SerialNumber;
    std::string SystemName;
    std::string DeviceID;  // the device or image path that is read
};

// Geometry used when the kernel reports none (sysfs never does).
inline constexpr std::uint32_t kDefaultHeads = 255;
inline constexpr std::uint32_t kDefaultSectorsPerTrack = 63;

// A 1.44 MB floppy: 80 cylinders, 2 heads, 18 sectors per track.
inline constexpr std::uint64_t kFloppySectors = 2880;
inline constexpr const char* kFloppyNodeText = "3.5 Floppy";

// Where the inventory is read from; tests point these at a tree of their own.
struct InventoryRoots {
    std::filesystem::path sysBlock = "/sys/block";
    std::filesystem::path udevData = "/run/udev/data";
    std::string systemName;  // empty: the host name
};

// The removable disks with a medium in them, in device-name order, with Index 0, 1, ...
[[nodiscard]] std::vector<DiskInfo> EnumerateRemovableDisks(const InventoryRoots& roots = {});

// The details of a whole-disk block device by its kernel name ("sdb"), removable or not; empty
// when the name is no disk or holds no medium.
[[nodiscard]] std::optional<DiskInfo> DescribeBlockDevice(const std::string& name,
                                                         const InventoryRoots& roots = {});

// The details of an image file offered as a disk.
[[nodiscard]] DiskInfo ImageDiskInfo(const std::filesystem::path& image, std::uint64_t totalSectors,
                                     std::size_t index, const std::string& systemName = {});

// Capacity in MB from the geometry: cylinders x bytes per sector x sectors per track x heads /
// 1048576, truncated.
[[nodiscard]] std::uint64_t CapacityMb(const DiskInfo& disk);
[[nodiscard]] std::string CapacityText(const DiskInfo& disk);  // "%ld MB"

// The floppy: a medium of 2880 sectors (a 1.44 MB disk or its image), or a floppy drive
// (/dev/fd0). It is searched by Standard Search only, and no recovery log is kept of it.
[[nodiscard]] bool IsFloppyDisk(const DiskInfo& disk);

// "Removable Media (Disk1)": the media part, " (", "Disk", N, ")"; the floppy's node is
// kFloppyNodeText.
[[nodiscard]] std::string DiskTreeNodeText(const DiskInfo& disk);
// The disk number at the end of a node text ("... (Disk12)" gives 12); empty when there is none.
[[nodiscard]] std::optional<std::size_t> DiskNumberFromNodeText(const std::string& nodeText);

// The fourteen rows of the disk details list.
[[nodiscard]] DetailRows DiskDetailsRows(const DiskInfo& disk);

// The host name, the "System Name" of every disk.
[[nodiscard]] std::string HostName();

}  // namespace quorlan

#include "disks/disk_inventory.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "core/text.h"

namespace quorlan {

namespace {

namespace fs = std::filesystem;

std::string readSmallFile(const fs::path& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::string text;
    std::getline(in, text, '\0');
    return trim(text);
}

// The properties udev stored for a device: the "E:KEY=VALUE" lines of its database file.
std::map<std::string, std::string> udevProperties(const fs::path& udevData, const std::string& devNumbers) {
    std::map<std::string, std::string> props;
    if (devNumbers.empty()) return props;
    std::ifstream in(udevData / ("b" + devNumbers));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("E:", 0) != 0) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        props[line.substr(2, eq - 2)] = line.substr(eq + 1);
    }
    return props;
}

std::string property(const std::map<std::string, std::string>& props, const std::string& key) {
    const auto it = props.find(key);
    return it == props.end() ? std::string{} : it->second;
}

// Devices that are never recovery targets even when they say removable: optical drives, RAM
// and loop devices, device-mapper and software RAID. Floppy drives (fd0) are offered.
bool isCandidateName(const std::string& name) {
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "md", "sr", "nbd"}) {
        if (name.rfind(prefix, 0) == 0) return false;
    }
    return true;
}

void applyDefaultGeometry(DiskInfo& disk) {
    if (disk.TotalSectors == kFloppySectors) {
        disk.TotalHeads = 2;
        disk.SectorsPerTrack = 18;
        disk.TotalCylinders = 80;
        return;
    }
    disk.TotalHeads = kDefaultHeads;
    disk.SectorsPerTrack = kDefaultSectorsPerTrack;
    disk.TotalCylinders = disk.TotalSectors / (kDefaultHeads * kDefaultSectorsPerTrack);
}

}  // namespace

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

namespace {

// The details of one block device, or nothing when it is no candidate or holds no medium.
// Devices that are not removable are described only when removableOnly is false, with the
// media type of a fixed disk.
std::optional<DiskInfo> describeBlockDevice(const InventoryRoots& roots, const std::string& name,
                                            const std::string& systemName, bool removableOnly) {
    if (!isCandidateName(name)) return std::nullopt;
    const fs::path dir = roots.sysBlock / name;
    const bool isMmc = name.rfind("mmcblk", 0) == 0;
    // Memory cards in a built-in reader are not flagged removable; their type is "SD".
    const bool removable = readSmallFile(dir / "removable") == "1" ||
                           (isMmc && readSmallFile(dir / "device" / "type") == "SD");
    if (removableOnly && !removable) return std::nullopt;
    // A reader without a card reports size 0: no medium, nothing to offer.
    const std::uint64_t sectors = parseDecimalU64(readSmallFile(dir / "size"));
    if (sectors == 0) return std::nullopt;

    const auto props = udevProperties(roots.udevData, readSmallFile(dir / "dev"));
    std::error_code ec;
    const std::string devicePathText = fs::weakly_canonical(dir, ec).string();

    DiskInfo disk;
    disk.MediaType = removable ? "Removable Media" : "Fixed hard disk media";
    const std::string vendor = isMmc ? std::string{} : readSmallFile(dir / "device" / "vendor");
    const std::string product = readSmallFile(dir / "device" / (isMmc ? "name" : "model"));
    std::string model = trim(vendor + " " + product);
    if (model.empty()) model = property(props, "ID_MODEL");
    disk.Model = model.empty() ? name : model;
    if (devicePathText.find("/usb") != std::string::npos || property(props, "ID_BUS") == "usb") {
        disk.InterfaceType = "USB";
    } else if (isMmc) {
        disk.InterfaceType = "SD";
    } else {
        disk.InterfaceType = "SCSI";
    }
    disk.TotalSectors = sectors;
    const auto blockSize = parseDecimalU64(readSmallFile(dir / "queue" / "logical_block_size"));
    disk.BytesPerSector = blockSize == 0 ? 512 : static_cast<std::uint32_t>(blockSize);
    applyDefaultGeometry(disk);
    disk.FirmwareRevision = readSmallFile(dir / "device" / "rev");
    if (disk.FirmwareRevision.empty()) disk.FirmwareRevision = property(props, "ID_REVISION");
    disk.PNPDeviceID = property(props, "ID_PATH");
    if (disk.PNPDeviceID.empty()) disk.PNPDeviceID = devicePathText;
    disk.SerialNumber = property(props, "ID_SERIAL_SHORT");
    if (disk.SerialNumber.empty()) disk.SerialNumber = readSmallFile(dir / "device" / "serial");
    disk.SystemName = systemName;
    disk.DeviceID = "/dev/" + name;
    return disk;
}

}  // namespace

std::vector<DiskInfo> EnumerateRemovableDisks(const InventoryRoots& roots) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.sysBlock, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());

    const std::string systemName = roots.systemName.empty() ? HostName() : roots.systemName;
    std::vector<DiskInfo> disks;
    for (const std::string& name : names) {
        if (auto disk = describeBlockDevice(roots, name, systemName, true)) {
            disk->Index = disks.size();
            disks.push_back(std::move(*disk));
        }
    }
    return disks;
}

std::optional<DiskInfo> DescribeBlockDevice(const std::string& name, const InventoryRoots& roots) {
    return describeBlockDevice(roots, name, roots.systemName.empty() ? HostName() : roots.systemName,
                               false);
}

DiskInfo ImageDiskInfo(const std::filesystem::path& image, std::uint64_t totalSectors, std::size_t index,
                       const std::string& systemName) {
    DiskInfo disk;
    disk.Index = index;
    disk.MediaType = "Disk Image";
    disk.Model = image.filename().string();
    disk.InterfaceType = "File";
    disk.TotalSectors = totalSectors;
    disk.BytesPerSector = 512;
    applyDefaultGeometry(disk);
    disk.SystemName = systemName.empty() ? HostName() : systemName;
    std::error_code ec;
    const auto absolute = fs::absolute(image, ec);
    disk.DeviceID = (ec ? image : absolute).string();
    return disk;
}

std::uint64_t CapacityMb(const DiskInfo& disk) {
    const double bytes = static_cast<double>(disk.TotalCylinders) * disk.BytesPerSector *
                         disk.SectorsPerTrack * disk.TotalHeads;
    return static_cast<std::uint64_t>(bytes / 1048576.0);
}

std::string CapacityText(const DiskInfo& disk) { return std::to_string(CapacityMb(disk)) + " MB"; }

bool IsFloppyDisk(const DiskInfo& disk) {
    return disk.TotalSectors == kFloppySectors || disk.DeviceID.rfind("/dev/fd", 0) == 0;
}

std::string DiskTreeNodeText(const DiskInfo& disk) {
    if (IsFloppyDisk(disk)) return kFloppyNodeText;
    const std::string media = disk.MediaType.find("Removable media other than") != std::string::npos
                                  ? "Removable Media"
                                  : disk.MediaType;
    return media + " (Disk" + std::to_string(disk.Index) + ")";
}

std::optional<std::size_t> DiskNumberFromNodeText(const std::string& nodeText) {
    if (nodeText.empty() || nodeText.back() != ')') return std::nullopt;
    std::size_t end = nodeText.size() - 1;
    std::size_t begin = end;
    while (begin > 0 && nodeText[begin - 1] >= '0' && nodeText[begin - 1] <= '9') --begin;
    if (begin == end || end - begin > 6) return std::nullopt;
    return static_cast<std::size_t>(parseDecimalU64(std::string_view(nodeText).substr(begin, end - begin)));
}

DetailRows DiskDetailsRows(const DiskInfo& disk) {
    return {{"1. Model :", disk.Model},
            {"2. MediaType :", disk.MediaType},
            {"3. Interface Type :", disk.InterfaceType},
            {"4. Capacity(size) :", CapacityText(disk)},
            {"5. Cylinders :", std::to_string(disk.TotalCylinders)},
            {"6. Heads :", std::to_string(disk.TotalHeads)},
            {"7. Sectors :", std::to_string(disk.TotalSectors)},
            {"8. Bytes per Sector :", std::to_string(disk.BytesPerSector)},
            {"9. Sector per Track :", std::to_string(disk.SectorsPerTrack)},
            {"10. Firmware Revision ID :", disk.FirmwareRevision},
            {"11. PNP Device ID :", disk.PNPDeviceID},
            {"12. Serial Number :", disk.SerialNumber},
            {"13. System Name :", disk.SystemName},
            {"14. Physical Device ID :", disk.DeviceID}};
}

}  // namespace quorlan

#include "session/session.h"

#include <sys/stat.h>

#include <algorithm>

#include "core/udisks_open.h"
#include "disks/destination_check.h"

namespace quorlan {

void Session::RefreshDisks(const InventoryRoots& roots) {
    m_roots = roots;
    std::vector<DiskInfo> opened;
    for (const DiskInfo& d : m_disks) {
        if (d.MediaType == "Disk Image") opened.push_back(d);
    }
    m_devices.clear();
    m_disks.clear();
    m_selected.reset();
    m_reader.reset();
    for (DiskInfo d : EnumerateRemovableDisks(roots)) {
        d.Index = m_devices.add(d.DeviceID);
        m_disks.push_back(std::move(d));
    }
    for (DiskInfo d : opened) {
        d.Index = m_devices.add(d.DeviceID);
        m_disks.push_back(std::move(d));
    }
}

Result<std::size_t> Session::AddImage(const std::filesystem::path& image) {
    auto source = OpenDiskSource(image);
    if (!source) return source.error();
    DiskInfo info = ImageDiskInfo(image, (*source)->sizeBytes() / kSectorSize, 0);
    for (const DiskInfo& d : m_disks) {
        if (d.DeviceID == info.DeviceID) return d.Index;
    }
    info.Index = m_devices.add(info.DeviceID);
    m_disks.push_back(info);
    return info.Index;
}

Result<std::size_t> Session::AddPath(const std::filesystem::path& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    const std::string key = (ec ? path : canonical).string();
    for (const DiskInfo& d : m_disks) {
        if (d.DeviceID == key || d.DeviceID == path.string()) return d.Index;
    }
    // A block device the inventory describes is offered without opening it: opening may ask the
    // person for a password, which only reading the disk needs.
    struct stat st {};
    const bool blockDevice = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    auto info = blockDevice ? DescribeBlockDevice(canonical.filename().string(), m_roots) : std::nullopt;
    if (!info) {
        auto source = OpenDiskSource(path);
        if (!source) return source.error();
        if ((*source)->kind() != SourceKind::BlockDevice) return AddImage(path);
        info = ImageDiskInfo(path, (*source)->sizeBytes() / kSectorSize, 0);
        info->MediaType = "Block Device";
    }
    info->DeviceID = key;
    info->Index = m_devices.add(key);
    m_disks.push_back(*info);
    return info->Index;
}

const DiskInfo* Session::disk(std::size_t slot) const {
    for (const DiskInfo& d : m_disks) {
        if (d.Index == slot) return &d;
    }
    return nullptr;
}

Result<const DiskPartitionList*> Session::SelectDisk(std::size_t slot, SearchObserver* observer) {
    const DiskInfo* info = disk(slot);
    if (info == nullptr) return Error{ErrorKind::InvalidArgument, "no disk " + std::to_string(slot)};
    auto reader = m_devices.open(slot, &m_notice);
    if (!reader) return reader.error();
    m_reader = std::move(reader).value();
    m_selected = slot;
    const bool spentBefore = m_notice.spent();
    m_notice.setOnDiskPage(true);
    m_partitions = ReadPartitionTable(*m_reader, m_reader->totalSectors(), &m_notice);
    if (!m_partitions.partitionFound && IsFloppyDisk(*info)) {
        // A floppy is never partitioned: it holds one FAT12 volume, also when its boot sector is
        // damaged (the search then works the volume's layout out from its folders).
        m_partitions.partitions.push_back({FileSystemType::Fat12, 0, m_reader->totalSectors(), 0, true});
        m_partitions.partitionFound = true;
        m_partitions.superfloppy = true;
    }
    if (!m_partitions.partitionFound) m_notice.raise();
    m_notice.setOnDiskPage(false);
    m_lostSearchWanted = !spentBefore && m_notice.spent();
    if (m_lostSearchWanted && observer != nullptr) observer->partitionTableCorrupt();
    return &m_partitions;
}

Result<LostPartitionResult> Session::FindLostPartitions(const RunContext& context, std::uint64_t rangeStart,
                                                        std::uint64_t rangeEnd) {
    if (m_reader == nullptr || !m_selected) return Error{ErrorKind::InvalidArgument, "no disk is selected"};
    const std::uint64_t total = m_reader->totalSectors();
    if (rangeEnd == 0 || rangeEnd > total) rangeEnd = total;
    if (rangeStart >= rangeEnd) {
        return Error{ErrorKind::InvalidArgument, "the range " + std::to_string(rangeStart) + "-" +
                                                     std::to_string(rangeEnd) + " holds no sector of the disk (it has " +
                                                     std::to_string(total) + " sectors)"};
    }
    LostPartitionRequest request;
    request.rangeStart = rangeStart;
    request.rangeEnd = rangeEnd;
    if (const DiskInfo* info = disk(*m_selected)) {
        request.heads = info->TotalHeads;
        request.sectorsPerTrack = info->SectorsPerTrack;
    }
    return SearchLostPartitions(*m_reader, m_partitions, request, context);
}

std::size_t Session::AddFoundPartitions(const LostPartitionResult& result) {
    return quorlan::AddFoundPartitions(m_partitions, result.found);
}

Result<SearchRequest> Session::PrepareStandardSearch(std::size_t partitionIndex) {
    if (m_reader == nullptr) return Error{ErrorKind::InvalidArgument, "no disk is selected"};
    if (partitionIndex >= m_partitions.partitions.size()) {
        return Error{ErrorKind::InvalidArgument,
                     "there is no partition " + std::to_string(partitionIndex + 1) + " on this disk (it has " +
                         std::to_string(m_partitions.partitions.size()) + ")"};
    }
    const PartitionEntry& p = m_partitions.partitions[partitionIndex];
    m_recovery.tables.ClearSearchTables();
    SearchRequest request;
    request.type = p.type;
    request.rangeStart = p.start;
    request.rangeEnd = p.end;
    request.disk = *m_selected;
    request.partitionIndex = partitionIndex;
    if (IsFatType(p.type)) {
        request.validated = ValidateFatPartition(*m_reader, p.type, p.start);
    } else {
        request.ntfs = ValidateNtfsBootSector(*m_reader, p.start, p.end);
    }
    return request;
}

Result<AdvanceSearchRequest> Session::PrepareAdvanceSearch(
    std::optional<FileSystemType> type, std::optional<std::pair<std::uint64_t, std::uint64_t>> range) {
    if (m_reader == nullptr) return Error{ErrorKind::InvalidArgument, "no disk is selected"};
    const std::uint64_t disk = m_reader->totalSectors();
    AdvanceSearchRequest request;
    request.type = type;
    request.disk = *m_selected;
    request.rangeStart = range ? range->first : 0;
    request.rangeEnd = range ? std::min(range->second, disk) : disk;
    if (request.rangeStart >= request.rangeEnd) {
        return Error{ErrorKind::InvalidArgument, "the range " + std::to_string(request.rangeStart) + "-" +
                                                     std::to_string(range ? range->second : disk) +
                                                     " holds no sector of this disk (it has " + std::to_string(disk) +
                                                     " sectors)"};
    }
    return request;
}

Result<void> Session::CheckSaveDestination(const std::filesystem::path& destination) const {
    if (!m_selected) return {};
    const auto source = m_devices.DeviceName(*m_selected);
    if (!source) return {};
    return quorlan::CheckSaveDestination(destination, *source);
}

std::string Session::selectedDiskModel() const {
    if (!m_selected) return {};
    const DiskInfo* info = disk(*m_selected);
    return info != nullptr ? info->Model : std::string();
}

}  // namespace quorlan

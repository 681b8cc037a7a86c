// Saving must not write to the disk being recovered: a check of the destination folder against
// the source disk or image.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/result.h"

namespace quorlan {

inline constexpr const char* kMsgDestinationOnSource =
    "The destination folder lies on the disk being recovered: writing there can overwrite the files you are "
    "recovering. Choose a folder on another disk.";

// The whole disks (sysfs names such as "sdb") that hold the block device dev: the disk itself for
// a partition, and through device-mapper or RAID layers the disks below. Loop devices count as
// disks; their backing files are added to backingFiles.
[[nodiscard]] std::set<std::string> DisksHolding(dev_t dev, std::set<std::string>& backingFiles,
                                                 const std::filesystem::path& sysRoot = "/sys");

// Fails with kMsgDestinationOnSource when destination (or, while it does not exist yet, the
// folder it would be created in) lies on source: the same disk as a source block device, or a
// loop device backed by a source image file.
[[nodiscard]] Result<void> CheckSaveDestination(const std::filesystem::path& destination,
                                                const std::filesystem::path& source,
                                                const std::filesystem::path& sysRoot = "/sys");

}  // namespace quorlan

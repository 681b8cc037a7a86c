#include "disks/destination_check.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

namespace quorlan {

namespace {

constexpr int kMaxLayers = 8;  // dm on md on partitions is deep enough

std::string readLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

void collect(const std::filesystem::path& device, int depth, std::set<std::string>& disks,
             std::set<std::string>& backingFiles) {
    std::error_code ec;
    if (depth > kMaxLayers || !std::filesystem::is_directory(device, ec)) return;
    const bool partition = std::filesystem::exists(device / "partition", ec);
    const std::filesystem::path disk = partition ? device.parent_path() : device;
    disks.insert(disk.filename().string());
    if (const std::string backing = readLine(disk / "loop" / "backing_file"); !backing.empty()) {
        backingFiles.insert(backing);
    }
    for (const std::filesystem::path& holder : {device / "slaves", disk / "slaves"}) {
        for (const auto& entry : std::filesystem::directory_iterator(holder, ec)) {
            collect(std::filesystem::canonical(entry.path(), ec), depth + 1, disks, backingFiles);
        }
    }
}

}  // namespace

std::set<std::string> DisksHolding(dev_t dev, std::set<std::string>& backingFiles,
                                   const std::filesystem::path& sysRoot) {
    std::set<std::string> disks;
    std::error_code ec;
    const auto link = sysRoot / "dev" / "block" / (std::to_string(major(dev)) + ":" + std::to_string(minor(dev)));
    const auto device = std::filesystem::canonical(link, ec);
    if (!ec) collect(device, 0, disks, backingFiles);
    return disks;
}

Result<void> CheckSaveDestination(const std::filesystem::path& destination, const std::filesystem::path& source,
                                  const std::filesystem::path& sysRoot) {
    std::error_code ec;
    std::filesystem::path existing = std::filesystem::absolute(destination, ec);
    while (!existing.empty() && !std::filesystem::exists(existing, ec) && existing != existing.parent_path()) {
        existing = existing.parent_path();
    }
    struct stat dest {};
    struct stat src {};
    if (::stat(existing.c_str(), &dest) != 0 || ::stat(source.c_str(), &src) != 0) return {};
    std::set<std::string> backing;
    const std::set<std::string> destDisks = DisksHolding(dest.st_dev, backing, sysRoot);
    if (S_ISBLK(src.st_mode)) {
        std::set<std::string> ignored;
        for (const std::string& d : DisksHolding(src.st_rdev, ignored, sysRoot)) {
            if (destDisks.count(d) != 0) return Error{ErrorKind::InvalidArgument, kMsgDestinationOnSource};
        }
    } else {
        // An image attached as a loop device and mounted: writing into the mount writes into it.
        for (const std::string& file : backing) {
            struct stat b {};
            if (::stat(file.c_str(), &b) == 0 && b.st_dev == src.st_dev && b.st_ino == src.st_ino) {
                return Error{ErrorKind::InvalidArgument, kMsgDestinationOnSource};
            }
        }
    }
    return {};
}

}  // namespace quorlan

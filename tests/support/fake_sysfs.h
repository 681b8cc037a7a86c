// Builds a sysfs tree of block devices in a folder, for listing disks without the machine's own.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/temp_dir.h"

namespace quorlan::test {

// A block device as sysfs shows it: root/block/NAME is a link into the device tree at
// root/devices/devicePath/block/NAME, which holds files (each a line of text).
inline void fakeBlockDevice(const std::filesystem::path& root, const std::string& name, const std::string& devicePath,
                            const std::map<std::string, std::string>& files) {
    const std::filesystem::path real = root / "devices" / devicePath / "block" / name;
    std::filesystem::create_directories(real);
    for (const auto& [file, text] : files) writeText(real / file, text + "\n");
    std::filesystem::create_directories(root / "block");
    std::filesystem::create_symlink(real, root / "block" / name);
}

}  // namespace quorlan::test

// Disk slots: the number by which the program names a disk, mapped to a device or image path.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "core/sector_reader.h"

namespace quorlan {

// Every disk the user can choose has a slot number (the "Disk N" of the trees). Removable
// devices found by the inventory take the first slots; images the user opens follow them.
class DeviceTable {
public:
    // Returns the slot of path, adding it when it is new.
    std::size_t add(const std::filesystem::path& path);
    void clear() { m_paths.clear(); }
    [[nodiscard]] std::size_t size() const { return m_paths.size(); }
    // The device or image path of a slot, or empty when the slot is not in use.
    [[nodiscard]] std::optional<std::filesystem::path> DeviceName(std::size_t slot) const;
    // Opens the slot's device read-only for sector reads.
    [[nodiscard]] Result<std::unique_ptr<SectorReader>> open(std::size_t slot,
                                                             CorruptTableNotice* notice = nullptr) const;

private:
    std::vector<std::filesystem::path> m_paths;
};

// Opens a device or image path read-only for sector reads.
[[nodiscard]] Result<std::unique_ptr<SectorReader>> openSectorReader(const std::filesystem::path& path,
                                                                     CorruptTableNotice* notice = nullptr);

}  // namespace quorlan

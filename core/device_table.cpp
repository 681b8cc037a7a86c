#include "core/device_table.h"

#include <algorithm>

#include "core/udisks_open.h"

namespace quorlan {

std::size_t DeviceTable::add(const std::filesystem::path& path) {
    const auto it = std::find(m_paths.begin(), m_paths.end(), path);
    if (it != m_paths.end()) return static_cast<std::size_t>(it - m_paths.begin());
    m_paths.push_back(path);
    return m_paths.size() - 1;
}

std::optional<std::filesystem::path> DeviceTable::DeviceName(std::size_t slot) const {
    if (slot >= m_paths.size()) return std::nullopt;
    return m_paths[slot];
}

Result<std::unique_ptr<SectorReader>> DeviceTable::open(std::size_t slot,
                                                        CorruptTableNotice* notice) const {
    const auto path = DeviceName(slot);
    if (!path) return Error{ErrorKind::InvalidArgument, "no disk in slot " + std::to_string(slot)};
    return openSectorReader(*path, notice);
}

Result<std::unique_ptr<SectorReader>> openSectorReader(const std::filesystem::path& path,
                                                       CorruptTableNotice* notice) {
    auto source = OpenDiskSource(path);
    if (!source) return source.error();
    return std::make_unique<SectorReader>(std::move(source).value(), notice);
}

}  // namespace quorlan

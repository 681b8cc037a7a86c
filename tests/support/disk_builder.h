// Builds disks in memory, sector by sector: partition tables, extended chains and boot-sector
// markers. Sectors never written read as zeros, so large disks cost nothing.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "core/sector_reader.h"

namespace quorlan::test {

using Sector = std::array<std::byte, kSectorSize>;

class SparseSource final : public SectorSource {
public:
    SparseSource(std::map<std::uint64_t, Sector> sectors, std::uint64_t total)
        : m_sectors(std::move(sectors)), m_total(total) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        const std::uint64_t size = m_total * kSectorSize;
        if (offset >= size) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
        // Zeros, then the written sectors that the request touches.
        std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n), std::byte{0});
        const std::uint64_t end = offset + n;
        for (auto it = m_sectors.lower_bound(offset / kSectorSize); it != m_sectors.end(); ++it) {
            const std::uint64_t first = it->first * kSectorSize;
            if (first >= end) break;
            const std::uint64_t from = std::max(offset, first);
            const std::uint64_t to = std::min(end, first + kSectorSize);
            std::memcpy(buffer.data() + (from - offset), it->second.data() + (from - first), to - from);
        }
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return m_total * kSectorSize; }

private:
    std::map<std::uint64_t, Sector> m_sectors;
    std::uint64_t m_total;
};

class DiskBuilder {
public:
    explicit DiskBuilder(std::uint64_t sectors) : m_total(sectors) {}

    // Writes a partition-table entry (0..3) into the record at sector, and signs the record.
    DiskBuilder& entry(std::uint64_t sector, int index, std::uint8_t type, std::uint32_t first,
                       std::uint32_t count) {
        const std::size_t at = 0x1BE + static_cast<std::size_t>(index) * 16;
        byte(sector, at + 4, type);
        u32(sector, at + 8, first);
        u32(sector, at + 12, count);
        return signature(sector);
    }
    DiskBuilder& signature(std::uint64_t sector, std::uint8_t b510 = 0x55, std::uint8_t b511 = 0xAA) {
        return byte(sector, 510, b510).byte(sector, 511, b511);
    }
    DiskBuilder& text(std::uint64_t sector, std::size_t offset, std::string_view t) {
        std::memcpy(m_sectors[sector].data() + offset, t.data(), t.size());
        return *this;
    }
    DiskBuilder& byte(std::uint64_t sector, std::size_t offset, std::uint8_t value) {
        m_sectors[sector][offset] = std::byte{value};
        return *this;
    }
    DiskBuilder& u16(std::uint64_t sector, std::size_t offset, std::uint16_t value) {
        byte(sector, offset, static_cast<std::uint8_t>(value));
        return byte(sector, offset + 1, static_cast<std::uint8_t>(value >> 8));
    }
    DiskBuilder& u32(std::uint64_t sector, std::size_t offset, std::uint32_t value) {
        u16(sector, offset, static_cast<std::uint16_t>(value));
        return u16(sector, offset + 2, static_cast<std::uint16_t>(value >> 16));
    }
    // Writes bytes starting at a sector, across as many sectors as they need.
    DiskBuilder& put(std::uint64_t sector, const std::vector<std::byte>& data) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            m_sectors[sector + i / kSectorSize][i % kSectorSize] = data[i];
        }
        return *this;
    }
    // A minimal FAT16 or FAT32 boot sector (jump, 512 bytes per sector, type text, signature).
    DiskBuilder& fatBootSector(std::uint64_t sector, bool fat32) {
        byte(sector, 0, 0xEB).byte(sector, 1, 0x58).byte(sector, 2, 0x90);
        u16(sector, 11, 512).byte(sector, 13, 8).u16(sector, 14, 32).byte(sector, 16, 2);
        text(sector, fat32 ? 82 : 54, fat32 ? "FAT32   " : "FAT16   ");
        return signature(sector);
    }
    DiskBuilder& ntfsBootSector(std::uint64_t sector) {
        byte(sector, 0, 0xEB).byte(sector, 1, 0x52).byte(sector, 2, 0x90);
        text(sector, 3, "NTFS    ").u16(sector, 11, 512).byte(sector, 13, 8);
        return signature(sector);
    }

    [[nodiscard]] std::unique_ptr<SectorSource> source() const {
        return std::make_unique<SparseSource>(m_sectors, m_total);
    }
    [[nodiscard]] std::unique_ptr<SectorReader> reader(CorruptTableNotice* notice = nullptr) const {
        return std::make_unique<SectorReader>(source(), notice);
    }
    [[nodiscard]] std::uint64_t sectors() const { return m_total; }
    // The whole disk as bytes, for writing an image file.
    [[nodiscard]] std::vector<std::byte> bytes() const {
        std::vector<std::byte> out(m_total * kSectorSize);
        for (const auto& [n, s] : m_sectors) std::memcpy(out.data() + n * kSectorSize, s.data(), kSectorSize);
        return out;
    }

private:
    std::map<std::uint64_t, Sector> m_sectors;
    std::uint64_t m_total;
};

}  // namespace quorlan::test

// Lays out a small FAT16 or FAT32 volume in a DiskBuilder: boot sector, FAT entries, directory
// clusters and entries, so that tests can build exactly the damage they need.
#pragma once

#include <string>

#include "fat/fat_volume.h"
#include "tests/support/disk_builder.h"

namespace quorlan::test {

class FatBuilder {
public:
    // A volume at sector start: reserved sectors (FAT16 1, FAT32 32), two FATs of spf sectors,
    // (FAT16) 32 root sectors, then the data area.
    FatBuilder(DiskBuilder& disk, std::uint64_t start, bool fat32, std::uint32_t spc = 4, std::uint32_t spf = 64)
        : m_disk(disk), m_start(start), m_fat32(fat32) {
        p.PartType = fat32 ? FileSystemType::Fat32 : FileSystemType::Fat16;
        p.SPC = spc;
        p.SPF = spf;
        p.ReserveSectors = fat32 ? 32 : 1;
        p.firstFAT = start + p.ReserveSectors;
        p.secondFAT = p.firstFAT + spf;
        p.RootSectors = fat32 ? 0 : 32;
        p.RootStart = fat32 ? 2 : p.secondFAT + spf;
        const std::uint64_t dataStart = p.secondFAT + spf + p.RootSectors;
        p.Cluster0Start = dataStart - 2 * spc;
    }

    // The boot sector with its BIOS parameter block, and the media bytes of both FATs.
    FatBuilder& bootSector() {
        m_disk.byte(m_start, 0, 0xEB).byte(m_start, 1, 0x58).byte(m_start, 2, 0x90);
        m_disk.u16(m_start, 11, 512).byte(m_start, 13, static_cast<std::uint8_t>(p.SPC));
        m_disk.u16(m_start, 14, static_cast<std::uint16_t>(p.ReserveSectors)).byte(m_start, 16, 2);
        if (m_fat32) {
            m_disk.u32(m_start, 36, static_cast<std::uint32_t>(p.SPF)).u32(m_start, 44, 2);
            m_disk.text(m_start, 82, "FAT32   ");
        } else {
            m_disk.u16(m_start, 22, static_cast<std::uint16_t>(p.SPF)).u16(m_start, 17, 512);
            m_disk.text(m_start, 54, "FAT16   ");
        }
        m_disk.signature(m_start);
        for (const std::uint64_t fat : {p.firstFAT, p.secondFAT}) {
            m_disk.byte(fat, 0, 0xF8).byte(fat, 1, 0xFF).byte(fat, 2, 0xFF).byte(fat, 3, m_fat32 ? 0x0F : 0xFF);
        }
        return *this;
    }

    // Sets the FAT copy 1 entry of cluster c, and the copy 2 entry too once mirrored() was called.
    FatBuilder& fat(std::uint32_t c, std::uint32_t next) {
        copyEntry(p.firstFAT, c, next);
        if (m_mirrored) copyEntry(p.secondFAT, c, next);
        return *this;
    }
    // Sets the entry of cluster c in one copy only (firstFAT or secondFAT).
    FatBuilder& copyEntry(std::uint64_t fatStart, std::uint32_t c, std::uint32_t next) {
        if (m_fat32) {
            m_disk.u32(fatStart + c / 128, (c % 128) * 4, next);
        } else {
            m_disk.u16(fatStart + c / 256, (c % 256) * 2, static_cast<std::uint16_t>(next));
        }
        return *this;
    }
    // From now on fat() writes both copies, as file systems keep them.
    FatBuilder& mirrored() {
        m_mirrored = true;
        return *this;
    }
    // A chain of count clusters from first on, in order, ending with an end-of-chain mark.
    FatBuilder& chain(std::uint32_t first, std::uint32_t count) {
        const std::uint32_t end = m_fat32 ? 0x0FFFFFFF : 0xFFFF;
        for (std::uint32_t i = 0; i < count; ++i) fat(first + i, i + 1 < count ? first + i + 1 : end);
        return *this;
    }

    // Makes cluster c a directory: "." naming selfInDot (normally c) and ".." naming parent.
    FatBuilder& directory(std::uint32_t c, std::uint32_t parent, std::optional<std::uint32_t> selfInDot = {}) {
        const std::uint64_t s = ClusterToSector(p, c);
        rawEntry(s, 0, ".          ", 0x10, selfInDot.value_or(c), 0);
        rawEntry(s, 1, "..         ", 0x10, parent, 0);
        return *this;
    }

    // Writes a 32-byte entry: 11 name bytes, attribute, first cluster, size.
    FatBuilder& rawEntry(std::uint64_t sector, int index, const std::string& name11, std::uint8_t attr,
                         std::uint32_t cluster, std::uint32_t size, std::uint16_t date = 0x3A4F,
                         std::uint16_t time = 0x7000) {
        const std::size_t at = static_cast<std::size_t>(index) * 32;
        m_disk.text(sector, at, name11.substr(0, 11));
        m_disk.byte(sector, at + 11, attr);
        m_disk.u16(sector, at + 26, static_cast<std::uint16_t>(cluster));
        m_disk.u16(sector, at + 20, static_cast<std::uint16_t>(m_fat32 ? cluster >> 16 : 0));
        m_disk.u16(sector, at + 22, time).u16(sector, at + 24, date);
        m_disk.u32(sector, at + 28, size);
        return *this;
    }

    // Writes a long-name entry holding up to 13 UTF-16 units.
    FatBuilder& longNameEntry(std::uint64_t sector, int index, std::uint8_t ordinal, const std::u16string& units,
                              std::uint8_t checksum) {
        static constexpr std::size_t kSlots[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        const std::size_t at = static_cast<std::size_t>(index) * 32;
        m_disk.byte(sector, at, ordinal).byte(sector, at + 11, 0x0F).byte(sector, at + 13, checksum);
        for (std::size_t i = 0; i < 13; ++i) {
            const std::uint16_t u = i < units.size() ? units[i] : (i == units.size() ? 0 : 0xFFFF);
            m_disk.u16(sector, at + kSlots[i], u);
        }
        return *this;
    }

    [[nodiscard]] std::uint64_t sectorOf(std::uint32_t c) const { return ClusterToSector(p, c); }

    FatVolumeParams p;

private:
    DiskBuilder& m_disk;
    std::uint64_t m_start;
    bool m_fat32;
    bool m_mirrored = false;
};

}  // namespace quorlan::test

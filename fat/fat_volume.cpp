#include "fat/fat_volume.h"

#include <bit>
#include <unordered_set>

#include "core/bytes.h"
#include "core/sector_scan.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_dir.h"

namespace quorlan {

namespace {

bool signedBoth(ByteView s) { return s.u8(kBootSignature) == 0x55 && s.u8(kBootSignature + 1) == 0xAA; }

bool validClusterSize(std::uint64_t spc) { return spc != 0 && spc <= 128 && std::has_single_bit(spc); }

// Reads one sector into a zeroed buffer (an unreadable sector is judged as zeros).
std::array<std::byte, kSectorSize> readOne(SectorReader& reader, std::uint64_t sector) {
    std::array<std::byte, kSectorSize> s{};
    (void)reader.ReadSectors(sector, 1, s);
    return s;
}

bool secondFatStartsWithMedia(SectorReader& reader, std::uint64_t sector) {
    return readOne(reader, sector)[0] == kMediaFixedDisk;
}

// A floppy's FATs begin with its own media descriptor (0xF0 on a 1.44 MB disk), not 0xF8.
bool secondFatStartsWithFat12Media(SectorReader& reader, std::uint64_t sector) {
    return IsFat12MediaByte(readOne(reader, sector)[0]);
}

}  // namespace

std::optional<FatVolumeParams> ReadFatBootSector(SectorReader& reader, std::uint64_t S, FileSystemType type) {
    FatVolumeParams p;
    p.PartType = type;
    if (type == FileSystemType::Fat16 || type == FileSystemType::Fat12) {
        const auto boot = readOne(reader, S);
        const ByteView b(boot);
        if (!signedBoth(b)) return std::nullopt;
        // The BPB lies wholly inside the 512-byte sector read.
        p.SPF = b.u16le_unchecked(kBpbSectorsPerFat16);
        p.ReserveSectors = b.u16le_unchecked(kBpbReservedSectors);
        p.SPC = b.u8_unchecked(kBpbSectorsPerCluster);
        const std::uint64_t rootEntries = b.u16le_unchecked(kBpbRootEntries);
        // A cluster size of 0 or one that is no power of two cannot be searched (the scan steps
        // by clusters); such a boot sector counts as damaged and the parameters are inferred.
        if (!validClusterSize(p.SPC)) return std::nullopt;
        const std::uint64_t secondFat = S + p.ReserveSectors + p.SPF;
        if (!(type == FileSystemType::Fat12 ? secondFatStartsWithFat12Media(reader, secondFat)
                                            : secondFatStartsWithMedia(reader, secondFat))) {
            return std::nullopt;
        }
        p.RootSectors = rootEntries / 16;
        p.RootStart = S + p.ReserveSectors + 2 * p.SPF;
        p.Cluster0Start = p.RootStart + p.RootSectors - 2 * p.SPC;
        p.firstFAT = S + p.ReserveSectors;
        p.secondFAT = p.firstFAT + p.SPF;
        return p;
    }
    if (type != FileSystemType::Fat32) return std::nullopt;

    auto take = [&](ByteView b) {
        p.SPF = b.u32le_unchecked(kBpbSectorsPerFat32);
        p.ReserveSectors = b.u16le_unchecked(kBpbReservedSectors);
        p.SPC = b.u8_unchecked(kBpbSectorsPerCluster);
        p.RootStart = b.u32le_unchecked(kBpbRootCluster);
        p.RootSectors = 0;
    };
    auto boot = readOne(reader, S);
    if (!signedBoth(ByteView(boot))) {
        boot = readOne(reader, S + kFat32BackupBootSector);
        if (!signedBoth(ByteView(boot))) return std::nullopt;
    }
    take(ByteView(boot));
    if (!validClusterSize(p.SPC) || !secondFatStartsWithMedia(reader, S + p.ReserveSectors + p.SPF)) {
        const auto backup = readOne(reader, S + kFat32BackupBootSector);
        take(ByteView(backup));
        if (!validClusterSize(p.SPC) || !secondFatStartsWithMedia(reader, S + p.ReserveSectors + p.SPF)) {
            return std::nullopt;
        }
    }
    p.Cluster0Start = S + p.ReserveSectors + 2 * p.SPF - 2 * p.SPC;
    p.firstFAT = S + p.ReserveSectors;
    p.secondFAT = p.firstFAT + p.SPF;
    return p;
}

std::optional<FatVolumeParams> InferFatParams(SectorReader& reader, std::uint64_t S, std::uint64_t E,
                                              FileSystemType type, const RunContext& context) {
    if (!IsFatType(type)) return std::nullopt;
    const bool fat32 = type == FileSystemType::Fat32;
    const bool fat12 = type == FileSystemType::Fat12;
    FatVolumeParams p;
    p.PartType = type;
    context.observer.status("Calculating Partition Params...");
    // FAT32 shows the sector reached of the volume's end sector, FAT12 and FAT16 the share done.
    if (fat32) {
        context.observer.beginPhase("%d / " + std::to_string(E), E);
    } else {
        context.observer.beginPhase("Completed ", E > S ? E - S : 0);
    }

    // Reserved sectors: the first FAT begins with the media byte 0xF8 and 0xFF; the last such
    // sector of the window wins.
    {
        const std::uint64_t first = fat32 ? S + 30 : S;
        const std::uint32_t count = fat32 ? 30 : 10;
        std::vector<std::byte> window(count * kSectorSize);
        (void)reader.ReadSectors(first, count, window);
        p.ReserveSectors = fat32 ? 32 : 1;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::byte media = window[i * kSectorSize];
            if ((fat12 ? IsFat12MediaByte(media) : media == std::byte{0xF8}) &&
                window[i * kSectorSize + 1] == std::byte{0xFF}) {
                p.ReserveSectors = first + i - S;
            }
        }
    }
    if (fat32) {
        p.RootStart = 2;
        p.RootSectors = 0;
    } else {
        // 512 root entries; a 1.44 MB floppy holds 224.
        p.RootSectors = fat12 ? 14 : 32;
    }
    const std::uint64_t r = p.RootSectors;

    // The first sectors of folders: "." at 0 and ".." at 32, each followed by a blank.
    bool haveAnchor = false;
    std::uint64_t s1 = 0;
    std::uint64_t c1 = 0;
    const ScanOptions options{.chunkSectors = 2048, .progressOrigin = fat32 ? 0 : S};  // 1 MiB per read
    const ScanSummary scan = ScanSectors(reader, S, E, options, context, [&](const ScanChunk& chunk) {
        for (std::uint32_t i = 0; i < chunk.sectorCount; ++i) {
            const ByteView s(chunk.bytes.data() + static_cast<std::size_t>(i) * kSectorSize, kSectorSize);
            if (!IsDirectoryStart(s)) continue;
            const std::uint64_t sector = chunk.firstSector + i;
            if (!haveAnchor) {
                // The first folder's "." cluster is read with both words, also on FAT16.
                const std::uint64_t c = EntryCluster(s, true);
                if (c >= 2 && c < 0xFFFFFFFFu) {
                    haveAnchor = true;
                    s1 = sector;
                    c1 = c;
                }
                continue;
            }
            const std::uint64_t c2 = EntryCluster(s, fat32);
            const std::uint64_t s2 = sector;
            if (c2 == 0xFFFFFFFFu || c2 <= c1) continue;  // a later folder must lie at a higher cluster
            if ((s2 - s1) % (c2 - c1) != 0) continue;
            // Cluster numbers run below sector numbers on a partitioned disk. A floppy's volume
            // starts at sector 0, where they run close: there the test is that cluster 0 does not
            // lie before the volume.
            if (!fat12 && !(c2 < s2 && c2 < s1)) continue;
            const std::uint64_t spc = (s2 - s1) / (c2 - c1);
            if (!validClusterSize(spc)) continue;
            if (fat12 && c1 * spc > s1 - S) continue;
            // The FATs fill what lies between the reserved sectors (and the FAT16 root) and
            // cluster 2; a negative or odd remainder cannot be two FATs.
            const auto t1 = static_cast<std::int64_t>(s1 - S) - static_cast<std::int64_t>(p.ReserveSectors) -
                            static_cast<std::int64_t>(r) - static_cast<std::int64_t>((c1 - 2) * spc);
            if (t1 <= 0) continue;
            p.SPC = spc;
            p.Cluster0Start = s1 - c1 * spc;
            p.SPF = static_cast<std::uint64_t>(t1) >> 1;
            p.firstFAT = S + p.ReserveSectors;
            p.secondFAT = p.firstFAT + p.SPF;
            if (!fat32) p.RootStart = p.secondFAT + p.SPF;
            return ScanStep::Stop;
        }
        return ScanStep::Continue;
    });
    if (scan.end != ScanEnd::VisitorStopped) return std::nullopt;  // no pair fits, or stopped
    context.observer.setDone(fat32 ? E : E - S);
    return p;
}

const ClusterChainReader::Block* ClusterChainReader::load(std::uint64_t fatSector) {
    const std::uint64_t blockIndex = fatSector / kBlockSectors;
    Block& block = m_cache[blockIndex % kBlocks];
    if (block.index == blockIndex) return &block;
    const std::uint64_t first = blockIndex * kBlockSectors;
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockSectors, m_params.SPF - first));
    block.index = blockIndex;
    block.bytes.assign(static_cast<std::size_t>(count) * kSectorSize, std::byte{0});
    block.readable.assign(count, true);
    if (m_reader.ReadSectors(m_params.firstFAT + first, count, block.bytes) == 0) {
        // Which sectors failed decides where chains end: ask each one alone.
        for (std::uint32_t i = 0; i < count; ++i) {
            block.readable[i] = m_reader.ReadSectors(m_params.firstFAT + first + i, 1,
                                                     std::span(block.bytes).subspan(i * kSectorSize, kSectorSize)) == 1;
        }
    }
    return &block;
}

std::optional<std::uint8_t> ClusterChainReader::fatByte(std::uint64_t offset) {
    const std::uint64_t index = offset / kSectorSize;
    if (m_params.firstFAT == 0 || index >= m_params.SPF) return std::nullopt;
    const Block* block = load(index);
    const std::uint64_t inBlock = index - block->index * kBlockSectors;
    if (inBlock >= block->readable.size() || !block->readable[inBlock]) return std::nullopt;
    return std::to_integer<std::uint8_t>(block->bytes[inBlock * kSectorSize + offset % kSectorSize]);
}

std::optional<std::uint32_t> ClusterChainReader::entry(std::uint32_t c) {
    if (c < m_loaded.size()) return m_loaded[c];
    if (m_params.isFat12()) {
        // Two 12-bit entries share three bytes: an even cluster takes the low 12 bits of the
        // 16-bit word at c * 3 / 2, an odd one the high 12. The word may straddle two sectors.
        const std::uint64_t offset = static_cast<std::uint64_t>(c) * 3 / 2;
        const auto low = fatByte(offset);
        const auto high = fatByte(offset + 1);
        if (!low || !high) return std::nullopt;
        const std::uint32_t word = static_cast<std::uint32_t>(*low) | (static_cast<std::uint32_t>(*high) << 8);
        return (c % 2 == 0) ? (word & 0x0FFFu) : (word >> 4);
    }
    const std::uint32_t perSector = m_params.isFat32() ? 128 : 256;
    const std::uint64_t index = c / perSector;
    if (m_params.firstFAT == 0 || index >= m_params.SPF) return std::nullopt;
    const Block* block = load(index);
    const std::uint64_t inBlock = index - block->index * kBlockSectors;
    if (inBlock >= block->readable.size() || !block->readable[inBlock]) return std::nullopt;
    const ByteView sector(block->bytes.data() + inBlock * kSectorSize, kSectorSize);
    const std::size_t slot = c % perSector;
    if (m_params.isFat32()) return sector.u32le_unchecked(slot * 4);
    return sector.u16le_unchecked(slot * 2);
}

std::vector<std::uint32_t> ClusterChainReader::FollowClusterChain(std::uint32_t firstCluster) {
    std::vector<std::uint32_t> chain;
    if (!m_params.isFat()) return chain;
    chain.push_back(firstCluster);
    std::unordered_set<std::uint32_t> seen{firstCluster};
    const std::uint64_t limit = m_params.fatEntries();
    // 0xFF7 / 0xFFF7 / 0x0FFFFFF7 mark a bad cluster and the values above it the end of a chain.
    const std::uint32_t endMark = m_params.isFat32() ? 0x0FFFFFF7u : m_params.isFat12() ? 0x0FF7u : 0xFFF7u;
    std::uint32_t c = firstCluster;
    while (chain.size() <= limit) {
        const auto next = entry(c);
        if (!next || *next < 2 || *next >= endMark || *next >= limit) break;
        if (!seen.insert(*next).second) break;  // the chain came back on itself
        chain.push_back(*next);
        c = *next;
    }
    return chain;
}

}  // namespace quorlan

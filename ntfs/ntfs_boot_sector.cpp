#include "ntfs/ntfs_boot_sector.h"

#include "ntfs/ntfs_record.h"

#include <array>
#include <bit>

namespace quorlan {

namespace {

using Sector = std::array<std::byte, kSectorSize>;

Sector readOne(SectorReader& reader, std::uint64_t sector) {
    Sector s{};
    (void)reader.ReadSectors(sector, 1, s);
    return s;
}

bool validClusterSize(std::uint64_t spc) { return spc >= 1 && spc <= 128 && std::has_single_bit(spc); }

bool startsWithFile(SectorReader& reader, std::uint64_t sector) {
    const Sector s = readOne(reader, sector);
    return ByteView(s).matches(kRecordMagic, "FILE");
}

}  // namespace

std::uint64_t NtfsSizeFieldSectors(ByteView boot, std::size_t offset, std::uint64_t spc) {
    const auto v = static_cast<std::int8_t>(boot.u8(offset).value_or(0));
    if (v < 0) {
        const int shift = -v;
        if (shift < 9 || shift > 20) return 0;
        return (std::uint64_t{1} << shift) / kSectorSize;
    }
    return static_cast<std::uint64_t>(v) * spc;
}

FatVolumeParams NtfsWorkingParams(const NtfsVolumeParams& ntfs) {
    FatVolumeParams p;
    p.PartType = FileSystemType::Ntfs;
    p.Cluster0Start = ntfs.volumeStart;
    p.SPC = ntfs.sectorsPerCluster;
    p.MftSector = ntfs.mftSector;
    p.MftMirrorSector = ntfs.mirrorSector;
    p.RecordSize = ntfs.recordSectors;
    p.IndexBufferSize = ntfs.indexBufferSectors;
    return p;
}

NtfsVolumeParams NtfsVolumeOf(const FatVolumeParams& p) {
    return {p.Cluster0Start, p.SPC, p.MftSector, p.MftMirrorSector, p.RecordSize, p.IndexBufferSize};
}

bool IsNtfsBootSector(ByteView sector) {
    if (sector.u8(kNtfsBootSignature) != 0x55 || sector.u8(kNtfsBootSignature + 1) != 0xAA) return false;
    if (!sector.matches(kNtfsOemId, "NTFS    ")) return false;
    if (sector.u16le(kNtfsBytesPerSector) != 512) return false;
    const auto spc = sector.u8(kNtfsSectorsPerCluster).value_or(0);
    return spc != 0 && std::has_single_bit(spc);
}

std::optional<NtfsVolumeParams> ValidateNtfsBootSector(SectorReader& reader, std::uint64_t start, std::uint64_t end) {
    const std::uint64_t backupSector = end > start + 1 ? end - 1 : start;
    const Sector first = readOne(reader, start);
    const Sector backup = readOne(reader, backupSector);
    auto isSigned = [](const Sector& s) {
        return s[kNtfsBootSignature] == std::byte{0x55} && s[kNtfsBootSignature + 1] == std::byte{0xAA};
    };

    // The copy in use; a failed check switches to the other one.
    bool usingBackup = !isSigned(first);
    if (usingBackup && !isSigned(backup)) return std::nullopt;
    auto copy = [&]() { return ByteView(usingBackup ? backup : first); };
    auto other = [&]() { return ByteView(usingBackup ? first : backup); };

    NtfsVolumeParams p;
    p.volumeStart = start;
    p.sectorsPerCluster = copy().u8(kNtfsSectorsPerCluster).value_or(0);
    if (!validClusterSize(p.sectorsPerCluster)) {
        p.sectorsPerCluster = other().u8(kNtfsSectorsPerCluster).value_or(0);
        if (!validClusterSize(p.sectorsPerCluster)) return std::nullopt;
    }
    auto validRecord = [](std::uint64_t s) { return s == 2 || s == 4 || s == 6 || s == 8; };
    p.recordSectors = NtfsSizeFieldSectors(copy(), kNtfsRecordSize, p.sectorsPerCluster);
    if (!validRecord(p.recordSectors)) {
        usingBackup = !usingBackup;
        const auto spc = copy().u8(kNtfsSectorsPerCluster).value_or(0);
        if (validClusterSize(spc)) p.sectorsPerCluster = spc;
        p.recordSectors = NtfsSizeFieldSectors(copy(), kNtfsRecordSize, p.sectorsPerCluster);
        if (!validRecord(p.recordSectors)) return std::nullopt;
    }
    auto locate = [&](std::size_t field) -> std::uint64_t {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto cluster = copy().u64le(field).value_or(0);
            const auto offset = checkedMul(cluster, p.sectorsPerCluster);
            if (offset && *offset < (std::uint64_t{1} << 48) && startsWithFile(reader, start + *offset)) {
                return start + *offset;
            }
            if (attempt == 0) usingBackup = !usingBackup;
        }
        return 0;
    };
    p.mftSector = locate(kNtfsMftCluster);
    p.mirrorSector = locate(kNtfsMirrorCluster);
    if (p.mftSector == 0 && p.mirrorSector == 0) return std::nullopt;
    p.indexBufferSectors = NtfsSizeFieldSectors(copy(), kNtfsIndexSize, p.sectorsPerCluster);
    return p;
}

}  // namespace quorlan

#include "ntfs/ntfs_deleted.h"

#include <algorithm>

#include "ntfs/mft.h"
#include "ntfs/ntfs_file.h"

namespace quorlan {

namespace {

constexpr std::uint32_t kBitmapRecord = 6;           // $Bitmap: one bit per cluster, set when in use
constexpr std::uint64_t kRecordWindowSectors = 128;  // deleted records lie scattered: 64 KiB windows

constexpr const char* kWhyTaken = "its clusters are now used by another file";
constexpr const char* kWhyShared = "another deleted file's runs share its clusters";
constexpr const char* kWhyNoBitmap = "the volume's $Bitmap cannot be read to tell whether its clusters are free";
constexpr const char* kWhyOutside = "its runs lie outside the volume";

// The bits of the $Bitmap, read a sector at a time where they are asked for.
class ClusterBitmap {
public:
    ClusterBitmap(SectorReader& reader, FileLayout layout) : m_reader(reader), m_layout(std::move(layout)) {}

    [[nodiscard]] bool usable() const { return !m_layout.failed && m_layout.size > 0; }

    // Whether a cluster of [first, end) is in use; empty when the bitmap does not reach it.
    std::optional<bool> anyInUse(std::uint64_t first, std::uint64_t end) {
        for (std::uint64_t c = first; c < end;) {
            const auto byte = byteAt(c / 8);
            if (!byte) return std::nullopt;
            if ((*byte >> (c % 8) & 1) != 0) return true;
            c = *byte == 0 ? (c / 8 + 1) * 8 : c + 1;
        }
        return false;
    }

private:
    std::optional<std::uint8_t> byteAt(std::uint64_t offset) {
        if (offset >= m_layout.size) return std::nullopt;
        std::uint64_t position = 0;
        for (const Extent& e : m_layout.extents) {
            if (offset >= position + e.length) {
                position += e.length;
                continue;
            }
            const std::uint64_t at = offset - position;
            switch (e.kind) {
                case Extent::Kind::Zeros:
                    return 0;
                case Extent::Kind::Bytes:
                    return at < e.bytes.size() ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(e.bytes[at]))
                                               : std::nullopt;
                case Extent::Kind::Sectors: {
                    const std::uint64_t sector = e.sector + at / kSectorSize;
                    if (sector != m_sector) {
                        std::fill(m_bytes.begin(), m_bytes.end(), std::byte{0});
                        if (m_reader.ReadSectors(sector, 1, m_bytes) == 0) return std::nullopt;
                        m_sector = sector;
                    }
                    return static_cast<std::uint8_t>(m_bytes[at % kSectorSize]);
                }
            }
        }
        return std::nullopt;
    }

    SectorReader& m_reader;
    FileLayout m_layout;
    std::vector<std::byte> m_bytes = std::vector<std::byte>(kSectorSize);
    std::uint64_t m_sector = ~std::uint64_t{0};
};

FileLayout bitmapLayout(SectorReader& reader, const NtfsVolumeParams& volume, const RunList& mftRuns) {
    const std::uint64_t recordSectors = volume.recordSectors > 0 ? volume.recordSectors : 2;
    if (const auto at = MftRecordToSector(mftRuns, kBitmapRecord, recordSectors)) {
        return NtfsFileLayout(reader, volume, mftRuns, *at, kBitmapRecord, false);
    }
    FileLayout none;
    none.failed = true;
    return none;
}

}  // namespace

std::vector<NtfsDeletedTrust> WeighNtfsDeleted(SectorReader& reader, const NtfsVolumeParams& volume,
                                               const RunList& mftRuns, const std::vector<NtfsDeletedData>& items) {
    std::vector<NtfsDeletedTrust> trust(items.size());
    if (items.empty()) return trust;
    auto mark = [&](std::size_t i, const std::string& why) {
        NtfsDeletedTrust& t = trust[i];
        t.mayBeIncomplete = true;
        if (t.why.find(why) == std::string::npos) t.why += (t.why.empty() ? "" : "; ") + why;
    };
    const std::uint64_t recordSectors = volume.recordSectors > 0 ? volume.recordSectors : 2;
    const std::uint64_t spc = volume.sectorsPerCluster > 0 ? volume.sectorsPerCluster : 1;
    ClusterBitmap bitmap(reader, bitmapLayout(reader, volume, mftRuns));
    MftRecordWindow records(reader, recordSectors, kRecordWindowSectors);

    struct Range {
        std::uint64_t first = 0;  // clusters [first, end)
        std::uint64_t end = 0;
        std::size_t item = 0;
    };
    std::vector<Range> ranges;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const NtfsDeletedData& d = items[i];
        const auto record = records.read(d.recordSector);
        if (!record) {
            mark(i, "its record cannot be read");
            continue;
        }
        const FileLayout layout = NtfsRecordLayout(reader, volume, mftRuns, ByteView(*record), d.self, true, d.stream);
        if (layout.failed) {
            mark(i, layout.problem);
            continue;
        }
        for (const Extent& e : layout.extents) {
            if (e.kind != Extent::Kind::Sectors || e.length == 0) continue;
            if (e.sector < volume.volumeStart) {
                mark(i, kWhyOutside);
                continue;
            }
            const std::uint64_t lastSector = e.sector + (e.length - 1) / kSectorSize;
            const Range r{(e.sector - volume.volumeStart) / spc, (lastSector - volume.volumeStart) / spc + 1, i};
            ranges.push_back(r);
            if (!bitmap.usable()) {
                mark(i, kWhyNoBitmap);
            } else if (const auto inUse = bitmap.anyInUse(r.first, r.end); !inUse) {
                mark(i, kWhyOutside);
            } else if (*inUse) {
                mark(i, kWhyTaken);
            }
        }
    }
    // Two deleted files whose runs share clusters: the later one wrote over the earlier one.
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
    std::uint64_t reach = 0;  // the furthest end of the ranges so far
    std::size_t reacher = 0;  // whose range it is
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        const Range& r = ranges[k];
        if (k > 0 && r.first < reach && items[reacher].self != items[r.item].self) {
            mark(r.item, kWhyShared);
            mark(reacher, kWhyShared);
        }
        if (k == 0 || r.end > reach) {
            reach = r.end;
            reacher = r.item;
        }
    }
    return trust;
}

}  // namespace quorlan

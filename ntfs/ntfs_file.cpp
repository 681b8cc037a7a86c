#include "ntfs/ntfs_file.h"

#include <algorithm>
#include <map>

#include "ntfs/mft.h"

namespace quorlan {

namespace {

constexpr std::uint16_t kFlagCompressed = 0x0001;
constexpr std::uint16_t kFlagEncrypted = 0x4000;

// The $DATA attributes of a record named stream (empty: the unnamed ones), by their lowest VCN (0
// for a resident one).
std::map<std::uint64_t, std::size_t> dataParts(ByteView record, std::string_view stream) {
    std::map<std::uint64_t, std::size_t> parts;
    for (const std::size_t pos : FindAttributes(record, kAttrData, stream.empty())) {
        if (!stream.empty() && AttributeName(record, pos) != stream) continue;
        const std::uint64_t vcn = record.u8(pos + kAttrNonResident) == 1 ? record.u64le(pos + kAttrLowestVcn).value_or(0) : 0;
        parts.emplace(vcn, pos);
    }
    return parts;
}

FileLayout failed(std::string why) {
    FileLayout layout;
    layout.failed = true;
    layout.problem = std::move(why);
    return layout;
}

// Bytes from initialized on read as zeros: the file was extended without writing them.
void zeroPastInitialized(FileLayout& layout, std::uint64_t initialized) {
    std::vector<Extent> out;
    std::uint64_t position = 0;
    for (Extent& e : layout.extents) {
        const std::uint64_t start = position;
        position += e.length;
        if (e.kind == Extent::Kind::Zeros || position <= initialized) {
            out.push_back(std::move(e));
            continue;
        }
        const std::uint64_t keep = initialized > start ? initialized - start : 0;
        Extent zeros;
        zeros.length = e.length - keep;
        if (keep > 0) {
            e.length = keep;
            out.push_back(std::move(e));
        }
        out.push_back(std::move(zeros));
    }
    layout.extents = std::move(out);
}

}  // namespace

FileLayout NtfsFileLayout(SectorReader& reader, const NtfsVolumeParams& volume, const RunList& mftRuns,
                          std::uint64_t recordSector, std::uint32_t self, bool deleted, std::string_view stream) {
    const std::uint64_t recordSectors = volume.recordSectors > 0 ? volume.recordSectors : 2;
    const auto base = ReadFileRecord(reader, recordSector, recordSectors);
    if (!base) return failed("the file's record (sector " + std::to_string(recordSector) + ") cannot be read");
    return NtfsRecordLayout(reader, volume, mftRuns, ByteView(*base), self, deleted, stream);
}

FileLayout NtfsRecordLayout(SectorReader& reader, const NtfsVolumeParams& volume, const RunList& mftRuns,
                            ByteView record, std::uint32_t self, bool deleted, std::string_view stream) {
    const std::uint64_t recordSectors = volume.recordSectors > 0 ? volume.recordSectors : 2;
    // Records of NTFS 3.1 hold their own number.
    if (record.u16le(kUpdateSequenceOffset).value_or(0) >= kNumberedRecordArrayOffset) {
        const std::uint32_t number = record.u32le(kRecordSelfNumber).value_or(0);
        if (number != self) return failed("the file's record now holds record " + std::to_string(number));
    }

    // The parts of $DATA: in the record itself, and in the extension records its attribute
    // list names.
    struct Part {
        ByteView record;
        std::size_t offset;
    };
    std::map<std::uint64_t, Part> parts;
    for (const auto& [vcn, offset] : dataParts(record, stream)) parts.emplace(vcn, Part{record, offset});
    std::vector<std::vector<std::byte>> extensions;
    std::string problem;
    if (FindAttribute(record, kAttrAttributeList, false)) {
        std::vector<std::uint32_t> read{self};
        extensions.reserve(64);
        for (const AttributeListEntry& e : AttributeListEntries(reader, record, volume)) {
            const bool other = stream.empty() ? e.nameLength != 0 : e.name != stream;
            if (e.type != kAttrData || other || parts.count(e.startVcn) != 0) continue;
            if (std::find(read.begin(), read.end(), e.record) != read.end()) continue;
            read.push_back(e.record);
            const auto at = MftRecordToSector(mftRuns, e.record, recordSectors);
            auto extension = at ? ReadFileRecord(reader, *at, recordSectors) : std::nullopt;
            if (!extension) {
                problem = "an extension record (" + std::to_string(e.record) + ") of the file cannot be read";
                continue;
            }
            extensions.push_back(std::move(*extension));
            const ByteView ext(extensions.back());
            if ((ext.u64le(kRecordBaseReference).value_or(0) & 0xFFFFFFFFull) != self) {
                problem = "an extension record (" + std::to_string(e.record) + ") now belongs to another file";
                continue;
            }
            for (const auto& [vcn, offset] : dataParts(ext, stream)) parts.emplace(vcn, Part{ext, offset});
        }
    }
    if (parts.empty()) {
        if (!stream.empty()) return failed("the file's record no longer holds the stream " + std::string(stream));
        FileLayout empty;  // no unnamed data: an empty file
        return empty;
    }

    FileLayout layout;
    layout.bestEffort = deleted;
    const Part& first = parts.begin()->second;
    if (first.record.u8(first.offset + kAttrNonResident) == 0) {
        const auto resident = ResidentValue(first.record, first.offset);
        if (!resident) return failed("the file's resident data is damaged");
        const ByteView value = *resident;
        Extent e;
        e.kind = Extent::Kind::Bytes;
        e.length = value.size();
        e.bytes.assign(value.data(), value.data() + value.size());
        layout.size = value.size();
        layout.extents.push_back(std::move(e));
        if (deleted) layout.problem = "deleted file";
        return layout;
    }

    if (parts.begin()->first != 0) return failed("the first part of the file's data is missing");
    const std::uint16_t flags = first.record.u16le(first.offset + kAttrFlags).value_or(0);
    if ((flags & kFlagEncrypted) != 0) return failed("the file is encrypted by NTFS; its clusters hold cipher text");
    // (A sparse file may carry a compression unit without being compressed.)
    if ((flags & kFlagCompressed) != 0) {
        return failed("the file is compressed by NTFS, which saving does not undo");
    }
    layout.size = first.record.u64le(first.offset + kAttrRealSize).value_or(0);
    const std::uint64_t initialized =
        std::min(layout.size, first.record.u64le(first.offset + kAttrInitializedSize).value_or(layout.size));
    const std::uint64_t clusterSectors = volume.sectorsPerCluster > 0 ? volume.sectorsPerCluster : 1;
    std::uint64_t vcn = 0;  // in clusters
    std::uint64_t bytes = 0;
    for (const auto& [start, part] : parts) {
        if (bytes >= layout.size) break;
        if (start > vcn) {
            // A part that could not be read: its clusters are written as zeros.
            Extent gap;
            gap.length = (start - vcn) * clusterSectors * kSectorSize;
            bytes += gap.length;
            layout.extents.push_back(std::move(gap));
            vcn = start;
            if (problem.empty()) problem = "part of the file's run list is missing";
        } else if (start < vcn) {
            continue;  // overlaps what earlier parts gave
        }
        for (const Run& run : AttributeRuns(part.record, part.offset, volume.volumeStart, clusterSectors)) {
            Extent e;
            e.kind = run.sparse ? Extent::Kind::Zeros : Extent::Kind::Sectors;
            e.sector = run.start;
            e.length = run.length * kSectorSize;
            bytes += e.length;
            vcn += run.length / clusterSectors;
            layout.extents.push_back(std::move(e));
            if (bytes >= layout.size) break;
        }
    }
    zeroPastInitialized(layout, initialized);
    std::uint64_t total = 0;
    for (Extent& e : layout.extents) {
        e.length = std::min(e.length, layout.size - total);
        total += e.length;
    }
    std::erase_if(layout.extents, [](const Extent& e) { return e.length == 0; });
    if (total < layout.size && problem.empty()) {
        problem = "the file's runs cover " + std::to_string(total) + " of " + std::to_string(layout.size) + " bytes";
    }
    if (deleted) problem = problem.empty() ? "deleted file: its clusters may have been used again" : problem;
    layout.problem = problem;
    return layout;
}

}  // namespace quorlan

#include "ntfs/ntfs_advance.h"

#include <algorithm>
#include <bit>
#include <compare>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/sector_scan.h"
#include "items/result_tree.h"
#include "items/tables.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_search.h"

namespace quorlan {

namespace {

constexpr std::size_t kLongestStructure = kIndxMaxBytes;

bool validClusterSize(std::uint64_t spc) {
    return spc >= 1 && spc <= 128 && std::has_single_bit(spc);
}

// The first cluster of the non-resident unnamed $DATA of a record, relative to its volume.
std::optional<std::uint64_t> firstDataCluster(ByteView record) {
    const auto pos = FindAttribute(record, kAttrData, true);
    if (!pos) return std::nullopt;
    const RunList runs = AttributeRuns(record, *pos, 0, 1);
    if (runs.empty() || runs.front().sparse) return std::nullopt;
    return runs.front().start;
}

// A cluster size each non-resident attribute of a record speaks for: its allocated size over the
// clusters its runs span (a record with an attribute list spreads attributes over records, whose
// first parts do not span the whole allocation, and gives none).
void voteClusterSize(ByteView record, std::array<std::uint64_t, 8>& votes) {
    if (FindAttribute(record, kAttrAttributeList, false)) return;
    for (const std::uint32_t type : {kAttrData, kAttrIndexAllocation}) {
        for (const std::size_t pos : FindAttributes(record, type, false)) {
            if (record.u8(pos + kAttrNonResident) != 1 || record.u64le(pos + kAttrLowestVcn) != 0) continue;
            const auto highest = record.u64le(pos + kAttrHighestVcn);
            const auto allocated = record.u64le(pos + kAttrAllocatedSize);
            if (!highest || !allocated || *allocated == 0 || *highest >= (std::uint64_t{1} << 40)) continue;
            const std::uint64_t clusters = *highest + 1;
            if (*allocated % clusters != 0 || (*allocated / clusters) % kSectorSize != 0) continue;
            const std::uint64_t spc = *allocated / clusters / kSectorSize;
            if (validClusterSize(spc)) ++votes[static_cast<std::size_t>(std::countr_zero(spc))];
        }
    }
}

}  // namespace

NtfsScanDetector::NtfsScanDetector(NtfsScanTables tables, NtfsScanFindings& findings, ScanCounters& counters)
    : m_tables(tables), m_findings(findings), m_counters(counters), m_scratch(kLongestStructure) {}

std::vector<LeadingBytes> NtfsScanDetector::leadingBytes() const {
    return {{'F', 'I'}, {'I', 'N'}};
}

void NtfsScanDetector::examine(const ScannedSector& scanned) {
    const ByteView s = scanned.bytes.sub(0, kSectorSize);
    if (s.size() < kSectorSize) return;
    // The whole sector lies in the view: the reads below are within it.
    if (s.u8_unchecked(kNtfsBootSignature) == 0x55 && s.u8_unchecked(kNtfsBootSignature + 1) == 0xAA &&
        s.matches(kNtfsOemId, "NTFS")) {
        AddNtfsBootSectorRow(m_tables.bootSectors, scanned.number, s);
        m_counters.add(Counter::BootSectorsFound);
    } else if (s.matches(kRecordMagic, "FILE")) {
        examineRecord(scanned);
    } else if (s.matches(kIndxMagic, "INDX")) {
        examineBuffer(scanned);
    }
}

void NtfsScanDetector::examineRecord(const ScannedSector& scanned) {
    const std::size_t size = ScannedRecordBytes(scanned.bytes);
    if (size == 0) return;  // no record of a size the scan knows
    // The pass shows every sector with 64 KiB after it: a record is always whole here.
    if (scanned.bytes.size() < size) {
        ++m_findings.skippedRecords;
        return;
    }
    const std::span<std::byte> record(m_scratch.data(), size);
    std::memcpy(record.data(), scanned.bytes.data(), size);
    if (!ApplyCheckedFixup(record)) {
        ++m_findings.skippedRecords;
        return;
    }
    const ByteView view(record);
    voteClusterSize(view, m_findings.clusterVotes);
    const std::optional<std::uint64_t> number = RecordNumber(view);
    if (number && *number <= 1 && (view.u8(kRecordFlags).value_or(0) & 1) != 0) {
        m_findings.systemRecords.push_back({scanned.number, *number, firstDataCluster(view)});
    }
    if (AddMftEntryRow(view, scanned.number, m_tables.mftEntries)) {
        const bool mayHoldStreams =
            !NamedDataStreams(view).empty() || FindAttribute(view, kAttrAttributeList, false).has_value();
        m_findings.records.push_back(
            {static_cast<std::uint8_t>(size / kSectorSize), number.has_value(), mayHoldStreams});
        m_counters.add(Counter::RecordsFound);
        return;
    }
    // An extension record: what its base record may lack.
    NtfsScanFindings::Extension e;
    e.sector = scanned.number;
    e.base = view.u64le(kRecordBaseReference).value_or(0) & kRecordNumberMask;
    e.name = FindAnyFileName(view);
    if (const auto data = FindAttribute(view, kAttrData, true)) {
        const bool firstPart = view.u8(*data + kAttrNonResident) == 0 || view.u64le(*data + kAttrLowestVcn) == 0;
        if (firstPart) e.dataSize = FindDataSize(view);
    }
    if (e.name || e.dataSize) m_findings.extensions.push_back(std::move(e));
}

void NtfsScanDetector::examineBuffer(const ScannedSector& scanned) {
    m_findings.indxSectors.push_back(scanned.number);
    const std::size_t size = IndexBufferBytes(scanned.bytes);
    if (size == 0 || scanned.bytes.size() < size) {
        ++m_findings.skippedBuffers;
        return;
    }
    const std::span<std::byte> buffer(m_scratch.data(), size);
    std::memcpy(buffer.data(), scanned.bytes.data(), size);
    if (!ApplyCheckedFixup(buffer) ||
        AddMftRefRow(ByteView(buffer), scanned.number, m_tables.mftRefs) == IndexBufferRow::Damaged) {
        ++m_findings.skippedBuffers;
    }
}

void AddNtfsBootSectorRow(RecordTable& table, std::uint64_t number, ByteView s) {
    const std::uint64_t spc = s.u8(kNtfsSectorsPerCluster).value_or(0);
    const int r = table.AppendRow(std::to_string(number));
    table.SetNumber(r, "SPF", spc);
    table.SetNumber(r, "SPC", NtfsSizeFieldSectors(s, kNtfsIndexSize, spc));
    table.SetNumber(r, "Root Sectors", NtfsSizeFieldSectors(s, kNtfsRecordSize, spc));
    table.SetNumber(r, "Root Start", s.u64le(kNtfsTotalSectors).value_or(0));
    table.SetNumber(r, "Reserve Sectors", s.u64le(kNtfsMftCluster).value_or(0));
    table.SetNumber(r, "Cluster0Start", s.u64le(kNtfsMirrorCluster).value_or(0));
}

namespace {

// A folder of the pass, as numbers.
struct Folder {
    int row = 0;               // its MftEntryTable row
    std::uint64_t sector = 0;  // its FILE record
    std::uint64_t self = 0;
    std::uint64_t firstRun = 0;
    std::uint64_t fs = 0;  // 0: none yet; kNtfsUndecided; n: file system n
};

// The first index buffer (VCN 0) of a folder, as the pass found it.
struct Buffer {
    std::uint64_t sector = 0;
    std::uint64_t owner = 0;
    bool consumed = false;  // a confirmed folder's: no longer offered for pairing
};

// The key a folder without a number of its own is found by in its parent's index.
struct NameKey {
    std::int64_t created = 0;
    std::uint64_t parent = 0;
    std::string name;
    bool operator==(const NameKey&) const = default;
};
struct NameKeyHash {
    std::size_t operator()(const NameKey& k) const {
        const std::size_t h = std::hash<std::string>{}(k.name);
        return h ^ (std::hash<std::uint64_t>{}(static_cast<std::uint64_t>(k.created) * 31 + k.parent) << 1);
    }
};

// Reads the INDX buffer at sector, repaired; empty when it is none the scan accepts.
std::optional<std::vector<std::byte>> readIndexBuffer(SectorReader& reader, std::uint64_t sector) {
    std::vector<std::byte> buffer(kSectorSize);
    (void)ReadSectorRange(reader, sector, 1, buffer);
    const std::size_t size = IndexBufferBytes(ByteView(buffer));
    if (size == 0) return std::nullopt;
    buffer.resize(size);
    (void)ReadSectorRange(reader, sector, static_cast<std::uint32_t>(size / kSectorSize), buffer);
    if (!ApplyCheckedFixup(buffer)) return std::nullopt;
    return buffer;
}

// Phase 1: folders without a number of their own get the one their parent's index entry gives
// them. Returns the folders numbered.
std::size_t numberFoldersFromIndexes(NtfsScanTables tables, SectorReader& reader, SearchObserver& observer) {
    RecordTable& entries = tables.mftEntries;
    const int typeColumn = entries.RequireColumn("type");
    const int selfColumn = entries.RequireColumn("selfMFT");
    std::unordered_map<NameKey, std::vector<int>, NameKeyHash> waiting;
    for (int r = 0; r < entries.RowCount(); ++r) {
        if (entries.GetCell(r, typeColumn) != "FOLDER" || entries.GetU64(r, selfColumn) != 0) continue;
        // The root folder, named "." in itself, is record 5; no index names it.
        if (entries.GetCell(r, 0) == "." && entries.GetU64(r, "parentMFT") == kNtfsRootRecord) {
            entries.SetNumber(r, selfColumn, kNtfsRootRecord);
            continue;
        }
        waiting[{entries.GetI64(r, "date"), entries.GetU64(r, "parentMFT"), std::string(entries.GetCell(r, 0))}]
            .push_back(r);
    }
    if (waiting.empty()) return 0;

    const RecordTable& refs = tables.mftRefs;
    const auto total = static_cast<std::uint64_t>(refs.RowCount());
    observer.status(" Assigning MFT Numbers Phase 1 \\ 2   ...");
    observer.beginPhase("Completed ", total);
    std::size_t numbered = 0;
    struct Entry {
        std::uint64_t child;
        NameKey key;
    };
    std::vector<Entry> folders;
    for (int j = 0; j < refs.RowCount() && !waiting.empty(); ++j) {
        if (j % 256 == 0) {
            observer.status(" Assigning MFT Numbers Phase 1 \\ 2 ( " + std::to_string(j) + "/" + std::to_string(total) +
                            " ) .....");
            observer.setDone(static_cast<std::uint64_t>(j));
        }
        const auto buffer = readIndexBuffer(reader, refs.GetU64(j, 0));
        if (!buffer) continue;
        folders.clear();
        const bool fits = ForEachIndexEntry(ByteView(*buffer), [&](std::uint64_t child, ByteView key) {
            if (!IsFileNameKey(key) || (key.u32le(kFileNameAttributes).value_or(0) & kFileNameIsFolder) == 0) return;
            if (auto info = ParseFileNameValue(key))
                folders.push_back({child, {info->creationTime, info->parent, std::move(info->name)}});
        });
        if (!fits) continue;  // a buffer whose entries run past it is used not at all
        for (const Entry& e : folders) {
            const auto it = waiting.find(e.key);
            if (it == waiting.end()) continue;
            entries.SetNumber(it->second.front(), selfColumn, e.child);
            ++numbered;
            it->second.erase(it->second.begin());
            if (it->second.empty()) waiting.erase(it);
        }
    }
    observer.setDone(total);
    return numbered;
}

// Phase 2: every row still without a number gets the one after the row before it (the running
// number follows each row's number).
void numberTheRest(RecordTable& entries, const NtfsScanFindings& findings, SearchObserver& observer) {
    observer.status(" Assigning MFT Numbers Phase 2 \\ 2   ...");
    const int selfColumn = entries.RequireColumn("selfMFT");
    std::uint64_t running = 1;
    for (int r = 0; r < entries.RowCount(); ++r) {
        std::uint64_t self = entries.GetU64(r, selfColumn);
        const bool own = static_cast<std::size_t>(r) < findings.records.size() &&
                         findings.records[static_cast<std::size_t>(r)].numbered;
        if (self == 0 && !own) {
            self = running + 1;
            entries.SetNumber(r, selfColumn, self);
        }
        running = self;
    }
}

// Which sectors begin an INDX buffer: those the pass saw, and the others read from the disk.
class IndexSectors {
public:
    IndexSectors(const NtfsScanFindings& findings, const NtfsScanCoverage& coverage, SectorReader& reader)
        : m_sectors(findings.indxSectors), m_coverage(coverage), m_reader(reader) {}

    bool at(std::uint64_t sector) {
        if (sector >= m_coverage.rangeStart && sector < m_coverage.scannedTo) {
            return std::binary_search(m_sectors.begin(), m_sectors.end(), sector);
        }
        if (const auto it = m_read.find(sector); it != m_read.end()) return it->second;
        std::array<std::byte, kSectorSize> s{};
        (void)ReadSectorRange(m_reader, sector, 1, s);
        const bool indx = ByteView(s).matches(kIndxMagic, "INDX");
        m_read.emplace(sector, indx);
        return indx;
    }

private:
    const std::vector<std::uint64_t>& m_sectors;
    const NtfsScanCoverage& m_coverage;
    SectorReader& m_reader;
    std::unordered_map<std::uint64_t, bool> m_read;
};

class Analysis {
public:
    Analysis(NtfsScanTables tables, NtfsScanFindings& findings, const NtfsScanCoverage& coverage, SectorReader& reader,
             RecordTable& fileSystems, SearchObserver& observer)
        : m_tables(tables),
          m_findings(findings),
          m_coverage(coverage),
          m_reader(reader),
          m_fileSystems(fileSystems),
          m_observer(observer),
          m_indexAt(findings, coverage, reader) {}

    NtfsAnalysisResult run() {
        (void)numberFoldersFromIndexes(m_tables, m_reader, m_observer);
        numberTheRest(m_tables.mftEntries, m_findings, m_observer);
        collectFolders();
        keepFirstBuffers();
        m_observer.status("Analyzing File Systems List");
        m_observer.beginPhase("Completed ", m_folders.size());
        fromBootSectors();
        fromPairs();
        placeTheRest();
        if (m_result.fileSystems == 0 && m_tables.mftEntries.RowCount() > 0) assumeOne();
        writeTables();
        return m_result;
    }

private:
    // The folder list: one per FOLDER row, in row order.
    void collectFolders() {
        const RecordTable& entries = m_tables.mftEntries;
        const int type = entries.RequireColumn("type");
        const int sector = entries.RequireColumn("Sector");
        const int self = entries.RequireColumn("selfMFT");
        const int firstRun = entries.RequireColumn("First Run");
        m_observer.status(" Extracting Directory Entries .........");
        for (int r = 0; r < entries.RowCount(); ++r) {
            if (entries.GetCell(r, type) != "FOLDER") continue;
            m_folders.push_back(
                {r, entries.GetU64(r, sector), entries.GetU64(r, self), entries.GetU64(r, firstRun), 0});
        }
    }

    // Only the first index buffer of each folder (VCN 0) places it.
    void keepFirstBuffers() {
        const RecordTable& refs = m_tables.mftRefs;
        const int vcn = refs.RequireColumn("vcn");
        const int owner = refs.RequireColumn("mftReference");
        for (int j = 0; j < refs.RowCount(); ++j) {
            if (refs.GetU64(j, vcn) != 0) continue;
            const std::size_t b = m_buffers.size();
            m_buffers.push_back({refs.GetU64(j, 0), refs.GetU64(j, owner), false});
            m_buffersOf[m_buffers[b].owner].push_back(b);
            m_buffersAt[m_buffers[b].sector].push_back(b);
        }
    }

    // The first buffer not consumed that names the folder.
    [[nodiscard]] std::optional<std::size_t> bufferOf(const Folder& f) const {
        const auto it = m_buffersOf.find(f.self);
        if (it == m_buffersOf.end()) return std::nullopt;
        for (const std::size_t b : it->second) {
            if (!m_buffers[b].consumed) return b;
        }
        return std::nullopt;
    }

    // The folders not placed yet whose first index buffer lies where a volume at start with spc
    // sectors per cluster puts it, with their records in start < sector <= end.
    std::vector<std::size_t> confirmed(std::uint64_t start, std::uint64_t spc, std::uint64_t end) {
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < m_folders.size(); ++i) {
            const Folder& f = m_folders[i];
            if (f.fs != 0 || f.firstRun == 0 || f.sector <= start || f.sector > end) continue;
            const auto offset = checkedMul(f.firstRun, spc);
            const auto at = offset ? checkedAdd(start, *offset) : std::nullopt;
            if (at && m_indexAt.at(*at)) found.push_back(i);
        }
        return found;
    }

    // Appends a file system and gives it the folders.
    void addFileSystem(std::uint64_t start, std::uint64_t spc, std::uint64_t end, std::optional<int> bootRow,
                       const std::vector<std::size_t>& folders) {
        const std::size_t number = static_cast<std::size_t>(m_fileSystems.RowCount()) + 1;
        const int r = m_fileSystems.AppendRow(std::to_string(start));
        m_fileSystems.SetNumber(r, "Cluster0Start", start);
        m_fileSystems.SetNumber(r, "SPF", end);
        m_fileSystems.SetNumber(r, "SPC", spc);
        m_fileSystems.SetCell(r, "PartType", "NTFS");
        m_findings.volumes.push_back({number, start, spc, bootRow});
        m_ends[number] = end;
        ++m_result.fileSystems;
        for (const std::size_t i : folders) {
            Folder& f = m_folders[i];
            f.fs = number;
            // Its buffer places no other folder.
            const std::uint64_t at = start + f.firstRun * spc;
            if (const auto it = m_buffersAt.find(at); it != m_buffersAt.end()) {
                for (const std::size_t b : it->second) {
                    if (!m_buffers[b].consumed) {
                        m_buffers[b].consumed = true;
                        break;
                    }
                }
            }
            if (++m_assigned % 256 == 0) {
                m_observer.status("Assigned " + std::to_string(m_assigned) + " / " + std::to_string(m_folders.size()));
                m_observer.setDone(std::min<std::uint64_t>(m_assigned, m_folders.size()));
            }
        }
    }

    [[nodiscard]] bool startTaken(std::uint64_t start) const {
        return std::any_of(m_findings.volumes.begin(), m_findings.volumes.end(),
                           [&](const NtfsVolumeFacts& v) { return v.start == start; });
    }

    // Whether the scan found record 0 of an $MFT at sector.
    [[nodiscard]] bool mftRecordAt(std::uint64_t sector) const {
        return std::any_of(
            m_findings.systemRecords.begin(), m_findings.systemRecords.end(),
            [&](const NtfsScanFindings::SystemRecord& s) { return s.number == 0 && s.sector == sector; });
    }

    // File systems from boot sectors: a volume that holds a folder's first index buffer where its
    // first run puts it, or its $MFT where the boot sector says. A boot sector that is the
    // backup in the volume's last sector gives the volume that ends there.
    void fromBootSectors() {
        const RecordTable& boot = m_tables.bootSectors;
        for (int b = 0; b < boot.RowCount(); ++b) {
            const std::uint64_t sector = boot.GetU64(b, 0);
            const std::uint64_t spc = boot.GetU64(b, "SPF");
            const std::uint64_t total = boot.GetU64(b, "Root Start");
            if (!validClusterSize(spc) || total == 0) continue;
            std::vector<std::uint64_t> starts{sector};
            if (sector >= total) starts.push_back(sector - total);
            for (const std::uint64_t start : starts) {
                if (startTaken(start)) break;
                // The volume's sectors, the backup boot sector after them included.
                const auto last = checkedAdd(start, total);
                const std::uint64_t end = last && *last != ~std::uint64_t{0} ? *last + 1 : ~std::uint64_t{0};
                const std::vector<std::size_t> folders = confirmed(start, spc, end - 1);
                const auto mftOffset = checkedMul(boot.GetU64(b, "Reserve Sectors"), spc);
                const auto mftSector = mftOffset ? checkedAdd(start, *mftOffset) : std::nullopt;
                if (folders.empty() && !(mftSector && mftRecordAt(*mftSector))) continue;
                addFileSystem(start, spc, end, b, folders);
                break;
            }
        }
    }

    // File systems without a boot sector, from pairs of folders whose first index buffers one
    // volume explains: for each cluster size, the folders are grouped by where their volume
    // would start (the buffer's sector - the first run x the size); two folders of one group,
    // with different first runs, give that volume, which is confirmed as a boot sector's is.
    void fromPairs() {
        m_observer.status("Analyzing File Systems List");
        // (cluster size, volume start, folder), sorted: the folders of a group in table order.
        struct Member {
            std::uint64_t spc;
            std::uint64_t start;
            std::size_t folder;
            auto operator<=>(const Member&) const = default;
        };
        std::vector<Member> groups;
        std::vector<std::optional<std::uint64_t>> bufferSector(m_folders.size());
        for (std::size_t i = 0; i < m_folders.size(); ++i) {
            const Folder& f = m_folders[i];
            if (f.fs != 0 || f.firstRun == 0) continue;
            const auto b = bufferOf(f);
            if (!b) continue;
            bufferSector[i] = m_buffers[*b].sector;
            for (std::uint64_t spc = 1; spc <= 128; spc *= 2) {
                const auto offset = checkedMul(f.firstRun, spc);
                if (offset && *offset <= *bufferSector[i]) groups.push_back({spc, *bufferSector[i] - *offset, i});
            }
        }
        std::sort(groups.begin(), groups.end());
        std::set<std::pair<std::uint64_t, std::uint64_t>> tried;
        for (std::size_t i = 0; i < m_folders.size(); ++i) {
            Folder& f = m_folders[i];
            if (f.fs != 0) continue;
            if (f.firstRun == 0 || !bufferSector[i]) {
                f.fs = kNtfsUndecided;
                continue;
            }
            const std::uint64_t s1 = *bufferSector[i];
            // The first partner in each group of this folder, tried in table order.
            std::vector<Member> partners;
            for (std::uint64_t spc = 1; spc <= 128; spc *= 2) {
                const auto offset = checkedMul(f.firstRun, spc);
                if (!offset || *offset > s1 || tried.contains({spc, s1 - *offset})) continue;
                const std::uint64_t start = s1 - *offset;
                for (auto it = std::upper_bound(groups.begin(), groups.end(), Member{spc, start, i});
                     it != groups.end() && it->spc == spc && it->start == start; ++it) {
                    const Folder& g = m_folders[it->folder];
                    if (g.fs == 0 && g.firstRun != f.firstRun && bufferSector[it->folder] != s1) {
                        partners.push_back({spc, start, it->folder});
                        break;
                    }
                }
            }
            std::sort(partners.begin(), partners.end(),
                      [](const Member& a, const Member& b) { return a.folder < b.folder; });
            for (const Member& p : partners) {
                tried.insert({p.spc, p.start});
                const std::vector<std::size_t> folders = confirmed(p.start, p.spc, m_coverage.rangeEnd);
                if (folders.size() < 2) continue;
                addFileSystem(p.start, p.spc, m_coverage.rangeEnd, std::nullopt, folders);
                break;
            }
        }
    }

    // Where every file system of the list lies: an NTFS one up to its volume's end or the end of
    // the range; a FAT one up to the end its boot sector gives, else the end of the range.
    void setExtents() {
        m_findings.extents.clear();
        for (int r = 0; r < m_fileSystems.RowCount(); ++r) {
            const std::size_t number = static_cast<std::size_t>(r) + 1;
            FileSystemExtent e{number, m_fileSystems.GetU64(r, 0), m_coverage.rangeEnd};
            if (const auto it = m_ends.find(number); it != m_ends.end()) {
                e.end = it->second;
            } else {
                if (e.start == 0) e.start = m_fileSystems.GetU64(r, "Cluster0Start");
                const std::uint64_t total = m_fileSystems.GetU64(r, "TotalSectors");
                if (total > e.start) e.end = total;
            }
            m_findings.extents.push_back(e);
        }
    }

    // Folders no buffer placed go to the file system whose extent holds their record.
    void placeTheRest() {
        setExtents();
        for (Folder& f : m_folders) {
            if (f.fs != 0 && f.fs != kNtfsUndecided) continue;
            const std::size_t holder = FileSystemHolding(m_findings.extents, f.sector);
            if (m_ends.contains(holder)) f.fs = holder;
        }
    }

    // Nothing identified a file system, but records were found: one is assumed. Its start is
    // where a copy of $MFT record 0 and the cluster of its data put it; its cluster size the one
    // the records' run lists vote for among those the $MFT's copies agree with.
    void assumeOne() {
        std::optional<std::uint64_t> mftCluster, mirrorCluster;
        std::vector<std::uint64_t> copies;  // sectors of record 0's copies
        for (const auto& s : m_findings.systemRecords) {
            if (s.number == 0) {
                copies.push_back(s.sector);
                if (!mftCluster) mftCluster = s.dataCluster;
            } else if (!mirrorCluster) {
                mirrorCluster = s.dataCluster;
            }
        }
        std::sort(copies.begin(), copies.end());
        const auto startFor = [&](std::uint64_t spc) -> std::optional<std::uint64_t> {
            if (!mftCluster || copies.empty()) return m_coverage.rangeStart;
            const auto offset = checkedMul(*mftCluster, spc);
            if (!offset) return std::nullopt;
            if (copies.size() >= 2 && mirrorCluster && *mirrorCluster != *mftCluster) {
                // The two copies lie as far apart as the clusters of the $MFT and its mirror.
                const std::uint64_t apart =
                    *mirrorCluster > *mftCluster ? *mirrorCluster - *mftCluster : *mftCluster - *mirrorCluster;
                const auto distance = checkedMul(apart, spc);
                if (!distance || copies.back() - copies.front() != *distance) return std::nullopt;
                const std::uint64_t mft = *mirrorCluster > *mftCluster ? copies.front() : copies.back();
                return mft >= *offset ? std::optional(mft - *offset) : std::nullopt;
            }
            return copies.front() >= *offset ? std::optional(copies.front() - *offset) : std::nullopt;
        };
        std::uint64_t spc = 8;
        std::uint64_t best = 0;
        for (std::size_t k = 0; k < m_findings.clusterVotes.size(); ++k) {
            const std::uint64_t size = std::uint64_t{1} << k;
            if (m_findings.clusterVotes[k] > best && startFor(size)) {
                best = m_findings.clusterVotes[k];
                spc = size;
            }
        }
        if (best == 0 && !startFor(spc)) {
            // No votes: the size the $MFT's two copies agree with, when one does.
            for (std::uint64_t size = 1; size <= 128; size *= 2) {
                if (startFor(size)) {
                    spc = size;
                    break;
                }
            }
        }
        const std::uint64_t start = startFor(spc).value_or(m_coverage.rangeStart);
        m_result.assumed = true;
        addFileSystem(start, spc, m_coverage.rangeEnd, std::nullopt, {});
        placeTheRest();
    }

    void writeTables() {
        RecordTable& dirs = m_tables.directories;
        const RecordTable& entries = m_tables.mftEntries;
        dirs.DeleteAllRows();
        m_findings.folderRows.clear();
        const int fsColumn = dirs.RequireColumn("File System");
        const int nameColumn = entries.ColumnIndex("name");
        const int parentColumn = entries.RequireColumn("parentMFT");
        const int dateColumn = entries.RequireColumn("date");
        for (std::size_t i = 0; i < m_folders.size(); ++i) {
            const Folder& f = m_folders[i];
            const int r = dirs.AppendRow(std::to_string(f.sector));
            dirs.SetNumber(r, "Self Cluster", f.self);
            dirs.SetCell(r, "Parent Cluster", entries.GetCell(f.row, parentColumn));
            dirs.SetNumber(r, fsColumn, f.fs);
            dirs.SetCell(r, "Date", entries.GetCell(f.row, dateColumn));
            dirs.SetCell(r, "Time", entries.GetCell(f.row, nameColumn));
            dirs.SetNumber(r, "First Run", f.firstRun);
            m_findings.folderRows.push_back(f.row);
            if (i % 1024 == 0) {
                m_observer.status(" Extracting Directory Entries ........." + std::to_string(i) + " / " +
                                  std::to_string(m_folders.size()));
            }
        }
        // The buffers left: the first of each folder that no file system consumed.
        RecordTable& refs = m_tables.mftRefs;
        refs.DeleteAllRows();
        for (const Buffer& b : m_buffers) {
            if (b.consumed) continue;
            const int r = refs.AppendRow(std::to_string(b.sector));
            refs.SetNumber(r, "mftReference", b.owner);
            refs.SetCell(r, "vcn", "0");
            refs.SetCell(r, "fsNumber", "4294967295");
        }
        m_observer.setDone(m_folders.size());
    }

    NtfsScanTables m_tables;
    NtfsScanFindings& m_findings;
    const NtfsScanCoverage& m_coverage;
    SectorReader& m_reader;
    RecordTable& m_fileSystems;
    SearchObserver& m_observer;
    IndexSectors m_indexAt;
    std::vector<Folder> m_folders;
    std::vector<Buffer> m_buffers;
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> m_buffersOf;  // by owner
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> m_buffersAt;  // by sector
    std::map<std::size_t, std::uint64_t> m_ends;  // the end of each NTFS file system, by number
    std::uint64_t m_assigned = 0;
    NtfsAnalysisResult m_result;
};

}  // namespace

std::size_t FileSystemHolding(const std::vector<FileSystemExtent>& extents, std::uint64_t sector) {
    const FileSystemExtent* best = nullptr;
    for (const FileSystemExtent& e : extents) {
        if (sector >= e.start && sector < e.end && (best == nullptr || e.start > best->start)) best = &e;
    }
    return best == nullptr ? 0 : best->number;
}

NtfsAnalysisResult AnalyzeNtfsScan(NtfsScanTables tables, NtfsScanFindings& findings, const NtfsScanCoverage& coverage,
                                   SectorReader& reader, RecordTable& fileSystems, SearchObserver& observer) {
    findings.volumes.clear();
    findings.extents.clear();
    findings.folderRows.clear();
    Analysis analysis(tables, findings, coverage, reader, fileSystems, observer);
    return analysis.run();
}

RunList MftRunsFromPositions(std::vector<std::pair<std::uint64_t, std::uint64_t>> positions,
                             std::uint64_t recordSectors) {
    RunList runs;
    if (recordSectors == 0) return runs;
    std::sort(positions.begin(), positions.end());
    std::uint64_t covered = 0;  // records the runs so far cover
    for (std::size_t i = 0; i < positions.size();) {
        const auto [first, sector] = positions[i];
        // The records that follow in step with this one.
        std::size_t j = i + 1;
        std::uint64_t last = first;
        while (j < positions.size()) {
            const auto [n, at] = positions[j];
            const auto offset = checkedMul(n - first, recordSectors);
            if (n != last && (!offset || at != sector + *offset)) break;
            last = n;
            ++j;
        }
        if (first < covered || !checkedMul(last + 1, recordSectors)) {
            i = j;  // overlaps what a run before gave (two copies of one number): the first stays
            continue;
        }
        if (first > covered) runs.push_back({0, (first - covered) * recordSectors, true});
        runs.push_back({sector, (last - first + 1) * recordSectors, false});
        covered = last + 1;
        i = j;
    }
    return runs;
}

NtfsAdvanceVolume BuildNtfsAdvanceEntries(std::size_t number, const RecordTable& fileSystems, NtfsScanTables tables,
                                          const NtfsScanFindings& findings, SectorReader& reader,
                                          RecordTable& folderTable, RecordTable& fileTable, SearchObserver& observer) {
    const int row = static_cast<int>(number) - 1;
    const std::uint64_t start = fileSystems.GetU64(row, "Cluster0Start");
    const std::uint64_t spc = fileSystems.GetU64(row, "SPC");
    std::optional<int> bootRow;
    for (const NtfsVolumeFacts& v : findings.volumes) {
        if (v.number == number) bootRow = v.bootRow;
    }
    const RecordTable& entries = tables.mftEntries;
    const int sectorColumn = entries.RequireColumn("Sector");
    const int selfColumn = entries.RequireColumn("selfMFT");
    const int typeColumn = entries.RequireColumn("type");
    const auto inVolume = [&](std::uint64_t sector) { return FileSystemHolding(findings.extents, sector) == number; };

    // The volume: from its boot sector, else from its records.
    NtfsAdvanceVolume out;
    NtfsVolumeParams& v = out.volume;
    v.volumeStart = start;
    v.sectorsPerCluster = spc;
    v.recordSectors = 2;
    v.indexBufferSectors = 8;
    std::optional<std::uint64_t> mftAt, mirrorAt;
    if (bootRow) {
        const RecordTable& boot = tables.bootSectors;
        if (const std::uint64_t r = boot.GetU64(*bootRow, "Root Sectors"); r >= 2 && r <= 8) v.recordSectors = r;
        if (const std::uint64_t x = boot.GetU64(*bootRow, "SPC"); x != 0) v.indexBufferSectors = x;
        const auto at = [&](const char* column) -> std::optional<std::uint64_t> {
            const auto offset = checkedMul(boot.GetU64(*bootRow, column), spc);
            return offset ? checkedAdd(start, *offset) : std::nullopt;
        };
        mftAt = at("Reserve Sectors");
        mirrorAt = at("Cluster0Start");
    } else {
        std::array<std::uint64_t, 9> sizes{};
        for (int r = 0; r < entries.RowCount() && static_cast<std::size_t>(r) < findings.records.size(); ++r) {
            if (inVolume(entries.GetU64(r, sectorColumn)))
                ++sizes[findings.records[static_cast<std::size_t>(r)].sectors % 9];
        }
        for (const std::uint64_t size : {4u, 8u}) {
            if (sizes[size] > sizes[v.recordSectors]) v.recordSectors = size;
        }
    }
    // The copies of $MFT record 0 in the volume: the $MFT's where the boot sector puts it, else
    // the first not where it puts the mirror; the mirror's, the other one.
    std::vector<std::uint64_t> copies;
    for (const auto& s : findings.systemRecords) {
        if (s.number == 0 && inVolume(s.sector)) copies.push_back(s.sector);
    }
    const auto has = [&](std::optional<std::uint64_t> at) {
        return at && std::find(copies.begin(), copies.end(), *at) != copies.end();
    };
    if (!copies.empty()) {
        v.mftSector = copies.front();
        for (const std::uint64_t c : copies) {
            if (c != mirrorAt) {
                v.mftSector = c;
                break;
            }
        }
        if (has(mftAt)) v.mftSector = *mftAt;
        for (const std::uint64_t c : copies) {
            if (c != v.mftSector) {
                v.mirrorSector = c;
                break;
            }
        }
        if (has(mirrorAt) && *mirrorAt != v.mftSector) v.mirrorSector = *mirrorAt;
    }
    out.mftRuns = BuildMftRunList(reader, v);
    if (out.mftRuns.empty()) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> positions;
        for (int r = 0; r < entries.RowCount() && static_cast<std::size_t>(r) < findings.records.size(); ++r) {
            const std::uint64_t sector = entries.GetU64(r, sectorColumn);
            if (findings.records[static_cast<std::size_t>(r)].numbered && inVolume(sector)) {
                positions.emplace_back(entries.GetU64(r, selfColumn), sector);
            }
        }
        out.mftRuns = MftRunsFromPositions(std::move(positions), v.recordSectors);
    }

    // The folders: the first of each number.
    observer.beginPhase("Completed ", static_cast<std::uint64_t>(entries.RowCount()));
    AddMiscFolderRow(folderTable, kNtfsRootRecord);
    const RecordTable& dirs = tables.directories;
    const std::string wanted = std::to_string(number);
    std::unordered_set<std::uint64_t> seen;
    for (int d = 0; d < dirs.RowCount() && static_cast<std::size_t>(d) < findings.folderRows.size(); ++d) {
        if (dirs.GetCell(d, "File System") != wanted) continue;
        const std::uint64_t self = dirs.GetU64(d, "Self Cluster");
        if (!seen.insert(self).second) continue;
        const int r = findings.folderRows[static_cast<std::size_t>(d)];
        const int e = folderTable.AppendRow(dirs.GetCell(d, "Time"));
        folderTable.SetCell(e, "sector", dirs.GetCell(d, "Sector"));
        folderTable.SetNumber(e, "self", self);
        folderTable.SetCell(e, "parent", dirs.GetCell(d, "Parent Cluster"));
        folderTable.SetCell(e, "attr", "16");
        folderTable.SetCell(e, "date", dirs.GetCell(d, "Date"));
        folderTable.SetCell(e, "size", "0");
        folderTable.SetCell(e, "Type", "FOLDER");
        if (entries.GetCell(r, "Deleted") == "1") folderTable.SetCell(e, "Deleted", "1");
    }

    // Names and sizes that extension records of the volume hold for their base records.
    std::unordered_map<std::uint64_t, const NtfsScanFindings::Extension*> nameOf, sizeOf;
    for (const auto& x : findings.extensions) {
        if (!inVolume(x.sector)) continue;
        if (x.name) nameOf.emplace(x.base, &x);
        if (x.dataSize) sizeOf.emplace(x.base, &x);
    }

    // The files: one row per named file of the volume, one per number.
    std::vector<int> chosen;
    std::unordered_map<std::uint64_t, std::size_t> byNumber;
    std::unordered_set<std::string> copiesSeen;
    const int total = entries.RowCount();
    for (int r = 0; r < total && static_cast<std::size_t>(r) < findings.records.size(); ++r) {
        if (entries.GetCell(r, typeColumn) == "FOLDER") continue;
        const std::uint64_t sector = entries.GetU64(r, sectorColumn);
        if (!inVolume(sector)) continue;
        const std::uint64_t self = entries.GetU64(r, selfColumn);
        if (entries.GetCell(r, 0).empty() &&
            !(findings.records[static_cast<std::size_t>(r)].numbered && nameOf.contains(self))) {
            continue;
        }
        if (!findings.records[static_cast<std::size_t>(r)].numbered) {
            // Without numbers, a copy (the mirror's) is known by its name, folder, time and size.
            const std::string key =
                std::string(entries.GetCell(r, 0)) + '\0' + std::string(entries.GetCell(r, "parentMFT")) + '\0' +
                std::string(entries.GetCell(r, "date")) + '\0' + std::string(entries.GetCell(r, "size"));
            if (copiesSeen.insert(key).second) chosen.push_back(r);
            continue;
        }
        const auto [it, first] = byNumber.emplace(self, chosen.size());
        if (first) {
            chosen.push_back(r);
        } else if (MftRecordToSector(out.mftRuns, self, v.recordSectors) == sector) {
            chosen[it->second] = r;  // the copy where the $MFT puts the record
        }
    }
    const int sizeColumn = fileTable.RequireColumn("size");
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        const int r = chosen[k];
        if (k % 1024 == 0) {
            observer.status("Currently Enumerating " + std::to_string(k) + " / " + std::to_string(chosen.size()));
            observer.setDone(static_cast<std::uint64_t>(r));
        }
        const std::uint64_t self = entries.GetU64(r, selfColumn);
        std::string name(entries.GetCell(r, 0));
        std::string parent(entries.GetCell(r, "parentMFT"));
        std::string date(entries.GetCell(r, "date"));
        std::string size(entries.GetCell(r, "size"));
        if (name.empty()) {
            const FileNameInfo& info = *nameOf.at(self)->name;
            name = info.name;
            parent = std::to_string(info.parent);
            date = std::to_string(info.creationTime);
        }
        if (size == "0") {
            if (const auto it = sizeOf.find(self); it != sizeOf.end()) size = std::to_string(*it->second->dataSize);
        }
        const bool deleted = entries.GetCell(r, "Deleted") == "1";
        const auto addRow = [&](const std::string& rowName, const std::string& rowSize, const char* type) {
            const int e = fileTable.AppendRow(rowName);
            fileTable.SetCell(e, "sector", entries.GetCell(r, sectorColumn));
            fileTable.SetNumber(e, "self", self);
            fileTable.SetCell(e, "parent", parent);
            fileTable.SetCell(e, "date", date);
            fileTable.SetCell(e, sizeColumn, rowSize);
            fileTable.SetCell(e, "Type", type);
            if (deleted) fileTable.SetCell(e, "Deleted", "1");
        };
        addRow(name, size, kNtfsFileType);
        // Its named data streams, each a row behind it, as the $MFT walk lists them (the metadata
        // files' streams hold no one's data).
        if (!findings.records[static_cast<std::size_t>(r)].mayHoldStreams || self < kNtfsFirstUserRecord) continue;
        const auto record = ReadFileRecord(reader, entries.GetU64(r, sectorColumn), v.recordSectors);
        if (!record) continue;
        FileRecordGroup group(reader, ByteView(*record), self, v, out.mftRuns);
        for (const auto& [stream, streamSize] : group.namedStreams()) {
            addRow(NtfsStreamRowName(name, stream), std::to_string(streamSize), kNtfsStreamType);
        }
    }
    observer.setDone(static_cast<std::uint64_t>(total));
    return out;
}

}  // namespace quorlan

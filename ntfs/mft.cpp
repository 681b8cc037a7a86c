#include "ntfs/mft.h"

#include <algorithm>

#include "items/result_tree.h"
#include "items/tables.h"
#include "ntfs/ntfs_search.h"

namespace quorlan {

namespace {

constexpr std::size_t kMaxAttributeListBytes = 1 << 20;
constexpr std::size_t kMaxListedRecords = 68;

// The size of the data stream named stream, from the part of it that starts at cluster 0 (the
// only part that keeps the sizes), when the record holds that part.
std::optional<std::uint64_t> firstPartSize(ByteView record, const std::string& stream) {
    const auto pos = FindDataAttribute(record, stream);
    if (!pos) return std::nullopt;
    if (record.u8(*pos + kAttrNonResident) == 1 && record.u64le(*pos + kAttrLowestVcn).value_or(1) != 0) {
        return std::nullopt;
    }
    return FindDataSize(record, stream);
}

}  // namespace

std::vector<AttributeListEntry> AttributeListEntries(SectorReader& reader, ByteView record, const NtfsVolumeParams& p) {
    const auto pos = FindAttribute(record, kAttrAttributeList, false);
    if (!pos) return {};
    std::vector<std::byte> data;
    ByteView list;
    if (record.u8(*pos + kAttrNonResident) == 0) {
        const auto value = ResidentValue(record, *pos);
        if (!value) return {};
        list = *value;
    } else {
        const std::uint64_t size = std::min<std::uint64_t>(record.u64le(*pos + kAttrRealSize).value_or(0), kMaxAttributeListBytes);
        for (const Run& run : AttributeRuns(record, *pos, p.volumeStart, p.sectorsPerCluster)) {
            if (data.size() >= size) break;
            const std::size_t before = data.size();
            const auto sectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(run.length, (size - before + 511) / 512));
            data.resize(before + std::size_t{sectors} * kSectorSize);
            if (!run.sparse) (void)reader.ReadSectors(run.start, sectors, std::span(data).subspan(before));
        }
        data.resize(std::min<std::size_t>(data.size(), size));
        list = ByteView(data);
    }
    return ParseAttributeList(list);
}

namespace {

// The base records named by the $ATTRIBUTE_LIST entries of unnamed $DATA, in list order.
std::vector<std::uint32_t> dataExtensionRecords(SectorReader& reader, ByteView record, const NtfsVolumeParams& p) {
    std::vector<std::uint32_t> refs;
    for (const AttributeListEntry& e : AttributeListEntries(reader, record, p)) {
        if (e.type == kAttrData && e.nameLength == 0 && std::find(refs.begin(), refs.end(), e.record) == refs.end()) {
            refs.push_back(e.record);
        }
    }
    return refs;
}

RunList runsFromRecordZero(SectorReader& reader, const NtfsVolumeParams& p, std::uint64_t sector) {
    const auto record = ReadFileRecord(reader, sector, p.recordSectors);
    if (!record) return {};
    const ByteView view(*record);
    const auto data = FindAttribute(view, kAttrData, true);
    if (!data) return {};
    RunList runs = AttributeRuns(view, *data, p.volumeStart, p.sectorsPerCluster);
    if (runs.empty()) return runs;
    // Runs continued in extension records, in the order the attribute list names them.
    for (const std::uint32_t ref : dataExtensionRecords(reader, view, p)) {
        if (ref == 0) continue;
        const auto at = MftRecordToSector(runs, ref, p.recordSectors);
        if (!at) break;
        const auto extension = ReadFileRecord(reader, *at, p.recordSectors);
        if (!extension) break;
        const ByteView ext(*extension);
        if (const auto more = FindAttribute(ext, kAttrData, true)) {
            const RunList tail = AttributeRuns(ext, *more, p.volumeStart, p.sectorsPerCluster);
            runs.insert(runs.end(), tail.begin(), tail.end());
        }
    }
    return runs;
}

// The entry-table columns written for every row, looked up once.
struct EntryColumns {
    explicit EntryColumns(const RecordTable& t)
        : sector(t.ColumnIndex("sector")), self(t.ColumnIndex("self")), parent(t.ColumnIndex("parent")),
          date(t.ColumnIndex("date")), size(t.ColumnIndex("size")), type(t.ColumnIndex("Type")),
          deleted(t.ColumnIndex("Deleted")) {}
    int sector, self, parent, date, size, type, deleted;
};

void setCommonCells(RecordTable& t, const EntryColumns& c, int r, std::uint64_t sector, std::uint32_t self,
                    const FileNameInfo& name, bool deleted) {
    t.SetNumber(r, c.sector, sector);
    t.SetNumber(r, c.self, self);
    t.SetNumber(r, c.parent, name.parent);
    t.SetCell(r, c.date, std::to_string(name.creationTime));
    if (deleted) t.SetCell(r, c.deleted, "1");
}

}  // namespace

std::optional<std::vector<std::byte>> ReadFileRecord(SectorReader& reader, std::uint64_t sector,
                                                     std::uint64_t recordSectors) {
    if (recordSectors == 0 || recordSectors > 8) return std::nullopt;
    std::vector<std::byte> record(recordSectors * kSectorSize);
    (void)reader.ReadSectors(sector, static_cast<std::uint32_t>(recordSectors), record);
    if (!RepairFileRecord(record)) return std::nullopt;
    return record;
}

std::optional<std::vector<std::byte>> MftRecordWindow::read(std::uint64_t sector) {
    if (m_recordSectors == 0 || m_recordSectors > 8) return std::nullopt;
    const auto bytes = m_window.sectors(sector, static_cast<std::uint32_t>(m_recordSectors));
    if (bytes.empty()) return std::nullopt;
    std::vector<std::byte> record(bytes.begin(), bytes.end());
    if (!RepairFileRecord(record)) return std::nullopt;
    return record;
}

RunList BuildMftRunList(SectorReader& reader, const NtfsVolumeParams& params) {
    RunList runs;
    if (params.mftSector != 0) runs = runsFromRecordZero(reader, params, params.mftSector);
    if (runs.empty() && params.mirrorSector != 0) runs = runsFromRecordZero(reader, params, params.mirrorSector);
    return runs;
}

std::optional<std::uint64_t> MftRecordToSector(const RunList& mftRuns, std::uint64_t n, std::uint64_t recordSectors) {
    const auto offset = checkedMul(n, recordSectors);
    if (!offset) return std::nullopt;
    std::uint64_t before = 0;
    for (const Run& run : mftRuns) {
        if (*offset < before + run.length) {
            if (run.sparse) return std::nullopt;
            return run.start + (*offset - before);
        }
        before += run.length;
    }
    return std::nullopt;
}

FileRecordGroup::FileRecordGroup(SectorReader& reader, ByteView record, std::uint64_t self,
                                 const NtfsVolumeParams& params, const RunList& mftRuns)
    : m_reader(reader), m_record(record), m_mftRuns(mftRuns), m_recordSectors(params.recordSectors),
      m_listed(AttributeListEntries(reader, record, params)), m_numbers{self} {
    for (const AttributeListEntry& e : m_listed) {
        if (m_numbers.size() >= kMaxListedRecords) break;
        if (std::find(m_numbers.begin(), m_numbers.end(), e.record) == m_numbers.end()) m_numbers.push_back(e.record);
    }
    m_extensions.resize(m_numbers.size());
}

std::optional<ByteView> FileRecordGroup::at(std::size_t k) {
    if (k == 0) return m_record;
    if (k >= m_numbers.size()) return std::nullopt;
    if (!m_extensions[k]) {
        const auto sector = MftRecordToSector(m_mftRuns, m_numbers[k], m_recordSectors);
        if (!sector) return std::nullopt;
        m_extensions[k] = ReadFileRecord(m_reader, *sector, m_recordSectors);
        if (!m_extensions[k]) m_extensions[k] = std::vector<std::byte>{};
    }
    if (m_extensions[k]->empty()) return std::nullopt;
    return ByteView(*m_extensions[k]);
}

std::vector<std::pair<std::string, std::uint64_t>> FileRecordGroup::namedStreams() {
    // The names: in the record, then those its attribute list names.
    std::vector<std::string> names = NamedDataStreams(m_record);
    for (const AttributeListEntry& e : m_listed) {
        if (e.type != kAttrData || e.name.empty()) continue;
        if (std::find(names.begin(), names.end(), e.name) == names.end()) names.push_back(e.name);
    }
    std::vector<std::pair<std::string, std::uint64_t>> out;
    for (std::string& stream : names) {
        std::uint64_t size = 0;
        for (std::size_t k = 0; k < m_numbers.size(); ++k) {
            const auto view = at(k);
            if (!view) continue;
            if (const auto s = firstPartSize(*view, stream)) {
                size = *s;
                break;
            }
        }
        out.emplace_back(std::move(stream), size);
    }
    return out;
}

MftWalkCounts WalkMft(SectorReader& reader, const NtfsVolumeParams& p, const RunList& mftRuns,
                      RecordTable& folderTable, RecordTable& fileTable, const RunContext& context) {
    SearchObserver& observer = context.observer;
    MftWalkCounts counts;
    observer.counter(Counter::RecordsFound, 0);
    observer.counter(Counter::BootSectorsFound, 0);
    AddMiscFolderRow(folderTable, 5);
    const std::uint64_t recordSectors = p.recordSectors;
    if (recordSectors == 0 || recordSectors > 8) return counts;
    const std::size_t recordBytes = recordSectors * kSectorSize;

    std::uint64_t total = 0;
    for (const Run& run : mftRuns) total += run.length;
    const EntryColumns folderColumns(folderTable);
    const EntryColumns fileColumns(fileTable);
    observer.beginPhase("Completed ", total);

    // Records are read 1 MiB at a time; a record whose name or size lies in an extension record
    // is completed from that record.
    const std::uint64_t chunkSectors = std::max<std::uint64_t>(recordSectors, 2048 / recordSectors * recordSectors);
    std::vector<std::byte> chunk(chunkSectors * kSectorSize);
    std::uint64_t done = 0;
    std::uint64_t slot = 0;
    for (const Run& run : mftRuns) {
        const std::uint64_t slots = run.length / recordSectors;
        if (run.sparse) {
            slot += slots;
            done += run.length;
            continue;
        }
        for (std::uint64_t first = 0; first < slots;) {
            if (context.stopRequested()) return counts;
            const std::uint64_t n = std::min(slots - first, chunkSectors / recordSectors);
            const std::uint64_t sector = run.start + first * recordSectors;
            std::fill(chunk.begin(), chunk.end(), std::byte{0});
            (void)reader.ReadSectors(sector, static_cast<std::uint32_t>(n * recordSectors), chunk);
            for (std::uint64_t i = 0; i < n; ++i, ++slot) {
                const std::span<std::byte> bytes(chunk.data() + i * recordBytes, recordBytes);
                if (!RepairFileRecord(bytes)) continue;
                const ByteView record(bytes);
                // An extension record holds attributes of the base record it names; it is no
                // file of its own.
                if ((record.u64le(kRecordBaseReference).value_or(0) & 0xFFFFFFFFFFFFull) != 0) continue;
                const auto r = static_cast<std::uint32_t>(slot);
                FileRecordGroup group(reader, record, r, p, mftRuns);
                std::optional<FileNameInfo> name;
                for (std::size_t k = 0; k < group.size() && !name; ++k) {
                    if (const auto view = group.at(k)) name = FindAnyFileName(*view);
                }
                if (!name) continue;
                const std::uint8_t flags = record.u8(kRecordFlags).value_or(1);
                const std::uint64_t recordSector = sector + i * recordSectors;
                if (flags == 3 || flags == 2) {
                    const int row = folderTable.AppendRow(name->name);
                    setCommonCells(folderTable, folderColumns, row, recordSector, r, *name, flags == 2);
                    folderTable.SetCell(row, folderColumns.size, "0");
                    folderTable.SetCell(row, folderColumns.type, "FOLDER");
                    ++counts.folders;
                } else {
                    std::uint64_t size = 0;
                    for (std::size_t k = 0; k < group.size(); ++k) {
                        const auto view = group.at(k);
                        if (!view) continue;
                        if (const auto s = FindDataSize(*view)) {
                            size = *s;
                            break;
                        }
                    }
                    const int row = fileTable.AppendRow(name->name);
                    setCommonCells(fileTable, fileColumns, row, recordSector, r, *name, flags == 0);
                    fileTable.SetNumber(row, fileColumns.size, size);
                    fileTable.SetCell(row, fileColumns.type, kNtfsFileType);
                    ++counts.files;
                    // Its named data streams, each a row behind it. The metadata files' streams
                    // ($BadClus:$Bad spans the volume) hold no one's data.
                    if (r < kNtfsFirstUserRecord) continue;
                    for (const auto& [stream, streamSize] : group.namedStreams()) {
                        const int streamRow = fileTable.AppendRow(NtfsStreamRowName(name->name, stream));
                        setCommonCells(fileTable, fileColumns, streamRow, recordSector, r, *name, flags == 0);
                        fileTable.SetNumber(streamRow, fileColumns.size, streamSize);
                        fileTable.SetCell(streamRow, fileColumns.type, kNtfsStreamType);
                    }
                }
            }
            first += n;
            done += n * recordSectors;
            counts.slots = slot;
            observer.status("Sectors  " + std::to_string(done) + " of " + std::to_string(total));
            observer.counter(Counter::RecordsFound, slot);
            observer.setDone(done);
        }
    }
    counts.slots = slot;
    return counts;
}

std::size_t ScannedRecordBytes(ByteView firstSector) {
    if (!firstSector.matches(kRecordMagic, "FILE")) return 0;
    const std::uint32_t size = firstSector.u32le(kRecordAllocatedSize).value_or(0);
    return size == 1024 || size == 2048 || size == 4096 ? size : 0;
}

bool AddMftEntryRow(ByteView record, std::uint64_t sector, RecordTable& table) {
    if ((record.u64le(kRecordBaseReference).value_or(0) & kRecordNumberMask) != 0) return false;
    const FileNameInfo name = FindAnyFileName(record).value_or(FileNameInfo{});
    const std::optional<std::uint64_t> number = RecordNumber(record);
    const int r = table.AppendRow(name.name);
    table.SetNumber(r, "Sector", sector);
    table.SetNumber(r, "parentMFT", name.parent);
    table.SetCell(r, "fsNumber", "0");
    table.SetSignedNumber(r, "date", name.creationTime);
    table.SetNumber(r, "size", FindDataSize(record).value_or(0));
    const std::uint8_t flags = record.u8(kRecordFlags).value_or(1);
    if (flags == 3 || flags == 2) {
        table.SetCell(r, "type", "FOLDER");
        table.SetNumber(r, "selfMFT", number.value_or(0));
        table.SetNumber(r, "First Run", FirstIndexCluster(record));
        if (flags == 2) table.SetCell(r, "Deleted", "1");
    } else {
        table.SetCell(r, "type", "File");
        if (number) {
            table.SetNumber(r, "selfMFT", *number);
        } else {
            table.SetCell(r, "selfMFT", SystemFileNumber(name.name));
        }
        table.SetCell(r, "First Run", "0");
        if (flags == 0) table.SetCell(r, "Deleted", "1");
    }
    return true;
}

std::size_t IndexBufferBytes(ByteView firstSector) {
    const auto allocated = firstSector.u32le(kIndxAllocatedSize);
    if (!firstSector.matches(kIndxMagic, "INDX") || !allocated) return 0;
    const std::uint64_t size = std::uint64_t{*allocated} + kIndxNodeHeader;
    if (size > kIndxMaxBytes || size < kSectorSize || size % kSectorSize != 0) return 0;
    return static_cast<std::size_t>(size);
}

bool ForEachIndexEntry(ByteView buffer, const std::function<void(std::uint64_t, ByteView)>& visit) {
    const auto first = buffer.u32le(kIndxEntriesOffset);
    const auto inUse = buffer.u32le(kIndxEntriesSize);
    if (!first || !inUse) return false;
    const std::uint64_t end = std::uint64_t{kIndxNodeHeader} + *inUse;
    if (end > buffer.size()) return false;
    constexpr std::uint64_t kEntryHeader = kIndexEntryKey;
    // Every entry is at least its header long, so the walk ends within size / 16 steps.
    for (std::uint64_t at = std::uint64_t{kIndxNodeHeader} + *first; at + kEntryHeader <= end;) {
        // The entry's header lies inside the entries in use: the reads below are in bounds.
        const std::uint16_t length = buffer.u16le_unchecked(at + kIndexEntryLength);
        const std::uint16_t keyLength = buffer.u16le_unchecked(at + kIndexEntryKeyLength);
        const std::uint16_t flags = buffer.u16le_unchecked(at + kIndexEntryFlags);
        if (length < kEntryHeader || at + length > end || kEntryHeader + keyLength > length) return false;
        if ((flags & 0x02) != 0) {
            visit(0, buffer.sub(at + kIndexEntryKey, keyLength));
            return true;
        }
        visit(buffer.u64le(at + kIndexEntryReference).value_or(0) & kRecordNumberMask,
              buffer.sub(at + kIndexEntryKey, keyLength));
        at += length;
    }
    return false;
}

bool IsFileNameKey(ByteView key) {
    const auto length = key.u8(kFileNameLength);
    return length && key.contains(kFileNameChars, std::uint64_t{*length} * 2);
}

IndexBufferRow AddMftRefRow(ByteView buffer, std::uint64_t sector, RecordTable& table) {
    std::optional<std::uint64_t> owner;
    bool firstEntry = true;
    const bool fits = ForEachIndexEntry(buffer, [&](std::uint64_t, ByteView key) {
        // The folder the buffer belongs to: the parent named by its first entry's key.
        if (firstEntry && IsFileNameKey(key)) owner = key.u64le(kFileNameParent).value_or(0) & kRecordNumberMask;
        firstEntry = false;
    });
    if (!fits) return IndexBufferRow::Damaged;
    if (!owner || *owner <= 4 || *owner == 0xFFFFFFFFu) return IndexBufferRow::NoFolder;
    const int r = table.AppendRow(std::to_string(sector));
    table.SetNumber(r, "mftReference", *owner);
    table.SetNumber(r, "vcn", buffer.u64le(kIndxVcn).value_or(0));
    table.SetCell(r, "fsNumber", "4294967295");
    return IndexBufferRow::Added;
}

}  // namespace quorlan

#include "log/recovery_log.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>

#include "core/bytes.h"
#include "core/sector_scan.h"
#include "core/text.h"
#include "fat/fat_search.h"
#include "items/tables.h"
#include "log/recovery_log_format.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_search.h"

namespace quorlan {

namespace {

// The smallest folder record: length, empty name, self, parent, two 64-bit values, flag byte.
constexpr std::size_t kMinFolderRecord = 4 + 4 + 4 + 8 + 8 + 1;
// The part of a folder record that its length field counts besides the name.
constexpr std::uint32_t kFolderRecordFixed = 25;
// The smallest NTFS entry: name length, empty name, sector, self, parent, date, size, deleted.
constexpr std::size_t kMinNtfsEntry = 4 + 4 + 4 + 4 + 8 + 4 + 4;
// Logs larger than this are not read: no search writes one.
constexpr std::uintmax_t kMaxLogBytes = std::uintmax_t{1} << 31;

std::string shortText(std::string_view text) {
    return std::string(truncateUtf8(text, kLogShortTextBuffer - 1));
}

std::array<std::uint32_t, 12> paramRecord(const FatVolumeParams& p) {
    const std::uint64_t values[12] = {p.SPF,          p.SPC,           p.RootSectors, p.RootStart,
                                      p.ReserveSectors, p.Cluster0Start, p.firstFAT,    p.secondFAT,
                                      p.MftSector,    p.MftMirrorSector, p.RecordSize,  p.IndexBufferSize};
    std::array<std::uint32_t, 12> record{};
    // The log keeps the low 32 bits: sector numbers of media below 2 TiB.
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint32_t>(values[i]);
    return record;
}

FatVolumeParams paramsFromRecord(const std::array<std::uint32_t, 12>& r, FileSystemType type) {
    FatVolumeParams p;
    p.SPF = r[0];
    p.SPC = r[1];
    p.RootSectors = r[2];
    p.RootStart = r[3];
    p.ReserveSectors = r[4];
    // An inferred FAT volume can place cluster 0 a little before sector 0; kept modulo 2^32, it
    // comes back as a value within two clusters of 2^32, which no 32-bit sector reaches as a real
    // start. Such a value is taken as the negative number it was.
    std::uint64_t cluster0 = r[5];
    if (type != FileSystemType::Ntfs && p.SPC > 0 && cluster0 + 2 * p.SPC > 0xFFFFFFFFull) cluster0 -= std::uint64_t{1} << 32;
    p.Cluster0Start = cluster0;
    p.firstFAT = r[6];
    p.secondFAT = r[7];
    p.MftSector = r[8];
    p.MftMirrorSector = r[9];
    p.RecordSize = r[10];
    p.IndexBufferSize = r[11];
    p.PartType = type;
    return p;
}

class Writer {
public:
    void bytes(std::string_view text) {
        for (const char c : text) m_out.push_back(static_cast<std::byte>(c));
    }
    void u8(std::uint8_t v) { m_out.push_back(static_cast<std::byte>(v)); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    // A text preceded by its length in one byte (the low byte of the length).
    void shortString(std::string_view text) {
        u8(static_cast<std::uint8_t>(text.size()));
        bytes(text);
    }
    std::vector<std::byte> take() { return std::move(m_out); }

private:
    std::vector<std::byte> m_out;
};

// Reads fields in file order; every read checks that the file holds it.
class Reader {
public:
    explicit Reader(std::span<const std::byte> bytes) : m_view(bytes.data(), bytes.size()) {}

    bool skip(std::size_t n) {
        if (remaining() < n) return false;
        m_pos += n;
        return true;
    }
    bool u8(std::uint8_t& v) {
        const auto r = m_view.u8(m_pos);
        if (!r) return false;
        v = *r;
        m_pos += 1;
        return true;
    }
    bool u32(std::uint32_t& v) {
        const auto r = m_view.u32le(m_pos);
        if (!r) return false;
        v = *r;
        m_pos += 4;
        return true;
    }
    bool u64(std::uint64_t& v) {
        const auto r = m_view.u64le(m_pos);
        if (!r) return false;
        v = *r;
        m_pos += 8;
        return true;
    }
    bool text(std::size_t n, std::string& out) {
        if (remaining() < n) return false;
        out.assign(reinterpret_cast<const char*>(m_view.data() + m_pos), n);
        m_pos += n;
        return true;
    }
    // A text preceded by a one-byte length; a length the writer never produces is refused.
    bool shortString(std::string& out) {
        std::uint8_t n = 0;
        return u8(n) && n < kLogShortTextBuffer && text(n, out);
    }
    [[nodiscard]] std::size_t remaining() const { return m_view.size() - m_pos; }

private:
    ByteView m_view;
    std::size_t m_pos = 0;
};

Error corrupt() { return Error{ErrorKind::Other, kMsgLogCorrupt}; }

}  // namespace

std::filesystem::path RecoveryLogPath(const std::filesystem::path& chosen) {
    std::string name = chosen.filename().string();
    if (name.empty()) return chosen;
    if (!chosen.has_extension()) name += "." + std::string(kRecoveryLogExtension);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return chosen.parent_path() / name;
}

Result<void> RecoveryLogAllowed(const RecoveryState& state) {
    if (state.params.PartType == FileSystemType::Fat12 || state.setup.partitionType == FileSystemType::Fat12) {
        return Error{ErrorKind::InvalidArgument, kMsgLogFloppy};
    }
    return {};
}

Result<RecoveryLog> CaptureRecoveryLog(const RecoveryState& state, std::string_view diskModel) {
    if (auto allowed = RecoveryLogAllowed(state); !allowed) return allowed.error();
    RecoveryLog log;
    const SearchSetup& setup = state.setup;
    log.identity = shortText(diskModel);
    log.searchMode = static_cast<std::uint8_t>(setup.searchMode);
    log.selectedDisk = static_cast<std::uint8_t>(setup.selectedDisk);
    log.searchDisk = static_cast<std::uint8_t>(setup.searchDisk);
    log.partitionIndex = static_cast<std::uint8_t>(setup.partitionIndex);
    log.partitionTypeText = shortText(FileSystemTypeText(setup.partitionType));
    log.searchModeText = shortText(SearchModeText(setup.searchMode));
    log.rangeStart = setup.rangeStart;
    log.rangeEnd = setup.rangeEnd;
    log.validation = paramRecord(setup.validation);
    log.working = paramRecord(state.params);
    log.fileSystem = shortText(FileSystemTypeText(state.params.PartType));
    for (const FolderNode& node : state.model.nodes) {
        log.folders.push_back({std::string(truncateUtf8(node.name, kLogNameBuffer - 1)), node.self, node.parent,
                               node.date, node.time, static_cast<std::uint8_t>(node.deleted ? 1 : 0)});
    }
    if (state.params.isNtfs()) {
        const RecordTable& files = state.tables.ntfsEntryTable;
        const int name = files.ColumnIndex("Name");
        for (int r = 0; r < files.RowCount(); ++r) {
            log.ntfsFiles.push_back({std::string(truncateUtf8(files.GetCell(r, name), kLogNameBuffer - 1)),
                                     files.GetU32(r, "sector"), files.GetU32(r, "self"), files.GetU32(r, "parent"),
                                     files.GetI64(r, "date"), static_cast<std::uint32_t>(files.GetU64(r, "size")),
                                     files.GetU32(r, "Deleted")});
        }
    }
    return log;
}

std::vector<std::byte> EncodeRecoveryLog(const RecoveryLog& log) {
    Writer w;
    w.bytes(kRecoveryLogSignature);
    w.u32(static_cast<std::uint32_t>(log.identity.size()));
    w.bytes(log.identity);
    w.u8(log.searchMode);
    w.u8(log.selectedDisk);
    w.u8(log.searchDisk);
    w.u8(log.partitionIndex);
    w.shortString(log.partitionTypeText);
    w.shortString(log.searchModeText);
    w.u64(log.rangeStart);
    w.u64(log.rangeEnd);
    for (const std::uint32_t v : log.validation) w.u32(v);
    for (const std::uint32_t v : log.working) w.u32(v);
    w.shortString(log.fileSystem);
    w.u32(static_cast<std::uint32_t>(log.folders.size()));
    for (const RecoveryLog::Folder& f : log.folders) {
        w.u32(static_cast<std::uint32_t>(f.name.size()) + kFolderRecordFixed);
        w.bytes(f.name);
        w.u32(f.self);
        w.u32(f.parent);
        w.u64(f.first);
        w.u64(f.second);
        w.u8(f.flags);
    }
    if (FileSystemTypeFromText(log.fileSystem) == FileSystemType::Ntfs) {
        w.u32(static_cast<std::uint32_t>(log.ntfsFiles.size()));
        for (const RecoveryLog::NtfsFile& f : log.ntfsFiles) {
            w.u32(static_cast<std::uint32_t>(f.name.size()));
            w.bytes(f.name);
            w.u32(f.sector);
            w.u32(f.self);
            w.u32(f.parent);
            w.u64(static_cast<std::uint64_t>(f.date));
            w.u32(f.size);
            w.u32(f.deleted);
        }
    }
    return w.take();
}

Result<RecoveryLog> DecodeRecoveryLog(std::span<const std::byte> bytes, std::string_view diskModel) {
    Reader in(bytes);
    RecoveryLog log;
    std::uint32_t n = 0;
    // The signature is skipped, not compared.
    if (!in.skip(kRecoveryLogSignature.size()) || !in.u32(n) || n >= kLogShortTextBuffer || !in.text(n, log.identity)) {
        return corrupt();
    }
    if (log.identity != truncateUtf8(diskModel, kLogShortTextBuffer - 1)) return corrupt();
    if (!in.u8(log.searchMode) || !in.u8(log.selectedDisk) || !in.u8(log.searchDisk) || !in.u8(log.partitionIndex) ||
        !in.shortString(log.partitionTypeText) || !in.shortString(log.searchModeText) || !in.u64(log.rangeStart) ||
        !in.u64(log.rangeEnd)) {
        return corrupt();
    }
    for (std::uint32_t& v : log.validation) {
        if (!in.u32(v)) return corrupt();
    }
    for (std::uint32_t& v : log.working) {
        if (!in.u32(v)) return corrupt();
    }
    std::uint32_t count = 0;
    if (!in.shortString(log.fileSystem) || !in.u32(count)) return corrupt();
    // A count the rest of the file cannot hold is refused before anything is allocated for it.
    if (count > in.remaining() / kMinFolderRecord) return corrupt();
    log.folders.resize(count);
    for (RecoveryLog::Folder& f : log.folders) {
        std::uint32_t length = 0;
        if (!in.u32(length) || length < kFolderRecordFixed || length - kFolderRecordFixed >= kLogNameBuffer ||
            !in.text(length - kFolderRecordFixed, f.name) || !in.u32(f.self) || !in.u32(f.parent) ||
            !in.u64(f.first) || !in.u64(f.second) || !in.u8(f.flags)) {
            return corrupt();
        }
    }
    if (FileSystemTypeFromText(log.fileSystem) == FileSystemType::Ntfs) {
        if (!in.u32(count) || count > in.remaining() / kMinNtfsEntry) return corrupt();
        log.ntfsFiles.resize(count);
        for (RecoveryLog::NtfsFile& f : log.ntfsFiles) {
            std::uint32_t length = 0;
            std::uint64_t date = 0;
            if (!in.u32(length) || length >= kLogNameBuffer || !in.text(length, f.name) || !in.u32(f.sector) ||
                !in.u32(f.self) || !in.u32(f.parent) || !in.u64(date) || !in.u32(f.size) || !in.u32(f.deleted)) {
                return corrupt();
            }
            f.date = static_cast<std::int64_t>(date);
        }
    }
    return log;
}

void RestoreRecoveryLog(const RecoveryLog& log, RecoveryState& state, SectorReader& reader, SearchObserver& observer) {
    RecordTable& folders = state.tables.fatEntryTable;
    RecordTable& files = state.tables.ntfsEntryTable;
    folders.DeleteAllRows();
    files.DeleteAllRows();
    state.NtfsFilesChanged();
    state.model.Clear();
    state.mftRuns.clear();

    SearchSetup& setup = state.setup;
    setup = SearchSetup{};
    setup.selectedDisk = log.selectedDisk;
    setup.searchDisk = log.searchDisk;
    setup.partitionIndex = log.partitionIndex;
    setup.searchMode = SearchModeFromNumber(log.searchMode).value_or(SearchMode::Standard);
    setup.partitionType = FileSystemTypeFromText(log.partitionTypeText);
    setup.rangeStart = log.rangeStart;
    setup.rangeEnd = log.rangeEnd;
    const FileSystemType type = FileSystemTypeFromText(log.fileSystem);
    setup.validation = paramsFromRecord(log.validation, type);
    state.params = paramsFromRecord(log.working, type);
    const bool ntfs = type == FileSystemType::Ntfs;

    observer.status("Loading tree, Please Wait...");
    observer.beginPhase("", 100);
    // The tree builders enter a folder's sub-folders from the last row up, and the folders
    // directly under the root from the first row down. Rows go into the table so that both
    // come out in the order the log lists them.
    const std::uint32_t rootNumber = ntfs ? kNtfsRootRecord : 0;
    std::vector<std::size_t> order;
    order.reserve(log.folders.size());
    for (std::size_t i = 0; i < log.folders.size(); ++i) {
        if (log.folders[i].parent == rootNumber) order.push_back(i);
    }
    for (std::size_t i = log.folders.size(); i-- > 0;) {
        if (log.folders[i].parent != rootNumber) order.push_back(i);
    }
    const std::size_t total = log.folders.size() + log.ntfsFiles.size();
    std::size_t done = 0;
    auto advance = [&] {
        ++done;
        if (total > 0 && done % 256 == 0) observer.setDone(done * 100 / total);
    };
    for (const std::size_t i : order) {
        const RecoveryLog::Folder& f = log.folders[i];
        const int r = folders.AppendRow(f.name);
        folders.SetNumber(r, "self", f.self);
        folders.SetNumber(r, "parent", f.parent);
        folders.SetSignedNumber(r, "date", static_cast<std::int64_t>(f.first));
        folders.SetSignedNumber(r, "time", static_cast<std::int64_t>(f.second));
        folders.SetCell(r, "size", "0");
        folders.SetCell(r, "Type", "FOLDER");
        // The flag byte keeps the deleted mark, which the folder's own directory entry or
        // record no longer has to give when the log is loaded.
        if ((f.flags & 1) != 0) folders.SetCell(r, "Deleted", "1");
        advance();
    }

    if (ntfs) {
        state.mftRuns = BuildMftRunList(reader, NtfsVolumeOf(state.params));
        MftRecordWindow records(reader, state.params.RecordSize > 0 ? state.params.RecordSize : 2);
        const int nameCol = files.ColumnIndex("Name");
        for (const RecoveryLog::NtfsFile& f : log.ntfsFiles) {
            const int r = files.AppendRow("");
            files.SetCell(r, nameCol, f.name);
            files.SetNumber(r, "sector", f.sector);
            files.SetNumber(r, "self", f.self);
            files.SetNumber(r, "parent", f.parent);
            files.SetSignedNumber(r, "date", f.date);
            files.SetNumber(r, "size", f.size);
            files.SetNumber(r, "Deleted", f.deleted);
            files.SetCell(r, "Type", kNtfsFileType);
        }
        // The log keeps no "Type": a file's named streams are the rows behind it of its record.
        MarkNtfsStreamRows(files);
        int file = -1;  // the file row of the streams that follow it
        for (int r = 0; r < files.RowCount(); ++r) {
            const RecoveryLog::NtfsFile& f = log.ntfsFiles[static_cast<std::size_t>(r)];
            std::string stream;
            if (files.GetCell(r, "Type") == kNtfsStreamType && file >= 0) {
                stream = NtfsStreamName(files.GetCell(file, nameCol), f.name);
            } else {
                file = r;
            }
            // The log keeps 32 bits of a size; a file (or stream) of 4 GiB or more gets its size
            // back from its record, as long as the record still names the same file.
            if (auto record = records.read(f.sector)) {
                const ByteView view(record->data(), record->size());
                const auto self = view.u32le(kRecordSelfNumber);
                const auto real = FindDataSize(view, stream);
                if (real && (!self || *self == f.self || *self == 0) && static_cast<std::uint32_t>(*real) == f.size) {
                    files.SetNumber(r, "size", *real);
                }
            }
            advance();
        }
    }
    observer.setDone(100);

    folders.SortByColumn(folders.ColumnIndex("parent"), true);
    if (ntfs) {
        BuildNtfsResultTree(state.model, folders, observer, true);
    } else {
        BuildFatResultTree(state.model, folders, reader, state.params, TreeVariant::LoadedLog, observer);
    }
    folders.DeleteAllRows();
    state.tables.directoryTable.DeleteAllRows();
    state.tables.propertyList.ResetColumns(FileListColumns());
}

Result<std::filesystem::path> WriteRecoveryLog(const std::filesystem::path& path, const RecoveryState& state,
                                               std::string_view diskModel) {
    auto log = CaptureRecoveryLog(state, diskModel);
    if (!log) return log.error();
    const std::vector<std::byte> bytes = EncodeRecoveryLog(*log);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return Error{ErrorKind::Other, kMsgUnableToOpenFile};
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return Error{ErrorKind::Other, kMsgUnableToOpenFile};
    return path;
}

Result<void> LoadRecoveryLog(const std::filesystem::path& path, std::string_view diskModel, RecoveryState& state,
                             SectorReader& reader, SearchObserver& observer) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxLogBytes) return corrupt();
    std::ifstream in(path, std::ios::binary);
    if (!in) return corrupt();
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return corrupt();
    auto log = DecodeRecoveryLog(bytes, diskModel);
    if (!log) return log.error();
    RestoreRecoveryLog(*log, state, reader, observer);
    return {};
}

}  // namespace quorlan

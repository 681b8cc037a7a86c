#include "items/save_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "core/text.h"
#include "core/unique_fd.h"

namespace quorlan {

namespace {

constexpr std::size_t kMaxNameBytes = 255;        // NAME_MAX of Linux file systems
constexpr std::uint32_t kChunkSectors = 2048;     // 1 MiB per read
constexpr std::uint64_t kCopySectors = 16384;     // 8 MiB per copy inside the kernel
constexpr unsigned kMaxNumberedTries = 100000;    // "name (n)" candidates tried before giving up

// Case-folded form for telling apart names this save wrote: destinations on FAT or exFAT sticks
// ignore letter case.
std::string fold(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string joinPath(const std::vector<std::string>& parts, std::string_view last = {}) {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty()) out += '/';
        out += p;
    }
    if (!last.empty()) {
        if (!out.empty()) out += '/';
        out += last;
    }
    return out;
}

std::string errnoText(int error) { return std::strerror(error); }

struct Directory {
    std::vector<std::string> path;  // components below the destination, as written
    std::set<std::string> used;     // folded names this save wrote into it
};

class Saver {
public:
    Saver(const std::filesystem::path& destination, SectorReader& reader,
          const std::function<FileLayout(const SaveItem&)>& layoutOf, SaveObserver& observer, SaveControl& control)
        : m_destination(destination), m_reader(reader), m_layoutOf(layoutOf), m_observer(observer),
          m_control(control), m_buffer(std::size_t{kChunkSectors} * kSectorSize) {}

    SaveSummary run(const std::vector<SaveItem>& items) {
        std::error_code ec;
        std::filesystem::create_directories(m_destination, ec);
        m_root.reset(::open(m_destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!m_root.valid()) {
            fail("Unable to open the destination folder " + m_destination.string() + ": " + errnoText(errno));
            return std::move(m_summary);
        }
        std::uint64_t files = 0;
        for (const SaveItem& item : items) files += item.isFolder ? 0 : 1;
        m_observer.beginPhase("Total Files Recovered ", files);
        std::uint64_t number = 0;
        for (const SaveItem& item : items) {
            if (m_control.stop.stop_requested()) {
                m_summary.outcome = SaveOutcome::Stopped;
                break;
            }
            if (item.isFolder) {
                const int dir = openFolders(item.folders);
                if (dir < 0) {
                    if (m_summary.outcome == SaveOutcome::Failed) break;
                    continue;
                }
                if (item.modified && m_created.count(m_currentKey) != 0) m_folderTimes.emplace_back(m_currentPath, *item.modified);
                continue;
            }
            ++number;
            saveFile(item, number, files);
            m_observer.setDone(number);
            if (m_summary.outcome != SaveOutcome::Finished) break;
        }
        applyFolderTimes();
        return std::move(m_summary);
    }

private:
    void fail(std::string why) {
        m_summary.outcome = SaveOutcome::Failed;
        m_summary.failure = std::move(why);
    }

    std::vector<std::string> rawPath(const std::vector<SaveFolder>& folders) const {
        std::vector<std::string> out;
        for (const SaveFolder& f : folders) out.push_back(f.name);
        return out;
    }

    // Opens (creating where needed) the folders of a path; returns the descriptor of the last one,
    // or -1 after recording the problem.
    int openFolders(const std::vector<SaveFolder>& folders) {
        std::vector<std::int64_t> key;
        for (const SaveFolder& f : folders) key.push_back(f.id);
        if (m_current.valid() && key == m_currentKey) return m_current.get();
        std::vector<std::string> written;
        UniqueFd dir(::dup(m_root.get()));
        std::vector<std::int64_t> prefix;
        for (const SaveFolder& f : folders) {
            Directory& parent = directoryOf(prefix, written);
            prefix.push_back(f.id);
            auto it = m_directories.find(prefix);
            if (it == m_directories.end()) {
                const std::string base = SafeFileName(f.name);
                std::string name = base;
                bool ok = false;
                for (unsigned n = 2; n < kMaxNumberedTries; ++n) {
                    if (parent.used.count(fold(name)) == 0) {
                        if (::mkdirat(dir.get(), name.c_str(), 0755) == 0) {
                            m_created.insert(prefix);
                            ++m_summary.foldersCreated;
                            ok = true;
                            break;
                        }
                        struct stat st {};
                        if (errno == EEXIST && ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                            S_ISDIR(st.st_mode)) {
                            ok = true;  // a folder an earlier save made: files join it
                            break;
                        }
                        if (errno != EEXIST) {
                            const int error = errno;
                            problemForFolder(rawPath(folders), "cannot create the folder: " + errnoText(error), error);
                            return -1;
                        }
                    }
                    name = NumberedName(base, n);
                }
                if (!ok) {
                    problemForFolder(rawPath(folders), "no free name for the folder", 0);
                    return -1;
                }
                parent.used.insert(fold(name));
                Directory d;
                d.path = written;
                d.path.push_back(name);
                if (name != f.name) {
                    m_summary.renamed.push_back({joinPath(rawPath({folders.begin(), folders.begin() + static_cast<std::ptrdiff_t>(prefix.size())})),
                                                 joinPath(d.path)});
                }
                it = m_directories.emplace(prefix, std::move(d)).first;
            }
            written = it->second.path;
            UniqueFd next(::openat(dir.get(), written.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next.valid()) {
                const int error = errno;
                problemForFolder(rawPath(folders), "cannot open the folder: " + errnoText(error), error);
                return -1;
            }
            dir = std::move(next);
        }
        m_current = std::move(dir);
        m_currentKey = key;
        m_currentPath = written;
        return m_current.get();
    }

    Directory& directoryOf(const std::vector<std::int64_t>& key, const std::vector<std::string>& written) {
        if (key.empty()) return m_rootDirectory;
        auto it = m_directories.find(key);
        if (it != m_directories.end()) return it->second;
        Directory d;
        d.path = written;
        return m_directories.emplace(key, std::move(d)).first->second;
    }

    void problemForFolder(const std::vector<std::string>& raw, std::string reason, int error) {
        if (error == ENOSPC || error == EDQUOT) {
            fail("The destination is full (" + errnoText(error) + ")");
            return;
        }
        m_summary.failed.push_back({joinPath(raw), std::move(reason)});
    }

    bool exists(int dir, const std::string& name, struct stat& st) const {
        return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    }

    // A free name beside base: not present and not written by this save.
    std::string freeName(int dir, const Directory& where, const std::string& base) const {
        for (unsigned n = 2; n < kMaxNumberedTries; ++n) {
            std::string candidate = NumberedName(base, n);
            struct stat st {};
            if (where.used.count(fold(candidate)) == 0 && !exists(dir, candidate, st)) return candidate;
        }
        return {};
    }

    void saveFile(const SaveItem& item, std::uint64_t number, std::uint64_t total) {
        const std::string rawFile = joinPath(rawPath(item.folders), item.name);
        const int dir = openFolders(item.folders);
        if (dir < 0) return;
        Directory& where = item.folders.empty() ? m_rootDirectory : m_directories.at(m_currentKey);
        m_observer.savingFile(item.name, joinPath(m_currentPath), number, total);
        m_observer.fileProgress(0, item.size);

        FileLayout layout = m_layoutOf(item);
        if (layout.failed) {
            m_summary.failed.push_back({rawFile, layout.problem});
            return;
        }
        const std::string base = SafeFileName(item.name);
        std::string name = base;
        bool overwrite = false;
        auto create = [&](const std::string& target) {
            return UniqueFd(::openat(dir, target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        };
        UniqueFd out;
        if (where.used.count(fold(name)) != 0) {
            // Two recovered files of one name in one folder: both are kept.
            name = freeName(dir, where, base);
        } else {
            // Most names are free: the exclusive create is the existence check.
            out = create(name);
        }
        struct stat st {};
        if (!out.valid() && errno == EEXIST && name == base && exists(dir, name, st)) {
            const std::string proposed = freeName(dir, where, base);
            CollisionDecision decision;
            if (m_policy) {
                decision = *m_policy;
            } else {
                decision = m_observer.askCollision(name, proposed);
                if (decision.applyToAll) m_policy = decision;
            }
            switch (decision.answer) {
                case CollisionAnswer::Cancel:
                    m_summary.outcome = SaveOutcome::Cancelled;
                    return;
                case CollisionAnswer::Skip:
                    ++m_summary.skipped;
                    return;
                case CollisionAnswer::Overwrite:
                    if (S_ISREG(st.st_mode)) {
                        overwrite = true;
                    } else {
                        name = proposed;  // a folder or link is never replaced
                    }
                    break;
                case CollisionAnswer::Rename: {
                    std::string wanted = decision.applyToAll || decision.newName.empty() ? proposed
                                                                                         : SafeFileName(decision.newName);
                    struct stat other {};
                    if (where.used.count(fold(wanted)) != 0 || exists(dir, wanted, other)) wanted = freeName(dir, where, wanted);
                    name = wanted;
                    break;
                }
            }
        }
        if (name.empty()) {
            m_summary.failed.push_back({rawFile, "no free name for the file"});
            return;
        }
        const std::string target = overwrite ? std::string(truncateName(".qlnpart-" + name)) : name;
        if (!out.valid()) {
            if (overwrite) (void)::unlinkat(dir, target.c_str(), 0);
            out = create(target);
        }
        if (!out.valid()) {
            const int error = errno;
            if (error == ENOSPC || error == EDQUOT) {
                fail("The destination is full (" + errnoText(error) + ")");
            } else {
                m_summary.failed.push_back({rawFile, "cannot create the file: " + errnoText(error)});
            }
            return;
        }
        m_fileUnreadable = 0;
        std::uint64_t covered = 0;
        const WriteEnd end = writeExtents(out.get(), layout, covered);
        if (end != WriteEnd::Done) {
            out.reset();
            (void)::unlinkat(dir, target.c_str(), 0);
            if (end == WriteEnd::Skipped) {
                ++m_summary.skipped;
                m_control.skip.store(false);
            } else if (end == WriteEnd::Stopped) {
                m_summary.outcome = SaveOutcome::Stopped;
            } else if (end == WriteEnd::Full) {
                fail("The destination is full (" + errnoText(m_writeError) + ")");
                m_summary.failed.push_back({rawFile, "the destination is full"});
            } else {
                m_summary.failed.push_back({rawFile, writeErrorText()});
            }
            return;
        }
        if (item.modified) {
            const timespec times[2] = {{static_cast<time_t>(*item.modified), 0}, {static_cast<time_t>(*item.modified), 0}};
            (void)::futimens(out.get(), times);
        }
        if (::close(out.get()) != 0) {
            const int error = errno;
            (void)out.release();
            (void)::unlinkat(dir, target.c_str(), 0);
            m_summary.failed.push_back({rawFile, "writing failed: " + errnoText(error)});
            return;
        }
        (void)out.release();
        if (overwrite && ::renameat(dir, target.c_str(), dir, name.c_str()) != 0) {
            const int error = errno;
            (void)::unlinkat(dir, target.c_str(), 0);
            m_summary.failed.push_back({rawFile, "cannot replace the existing file: " + errnoText(error)});
            return;
        }
        where.used.insert(fold(name));
        ++m_summary.filesWritten;
        m_summary.bytesWritten += covered;
        m_observer.fileProgress(covered, layout.size);
        if (name != item.name) m_summary.renamed.push_back({rawFile, joinPath(m_currentPath, name)});
        if (layout.bestEffort) ++m_summary.deletedBestEffort;
        if (item.mayBeIncomplete) m_summary.mayBeIncomplete.push_back({rawFile, item.mayBeIncompleteWhy});
        std::string problem = layout.bestEffort ? std::string() : layout.problem;
        if (covered < layout.size && problem.empty()) {
            problem = "only " + std::to_string(covered) + " of " + std::to_string(layout.size) + " bytes could be located";
        }
        if (const std::uint64_t bad = m_fileUnreadable; bad > 0) {
            if (!problem.empty()) problem += "; ";
            problem += std::to_string(bad) + " unreadable sector(s) written as zeros";
        }
        if (!problem.empty()) m_summary.incomplete.push_back({rawFile, problem});
    }

    static std::string_view truncateName(const std::string& name) { return truncateUtf8(name, kMaxNameBytes); }

    enum class WriteEnd { Done, Skipped, Stopped, Full, Error };

    std::string writeErrorText() const {
        if (m_writeError == EFBIG) {
            return "the destination cannot hold a file this large (FAT32 keeps files below 4 GiB)";
        }
        return "writing failed: " + errnoText(m_writeError);
    }

    WriteEnd interrupted() const {
        if (m_control.stop.stop_requested()) return WriteEnd::Stopped;
        if (m_control.skip.load()) return WriteEnd::Skipped;
        return WriteEnd::Done;
    }

    WriteEnd writeAt(int fd, const std::byte* data, std::size_t length, std::uint64_t offset) {
        while (length > 0) {
            const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR) continue;
                m_writeError = errno;
                return errno == ENOSPC || errno == EDQUOT ? WriteEnd::Full : WriteEnd::Error;
            }
            data += n;
            length -= static_cast<std::size_t>(n);
            offset += static_cast<std::uint64_t>(n);
        }
        m_writtenEnd = std::max(m_writtenEnd, offset);
        return WriteEnd::Done;
    }

    // Reads count sectors into the buffer; sectors that cannot be read become zeros and are
    // counted against the current file (each asked for once: a bad area is not read twice).
    void readChunk(std::uint64_t sector, std::uint32_t count) {
        const std::span<std::byte> span(m_buffer.data(), std::size_t{count} * kSectorSize);
        m_fileUnreadable += m_reader.ReadSectorsZeroFilled(sector, count, span);
    }

    // Copies the whole sectors of an extent of length bytes into the file at position inside the
    // kernel while the reader's source can (an image file), a few MiB per call so that Stop and
    // Skip are heard. Returns the bytes copied, whole sectors from the extent's start; the rest
    // (a device, a refusal, the last partial sector, a Stop or Skip) is left to the reads.
    std::uint64_t copyWholeSectors(int fd, std::uint64_t sector, std::uint64_t length, std::uint64_t position,
                                   std::uint64_t size) {
        const std::uint64_t whole = length / kSectorSize * kSectorSize;
        std::uint64_t done = 0;
        while (done < whole && interrupted() == WriteEnd::Done) {
            const std::uint64_t count = std::min<std::uint64_t>(kCopySectors, (whole - done) / kSectorSize);
            const std::uint64_t copied = m_reader.CopySectors(sector + done / kSectorSize, count, fd, position + done);
            if (copied == 0) break;
            done += copied;
            m_writtenEnd = std::max(m_writtenEnd, position + done);
            m_observer.fileProgress(position + done, size);
        }
        return done;
    }

    WriteEnd writeExtents(int fd, const FileLayout& layout, std::uint64_t& position) {
        position = 0;
        m_writtenEnd = 0;
        for (const Extent& extent : layout.extents) {
            if (position >= layout.size) break;
            const std::uint64_t length = std::min(extent.length, layout.size - position);
            switch (extent.kind) {
                case Extent::Kind::Zeros:
                    position += length;  // a hole: the file is extended below
                    break;
                case Extent::Kind::Bytes: {
                    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, extent.bytes.size()));
                    if (const WriteEnd e = writeAt(fd, extent.bytes.data(), n, position); e != WriteEnd::Done) return e;
                    position += length;
                    break;
                }
                case Extent::Kind::Sectors: {
                    std::uint64_t done = copyWholeSectors(fd, extent.sector, length, position, layout.size);
                    while (done < length) {
                        if (const WriteEnd e = interrupted(); e != WriteEnd::Done) return e;
                        const std::uint64_t remaining = length - done;
                        const auto count = static_cast<std::uint32_t>(
                            std::min<std::uint64_t>(kChunkSectors, (remaining + kSectorSize - 1) / kSectorSize));
                        readChunk(extent.sector + done / kSectorSize, count);
                        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, std::uint64_t{count} * kSectorSize));
                        if (const WriteEnd e = writeAt(fd, m_buffer.data(), n, position + done); e != WriteEnd::Done) return e;
                        done += n;
                        m_observer.fileProgress(position + done, layout.size);
                    }
                    position += length;
                    break;
                }
            }
        }
        if (const WriteEnd e = interrupted(); e != WriteEnd::Done) return e;
        position = std::min(position, layout.size);
        // A file that ends in a hole is extended to its size; a written end needs nothing.
        if (position > m_writtenEnd && ::ftruncate(fd, static_cast<off_t>(position)) != 0) {
            m_writeError = errno;
            return errno == ENOSPC || errno == EDQUOT ? WriteEnd::Full : WriteEnd::Error;
        }
        return WriteEnd::Done;
    }

    // Folder times are set last, deepest first, since writing into a folder changes its time.
    void applyFolderTimes() {
        for (auto it = m_folderTimes.rbegin(); it != m_folderTimes.rend(); ++it) {
            UniqueFd dir(::dup(m_root.get()));
            for (const std::string& part : it->first) {
                UniqueFd next(::openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                dir = std::move(next);
                if (!dir.valid()) break;
            }
            if (!dir.valid()) continue;
            const timespec times[2] = {{static_cast<time_t>(it->second), 0}, {static_cast<time_t>(it->second), 0}};
            (void)::futimens(dir.get(), times);
        }
    }

    std::filesystem::path m_destination;
    SectorReader& m_reader;
    const std::function<FileLayout(const SaveItem&)>& m_layoutOf;
    SaveObserver& m_observer;
    SaveControl& m_control;
    std::vector<std::byte> m_buffer;
    SaveSummary m_summary;
    UniqueFd m_root;
    Directory m_rootDirectory;
    std::map<std::vector<std::int64_t>, Directory> m_directories;
    std::set<std::vector<std::int64_t>> m_created;
    UniqueFd m_current;
    std::vector<std::int64_t> m_currentKey;
    std::vector<std::string> m_currentPath;
    std::vector<std::pair<std::vector<std::string>, std::int64_t>> m_folderTimes;
    std::optional<CollisionDecision> m_policy;
    int m_writeError = 0;
    std::uint64_t m_fileUnreadable = 0;  // sectors of the current file that could not be read
    std::uint64_t m_writtenEnd = 0;      // the end of the bytes written to the current file
};

}  // namespace

std::string SafeFileName(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        out += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
    }
    if (out.empty() || out == ".") return "_";
    if (out == "..") return "__";
    if (out.size() > kMaxNameBytes) {
        // Keep a short extension; cut the stem at a character boundary.
        const std::size_t dot = out.rfind('.');
        const std::string ext = dot != std::string::npos && out.size() - dot <= 16 ? out.substr(dot) : std::string();
        out = std::string(truncateUtf8(out, kMaxNameBytes - ext.size())) + ext;
    }
    return out;
}

std::string NumberedName(std::string_view name, unsigned number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    const std::size_t dot = name.rfind('.');
    // An extension too long to keep beside the number is taken as part of the stem.
    const bool hasExt = dot != std::string_view::npos && dot > 0 && name.size() - dot + suffix.size() < kMaxNameBytes;
    const std::string_view stem = hasExt ? name.substr(0, dot) : name;
    const std::string_view ext = hasExt ? name.substr(dot) : std::string_view();
    return std::string(truncateUtf8(stem, kMaxNameBytes - suffix.size() - ext.size())) + suffix + std::string(ext);
}

SaveSummary WriteSaveItems(const std::vector<SaveItem>& items, const std::filesystem::path& destination,
                           SectorReader& reader, const std::function<FileLayout(const SaveItem&)>& layoutOf,
                           SaveObserver& observer, SaveControl& control) {
    Saver saver(destination, reader, layoutOf, observer, control);
    return saver.run(items);
}

std::optional<std::int64_t> FatTimeToUnix(std::uint16_t date, std::uint16_t time) {
    const int day = date & 0x1F;
    const int month = (date >> 5) & 0x0F;
    const int year = 1980 + (date >> 9);
    if (day == 0 || month == 0 || month > 12) return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = std::min(time >> 11, 23);
    tm.tm_min = std::min((time >> 5) & 0x3F, 59);
    tm.tm_sec = std::min((time & 0x1F) * 2, 59);
    // FAT keeps local time. The stamp read as UTC, less the local offset at that instant (asked
    // twice, for stamps near a daylight-saving change); localtime_r reads the zone once, where
    // mktime would read it for every file.
    const std::time_t asUtc = timegm(&tm);
    auto offsetAt = [](std::time_t t) {
        std::tm local{};
        return localtime_r(&t, &local) != nullptr ? static_cast<std::time_t>(local.tm_gmtoff) : 0;
    };
    const std::time_t guess = asUtc - offsetAt(asUtc);
    return static_cast<std::int64_t>(asUtc - offsetAt(guess));
}

std::optional<std::int64_t> NtfsTimeToUnix(std::int64_t stamp) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    if (stamp <= 0) return std::nullopt;
    return stamp / 10000000 - kSecondsFrom1601To1970;
}

}  // namespace quorlan

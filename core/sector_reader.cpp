// Read-only sector access to block devices and image files, with the sector-by-sector fallback.
#include "core/sector_reader.h"

#include "core/bytes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

namespace quorlan {

namespace {

Error openError(const std::filesystem::path& path, int err) {
    const std::string name = "'" + path.string() + "'";
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return {ErrorKind::NotFound, "cannot open " + name + ": no such file or device"};
        case EACCES:
        case EPERM:
        case EROFS:
            return {ErrorKind::PermissionDenied,
                    "permission denied opening " + name +
                        ": run as root (sudo), or recover from an image of the disk"};
        case ENOMEDIUM:
            return {ErrorKind::NotADisk, "no medium in " + name + ": insert the card or stick"};
        default:
            return {ErrorKind::Other, "cannot open " + name + ": " + std::strerror(err)};
    }
}

// The byte offset of a run, when the run's first and last bytes both have one in 64 bits.
std::optional<std::uint64_t> runOffset(std::uint64_t sector, std::uint64_t bytes) {
    const auto offset = checkedMul(sector, kSectorSize);
    if (!offset || *offset > std::numeric_limits<std::uint64_t>::max() - bytes) return std::nullopt;
    return offset;
}

}  // namespace

Result<std::unique_ptr<FdSectorSource>> FdSectorSource::open(const std::filesystem::path& path) {
    // O_RDONLY is the only access mode ever used on a source: the medium is never written.
    const int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (raw < 0) return openError(path, errno);
    return adopt(UniqueFd(raw), path);
}

Result<std::unique_ptr<FdSectorSource>> FdSectorSource::adopt(UniqueFd fd, const std::filesystem::path& path) {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0) return openError(path, errno);
    if ((flags & O_ACCMODE) != O_RDONLY) {
        return Error{ErrorKind::Other, "'" + path.string() + "' was handed over open for writing; it is not used"};
    }

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return openError(path, errno);

    std::uint64_t size = 0;
    SourceKind kind = SourceKind::ImageFile;
    std::filesystem::path sysfsNode;
    if (S_ISBLK(st.st_mode)) {
        kind = SourceKind::BlockDevice;
        sysfsNode = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        // Without sysfs (a container) nothing tells a pulled-out stick from a failing one.
        std::error_code ec;
        if (!std::filesystem::exists(sysfsNode, ec)) sysfsNode.clear();
        if (::ioctl(fd.get(), BLKGETSIZE64, &size) != 0) return openError(path, errno);
    } else if (S_ISREG(st.st_mode)) {
        size = static_cast<std::uint64_t>(st.st_size);
    } else {
        return Error{ErrorKind::NotADisk,
                     "'" + path.string() + "' is not a disk or a disk image"};
    }
    if (size < kSectorSize) {
        return Error{ErrorKind::NotADisk, "'" + path.string() +
                                              "' is not a disk or a disk image (smaller than one "
                                              "512-byte sector)"};
    }
    return std::unique_ptr<FdSectorSource>(new FdSectorSource(std::move(fd), size, kind, std::move(sysfsNode)));
}

std::int64_t FdSectorSource::readAt(std::uint64_t offset, std::span<std::byte> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(m_fd.get(), buffer.data() + done, buffer.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            // A failed read of a block device whose sysfs node is gone: the stick was pulled out.
            std::error_code ec;
            if (!m_sysfsNode.empty() && !std::filesystem::exists(m_sysfsNode, ec) && !ec) m_gone.store(true);
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;  // end of the medium
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t FdSectorSource::copyTo(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) {
    if (m_kind != SourceKind::ImageFile) return -1;
    constexpr std::uint64_t kMaxCall = std::uint64_t{1} << 30;  // bytes asked of one call
    std::uint64_t done = 0;
    auto in = static_cast<off_t>(offset);
    auto out = static_cast<off_t>(outOffset);
    // copy_file_range first; the kernel refuses it between file systems of different kinds
    // (EXDEV), where sendfile still copies inside the kernel, writing at the file position.
    bool viaSendfile = false;
    while (done < length) {
        const auto want = static_cast<std::size_t>(std::min(length - done, kMaxCall));
        ssize_t n = 0;
        if (!viaSendfile) {
            n = ::copy_file_range(m_fd.get(), &in, outFd, &out, want, 0);
        } else {
            n = ::sendfile(outFd, m_fd.get(), &in, want);
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            const bool refused = errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
            if (!viaSendfile && refused && done == 0 && ::lseek(outFd, out, SEEK_SET) == out) {
                viaSendfile = true;
                continue;
            }
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;  // the end of the image
        done += static_cast<std::uint64_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t MemorySectorSource::readAt(std::uint64_t offset, std::span<std::byte> buffer) {
    if (offset >= m_bytes.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(buffer.size(), m_bytes.size() - offset);
    std::memcpy(buffer.data(), m_bytes.data() + offset, n);
    return static_cast<std::int64_t>(n);
}

std::int64_t FaultySectorSource::readAt(std::uint64_t offset, std::span<std::byte> buffer) {
    ++m_requests;
    if (!buffer.empty()) {
        const std::uint64_t first = offset / kSectorSize;
        const std::uint64_t last = (offset + buffer.size() - 1) / kSectorSize;
        const auto it = m_bad.lower_bound(first);
        if (it != m_bad.end() && *it <= last) return -1;
    }
    return m_inner->readAt(offset, buffer);
}

std::int64_t CountingSectorSource::readAt(std::uint64_t offset, std::span<std::byte> buffer) {
    ++m_requests;
    const std::int64_t n = m_inner->readAt(offset, buffer);
    if (n > 0) m_bytes += static_cast<std::uint64_t>(n);
    return n;
}

std::int64_t CountingSectorSource::copyTo(std::uint64_t offset, std::uint64_t length, int outFd,
                                          std::uint64_t outOffset) {
    ++m_requests;
    const std::int64_t n = m_inner->copyTo(offset, length, outFd, outOffset);
    if (n > 0) {
        m_bytes += static_cast<std::uint64_t>(n);
        m_copied += static_cast<std::uint64_t>(n);
    }
    return n;
}

std::string UnreadableSectorsText(std::uint64_t count) {
    return std::to_string(count) + " sector(s) could not be read";
}

void CorruptTableNotice::setHook(std::function<void()> hook) {
    const std::lock_guard lock(m_hookMutex);
    m_hook = std::move(hook);
}

bool CorruptTableNotice::raise() {
    if (!m_onDiskPage.load()) return false;
    int expected = 1;
    if (!m_counter.compare_exchange_strong(expected, 2)) return false;
    std::function<void()> hook;
    {
        const std::lock_guard lock(m_hookMutex);
        hook = m_hook;
    }
    if (hook) hook();
    return true;
}

int SectorReader::ReadSectors(std::uint64_t sector, std::uint32_t count, std::span<std::byte> buffer) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kSectorSize;
    if (count == 0 || count > kMaxRunSectors || buffer.size() < bytes) return 0;
    const auto offset = runOffset(sector, bytes);
    if (!offset) return 0;

    if (!continuesBadArea(sector) &&
        m_source->readAt(*offset, buffer.first(bytes)) == static_cast<std::int64_t>(bytes)) {
        return 1;
    }
    (void)readOneByOne(sector, count, buffer, false, nullptr);
    return 0;
}

void SectorReader::stopWhenMediumGone(std::stop_source stopper) {
    {
        const std::lock_guard lock(m_stopMutex);
        m_goneStop = std::move(stopper);
    }
    (void)noticeMediumGone();
}

bool SectorReader::noticeMediumGone() {
    if (!m_source->mediumGone()) return false;
    const std::lock_guard lock(m_stopMutex);
    if (m_goneStop.stop_possible()) m_goneStop.request_stop();
    return true;
}

std::uint32_t SectorReader::ReadSectorsZeroFilled(std::uint64_t sector, std::uint32_t count,
                                                  std::span<std::byte> buffer, std::vector<std::uint64_t>* unreadable) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * kSectorSize;
    const auto offset = runOffset(sector, bytes);
    if (count > kMaxRunSectors || buffer.size() < bytes || !offset) {
        const std::uint64_t held = std::min<std::uint64_t>(count, buffer.size() / kSectorSize);
        std::memset(buffer.data(), 0, static_cast<std::size_t>(held * kSectorSize));
        for (std::uint64_t i = 0; unreadable != nullptr && i < held; ++i) unreadable->push_back(sector + i);
        return count;
    }
    if (count == 0) return 0;
    if (!continuesBadArea(sector) &&
        m_source->readAt(*offset, buffer.first(bytes)) == static_cast<std::int64_t>(bytes)) {
        return 0;
    }
    return readOneByOne(sector, count, buffer, true, unreadable);
}

std::uint64_t SectorReader::CopySectors(std::uint64_t sector, std::uint64_t count, int outFd, std::uint64_t outOffset) {
    const std::uint64_t disk = totalSectors();
    if (sector >= disk) return 0;
    count = std::min(count, disk - sector);
    const std::uint64_t bytes = count * kSectorSize;
    const auto offset = runOffset(sector, bytes);
    if (count == 0 || !offset) return 0;
    const std::int64_t n = m_source->copyTo(*offset, bytes, outFd, outOffset);
    if (n <= 0) return 0;
    return static_cast<std::uint64_t>(n) / kSectorSize * kSectorSize;
}

bool SectorReader::continuesBadArea(std::uint64_t sector) {
    const std::lock_guard lock(m_trailMutex);
    return m_trail.failures >= kFailuresBeforeSkip && m_trail.next == sector;
}

std::uint32_t SectorReader::readOneByOne(std::uint64_t sector, std::uint32_t count, std::span<std::byte> buffer,
                                         bool zeroUnread, std::vector<std::uint64_t>* unreadable) {
    if (noticeMediumGone()) {
        // Nothing more can be read from a disk that is gone; trying each sector would only keep
        // the job from ending.
        if (zeroUnread) std::memset(buffer.data(), 0, static_cast<std::size_t>(count) * kSectorSize);
        for (std::uint64_t i = 0; unreadable != nullptr && i < count; ++i) unreadable->push_back(sector + i);
        m_unreadable += count;
        return count;
    }
    if (m_notice != nullptr) m_notice->raise();

    // A run that starts where the last one ended goes on with its run of failures and its skip;
    // any other starts afresh.
    BadAreaTrail trail;
    {
        const std::lock_guard lock(m_trailMutex);
        if (m_trail.next == sector) trail = m_trail;
    }
    std::uint32_t missed = 0;
    const auto miss = [&](std::uint64_t first, std::uint64_t n) {
        for (std::uint64_t i = first; i < first + n; ++i) {
            if (zeroUnread) std::memset(buffer.data() + i * kSectorSize, 0, kSectorSize);
            if (unreadable != nullptr) unreadable->push_back(sector + i);
        }
        missed += static_cast<std::uint32_t>(n);
    };

    // Through a scratch slot, so that a sector read short or not at all leaves the caller's
    // bytes as they were (or zeros, when asked). The caller checked that the run's bytes have
    // offsets in 64 bits.
    std::array<std::byte, kSectorSize> slot{};
    std::uint64_t i = 0;
    while (i < count) {
        if (m_source->readAt((sector + i) * kSectorSize, slot) == static_cast<std::int64_t>(kSectorSize)) {
            std::memcpy(buffer.data() + i * kSectorSize, slot.data(), kSectorSize);
            ++i;
            const bool leftBadArea = trail.failures >= kFailuresBeforeSkip;
            trail.failures = 0;
            trail.skip = std::max(kFirstSkipSectors, trail.skip / 2);
            // A probe that succeeds after a bad area: the rest of the run is likely readable
            // again, so it is asked for in one request before going on sector by sector.
            const std::uint64_t rest = (count - i) * kSectorSize;
            if (leftBadArea && rest > 0 &&
                m_source->readAt((sector + i) * kSectorSize, buffer.subspan(i * kSectorSize, rest)) ==
                    static_cast<std::int64_t>(rest)) {
                i = count;
            }
            continue;
        }
        miss(i, 1);
        ++i;
        if (trail.failures < kFailuresBeforeSkip) ++trail.failures;
        if (trail.failures < kFailuresBeforeSkip) continue;
        // Inside a bad area: pass over the next sectors without asking the medium, then probe.
        const std::uint64_t skip = std::min<std::uint64_t>(trail.skip, count - i);
        miss(i, skip);
        i += skip;
        trail.skip = std::min(kMaxSkipSectors, trail.skip * 2);
    }
    {
        const std::lock_guard lock(m_trailMutex);
        m_trail = trail;
        m_trail.next = sector + count;
    }
    m_unreadable += missed;
    return missed;
}

}  // namespace quorlan

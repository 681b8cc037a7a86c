// Read-only sector access to block devices and image files, with the sector-by-sector fallback.
#include "core/sector_reader.h"

#include "core/bytes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

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

}  // namespace

Result<std::unique_ptr<FdSectorSource>> FdSectorSource::open(const std::filesystem::path& path) {
    // O_RDONLY is the only access mode ever used on a source: the medium is never written.
    const int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (raw < 0) return openError(path, errno);
    UniqueFd fd(raw);

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return openError(path, errno);

    std::uint64_t size = 0;
    SourceKind kind = SourceKind::ImageFile;
    if (S_ISBLK(st.st_mode)) {
        kind = SourceKind::BlockDevice;
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
    return std::unique_ptr<FdSectorSource>(new FdSectorSource(std::move(fd), size, kind));
}

std::int64_t FdSectorSource::readAt(std::uint64_t offset, std::span<std::byte> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(m_fd.get(), buffer.data() + done, buffer.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;  // end of the medium
        done += static_cast<std::size_t>(n);
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
    const auto offset = checkedMul(sector, kSectorSize);
    if (!offset) return 0;

    if (m_source->readAt(*offset, buffer.first(bytes)) == static_cast<std::int64_t>(bytes)) return 1;

    if (m_notice != nullptr) m_notice->raise();

    // One sector at a time, through a scratch slot so that a sector read short or not at all
    // leaves the caller's bytes as they were.
    std::array<std::byte, kSectorSize> slot{};
    std::uint64_t unreadable = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (m_source->readAt(*offset + i * kSectorSize, slot) == static_cast<std::int64_t>(kSectorSize)) {
            std::memcpy(buffer.data() + i * kSectorSize, slot.data(), kSectorSize);
        } else {
            ++unreadable;
        }
    }
    m_unreadable += unreadable;
    return 0;
}

}  // namespace quorlan

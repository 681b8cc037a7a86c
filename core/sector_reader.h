// The one read path to a medium: runs of 512-byte sectors by 64-bit sector number, read-only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "core/result.h"
#include "core/unique_fd.h"

namespace quorlan {

inline constexpr std::size_t kSectorSize = 512;
// The longest run read in one request; longer runs are split (the scans read 1024 at most).
inline constexpr std::uint32_t kMaxRunSectors = 1u << 16;

// Shown when the disk was pulled out while a job read it; the job ends with what it found.
inline constexpr const char* kMsgMediumGone =
    "The disk was removed while it was being read; the result shows what was found until then.";

// Where the bytes come from. Implementations never write.
class SectorSource {
public:
    virtual ~SectorSource() = default;
    // Reads up to buffer.size() bytes at a byte offset. Returns the number of bytes read (short
    // at the end of the medium) or -1 when the medium reports an error.
    [[nodiscard]] virtual std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) = 0;
    [[nodiscard]] virtual std::uint64_t sizeBytes() const = 0;
    // Copies up to length bytes at a byte offset into the file outFd at outOffset inside the
    // kernel, without passing them through this process (an image file's bytes; the kernel may
    // share the blocks). Returns the number of bytes copied, short at the end of the medium or
    // where the kernel stopped, or -1 when this source cannot copy so (a device, bytes held in
    // memory, the kernel refused): the caller then reads and writes.
    [[nodiscard]] virtual std::int64_t copyTo(std::uint64_t /*offset*/, std::uint64_t /*length*/, int /*outFd*/,
                                              std::uint64_t /*outOffset*/) {
        return -1;
    }
    // True once the medium is known to be gone (the stick was pulled out): every later read
    // fails, so callers stop instead of trying sector after sector.
    [[nodiscard]] virtual bool mediumGone() const { return false; }
};

enum class SourceKind { BlockDevice, ImageFile };

// A block device or a raw image file, opened once with O_RDONLY.
class FdSectorSource final : public SectorSource {
public:
    [[nodiscard]] static Result<std::unique_ptr<FdSectorSource>> open(const std::filesystem::path& path);
    // Takes over a descriptor opened elsewhere (udisksd hands one over); path names it in
    // messages. The descriptor must be open read-only.
    [[nodiscard]] static Result<std::unique_ptr<FdSectorSource>> adopt(UniqueFd fd, const std::filesystem::path& path);

    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override;
    std::uint64_t sizeBytes() const override { return m_size; }
    // Image files only: copy_file_range, or sendfile where the destination lies on another file
    // system. Block devices are read sector by sector, so that a bad sector is found and counted.
    std::int64_t copyTo(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) override;
    bool mediumGone() const override { return m_gone.load(); }
    [[nodiscard]] SourceKind kind() const { return m_kind; }
    [[nodiscard]] int fd() const { return m_fd.get(); }

private:
    FdSectorSource(UniqueFd fd, std::uint64_t size, SourceKind kind, std::filesystem::path sysfsNode)
        : m_fd(std::move(fd)), m_size(size), m_kind(kind), m_sysfsNode(std::move(sysfsNode)) {}
    UniqueFd m_fd;
    std::uint64_t m_size;
    SourceKind m_kind;
    // /sys/dev/block/MAJOR:MINOR of a block device: it disappears with the device.
    std::filesystem::path m_sysfsNode;
    std::atomic<bool> m_gone{false};
};

// Bytes held in memory; for tests and for small structures built by hand.
class MemorySectorSource final : public SectorSource {
public:
    explicit MemorySectorSource(std::vector<std::byte> bytes) : m_bytes(std::move(bytes)) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override;
    std::uint64_t sizeBytes() const override { return m_bytes.size(); }

private:
    std::vector<std::byte> m_bytes;
};

// Wraps another source and makes chosen sectors unreadable, the way a failing stick answers:
// any request that touches a bad sector fails as a whole. Used to test the fallback read.
class FaultySectorSource final : public SectorSource {
public:
    FaultySectorSource(std::unique_ptr<SectorSource> inner, std::set<std::uint64_t> badSectors)
        : m_inner(std::move(inner)), m_bad(std::move(badSectors)) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override;
    std::uint64_t sizeBytes() const override { return m_inner->sizeBytes(); }
    // Number of read requests made so far (one-request reads and single-sector reads alike).
    [[nodiscard]] std::uint64_t requests() const { return m_requests.load(); }

private:
    std::unique_ptr<SectorSource> m_inner;
    std::set<std::uint64_t> m_bad;
    std::atomic<std::uint64_t> m_requests{0};
};

// Wraps another source and counts what is asked of it: the bytes read and the read requests.
// Benchmarks and tests measure with it what a search costs a stick, whose time is the bytes it
// reads divided by its speed.
class CountingSectorSource final : public SectorSource {
public:
    explicit CountingSectorSource(std::unique_ptr<SectorSource> inner) : m_inner(std::move(inner)) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override;
    std::uint64_t sizeBytes() const override { return m_inner->sizeBytes(); }
    std::int64_t copyTo(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) override;
    // Bytes the inner source delivered (read or copied), and requests made, so far.
    [[nodiscard]] std::uint64_t bytesRead() const { return m_bytes.load(); }
    [[nodiscard]] std::uint64_t requests() const { return m_requests.load(); }
    // Of bytesRead, the bytes the kernel copied straight into a file (copyTo).
    [[nodiscard]] std::uint64_t bytesCopied() const { return m_copied.load(); }

private:
    std::unique_ptr<SectorSource> m_inner;
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<std::uint64_t> m_requests{0};
    std::atomic<std::uint64_t> m_copied{0};
};

// The notice that a disk's partition table looks corrupt; it lets the front end start the
// lost-partition search. It fires at most once per chosen disk and only while the disk page is
// being left (reads of worker threads on later pages never fire it).
class CorruptTableNotice {
public:
    void setHook(std::function<void()> hook);
    // A disk was chosen again (Back left the partition page): the next notice may fire.
    void rearm() { m_counter.store(1); }
    // True while the wizard is on the disk page, the only time the notice acts.
    void setOnDiskPage(bool onDiskPage) { m_onDiskPage.store(onDiskPage); }
    // Fires the hook when allowed; returns whether it fired.
    bool raise();
    // True once the notice has fired since the disk was last chosen afresh (rearm).
    [[nodiscard]] bool spent() const { return m_counter.load() != 1; }

private:
    std::mutex m_hookMutex;
    std::function<void()> m_hook;
    std::atomic<int> m_counter{1};
    std::atomic<bool> m_onDiskPage{false};
};

// "N sector(s) could not be read": what the front ends tell the user after a search or a save
// that met unreadable sectors (count > 0).
[[nodiscard]] std::string UnreadableSectorsText(std::uint64_t count);

// How the reader crosses a bad area. A run that fails as one request is read again one sector
// at a time, so that every sector that can be read arrives. On a failing stick a bad area can be
// many megabytes long and each failed read can take a second or more, so asking for every sector
// of it would take hours. After kFailuresBeforeSkip failed sectors in a row, the reader passes
// over the next sectors without asking the medium (the skip), then asks for one sector again
// (the probe). Each failed probe doubles the skip, up to kMaxSkipSectors; each sector read
// successfully halves it again, down to kFirstSkipSectors, and ends the run of failures. A run
// that begins right where the previous one ended inside a bad area does not ask for the whole
// run first: it probes its first sector, and skips at once when that fails; a probe that succeeds
// after a bad area asks for the rest of its run in one request. Every sector passed over is
// counted as unreadable and handled as one (zeros, or the caller's bytes), never guessed. An
// unreadable stretch therefore costs about kFailuresBeforeSkip reads, a handful while the skip
// widens, and then one probe per kMaxSkipSectors (or per run, when runs are shorter); the price
// is that up to one skip of readable sectors just after a bad area may be counted as unreadable.
inline constexpr std::uint32_t kFailuresBeforeSkip = 64;
inline constexpr std::uint32_t kFirstSkipSectors = 64;
inline constexpr std::uint32_t kMaxSkipSectors = 2048;  // 1 MiB

// Reads runs of whole sectors of one disk. Safe to call from several threads at once: every
// call is one or more positioned reads; what is shared is counters and the bad-area trail (the
// skip above), which is a hint: threads that read in different places only make each other ask
// the medium more often.
class SectorReader {
public:
    explicit SectorReader(std::unique_ptr<SectorSource> source, CorruptTableNotice* notice = nullptr)
        : m_source(std::move(source)), m_notice(notice) {}

    // Reads count sectors from sector into buffer (count x 512 bytes; sector i of the run at byte
    // i x 512). Returns 1 when the run was read in one request. Otherwise raises the corrupt-table
    // notice, reads the run again one sector at a time (crossing bad areas as described above),
    // leaves every 512-byte slot that could not be read as the buffer held it, and returns 0. A buffer shorter than the run, or a run
    // longer than kMaxRunSectors, reads nothing and returns 0.
    [[nodiscard]] int ReadSectors(std::uint64_t sector, std::uint32_t count, std::span<std::byte> buffer);

    // Reads a run as ReadSectors does (one request, then one sector at a time, the notice), but
    // sets every 512-byte slot that could not be read to zeros, so that a caller that reuses its
    // buffer never judges the bytes of an earlier read. Returns the number of slots of the run
    // that could not be read (0 when all arrived), and appends their sector numbers to
    // *unreadable when given. A buffer shorter than the run, a run longer than kMaxRunSectors or
    // one whose byte offset does not fit 64 bits reads nothing: the part of the run the buffer
    // holds is zeroed (and its sectors listed) and count is returned.
    [[nodiscard]] std::uint32_t ReadSectorsZeroFilled(std::uint64_t sector, std::uint32_t count,
                                                      std::span<std::byte> buffer,
                                                      std::vector<std::uint64_t>* unreadable = nullptr);

    // Copies count sectors from sector into the file outFd at outOffset inside the kernel, when
    // the source can (an image file, SectorSource::copyTo). Returns the bytes copied, whole
    // sectors only: 0 when the source cannot copy, fewer than asked at the end of the disk or
    // where the kernel stopped. The caller reads and writes what was not copied (through
    // ReadSectors, which finds and counts what cannot be read).
    [[nodiscard]] std::uint64_t CopySectors(std::uint64_t sector, std::uint64_t count, int outFd,
                                            std::uint64_t outOffset);

    [[nodiscard]] std::uint64_t totalSectors() const { return m_source->sizeBytes() / kSectorSize; }
    // Sectors that the fallback could not read, over the reader's life.
    [[nodiscard]] std::uint64_t unreadableSectors() const { return m_unreadable.load(); }
    [[nodiscard]] SectorSource& source() { return *m_source; }

    // The disk was pulled out while it was read: reads fail at once from then on (no sector by
    // sector retry) and the stop source given here, if any, is asked to stop, so that the job
    // ends with what it found so far.
    [[nodiscard]] bool mediumGone() const { return m_source->mediumGone(); }
    void stopWhenMediumGone(std::stop_source stopper);

private:
    // Asks the registered stop source to stop when the medium is gone; returns mediumGone().
    bool noticeMediumGone();

    // The fallback of both reads: raises the notice, reads the run of count sectors from sector
    // one at a time through a scratch slot, and zeroes the slots it could not read when asked to
    // (else they keep their bytes). Returns and counts the slots not read; lists them in
    // *unreadable when given.
    std::uint32_t readOneByOne(std::uint64_t sector, std::uint32_t count, std::span<std::byte> buffer, bool zeroUnread,
                               std::vector<std::uint64_t>* unreadable);
    // True when a run starting at sector continues a bad area that the last fallback ended in:
    // the run then starts with a probe instead of a request for the whole run.
    [[nodiscard]] bool continuesBadArea(std::uint64_t sector);

    // Where the last fallback ended and how: the sector after its run, the failures in a row at
    // its end, and the skip width reached.
    struct BadAreaTrail {
        std::uint64_t next = 0;
        std::uint32_t failures = 0;
        std::uint32_t skip = kFirstSkipSectors;
    };

    std::unique_ptr<SectorSource> m_source;
    CorruptTableNotice* m_notice;
    std::atomic<std::uint64_t> m_unreadable{0};
    std::mutex m_stopMutex;
    std::stop_source m_goneStop{std::nostopstate};
    std::mutex m_trailMutex;
    BadAreaTrail m_trail;
};

}  // namespace quorlan

// A sector source that fails the way a dying stick does, for tests: unreadable ranges (the read
// fails with EIO), ranges that are read short, slow ranges (a delay for every read that touches
// them) and ranges whose bytes change from one read to the next.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "core/sector_reader.h"

namespace quorlan::test {

// Sectors [first, first + count).
struct SectorRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    [[nodiscard]] std::uint64_t end() const { return first + count; }
    [[nodiscard]] bool overlaps(std::uint64_t from, std::uint64_t to) const { return first < to && from < end(); }
};

struct Faults {
    std::vector<SectorRange> unreadable;  // any request touching them fails with EIO
    // A request touching them returns the whole sectors before the first such sector, and
    // nothing when it begins in one: the medium answers, but short (as a block device does, in
    // whole sectors).
    std::vector<SectorRange> shortRead;
    std::vector<SectorRange> slow;  // every request touching them waits slowDelay first
    std::chrono::microseconds slowDelay{0};
    std::vector<SectorRange> changing;  // their bytes differ on every read (xor with the read's number)
};

class FaultInjectingSource final : public SectorSource {
public:
    FaultInjectingSource(std::unique_ptr<SectorSource> inner, Faults faults)
        : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        const std::uint64_t serial = ++m_requests;
        if (buffer.empty()) return m_inner->readAt(offset, buffer);
        const std::uint64_t from = offset / kSectorSize;
        const std::uint64_t to = (offset + buffer.size() - 1) / kSectorSize + 1;
        if (touches(m_faults.slow, from, to)) std::this_thread::sleep_for(m_faults.slowDelay);
        if (touches(m_faults.unreadable, from, to)) {
            ++m_faulted;
            errno = EIO;
            return -1;
        }
        std::size_t length = buffer.size();
        for (const SectorRange& r : m_faults.shortRead) {
            if (!r.overlaps(from, to)) continue;
            const std::uint64_t cut = r.first > from ? (r.first - from) * kSectorSize : 0;
            length = std::min<std::size_t>(length, static_cast<std::size_t>(cut));
        }
        if (length < buffer.size()) ++m_faulted;
        const std::int64_t n = m_inner->readAt(offset, buffer.first(length));
        if (n > 0) m_delivered += static_cast<std::uint64_t>(n);
        for (const SectorRange& r : m_faults.changing) {
            if (!r.overlaps(from, to) || n <= 0) continue;
            for (std::uint64_t s = std::max(from, r.first); s < std::min(to, r.end()); ++s) {
                const std::uint64_t at = s * kSectorSize - offset;
                for (std::uint64_t b = at; b < std::min<std::uint64_t>(at + kSectorSize, static_cast<std::uint64_t>(n));
                     ++b) {
                    buffer[b] ^= static_cast<std::byte>(serial * 131 + b);
                }
            }
        }
        return n;
    }
    std::uint64_t sizeBytes() const override { return m_inner->sizeBytes(); }

    [[nodiscard]] std::uint64_t requests() const { return m_requests.load(); }
    // Requests that failed or were cut short.
    [[nodiscard]] std::uint64_t faultedRequests() const { return m_faulted.load(); }
    [[nodiscard]] std::uint64_t bytesDelivered() const { return m_delivered.load(); }

private:
    static bool touches(const std::vector<SectorRange>& ranges, std::uint64_t from, std::uint64_t to) {
        for (const SectorRange& r : ranges) {
            if (r.overlaps(from, to)) return true;
        }
        return false;
    }

    std::unique_ptr<SectorSource> m_inner;
    Faults m_faults;
    std::atomic<std::uint64_t> m_requests{0};
    std::atomic<std::uint64_t> m_faulted{0};
    std::atomic<std::uint64_t> m_delivered{0};
};

// Bytes in memory shared by several sources, so that many runs over one image copy it once.
class SharedBytesSource final : public SectorSource {
public:
    explicit SharedBytesSource(std::shared_ptr<const std::vector<std::byte>> bytes) : m_bytes(std::move(bytes)) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        if (offset >= m_bytes->size()) return 0;
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), m_bytes->size() - offset));
        std::memcpy(buffer.data(), m_bytes->data() + offset, n);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return m_bytes->size(); }

private:
    std::shared_ptr<const std::vector<std::byte>> m_bytes;
};

// A source of n sectors whose bytes are all zero, without holding them (for large disks).
class ZeroSource final : public SectorSource {
public:
    explicit ZeroSource(std::uint64_t sectors) : m_bytes(sectors * kSectorSize) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        if (offset >= m_bytes) return 0;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), m_bytes - offset));
        std::memset(buffer.data(), 0, n);
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return m_bytes; }

private:
    std::uint64_t m_bytes;
};

// A disk of n sectors that holds images at chosen sectors and zeros elsewhere, without holding
// the zeros (a 1 GiB disk with two small volumes on it costs the volumes' bytes).
class PlacedSource final : public SectorSource {
public:
    struct Piece {
        std::uint64_t firstSector = 0;
        std::shared_ptr<const std::vector<std::byte>> bytes;
    };
    PlacedSource(std::uint64_t sectors, std::vector<Piece> pieces)
        : m_bytes(sectors * kSectorSize), m_pieces(std::move(pieces)) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        if (offset >= m_bytes) return 0;
        const std::uint64_t n = std::min<std::uint64_t>(buffer.size(), m_bytes - offset);
        std::memset(buffer.data(), 0, static_cast<std::size_t>(n));
        for (const Piece& p : m_pieces) {
            const std::uint64_t from = std::max(offset, p.firstSector * kSectorSize);
            const std::uint64_t to = std::min(offset + n, p.firstSector * kSectorSize + p.bytes->size());
            if (from >= to) continue;
            std::memcpy(buffer.data() + (from - offset), p.bytes->data() + (from - p.firstSector * kSectorSize),
                        static_cast<std::size_t>(to - from));
        }
        return static_cast<std::int64_t>(n);
    }
    std::uint64_t sizeBytes() const override { return m_bytes; }

private:
    std::uint64_t m_bytes;
    std::vector<Piece> m_pieces;
};

}  // namespace quorlan::test

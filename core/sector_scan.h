// The one chunked pass over a range of sectors that every scan of a disk uses, and the zero-filling
// range read that it shares with look-ups of records at random places.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/run_context.h"
#include "core/sector_reader.h"

namespace quorlan {

// What the visitor of a scan sees of one chunk.
struct ScanChunk {
    std::uint64_t firstSector = 0;  // the chunk's first sector
    std::uint32_t sectorCount = 0;  // the chunk's sectors: the chunk size, fewer for the last chunk
    // sectorCount + look-ahead sectors: the chunk, then the sectors that follow it on the disk
    // (the next chunk's first sectors; past the range, the disk beyond it; past the end of the
    // disk, zeros). Sector i of the chunk lies at byte i x 512. Valid during the visit only.
    std::span<const std::byte> bytes;
    // Sectors of the chunk (not of its look-ahead) that could not be read and are given as zeros.
    std::uint32_t unreadableSectors = 0;
};

// What a visitor answers after a chunk.
enum class ScanStep {
    Continue,
    Stop,  // the visitor has what it needs: no further chunk is visited
};

enum class ScanEnd {
    Finished,        // every chunk of the range was visited
    Stopped,         // the run's stop token was set; the chunks visited before it stay visited
    VisitorStopped,  // the visitor answered ScanStep::Stop
};

struct ScanOptions {
    // Sectors per chunk (one read each). 1 to kMaxRunSectors; values outside are clamped.
    std::uint32_t chunkSectors = 2048;
    // Sectors past each chunk's end that the visitor sees with it, so that a structure that
    // begins in the chunk can be read whole. At most chunkSectors (clamped). Every sector is
    // still read from the disk once: a chunk's look-ahead is read with it and copied to the
    // start of the next chunk's buffer, whose own read begins after it.
    std::uint32_t lookAheadSectors = 0;
    // Read the next chunk on a second thread while the visitor works on this one. It pays when
    // the visitor's work per chunk is comparable to the read (a visitor that reads every byte
    // once: a quarter faster from the page cache); for a visitor that tests a few bytes per sector
    // the hand-over between threads costs more than it saves (a tenth to a third slower), so it is
    // off by default. bench/scan_loop.sh measures both.
    bool readAhead = false;
    // Progress is reported as (sector reached - progressOrigin): 0 gives absolute sectors, the
    // range's start gives sectors done.
    std::uint64_t progressOrigin = 0;
};

struct ScanSummary {
    ScanEnd end = ScanEnd::Finished;
    std::uint64_t nextSector = 0;         // the first sector not visited (the range's end when finished)
    std::uint64_t unreadableSectors = 0;  // sectors of the visited chunks given as zeros
};

using ScanVisitor = std::function<ScanStep(const ScanChunk&)>;

// Visits start <= sector < end in order, chunk by chunk, each sector once. Sectors that cannot be
// read, and sectors past the end of the disk, reach the visitor as zeros; only the former are
// counted as unreadable. The stop token is tested before every chunk, so a stop is honoured
// within one chunk. Progress: setDone at most every ~100 ms while the scan runs and once when it
// ends (not when the visitor throws); the caller begins the phase. A read-ahead thread, when
// used, has been joined when this returns or throws; an exception of the visitor or of the
// source is passed on.
[[nodiscard]] ScanSummary ScanSectors(SectorReader& reader, std::uint64_t start, std::uint64_t end,
                                      const ScanOptions& options, const RunContext& context,
                                      const ScanVisitor& visit);

// Reads count sectors from sector into buffer (which must hold count x 512 bytes; a shorter
// buffer reads only the whole sectors it holds): what the disk holds in runs of at most
// kMaxRunSectors, each through ReadSectorsZeroFilled, and zeros for sectors past the end of the
// disk. Returns the number of sectors the disk holds but that could not be read (zeros as well)
// and appends their numbers to *unreadable when given.
[[nodiscard]] std::uint64_t ReadSectorRange(SectorReader& reader, std::uint64_t sector, std::uint64_t count,
                                            std::span<std::byte> buffer,
                                            std::vector<std::uint64_t>* unreadable = nullptr);

// Short runs looked up at places that mostly rise (file records named by a list): one read of a
// window starting at a requested run serves the runs that follow it.
class SectorWindow {
public:
    SectorWindow(SectorReader& reader, std::uint32_t windowSectors);

    // The count sectors at sector: from the window when it holds them all, else from a new
    // window read from sector on (up to windowSectors, or to the end of the disk). Unreadable
    // sectors come as zeros. Empty when the run does not lie wholly within the disk, is empty,
    // or is longer than the window. Valid until the next call.
    [[nodiscard]] std::span<const std::byte> sectors(std::uint64_t sector, std::uint32_t count);

private:
    SectorReader& m_reader;
    std::vector<std::byte> m_bytes;
    std::uint64_t m_start = 0;
    std::uint64_t m_count = 0;  // sectors of the window read; 0 before the first read
};

}  // namespace quorlan

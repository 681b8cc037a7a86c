#include "core/sector_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "core/device_table.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

// n sectors, each filled with its own number's low byte plus one (never zero).
std::vector<std::byte> numberedSectors(std::size_t n) {
    std::vector<std::byte> bytes(n * kSectorSize);
    for (std::size_t s = 0; s < n; ++s) {
        std::memset(bytes.data() + s * kSectorSize, static_cast<int>((s + 1) & 0xFF), kSectorSize);
    }
    return bytes;
}

std::uint8_t slotByte(const std::vector<std::byte>& buffer, std::size_t slot) {
    return std::to_integer<std::uint8_t>(buffer[slot * kSectorSize]);
}

TEST(SectorReader, ReadsARunInOneRequest) {
    SectorReader reader(std::make_unique<MemorySectorSource>(numberedSectors(16)));
    std::vector<std::byte> buffer(4 * kSectorSize);
    EXPECT_EQ(reader.ReadSectors(5, 4, buffer), 1);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(slotByte(buffer, i), 6 + i);
    EXPECT_EQ(reader.totalSectors(), 16u);
}

TEST(CountingSectorSource, CountsWhatTheInnerSourceDelivers) {
    auto counting = std::make_unique<CountingSectorSource>(std::make_unique<MemorySectorSource>(numberedSectors(16)));
    CountingSectorSource& counts = *counting;
    SectorReader reader(std::move(counting));
    std::vector<std::byte> buffer(4 * kSectorSize);
    EXPECT_EQ(reader.ReadSectors(2, 4, buffer), 1);
    EXPECT_EQ(reader.ReadSectors(15, 1, buffer), 1);
    EXPECT_EQ(counts.bytesRead(), 5 * kSectorSize);
    EXPECT_EQ(counts.requests(), 2u);
    // A run past the end is read short: only the bytes delivered count, then the fallback asks
    // for each sector alone.
    EXPECT_EQ(reader.ReadSectors(14, 4, buffer), 0);
    EXPECT_EQ(counts.bytesRead(), (5 + 2 + 2) * kSectorSize);
    EXPECT_EQ(counts.requests(), 2u + 1 + 4);
}

TEST(SectorReader, FallbackFillsReadableSectorsAndKeepsUnreadableSlots) {
    CorruptTableNotice notice;
    int raised = 0;
    notice.setHook([&] { ++raised; });
    notice.setOnDiskPage(true);

    // Sectors 3 and 5 of the disk fail; a run of 8 from sector 0 cannot be read in one request.
    auto faulty = std::make_unique<FaultySectorSource>(std::make_unique<MemorySectorSource>(numberedSectors(16)),
                                                       std::set<std::uint64_t>{3, 5});
    FaultySectorSource* source = faulty.get();
    SectorReader reader(std::move(faulty), &notice);

    std::vector<std::byte> buffer(8 * kSectorSize, std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectors(0, 8, buffer), 0);
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == 3 || i == 5) {
            EXPECT_EQ(slotByte(buffer, i), 0xEE) << "unreadable slot " << i << " must keep its bytes";
        } else {
            EXPECT_EQ(slotByte(buffer, i), i + 1) << "slot " << i;
        }
    }
    EXPECT_EQ(reader.unreadableSectors(), 2u);
    EXPECT_EQ(source->requests(), 1u + 8u);  // one failed request, then one per sector

    // A run that avoids the bad sectors is read in one request again.
    EXPECT_EQ(reader.ReadSectors(6, 2, buffer), 1);
    // The notice fired once for the disk, not again for the second failure.
    EXPECT_EQ(reader.ReadSectors(2, 2, buffer), 0);
    EXPECT_EQ(raised, 1);
}

TEST(SectorReader, RunWhoseSectorsAllReadOneByOneStillReportsZero) {
    // A medium that refuses every request longer than one sector: the run fails as one request
    // but each sector can be read alone, which gives a full buffer and the result 0.
    class FailsLongRequests final : public SectorSource {
    public:
        std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
            if (buffer.size() > kSectorSize) return -1;
            return inner.readAt(offset, buffer);
        }
        std::uint64_t sizeBytes() const override { return inner.sizeBytes(); }
        MemorySectorSource inner{numberedSectors(8)};
    };
    SectorReader reader(std::make_unique<FailsLongRequests>());
    std::vector<std::byte> buffer(4 * kSectorSize);
    EXPECT_EQ(reader.ReadSectors(2, 4, buffer), 0);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(slotByte(buffer, i), 3 + i);
    EXPECT_EQ(reader.unreadableSectors(), 0u);
}

TEST(SectorReader, TruncatedImageAndBadArgumentsLeaveTheBufferAlone) {
    SectorReader reader(std::make_unique<MemorySectorSource>(numberedSectors(4)));
    std::vector<std::byte> buffer(4 * kSectorSize, std::byte{0xEE});
    // A run that runs past the end: the sectors that exist arrive, the rest keep their bytes.
    EXPECT_EQ(reader.ReadSectors(2, 4, buffer), 0);
    EXPECT_EQ(slotByte(buffer, 0), 3);
    EXPECT_EQ(slotByte(buffer, 1), 4);
    EXPECT_EQ(slotByte(buffer, 2), 0xEE);
    EXPECT_EQ(slotByte(buffer, 3), 0xEE);

    std::vector<std::byte> small(kSectorSize, std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectors(0, 2, small), 0) << "buffer shorter than the run";
    EXPECT_EQ(slotByte(small, 0), 0xEE);
    EXPECT_EQ(reader.ReadSectors(0, 0, small), 0);
    EXPECT_EQ(reader.ReadSectors(~0ull, 1, small), 0) << "byte offset overflows 64 bits";
    EXPECT_EQ(slotByte(small, 0), 0xEE);
    // The run's first byte has an offset in 64 bits, its second sector's does not: the sector
    // by sector fallback must not wrap around to sector 0.
    std::fill(buffer.begin(), buffer.end(), std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectors((1ull << 55) - 1, 2, buffer), 0);
    EXPECT_EQ(slotByte(buffer, 1), 0xEE);
}

TEST(SectorReader, ZeroFilledReadGivesZerosForWhatItCouldNotRead) {
    auto faulty = std::make_unique<FaultySectorSource>(std::make_unique<MemorySectorSource>(numberedSectors(16)),
                                                       std::set<std::uint64_t>{3, 5});
    FaultySectorSource* source = faulty.get();
    SectorReader reader(std::move(faulty));

    std::vector<std::byte> buffer(8 * kSectorSize, std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectorsZeroFilled(0, 8, buffer), 2u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(slotByte(buffer, i), i == 3 || i == 5 ? 0 : i + 1) << "slot " << i;
    EXPECT_EQ(reader.unreadableSectors(), 2u);
    EXPECT_EQ(source->requests(), 1u + 8u);

    std::fill(buffer.begin(), buffer.end(), std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectorsZeroFilled(6, 4, buffer), 0u) << "a clean run, in one request";
    EXPECT_EQ(slotByte(buffer, 3), 10);
    EXPECT_EQ(slotByte(buffer, 4), 0xEE) << "bytes beyond the run are not touched";
    EXPECT_EQ(source->requests(), 1u + 8u + 1u);

    // Past the end of the disk: the two sectors that are not there come as zeros.
    std::fill(buffer.begin(), buffer.end(), std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectorsZeroFilled(14, 4, buffer), 2u);
    EXPECT_EQ(slotByte(buffer, 1), 16);
    EXPECT_EQ(slotByte(buffer, 2), 0);
    EXPECT_EQ(slotByte(buffer, 3), 0);

    // Arguments that allow no read: the part of the run the buffer holds is zeroed.
    const std::uint64_t requests = source->requests();
    std::vector<std::byte> small(2 * kSectorSize, std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectorsZeroFilled(0, 3, small), 3u) << "buffer shorter than the run";
    EXPECT_EQ(slotByte(small, 0), 0);
    EXPECT_EQ(slotByte(small, 1), 0);
    std::fill(small.begin(), small.end(), std::byte{0xEE});
    EXPECT_EQ(reader.ReadSectorsZeroFilled(~0ull, 1, small), 1u) << "byte offset overflows 64 bits";
    EXPECT_EQ(slotByte(small, 0), 0);
    EXPECT_EQ(slotByte(small, 1), 0xEE);
    EXPECT_EQ(reader.ReadSectorsZeroFilled(0, 0, small), 0u);
    EXPECT_EQ(source->requests(), requests);
}

TEST(CorruptTableNotice, FiresOnlyOnTheDiskPageAndOncePerChosenDisk) {
    CorruptTableNotice notice;
    int raised = 0;
    notice.setHook([&] { ++raised; });
    EXPECT_FALSE(notice.raise()) << "not on the disk page: worker reads never fire it";
    notice.setOnDiskPage(true);
    EXPECT_TRUE(notice.raise());
    EXPECT_FALSE(notice.raise());
    notice.rearm();  // Back left the partition page: the disk is chosen afresh
    EXPECT_TRUE(notice.raise());
    EXPECT_EQ(raised, 2);
}

TEST(FdSectorSource, OpensImagesReadOnlyAndReachesSectorsBeyond32Bits) {
    test::TempDir dir;
    const auto image = dir / "big.img";
    // A sparse image of 2^32 + 8 sectors (2 TiB) with a marker in sector 2^32 + 5.
    const std::uint64_t marker = (1ull << 32) + 5;
    {
        std::ofstream out(image, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(marker * kSectorSize));
        const std::string text(kSectorSize, 'M');
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.seekp(static_cast<std::streamoff>(((1ull << 32) + 8) * kSectorSize - 1));
        out.put('\0');
    }
    auto reader = openSectorReader(image);
    ASSERT_TRUE(reader.ok()) << reader.error().message;
    auto* fdSource = dynamic_cast<FdSectorSource*>(&(*reader)->source());
    ASSERT_NE(fdSource, nullptr);
    EXPECT_EQ(fcntl(fdSource->fd(), F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_EQ((*reader)->totalSectors(), (1ull << 32) + 8);

    std::vector<std::byte> buffer(2 * kSectorSize);
    EXPECT_EQ((*reader)->ReadSectors(marker, 2, buffer), 1);
    EXPECT_EQ(std::to_integer<char>(buffer[0]), 'M');
    EXPECT_EQ(std::to_integer<char>(buffer[kSectorSize]), '\0');
    // The same low 32 bits without the high half land elsewhere.
    EXPECT_EQ((*reader)->ReadSectors(5, 1, buffer), 1);
    EXPECT_EQ(std::to_integer<char>(buffer[0]), '\0');
}

TEST(FdSectorSource, RefusesWhatIsNoDisk) {
    test::TempDir dir;
    test::writeText(dir / "tiny.img", "too small");
    const struct {
        std::filesystem::path path;
        ErrorKind kind;
    } cases[] = {
        {dir / "missing.img", ErrorKind::NotFound},
        {dir.path(), ErrorKind::NotADisk},
        {dir / "tiny.img", ErrorKind::NotADisk},
        {"/dev/null", ErrorKind::NotADisk},
    };
    for (const auto& c : cases) {
        auto source = FdSectorSource::open(c.path);
        ASSERT_FALSE(source.ok()) << c.path;
        EXPECT_EQ(source.error().kind, c.kind) << c.path << ": " << source.error().message;
        EXPECT_NE(source.error().message.find(c.path.string()), std::string::npos);
    }
}

TEST(DeviceTable, MapsSlotsToPaths) {
    DeviceTable table;
    EXPECT_EQ(table.add("/dev/sdb"), 0u);
    EXPECT_EQ(table.add("/tmp/stick.img"), 1u);
    EXPECT_EQ(table.add("/dev/sdb"), 0u) << "a path already offered keeps its slot";
    EXPECT_EQ(table.DeviceName(1), std::filesystem::path("/tmp/stick.img"));
    EXPECT_FALSE(table.DeviceName(2).has_value());
    EXPECT_FALSE(table.open(7).ok());
}

}  // namespace
}  // namespace quorlan

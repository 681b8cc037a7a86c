#include "disks/disk_inventory.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "session/session.h"
#include "tests/support/disk_builder.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

namespace fs = std::filesystem;
using test::fakeBlockDevice;
using test::writeText;

TEST(EnumerateRemovableDisks, OffersRemovableMediaWithTheirDetails) {
    test::TempDir dir;
    const fs::path sys = dir.path() / "sys";
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0";
    fakeBlockDevice(sys, "sdb", usb,
                    {{"removable", "1"}, {"size", "15663104"}, {"dev", "8:16"},
                     {"device/vendor", "SanDisk "}, {"device/model", "Cruzer Blade    "},
                     {"device/rev", "1.00"}, {"queue/logical_block_size", "512"}});
    writeText(dir.path() / "udev" / "b8:16",
              "S:disk/by-id/usb-SanDisk\nE:ID_SERIAL_SHORT=4C530001231219117142\n"
              "E:ID_PATH=pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0\nE:ID_BUS=usb\n");
    // A fixed disk, an empty card reader, a loop device and an optical drive are not offered.
    fakeBlockDevice(sys, "sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0",
                    {{"removable", "0"}, {"size", "500118192"}});
    fakeBlockDevice(sys, "sdc", usb + "x", {{"removable", "1"}, {"size", "0"}});
    fakeBlockDevice(sys, "loop0", "virtual/block", {{"removable", "1"}, {"size", "2048"}});
    fakeBlockDevice(sys, "sr0", "pci0000:00/ata2", {{"removable", "1"}, {"size", "2048"}});
    // A memory card in a built-in reader is not flagged removable but is one.
    fakeBlockDevice(sys, "mmcblk0", "pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:aaaa",
                    {{"removable", "0"}, {"size", "62333952"}, {"device/type", "SD"},
                     {"device/name", "SC32G"}, {"device/serial", "0x1234abcd"}});

    const auto disks = EnumerateRemovableDisks({sys / "block", dir.path() / "udev", "station-7"});
    ASSERT_EQ(disks.size(), 2u);
    const DiskInfo& card = disks[0];
    EXPECT_EQ(card.DeviceID, "/dev/mmcblk0");
    EXPECT_EQ(card.InterfaceType, "SD");
    EXPECT_EQ(card.Model, "SC32G");
    EXPECT_EQ(card.SerialNumber, "0x1234abcd");

    const DiskInfo& stick = disks[1];
    EXPECT_EQ(stick.Index, 1u);
    EXPECT_EQ(DiskTreeNodeText(stick), "Removable Media (Disk1)");
    const DetailRows expected = {{"1. Model :", "SanDisk Cruzer Blade"},
                                 {"2. MediaType :", "Removable Media"},
                                 {"3. Interface Type :", "USB"},
                                 {"4. Capacity(size) :", "7640 MB"},
                                 {"5. Cylinders :", "974"},
                                 {"6. Heads :", "255"},
                                 {"7. Sectors :", "15663104"},
                                 {"8. Bytes per Sector :", "512"},
                                 {"9. Sector per Track :", "63"},
                                 {"10. Firmware Revision ID :", "1.00"},
                                 {"11. PNP Device ID :", "pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0"},
                                 {"12. Serial Number :", "4C530001231219117142"},
                                 {"13. System Name :", "station-7"},
                                 {"14. Physical Device ID :", "/dev/sdb"}};
    EXPECT_EQ(DiskDetailsRows(stick), expected);

    // A missing inventory gives no disks, not an error.
    EXPECT_TRUE(EnumerateRemovableDisks({dir.path() / "nothing", dir.path() / "udev", "x"}).empty());
}

TEST(DiskDetails, CapacityAndNodeTexts) {
    DiskInfo disk;
    disk.TotalCylinders = 1024;
    disk.TotalHeads = 255;
    disk.SectorsPerTrack = 63;
    disk.BytesPerSector = 512;
    EXPECT_EQ(CapacityText(disk), "8032 MB");  // 8,422,686,720 bytes: 8032.5 MB, truncated

    disk.Index = 3;
    disk.MediaType = "Removable media other than floppy";
    EXPECT_EQ(DiskTreeNodeText(disk), "Removable Media (Disk3)");
    disk.MediaType = "Removable Media";
    EXPECT_EQ(DiskTreeNodeText(disk), "Removable Media (Disk3)");
    disk.Index = 12;
    EXPECT_EQ(DiskNumberFromNodeText(DiskTreeNodeText(disk)), 12u);
    EXPECT_FALSE(DiskNumberFromNodeText("3.5 Floppy").has_value());
    EXPECT_FALSE(DiskNumberFromNodeText("Removable Media (Disk)").has_value());
}

TEST(Session, ImagesAreDisksToo) {
    test::TempDir dir;
    test::DiskBuilder builder(100000);
    builder.entry(0, 0, 0x0C, 2048, 60000).fatBootSector(2048, true);
    test::writeFile(dir / "stick.img", builder.bytes());

    Session session;
    session.RefreshDisks({dir.path() / "no-sys", dir.path() / "no-udev", "host"});
    auto slot = session.AddImage(dir / "stick.img");
    ASSERT_TRUE(slot.ok()) << slot.error().message;
    const DiskInfo* info = session.disk(*slot);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->MediaType, "Disk Image");
    EXPECT_EQ(info->Model, "stick.img");
    EXPECT_EQ(info->TotalSectors, 100000u);
    EXPECT_EQ(DiskTreeNodeText(*info), "Disk Image (Disk0)");
    EXPECT_EQ(*session.AddPath(dir / "stick.img"), *slot) << "the same image is not offered twice";

    auto list = session.SelectDisk(*slot);
    ASSERT_TRUE(list.ok());
    ASSERT_EQ((*list)->partitions.size(), 1u);
    EXPECT_EQ((*list)->partitions[0].type, FileSystemType::Fat32);

    // Images stay offered when the removable disks are listed again.
    session.RefreshDisks({dir.path() / "no-sys", dir.path() / "no-udev", "host"});
    ASSERT_EQ(session.disks().size(), 1u);
    EXPECT_FALSE(session.AddImage(dir / "missing.img").ok());
}

TEST(Session, AFloppyIsOneFat12VolumeWithTheFloppysGeometry) {
    // A 2880-sector image is the floppy: its node, its 80 x 2 x 18 geometry, and one FAT12 volume
    // also when its boot sector is gone (no lost-partition search is started for it).
    test::TempDir dir;
    test::writeFile(dir / "floppy.img", test::DiskBuilder(kFloppySectors).bytes());
    Session session;
    session.RefreshDisks({dir.path() / "no-sys", dir.path() / "no-udev", "host"});
    const auto slot = session.AddImage(dir / "floppy.img");
    ASSERT_TRUE(slot.ok());
    const DiskInfo& info = *session.disk(*slot);
    EXPECT_TRUE(IsFloppyDisk(info));
    EXPECT_EQ(DiskTreeNodeText(info), "3.5 Floppy");
    EXPECT_EQ(std::tie(info.TotalCylinders, info.TotalHeads, info.SectorsPerTrack),
              std::tuple(std::uint64_t{80}, std::uint32_t{2}, std::uint32_t{18}));
    const auto list = session.SelectDisk(*slot);
    ASSERT_TRUE(list.ok());
    ASSERT_EQ((*list)->partitions.size(), 1u);
    EXPECT_EQ((*list)->partitions[0].type, FileSystemType::Fat12);
    EXPECT_EQ((*list)->partitions[0].end, kFloppySectors);
    EXPECT_FALSE(session.lostPartitionSearchWanted());
    // The floppy drive itself is offered (it was left out as no recovery target before).
    DiskInfo drive;
    drive.DeviceID = "/dev/fd0";
    EXPECT_TRUE(IsFloppyDisk(drive));
}

TEST(Session, CorruptTableNoticeFiresOncePerChoiceOfADisk) {
    test::TempDir dir;
    test::DiskBuilder corrupt(100000);
    corrupt.entry(0, 0, 0x06, 2048, 40000).entry(0, 1, 0x06, 99000, 500);  // too near the end
    test::writeFile(dir / "corrupt.img", corrupt.bytes());
    test::DiskBuilder blank(100000);
    test::writeFile(dir / "blank.img", blank.bytes());

    Session session;
    int notices = 0;
    session.corruptTableNotice().setHook([&] { ++notices; });
    const std::size_t bad = *session.AddImage(dir / "corrupt.img");
    const std::size_t none = *session.AddImage(dir / "blank.img");

    ASSERT_TRUE(session.SelectDisk(bad).ok());
    EXPECT_TRUE(session.partitions().corrupt);
    EXPECT_EQ(notices, 1);
    // Reads on later pages (searches) never raise it.
    std::vector<std::byte> sector(kSectorSize);
    EXPECT_EQ(session.reader()->ReadSectors(200000, 1, sector), 0) << "a read past the end fails";
    EXPECT_EQ(notices, 1);

    session.BackToDiskPage();
    ASSERT_TRUE(session.SelectDisk(none).ok());  // no partition at all: the notice fires too
    EXPECT_FALSE(session.partitions().partitionFound);
    EXPECT_EQ(notices, 2);
    ASSERT_TRUE(session.SelectDisk(none).ok());  // chosen again without going back: silent
    EXPECT_EQ(notices, 2);
}

// The road the window takes: the notice reaches the observer when the disk is chosen, the
// search runs with a stop token, and what it found joins the list after the table's partitions,
// ready for a Standard Search.
TEST(Session, CorruptTableNoticeLeadsToTheLostPartitionSearch) {
    class Watch final : public NullObserver {
    public:
        void partitionTableCorrupt() override { ++notices; }
        void counter(Counter which, std::uint64_t value) override {
            if (which == Counter::PartitionsFound) found = value;
        }
        int notices = 0;
        std::uint64_t found = 0;
    };
    test::TempDir dir;
    // A table that fails the sanity test after its first entry; two more volumes behind it.
    test::DiskBuilder builder(200000);
    builder.entry(0, 0, 0x0C, 2048, 40960).entry(0, 1, 0x07, 199000, 500);
    for (const std::uint64_t at : {2048u, 43008u, 83968u}) {
        builder.fatBootSector(at, true).u32(at, 32, 40960).u16(at, 24, 63).u16(at, 26, 255);
    }
    test::writeFile(dir / "lost.img", builder.bytes());

    Session session;
    const std::size_t slot = *session.AddImage(dir / "lost.img");
    Watch watch;
    ASSERT_TRUE(session.SelectDisk(slot, &watch).ok());
    EXPECT_EQ(watch.notices, 1);
    EXPECT_TRUE(session.lostPartitionSearchWanted());
    ASSERT_EQ(session.partitions().partitions.size(), 1u);

    std::stop_source stop;
    auto result = session.FindLostPartitions(RunContext{watch, stop.get_token()});
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(session.partitions().partitions.size(), 1u) << "the search leaves the list to the front end";
    EXPECT_EQ(watch.found, 2u);
    EXPECT_EQ(session.AddFoundPartitions(*result), 2u);
    const auto& parts = session.partitions().partitions;
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1].start, 43008u);
    EXPECT_EQ(parts[2].source, PartitionSource::BootSector);
    auto request = session.PrepareStandardSearch(2);
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(request->rangeStart, 83968u);
    EXPECT_EQ(request->rangeEnd, 83968u + 40960);

    // Chosen again without going back: no notice, no search wanted. A range off the disk fails.
    ASSERT_TRUE(session.SelectDisk(slot, &watch).ok());
    EXPECT_EQ(watch.notices, 1);
    EXPECT_FALSE(session.lostPartitionSearchWanted());
    EXPECT_FALSE(session.FindLostPartitions(RunContext{watch, {}}, 200000, 300000).ok());
}

}  // namespace
}  // namespace quorlan

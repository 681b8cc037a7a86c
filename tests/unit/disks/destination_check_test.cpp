// The destination of a save must not lie on the disk being recovered; sysfs is faked in a
// temporary folder.
#include "disks/destination_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

namespace fs = std::filesystem;

// A fake sysfs: devices under devices/, each dev/block/MAJ:MIN a link to one of them.
class FakeSys {
public:
    explicit FakeSys(fs::path root) : m_root(std::move(root)) { fs::create_directories(m_root / "dev" / "block"); }
    fs::path device(const std::string& path) {
        const fs::path d = m_root / "devices" / path;
        fs::create_directories(d);
        return d;
    }
    void partition(const fs::path& device) { std::ofstream(device / "partition") << "1\n"; }
    void backing(const fs::path& device, const fs::path& file) {
        fs::create_directories(device / "loop");
        std::ofstream(device / "loop" / "backing_file") << file.string() << "\n";
    }
    void slave(const fs::path& holder, const fs::path& below) {
        fs::create_directories(holder / "slaves");
        fs::create_directory_symlink(below, holder / "slaves" / below.filename());
    }
    void number(dev_t dev, const fs::path& device) {
        fs::create_directory_symlink(device, m_root / "dev" / "block" /
                                                 (std::to_string(major(dev)) + ":" + std::to_string(minor(dev))));
    }
    [[nodiscard]] const fs::path& root() const { return m_root; }

private:
    fs::path m_root;
};

TEST(DestinationCheck, DisksBelowPartitionsAndMappedDevices) {
    test::TempDir dir;
    FakeSys sys(dir / "sys");
    const fs::path sdz = sys.device("pci/block/sdz");
    const fs::path sdz1 = sys.device("pci/block/sdz/sdz1");
    sys.partition(sdz1);
    const fs::path sdy1 = sys.device("pci/block/sdy/sdy1");
    sys.partition(sdy1);
    const fs::path dm = sys.device("virtual/block/dm-0");
    sys.slave(dm, sdy1);
    sys.number(makedev(8, 1), sdz1);
    sys.number(makedev(8, 0), sdz);
    sys.number(makedev(253, 0), dm);

    std::set<std::string> backing;
    EXPECT_EQ(DisksHolding(makedev(8, 1), backing, sys.root()), (std::set<std::string>{"sdz"}));
    EXPECT_EQ(DisksHolding(makedev(8, 0), backing, sys.root()), (std::set<std::string>{"sdz"}));
    EXPECT_EQ(DisksHolding(makedev(253, 0), backing, sys.root()), (std::set<std::string>{"dm-0", "sdy"}));
    EXPECT_TRUE(DisksHolding(makedev(9, 9), backing, sys.root()).empty());
    EXPECT_TRUE(backing.empty());
}

TEST(DestinationCheck, AMountedImageIsRefusedAsDestination) {
    test::TempDir dir;
    const fs::path image = dir / "stick.img";
    std::ofstream(image) << "not really a disk";
    const fs::path other = dir / "other.img";
    std::ofstream(other) << "another";
    const fs::path dest = dir / "out" / "new";  // created by the save; its parent decides
    fs::create_directories(dir / "out");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out").c_str(), &st), 0);

    for (const bool sameImage : {true, false}) {
        test::TempDir sysDir;
        FakeSys sys(sysDir / "sys");
        const fs::path loop = sys.device("virtual/block/loop7");
        sys.backing(loop, sameImage ? image : other);
        sys.number(st.st_dev, loop);
        const Result<void> check = CheckSaveDestination(dest, image, sys.root());
        EXPECT_EQ(check.ok(), !sameImage);
        if (!check.ok()) {
            EXPECT_EQ(check.error().message, kMsgDestinationOnSource);
        }
    }
}

}  // namespace
}  // namespace quorlan

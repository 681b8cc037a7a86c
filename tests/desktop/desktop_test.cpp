// The desktop side of the engine: disks opened through udisksd (a fake one on a private bus:
// granted, refused, cancelled, a descriptor that is not read-only, no service at all), disks
// noticed as they come and go, and a job on a disk pulled out that ends instead of hanging.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/udisks_open.h"
#include "disks/disk_watcher.h"
#include "search/search_driver.h"
#include "session/session.h"
#include "tests/support/disk_builder.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/private_bus.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace quorlan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The node the fake service offers; no such file exists, so only the service can open it.
const fs::path kNode = "/dev/quorlan-test-stick";

std::vector<std::byte> readAll(SectorSource& source) {
    std::vector<std::byte> bytes(source.sizeBytes());
    EXPECT_EQ(source.readAt(0, bytes), static_cast<std::int64_t>(bytes.size()));
    return bytes;
}

// A disk image of 64 sectors whose every sector holds its own number.
fs::path numberedImage(const test::TempDir& dir) {
    std::vector<std::byte> bytes(64 * kSectorSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i / kSectorSize);
    const fs::path image = dir / "stick.img";
    test::writeFile(image, bytes);
    return image;
}

struct FakeService {
    test::PrivateBus bus;
    std::unique_ptr<test::ChildProcess> service;

    FakeService(const std::string& answer, const fs::path& node, const fs::path& image) {
        if (!bus.up()) return;
        service = std::make_unique<test::ChildProcess>(
            std::vector<std::string>{QUORLAN_FAKE_UDISKS, "--answer", answer, "--device",
                                     node.string() + "=" + image.string()},
            std::vector<std::string>{bus.systemBusEnv()});
    }
    [[nodiscard]] bool ready() const { return service && service->firstLine() == "ready"; }
    [[nodiscard]] DiskAccess access(bool everyPath = true) const { return {BusAddress{bus.address()}, everyPath}; }
};

TEST(OpenDiskSource, AsksUDisks2AndTakesOnlyAReadOnlyDescriptor) {
    test::TempDir dir;
    const fs::path image = numberedImage(dir);
    const std::string refused = "Permission to read /dev/quorlan-test-stick was refused";
    struct Case {
        const char* answer;
        bool opens;
        const char* message;  // the error's message when it does not open
    };
    const std::vector<Case> cases = {
        {"granted", true, ""},
        {"refused", false, refused.c_str()},
        {"cancelled", false, refused.c_str()},
        // A descriptor open for writing is never used; the node itself does not exist.
        {"writable", false, "cannot open '/dev/quorlan-test-stick': no such file or device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const FakeService fake(c.answer, kNode, image);
        ASSERT_TRUE(fake.ready()) << "no private bus or fake service";

        const UDisks2Open asked = OpenThroughUDisks2(kNode, fake.access().bus);
        const std::string answer = c.answer;
        EXPECT_EQ(asked.answer, answer == "granted"                            ? UDisks2Answer::Granted
                                : answer == "refused" || answer == "cancelled" ? UDisks2Answer::Refused
                                                                               : UDisks2Answer::Unavailable);

        auto source = OpenDiskSource(kNode, fake.access());
        ASSERT_EQ(source.ok(), c.opens) << (source.ok() ? "" : source.error().message);
        if (c.opens) {
            EXPECT_EQ(::fcntl((*source)->fd(), F_GETFL) & O_ACCMODE, O_RDONLY);
            EXPECT_EQ((*source)->sizeBytes(), 64 * kSectorSize);
            const auto bytes = readAll(**source);
            EXPECT_EQ(bytes[37 * kSectorSize], std::byte{37});
        } else {
            EXPECT_EQ(source.error().message, c.message);
            if (answer != "writable") {
                EXPECT_EQ(source.error().kind, ErrorKind::PermissionDenied);
            }
        }
    }
}

TEST(OpenDiskSource, FallsBackToTheNodeItself) {
    test::TempDir dir;
    const fs::path image = numberedImage(dir);
    // Refused by the service, but the node may be opened directly (root, or the disk group).
    {
        const FakeService fake("refused", image, image);
        ASSERT_TRUE(fake.ready());
        auto source = OpenDiskSource(image, fake.access());
        ASSERT_TRUE(source.ok()) << source.error().message;
        EXPECT_EQ(readAll(**source)[5 * kSectorSize], std::byte{5});
    }
    // A bus without udisksd, and no bus at all: the node is opened as before.
    test::PrivateBus emptyBus;
    ASSERT_TRUE(emptyBus.up());
    for (const std::string& address : {emptyBus.address(), std::string("unix:path=/nonexistent/bus")}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(OpenThroughUDisks2(image, BusAddress{address}).answer, UDisks2Answer::Unavailable);
        auto source = OpenDiskSource(image, DiskAccess{BusAddress{address}, true});
        ASSERT_TRUE(source.ok()) << source.error().message;
        EXPECT_EQ((*source)->sizeBytes(), 64 * kSectorSize);
    }
    // Image files are never asked of the service.
    const FakeService fake("refused", image, image);
    ASSERT_TRUE(fake.ready());
    EXPECT_TRUE(OpenDiskSource(image, fake.access(false)).ok());
}

// Waits for the watcher to report, up to a limit.
struct Reports {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::vector<DiskInfo>> lists;

    void add(const std::vector<DiskInfo>& disks) {
        const std::lock_guard lock(mutex);
        lists.push_back(disks);
        cv.notify_all();
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, limit, [&] { return lists.size() >= count; });
    }
};

void plugStick(const fs::path& sys, const std::string& name, const std::string& sectors) {
    test::fakeBlockDevice(sys, name, "pci0000:00/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/" + name,
                          {{"removable", "1"}, {"size", sectors}, {"dev", "8:16"}});
}

TEST(DiskWatcher, ReportsDisksThatComeAndGo) {
    test::TempDir dir;
    const fs::path sys = dir / "sys";
    fs::create_directories(sys / "block");
    DiskWatchOptions options;
    options.roots = {sys / "block", dir / "udev", "station"};
    options.bus = BusAddress{"unix:path=/nonexistent/bus"};  // no bus: the watcher looks now and then
    options.pollInterval = 20ms;
    Reports reports;
    {
        const DiskWatcher watcher(options, [&](const std::vector<DiskInfo>& disks) { reports.add(disks); });
        EXPECT_FALSE(watcher.hearsUDisks2());
        std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(reports.lists.empty()) << "nothing changed, nothing reported";

        plugStick(sys, "sdb", "2048");
        ASSERT_TRUE(reports.waitFor(1, 10s));
        ASSERT_EQ(reports.lists[0].size(), 1u);
        EXPECT_EQ(reports.lists[0][0].DeviceID, "/dev/sdb");

        fs::remove(sys / "block" / "sdb");
        ASSERT_TRUE(reports.waitFor(2, 10s));
        EXPECT_TRUE(reports.lists[1].empty());
    }
    // Destroyed promptly, and nothing is reported afterwards.
    plugStick(sys, "sdc", "4096");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reports.lists.size(), 2u);
}

TEST(DiskWatcher, HearsUDisks2AnnounceAStick) {
    test::TempDir dir;
    const fs::path image = numberedImage(dir);
    const FakeService fake("granted", kNode, image);
    ASSERT_TRUE(fake.ready());
    const fs::path sys = dir / "sys";
    fs::create_directories(sys / "block");
    DiskWatchOptions options;
    options.roots = {sys / "block", dir / "udev", "station"};
    options.bus = BusAddress{fake.bus.address()};
    options.pollInterval = 1h;  // only the signal can wake it within the test's time
    Reports reports;
    const DiskWatcher watcher(options, [&](const std::vector<DiskInfo>& disks) { reports.add(disks); });
    ASSERT_TRUE(watcher.hearsUDisks2());

    plugStick(sys, "sdb", "2048");
    const auto sent = test::runCommand("DBUS_SYSTEM_BUS_ADDRESS=" + test::shellQuote(fake.bus.address()) +
                                       " busctl --system call org.freedesktop.UDisks2 /org/freedesktop/UDisks2"
                                       " org.quorlan.FakeUDisks2 Plug");
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    ASSERT_TRUE(reports.waitFor(1, 10s));
    ASSERT_EQ(reports.lists[0].size(), 1u);
    EXPECT_EQ(reports.lists[0][0].TotalSectors, 2048u);
}

// A stick that is pulled out after a number of reads: every later read fails and it says so.
class VanishingSource final : public SectorSource {
public:
    VanishingSource(std::unique_ptr<SectorSource> inner, std::int64_t readsBeforeGone)
        : m_inner(std::move(inner)), m_left(readsBeforeGone) {}
    std::int64_t readAt(std::uint64_t offset, std::span<std::byte> buffer) override {
        ++m_requests;
        if (m_left.fetch_sub(1) <= 0) {
            m_gone = true;
            return -1;
        }
        return m_inner->readAt(offset, buffer);
    }
    std::uint64_t sizeBytes() const override { return m_inner->sizeBytes(); }
    bool mediumGone() const override { return m_gone.load(); }
    std::atomic<std::int64_t> m_requests{0};

private:
    std::unique_ptr<SectorSource> m_inner;
    std::atomic<std::int64_t> m_left;
    std::atomic<bool> m_gone{false};
};

TEST(MediumGone, ReadsFailAtOnceAndTheJobIsAskedToStop) {
    auto owned =
        std::make_unique<VanishingSource>(std::make_unique<MemorySectorSource>(std::vector<std::byte>(1 << 20)), 1);
    VanishingSource& source = *owned;
    SectorReader reader(std::move(owned));
    std::stop_source stopper;
    reader.stopWhenMediumGone(stopper);
    std::vector<std::byte> buffer(256 * kSectorSize, std::byte{0x5a});
    EXPECT_EQ(reader.ReadSectorsZeroFilled(0, 256, buffer), 0u);
    EXPECT_FALSE(stopper.stop_requested());

    EXPECT_EQ(reader.ReadSectorsZeroFilled(256, 256, buffer), 256u);
    EXPECT_TRUE(reader.mediumGone());
    EXPECT_TRUE(stopper.stop_requested());
    // One request for the run, none sector by sector.
    EXPECT_EQ(source.m_requests.load(), 2);
    EXPECT_EQ(buffer[100], std::byte{0});
    EXPECT_EQ(reader.ReadSectors(0, 8, buffer), 0);
    EXPECT_EQ(source.m_requests.load(), 3);

    // A stop source given after the disk went is asked at once.
    std::stop_source late;
    reader.stopWhenMediumGone(late);
    EXPECT_TRUE(late.stop_requested());
}

TEST(MediumGone, ASearchOfAPulledStickEndsWithWhatItFound) {
    for (const char* name : {"fat32-search.img", "ntfs-search.img"}) {
        SCOPED_TRACE(name);
        const std::string image = std::string(QUORLAN_FIXTURE_DIR) + "/" + name;
        Session session;
        auto slot = session.AddImage(image);
        ASSERT_TRUE(slot.ok()) << slot.error().message;
        ASSERT_TRUE(session.SelectDisk(*slot).ok());
        auto request = session.PrepareStandardSearch(0);
        ASSERT_TRUE(request.ok()) << request.error().message;

        auto inner = FdSectorSource::open(image);
        ASSERT_TRUE(inner.ok());
        SectorReader reader(std::make_unique<VanishingSource>(std::move(inner).value(), 1));
        std::stop_source stopper;
        reader.stopWhenMediumGone(stopper);
        NullObserver quiet;
        const SearchResult result =
            RunSearch(*request, reader, session.recovery(), RunContext{quiet, stopper.get_token()});
        EXPECT_EQ(result.outcome, SearchOutcome::Stopped);
        EXPECT_TRUE(reader.mediumGone());
    }
}

// A person without root searches a disk they may not open: udisksd (the fake) hands it over, or
// refuses. The command runs as user nobody; the image lies in a folder only root may enter, the
// way /dev/sdb is only root's and the disk group's.
TEST(CommandLine, SearchesADiskThatUDisks2HandsOver) {
    if (::geteuid() != 0 || !test::haveTool("setpriv")) GTEST_SKIP() << "needs root to run a command as nobody";
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all);
    const fs::path image = dir / "stick.img";
    fs::copy_file(std::string(QUORLAN_FIXTURE_DIR) + "/fat32-search.img", image);
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    for (const std::string answer : {"granted", "refused", "cancelled"}) {
        SCOPED_TRACE(answer);
        const FakeService fake(answer, image, image);
        ASSERT_TRUE(fake.ready());
        const auto r =
            test::runCommand("DBUS_SYSTEM_BUS_ADDRESS=" + test::shellQuote(fake.bus.address()) + " " + asNobody +
                             QUORLAN_CLI + " search " + test::shellQuote(image.string()) + " --partition 1");
        if (answer == "granted") {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.out.find("  Holiday Photos/\n"), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.err, "quorlan-cli: Permission to read " + image.string() + " was refused\n");
        }
    }
    // Without udisksd the refusal of the direct open stands, with its advice.
    const auto r = test::runCommand("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent " + asNobody + QUORLAN_CLI +
                                    " search " + test::shellQuote(image.string()) + " --partition 1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("run as root"), std::string::npos) << r.err;
}

TEST(CommandLine, PrintsItsVersion) {
    const auto r = test::runCommand(std::string(QUORLAN_CLI) + " --version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("quorlan-cli ") + QUORLAN_VERSION + "\n");
}

TEST(CommandLine, DisksWatchListsAStickPluggedIn) {
    test::TempDir dir;
    const fs::path sys = dir / "sys";
    fs::create_directories(sys / "block");
    // The command runs in the background; the stick is plugged in while it watches, then Ctrl-C.
    const std::string script = "QUORLAN_SYSFS_ROOT=" + test::shellQuote(sys.string()) +
                               " QUORLAN_WATCH_POLL_MS=20 DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent " +
                               std::string(QUORLAN_CLI) + " disks --watch --json & pid=$!; sleep 0.5; mkdir -p " +
                               test::shellQuote((sys / "devices/usb/sdb/block/sdb").string()) + " && cd " +
                               test::shellQuote((sys / "devices/usb/sdb/block/sdb").string()) +
                               " && echo 1 > removable && echo 2048 > size && ln -s \"$PWD\" " +
                               test::shellQuote((sys / "block/sdb").string()) + "; sleep 1; kill -INT $pid; wait $pid";
    const auto r = test::runCommand(script);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 3), "[]\n");
    EXPECT_NE(r.out.find("\"device\":\"/dev/sdb\""), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quorlan

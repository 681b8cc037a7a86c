// Opening a disk the way desktop programs do: udisksd hands over a read-only descriptor of the
// block device once polkit allows it (the desktop's agent asks for a password where the system's
// policy says so), so that nobody has to run the program as root to read a stick.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/result.h"
#include "core/sector_reader.h"
#include "core/system_bus.h"
#include "core/unique_fd.h"

namespace quorlan {

// What udisksd answered.
enum class UDisks2Answer {
    Granted,      // a read-only descriptor of the device
    Refused,      // polkit said no, or the person cancelled the password dialog
    Unavailable,  // no bus, no udisksd, a device it does not know, or any other failure
};

struct UDisks2Open {
    UDisks2Answer answer = UDisks2Answer::Unavailable;
    UniqueFd fd;         // open read-only when Granted
    std::string detail;  // the service's error, for a person reading a log; empty when Granted
};

// How long udisksd may take to answer OpenDevice: a person may be typing a password meanwhile.
inline constexpr std::uint64_t kOpenDeviceTimeoutUsec = 5ULL * 60 * 1000 * 1000;

// Asks udisksd (org.freedesktop.UDisks2.Block.OpenDevice, mode "r", interactive authorization
// allowed) for a read-only descriptor of a device node. A descriptor that is not read-only is
// closed and reported as Unavailable: the source is never open for writing.
[[nodiscard]] UDisks2Open OpenThroughUDisks2(const std::filesystem::path& device, const BusAddress& where = {});

// The message shown when the system refused to let the user read a device.
[[nodiscard]] std::string PermissionRefusedMessage(const std::filesystem::path& device);

// How a disk source is opened.
struct DiskAccess {
    BusAddress bus;
    // Ask udisksd about any path, not only block devices (tests route image files through a
    // fake service this way).
    bool askForEveryPath = false;
};

// Opens a device or image path read-only. A block device is asked of udisksd first; when the
// service refused, the node is still opened directly where the user may (root, or a member of
// the disk group), else the refusal is the error (PermissionDenied, PermissionRefusedMessage).
// When udisksd is not there the node is opened directly. Image files are opened directly, and
// asked of udisksd only when that open is not allowed.
[[nodiscard]] Result<std::unique_ptr<FdSectorSource>> OpenDiskSource(const std::filesystem::path& path,
                                                                     const DiskAccess& access = {});

}  // namespace quorlan

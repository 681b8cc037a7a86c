// The read-only descriptor of a disk, obtained from udisksd over the system bus.
#include "core/udisks_open.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string_view>

namespace quorlan {

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.UDisks2.Manager";
constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";

UDisks2Open unavailable(std::string detail) {
    UDisks2Open out;
    out.detail = std::move(detail);
    return out;
}

std::string errorText(const sd_bus_error& e, int r) {
    if (e.name != nullptr) return std::string(e.name) + (e.message != nullptr ? ": " + std::string(e.message) : "");
    return "D-Bus error " + std::to_string(-r);
}

// polkit's refusals as udisksd names them: not allowed, allowed only after a password that could
// not be asked for, and a password dialog the person dismissed.
bool isRefusal(const sd_bus_error& e) {
    return sd_bus_error_has_names(&e, "org.freedesktop.UDisks2.Error.NotAuthorized",
                                  "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                  "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed") != 0;
}

// The object path udisksd gives the block device of a node (Manager.ResolveDevice).
Result<std::string> resolveDevice(sd_bus* bus, const std::filesystem::path& device) {
    SdBusErrorGuard err;
    sd_bus_message* rawCall = nullptr;
    int r = sd_bus_message_new_method_call(bus, &rawCall, kService, kManagerPath, kManagerInterface, "ResolveDevice");
    if (r < 0) return Error{ErrorKind::Other, "cannot build a D-Bus call"};
    const SdBusMessagePtr call(rawCall);
    r = sd_bus_message_append(call.get(), "a{sv}a{sv}", 1, "path", "s", device.c_str(), 0);
    if (r < 0) return Error{ErrorKind::Other, "cannot build a D-Bus call"};
    sd_bus_message* rawReply = nullptr;
    r = sd_bus_call(bus, call.get(), 0, &err.error, &rawReply);
    if (r < 0) return Error{ErrorKind::Other, errorText(err.error, r)};
    const SdBusMessagePtr reply(rawReply);
    if (sd_bus_message_enter_container(reply.get(), 'a', "o") < 0) {
        return Error{ErrorKind::Other, "udisksd answered ResolveDevice oddly"};
    }
    const char* object = nullptr;
    if (sd_bus_message_read_basic(reply.get(), 'o', &object) <= 0 || object == nullptr) {
        return Error{ErrorKind::NotFound, "udisksd knows no block device " + device.string()};
    }
    return std::string(object);
}

}  // namespace

std::string PermissionRefusedMessage(const std::filesystem::path& device) {
    return "Permission to read " + device.string() + " was refused";
}

UDisks2Open OpenThroughUDisks2(const std::filesystem::path& device, const BusAddress& where) {
    const SdBusPtr bus = ConnectSystemBus(where);
    if (!bus) return unavailable("no system bus");
    // The desktop's polkit agent may ask the person for a password while udisksd waits.
    (void)sd_bus_set_allow_interactive_authorization(bus.get(), 1);

    const auto object = resolveDevice(bus.get(), device);
    if (!object) return unavailable(object.error().message);

    SdBusErrorGuard err;
    sd_bus_message* rawCall = nullptr;
    int r =
        sd_bus_message_new_method_call(bus.get(), &rawCall, kService, object->c_str(), kBlockInterface, "OpenDevice");
    if (r < 0) return unavailable("cannot build a D-Bus call");
    const SdBusMessagePtr call(rawCall);
    // Mode "r": udisksd opens the node O_RDONLY; no options.
    r = sd_bus_message_append(call.get(), "sa{sv}", "r", 0);
    if (r < 0 || sd_bus_message_set_allow_interactive_authorization(call.get(), 1) < 0) {
        return unavailable("cannot build a D-Bus call");
    }
    sd_bus_message* rawReply = nullptr;
    r = sd_bus_call(bus.get(), call.get(), kOpenDeviceTimeoutUsec, &err.error, &rawReply);
    if (r < 0) {
        UDisks2Open out = unavailable(errorText(err.error, r));
        if (isRefusal(err.error)) out.answer = UDisks2Answer::Refused;
        return out;
    }
    const SdBusMessagePtr reply(rawReply);
    int handed = -1;
    if (sd_bus_message_read_basic(reply.get(), 'h', &handed) <= 0 || handed < 0) {
        return unavailable("udisksd answered OpenDevice without a descriptor");
    }
    // The reply owns its descriptor; keep a copy of our own.
    UniqueFd fd(::fcntl(handed, F_DUPFD_CLOEXEC, 3));
    if (!fd.valid()) return unavailable("cannot keep the descriptor udisksd handed over");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) {
        return unavailable("udisksd handed over a descriptor that is not read-only");
    }
    UDisks2Open out;
    out.answer = UDisks2Answer::Granted;
    out.fd = std::move(fd);
    return out;
}

Result<std::unique_ptr<FdSectorSource>> OpenDiskSource(const std::filesystem::path& path, const DiskAccess& access) {
    struct stat st {};
    const bool blockDevice = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    if (!blockDevice && !access.askForEveryPath) {
        // An image file is opened directly; only when that is not allowed is udisksd asked (it
        // knows block devices only, so the refusal of the direct open normally stands).
        auto direct = FdSectorSource::open(path);
        if (direct || direct.error().kind != ErrorKind::PermissionDenied) return direct;
        UDisks2Open asked = OpenThroughUDisks2(path, access.bus);
        if (asked.answer == UDisks2Answer::Granted) return FdSectorSource::adopt(std::move(asked.fd), path);
        if (asked.answer == UDisks2Answer::Refused)
            return Error{ErrorKind::PermissionDenied, PermissionRefusedMessage(path)};
        return direct;
    }

    UDisks2Open asked = OpenThroughUDisks2(path, access.bus);
    if (asked.answer == UDisks2Answer::Granted) return FdSectorSource::adopt(std::move(asked.fd), path);
    auto direct = FdSectorSource::open(path);
    if (direct || asked.answer != UDisks2Answer::Refused) return direct;
    return Error{ErrorKind::PermissionDenied, PermissionRefusedMessage(path)};
}

}  // namespace quorlan

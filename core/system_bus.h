// A client connection to the system's D-Bus (through sd-bus of libsystemd), for the services the
// engine asks: udisksd for a read-only descriptor of a disk, and its signals when disks come and
// go.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace quorlan {

struct SdBusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using SdBusPtr = std::unique_ptr<sd_bus, SdBusCloser>;

struct SdBusMessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using SdBusMessagePtr = std::unique_ptr<sd_bus_message, SdBusMessageUnref>;

// Frees an sd_bus_error when it leaves scope.
class SdBusErrorGuard {
public:
    SdBusErrorGuard() = default;
    SdBusErrorGuard(const SdBusErrorGuard&) = delete;
    SdBusErrorGuard& operator=(const SdBusErrorGuard&) = delete;
    ~SdBusErrorGuard() { sd_bus_error_free(&error); }
    sd_bus_error error{nullptr, nullptr, 0};
};

// Where the engine finds the system bus: empty means the system's own (or the one that
// DBUS_SYSTEM_BUS_ADDRESS names); tests give the address of a private bus of their own.
struct BusAddress {
    std::string address;
};

// Connects to the bus; null when there is none (no D-Bus daemon, a container, a rescue system).
[[nodiscard]] SdBusPtr ConnectSystemBus(const BusAddress& where);

}  // namespace quorlan

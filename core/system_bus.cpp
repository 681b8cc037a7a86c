#include "core/system_bus.h"

namespace quorlan {

SdBusPtr ConnectSystemBus(const BusAddress& where) {
    sd_bus* raw = nullptr;
    if (where.address.empty()) {
        if (sd_bus_open_system(&raw) < 0) return nullptr;
        return SdBusPtr(raw);
    }
    if (sd_bus_new(&raw) < 0) return nullptr;
    SdBusPtr bus(raw);
    if (sd_bus_set_address(raw, where.address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
        sd_bus_start(raw) < 0) {
        return nullptr;
    }
    return bus;
}

}  // namespace quorlan

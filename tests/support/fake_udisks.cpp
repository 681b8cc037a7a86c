// A stand-in for udisksd and the polkit decision behind it, on a private bus: it offers one
// device node, backed by an image file, and answers OpenDevice the way it is told to.
//
//   fake_udisks --device NODE=IMAGE --answer granted|refused|cancelled|writable
//
// granted: the image opened O_RDONLY; refused: NotAuthorized (polkit said no); cancelled:
// NotAuthorizedDismissed (the person closed the password dialog); writable: a descriptor open for
// reading and writing, which a client must not use. A call without the interactive-authorization
// flag gets NotAuthorizedCanObtain, as udisksd answers when polkit could only allow it after a
// password. The method org.quorlan.FakeUDisks2.Plug emits InterfacesAdded as udisksd does when a
// stick is plugged in. Prints "ready" once it owns its name.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string g_node;
std::string g_image;
std::string g_answer = "granted";
constexpr const char* kBlockPath = "/org/freedesktop/UDisks2/block_devices/fake";

int resolveDevice(sd_bus_message* m, void*, sd_bus_error*) {
    // a{sv} devspec: look for "path".
    std::string wanted;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return -EINVAL;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read_basic(m, 's', &key) < 0) return -EINVAL;
        if (key != nullptr && std::strcmp(key, "path") == 0) {
            const char* value = nullptr;
            if (sd_bus_message_read(m, "v", "s", &value) < 0) return -EINVAL;
            wanted = value != nullptr ? value : "";
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return -EINVAL;
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "o");
    if (wanted == g_node) sd_bus_message_append_basic(reply, 'o', kBlockPath);
    sd_bus_message_close_container(reply);
    const int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

int openDevice(sd_bus_message* m, void*, sd_bus_error*) {
    const char* mode = nullptr;
    if (sd_bus_message_read_basic(m, 's', &mode) < 0) return -EINVAL;
    if (sd_bus_message_get_allow_interactive_authorization(m) <= 0) {
        return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                          "Authentication is required");
    }
    if (mode == nullptr || std::strcmp(mode, "r") != 0) {
        return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.Failed", "this test grants mode r only");
    }
    if (g_answer == "refused") {
        return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorized", "Not authorized");
    }
    if (g_answer == "cancelled") {
        return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
                                          "The authentication dialog was dismissed");
    }
    const int fd = ::open(g_image.c_str(), (g_answer == "writable" ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.Failed", "cannot open");
    const int r = sd_bus_reply_method_return(m, "h", fd);
    ::close(fd);
    return r;
}

int plug(sd_bus_message* m, void*, sd_bus_error*) {
    sd_bus* bus = sd_bus_message_get_bus(m);
    sd_bus_message* signal = nullptr;
    sd_bus_message_new_signal(bus, &signal, "/org/freedesktop/UDisks2", "org.freedesktop.DBus.ObjectManager",
                              "InterfacesAdded");
    sd_bus_message_append(signal, "oa{sa{sv}}", "/org/freedesktop/UDisks2/block_devices/sdz", 0);
    sd_bus_send(bus, signal, nullptr);
    sd_bus_message_unref(signal);
    return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ResolveDevice", "a{sv}a{sv}", "ao", resolveDevice, SD_BUS_VTABLE_UNPRIVILEGED), SD_BUS_VTABLE_END};
const sd_bus_vtable kBlock[] = {SD_BUS_VTABLE_START(0),
                                SD_BUS_METHOD("OpenDevice", "sa{sv}", "h", openDevice, SD_BUS_VTABLE_UNPRIVILEGED),
                                SD_BUS_VTABLE_END};
const sd_bus_vtable kTest[] = {SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Plug", "", "", plug, SD_BUS_VTABLE_UNPRIVILEGED),
                               SD_BUS_VTABLE_END};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--answer") g_answer = value;
        if (key == "--device") {
            const auto eq = value.find('=');
            g_node = value.substr(0, eq);
            g_image = eq == std::string::npos ? "" : value.substr(eq + 1);
        }
    }
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return 1;  // DBUS_SYSTEM_BUS_ADDRESS names the private bus
    if (sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager",
                                 kManager, nullptr) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, kBlockPath, "org.freedesktop.UDisks2.Block", kBlock, nullptr) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/UDisks2", "org.quorlan.FakeUDisks2", kTest, nullptr) <
            0 ||
        sd_bus_request_name(bus, "org.freedesktop.UDisks2", 0) < 0) {
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) return 1;
        if (r > 0) continue;
        if (sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
    }
}

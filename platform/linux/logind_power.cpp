// SystemPower through logind over GDBus: the "idle:sleep" inhibitor held as a file descriptor,
// and PowerOff.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <mutex>

#include "platform/system_power.h"

namespace {

constexpr const char* kBusName = "org.freedesktop.login1";
constexpr const char* kObjectPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
// Calls run on the user-interface thread (inhibitor) or at the very end of a run (power-off); a
// dead bus must not hang either for long.
constexpr int kCallTimeoutMs = 5000;

GDBusConnection* SystemBus() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    return bus;
}

} // namespace

struct SystemPower::State {
    std::mutex mutex;
    int inhibitorFd = -1; // the lock is held while this descriptor is open
    // Set after the system bus could not be reached, so a machine without logind is asked once.
    bool busUnavailable = false;
};

SystemPower::SystemPower() : state(std::make_unique<State>()) {}

SystemPower::~SystemPower() {
    if (state->inhibitorFd >= 0) {
        close(state->inhibitorFd);
    }
}

void SystemPower::SetSleepInhibited(bool inhibited) {
    std::lock_guard lock(state->mutex);
    if (!inhibited) {
        if (state->inhibitorFd >= 0) {
            close(state->inhibitorFd);
            state->inhibitorFd = -1;
        }
        return;
    }
    if (state->inhibitorFd >= 0 || state->busUnavailable) {
        return;
    }
    GDBusConnection* bus = SystemBus();
    if (bus == nullptr) {
        state->busUnavailable = true;
        return;
    }
    GUnixFDList* fds = nullptr;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, kBusName, kObjectPath, kManager, "Inhibit",
        g_variant_new("(ssss)", "idle:sleep", "Pemo", "A backup is running", "block"), G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &fds, nullptr, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    if (reply != nullptr) {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        if (fds != nullptr && index >= 0 && index < g_unix_fd_list_get_length(fds)) {
            state->inhibitorFd = g_unix_fd_list_get(fds, index, nullptr);
        }
        g_variant_unref(reply);
    } else {
        // logind absent or refusing: keep-awake is best effort, so stop asking.
        state->busUnavailable = true;
    }
    if (fds != nullptr) {
        g_object_unref(fds);
    }
    g_object_unref(bus);
}

void SystemPower::PowerOff() {
    GDBusConnection* bus = SystemBus();
    if (bus == nullptr) {
        return;
    }
    GError* error = nullptr;
    // interactive = false: no authentication prompt; a refusal leaves the machine on.
    GVariant* reply =
        g_dbus_connection_call_sync(bus, kBusName, kObjectPath, kManager, "PowerOff", g_variant_new("(b)", FALSE),
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    if (reply != nullptr) {
        g_variant_unref(reply);
    }
    g_object_unref(bus);
}

// SystemPower through logind over GDBus: the "idle:sleep" inhibitor held as a file descriptor,
// and PowerOff. GIO is loaded on the first call that needs the bus, not at start: most runs never
// take the lock, and mapping GIO and what it pulls in costs every run about 2 MiB and 10 ms.
#include <dlfcn.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <mutex>
#include <type_traits>

#include "platform/system_power.h"

namespace {

constexpr const char* kBusName = "org.freedesktop.login1";
constexpr const char* kObjectPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
// Calls run on the user-interface thread (inhibitor) or at the very end of a run (power-off); a
// dead bus must not hang either for long.
constexpr int kCallTimeoutMs = 5000;

// The GIO calls this file makes, looked up once in the library loaded at run time.
struct Gio {
    decltype(&g_bus_get_sync) busGetSync = nullptr;
    decltype(&g_error_free) errorFree = nullptr;
    decltype(&g_dbus_connection_call_with_unix_fd_list_sync) callWithFds = nullptr;
    decltype(&g_dbus_connection_call_sync) call = nullptr;
    decltype(&g_variant_new) variantNew = nullptr;
    decltype(&g_variant_get) variantGet = nullptr;
    decltype(&g_variant_unref) variantUnref = nullptr;
    decltype(&g_unix_fd_list_get_length) fdListLength = nullptr;
    decltype(&g_unix_fd_list_get) fdListGet = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
};

// Null when GIO is not installed or lacks a call: keeping awake is then unavailable, as on a
// machine without logind. GIO is never unloaded.
const Gio* LoadGio() {
    static const Gio* const gio = []() -> const Gio* {
        void* library = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static Gio calls;
        bool complete = true;
        auto find = [&](auto& call, const char* name) {
            void* symbol = dlsym(library, name);
            complete = complete && symbol != nullptr;
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(symbol);
        };
        find(calls.busGetSync, "g_bus_get_sync");
        find(calls.errorFree, "g_error_free");
        find(calls.callWithFds, "g_dbus_connection_call_with_unix_fd_list_sync");
        find(calls.call, "g_dbus_connection_call_sync");
        find(calls.variantNew, "g_variant_new");
        find(calls.variantGet, "g_variant_get");
        find(calls.variantUnref, "g_variant_unref");
        find(calls.fdListLength, "g_unix_fd_list_get_length");
        find(calls.fdListGet, "g_unix_fd_list_get");
        find(calls.objectUnref, "g_object_unref");
        return complete ? &calls : nullptr;
    }();
    return gio;
}

GDBusConnection* SystemBus(const Gio& gio) {
    GError* error = nullptr;
    GDBusConnection* bus = gio.busGetSync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (error != nullptr) {
        gio.errorFree(error);
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
    const Gio* gio = LoadGio();
    GDBusConnection* bus = gio != nullptr ? SystemBus(*gio) : nullptr;
    if (bus == nullptr) {
        state->busUnavailable = true;
        return;
    }
    GUnixFDList* fds = nullptr;
    GError* error = nullptr;
    // A type string is its own GVariantType; the checking macro would call into GIO by link.
    GVariant* reply = gio->callWithFds(bus, kBusName, kObjectPath, kManager, "Inhibit",
                                       gio->variantNew("(ssss)", "idle:sleep", "Pemo", "A backup is running", "block"),
                                       reinterpret_cast<const GVariantType*>("(h)"), G_DBUS_CALL_FLAGS_NONE,
                                       kCallTimeoutMs, nullptr, &fds, nullptr, &error);
    if (error != nullptr) {
        gio->errorFree(error);
    }
    if (reply != nullptr) {
        gint32 index = -1;
        gio->variantGet(reply, "(h)", &index);
        if (fds != nullptr && index >= 0 && index < gio->fdListLength(fds)) {
            state->inhibitorFd = gio->fdListGet(fds, index, nullptr);
        }
        gio->variantUnref(reply);
    } else {
        // logind absent or refusing: keep-awake is best effort, so stop asking.
        state->busUnavailable = true;
    }
    if (fds != nullptr) {
        gio->objectUnref(fds);
    }
    gio->objectUnref(bus);
}

void SystemPower::PowerOff() {
    const Gio* gio = LoadGio();
    GDBusConnection* bus = gio != nullptr ? SystemBus(*gio) : nullptr;
    if (bus == nullptr) {
        return;
    }
    GError* error = nullptr;
    // interactive = false: no authentication prompt; a refusal leaves the machine on.
    GVariant* reply = gio->call(bus, kBusName, kObjectPath, kManager, "PowerOff", gio->variantNew("(b)", FALSE),
                                nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (error != nullptr) {
        gio->errorFree(error);
    }
    if (reply != nullptr) {
        gio->variantUnref(reply);
    }
    gio->objectUnref(bus);
}

bool SendSystemKeyRelease() {
    return false;
}

// The wake event; the power services, which load GIO only when the bus is needed (a run that never
// takes the keep-awake lock must not pay for mapping it) and on Windows hold the machine awake.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/system_power.h"
#include "platform/terminal.h"
#include "platform/wake_event.h"

namespace {

TEST(WakeEvent, KeepsASignalGivenBeforeTheWaitAndClearsIt) {
    using namespace std::chrono;
    WakeEvent wake;
    wake.Signal();
    wake.Signal();
    auto start = steady_clock::now();
    wake.WaitAndClear(seconds(20));
    EXPECT_LT(steady_clock::now() - start, seconds(10));
    start = steady_clock::now();
    wake.WaitAndClear(milliseconds(100));
    EXPECT_GE(steady_clock::now() - start, milliseconds(80)) << "the earlier signals were not cleared";
    wake.Signal();
    wake.WaitAndClear(milliseconds(0));
    start = steady_clock::now();
    wake.WaitAndClear(milliseconds(100));
    EXPECT_GE(steady_clock::now() - start, milliseconds(80)) << "a wait of no time did not clear";
    std::thread signaller([&] {
        std::this_thread::sleep_for(milliseconds(30));
        wake.Signal();
    });
    start = steady_clock::now();
    wake.WaitAndClear(seconds(20));
    EXPECT_LT(steady_clock::now() - start, seconds(10));
    signaller.join();
}

#ifndef _WIN32

bool GioMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libgio-2.0") != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(SystemPower, GioStaysUnloadedUntilTheBusIsNeeded) {
    ASSERT_FALSE(GioMapped()) << "the program links GIO, or loaded it at start";
    {
        SystemPower power;
        power.SetSleepInhibited(false); // releasing a lock never held asks nothing of the bus
    }
    EXPECT_FALSE(GioMapped());
}

#else

} // namespace

#include <windows.h>

namespace {

// Whether the system says some thread requires it to stay on; nullopt when it will not say.
std::optional<bool> SystemRequired() {
    using Query = LONG(WINAPI*)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG);
    HMODULE library = ::LoadLibraryW(L"powrprof.dll");
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(library != nullptr ? ::GetProcAddress(library, "CallNtPowerInformation") : nullptr));
    ULONG state = 0;
    if (query == nullptr || query(SystemExecutionState, nullptr, 0, &state, sizeof state) != 0) {
        return std::nullopt;
    }
    return (state & ES_SYSTEM_REQUIRED) != 0;
}

// The execution state is the setting thread's: one that took the hold and ended must not take
// the hold with it.
TEST(SystemPower, HoldOutlivesTheThreadThatTookIt) {
    ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    const std::optional<bool> shown = SystemRequired();
    ::SetThreadExecutionState(ES_CONTINUOUS);
    if (shown != true) {
        GTEST_SKIP() << "the system does not report the execution state (Wine keeps none)";
    }
    SystemPower power;
    std::thread([&] { power.SetSleepInhibited(true); }).join();
    bool held = false;
    for (int i = 0; i < 100 && !held; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        held = SystemRequired() == true;
    }
    EXPECT_TRUE(held);
    std::thread([&] { power.SetSleepInhibited(false); }).join();
}

// The NUL device is a character device, which the C runtime's isatty takes for a terminal; and a
// process id stays valid while a handle to the ended process is open.
TEST(SystemServices, NulIsNoTerminalAndAnEndedProcessIsGone) {
    std::FILE* nul = std::fopen("NUL", "w");
    ASSERT_NE(nul, nullptr);
    EXPECT_FALSE(IsTerminal(nul));
    EXPECT_EQ(TerminalColumns(nul), 0);
    std::fclose(nul);

    EXPECT_TRUE(ProcessExists(CurrentProcessId()));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    std::wstring line = L"cmd.exe /c exit 0";
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                 &startup, &child));
    ::WaitForSingleObject(child.hProcess, INFINITE);
    EXPECT_FALSE(ProcessExists(static_cast<long>(child.dwProcessId)));
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
}

#endif

} // namespace

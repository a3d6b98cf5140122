// The power services load GIO only when the bus is needed: a run that never takes the keep-awake
// lock must not pay for mapping it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/system_power.h"

namespace {

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

} // namespace

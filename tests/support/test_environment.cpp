// Fixes the locale and time zone of every core test, and of the programs the tests start,
// before any test runs: times and texts must not depend on the machine the suite runs on.
#include <clocale>
#include <cstdlib>
#include <ctime>

namespace {

struct FixedEnvironment {
    FixedEnvironment() {
        setenv("LANG", "C.UTF-8", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

const FixedEnvironment fixedEnvironment;

} // namespace

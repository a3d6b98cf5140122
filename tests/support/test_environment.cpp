// Fixes the locale and time zone of every core test, and of the programs the tests start,
// before any test runs: times and texts must not depend on the machine the suite runs on.
#include <clocale>
#include <cstdlib>
#include <ctime>

namespace {

struct FixedEnvironment {
    FixedEnvironment() {
#ifdef _WIN32
        _putenv_s("TZ", "UTC");
        _tzset();
#else
        setenv("LANG", "C.UTF-8", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("TZ", "UTC", 1);
        tzset();
#endif
    }
};

const FixedEnvironment fixedEnvironment;

} // namespace

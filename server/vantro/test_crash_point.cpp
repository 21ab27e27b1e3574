// The crash points of the end-to-end tests.
#include "server/vantro/test_crash_point.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

void TestCrashPoint(const char* point) {
    static const std::string named = [] {
        const char* value = std::getenv("CORVEL_TEST_CRASH");
        return std::string(value != nullptr ? value : "");
    }();
    if (!named.empty() && named == point) _exit(86);
}

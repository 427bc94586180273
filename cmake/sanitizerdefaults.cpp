// Sanitizer defaults of the programs of the sanitized build (-DORVIK_SANITIZE=ON), compiled into every test program
// and fuzz replay program. Test discovery runs the test programs outside CTest, so the suppressions of the toolkit's
// known leaks are built in rather than passed in the environment. The same options are put into the environment
// for the programs that a test starts (the viewer), unless the caller chose others.
#include <cstdlib>

#ifndef ORVIK_LSAN_SUPPRESSIONS
#error "ORVIK_LSAN_SUPPRESSIONS must name the suppression file"
#endif

#define ORVIK_LSAN_OPTIONS "suppressions=" ORVIK_LSAN_SUPPRESSIONS ":print_suppressions=0"
#define ORVIK_UBSAN_OPTIONS "print_stacktrace=1:halt_on_error=1"

extern "C" const char* __lsan_default_options()
{
    return ORVIK_LSAN_OPTIONS;
}

extern "C" const char* __ubsan_default_options()
{
    return ORVIK_UBSAN_OPTIONS;
}

namespace {

const bool exported = [] {
    setenv("LSAN_OPTIONS", ORVIK_LSAN_OPTIONS, 0);
    setenv("UBSAN_OPTIONS", ORVIK_UBSAN_OPTIONS, 0);
    return true;
}();

} // namespace

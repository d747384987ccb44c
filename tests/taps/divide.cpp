/*
 * Divide: a TAP whose only work is 64-bit division, so that on the
 * receiver build it carries the division helpers that the compiler calls
 * there.  The tests call divide64 in the loaded file.
 */
#include <stdint.h>

#include "tap.h"

TAP_ID(0x51525697);
TAP_PROGRAM_NAME("Divide");

/* out: n / d and n % d unsigned, then both again with n and d taken as
 * signed.  d must not be zero, nor -1 with n the lowest signed value. */
extern "C" TAP_EXPORT void divide64(uint64_t n, uint64_t d, uint64_t out[4]) {
    out[0] = n / d;
    out[1] = n % d;
    out[2] = (uint64_t)((int64_t)n / (int64_t)d);
    out[3] = (uint64_t)((int64_t)n % (int64_t)d);
}

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)event, (void)param2;
    return param1;
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}

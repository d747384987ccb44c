/*
 * The TAP's entry glue: what the firmware's loader calls or looks up by
 * name beside TAP_Main and TAP_EventHandler.  Deliberately without
 * <stdlib.h>: this unit defines abort itself.
 */
#include "../firmware/tap.h"

extern "C" {

TAP_EXPORT void abort(void) __attribute__((noreturn));
TAP_EXPORT void *builtinNew(dword size) __asm__("__builtin_new");
TAP_EXPORT void _init(void);
TAP_EXPORT void _finit(void);

/* Hands the firmware the addresses of TAP_Main and TAP_EventHandler in the
 * first two words of its entry record; returns 0. */
int __TAP_Init_(TapEntryRecord *record) {
    if (record) {
        record->main = TAP_Main;
        record->eventHandler = TAP_EventHandler;
    }
    return 0;
}

/* Never returns and does not end the process: the calling task sleeps for
 * ever. */
void abort(void) {
    for (;;) TAP_Sleep(1000);
}

/* Allocation for compiler-generated code: size bytes from the firmware
 * heap, or 0 as TAP_MemAlloc reports it.  The caller frees with
 * TAP_MemFree. */
void *builtinNew(dword size) {
    TAP_Print("__builtin_new. size=%d\n", (int)size);
    return TAP_MemAlloc(size);
}

/* The shared object's initialisation and finalisation entries: nothing to
 * do, every global is set up by the loader. */
void _init(void) {}
void _finit(void) {}
}

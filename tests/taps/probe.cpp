/*
 * Probe: reports every event it gets on the console of the firmware
 * (TAP_Print), with the slot that the firmware's current-slot variable
 * names while its handler runs, and answers every event with the same
 * result (PROBE_RESULT).  Built as ProbeA, which answers 0xA0A0, and
 * ProbeB, which answers 0 (it takes every event).
 */
#include <dlfcn.h>
#include <stddef.h>

#include "tap.h"

TAP_ID(PROBE_ID);
TAP_PROGRAM_NAME(PROBE_NAME);

/* The firmware's current-slot variable, looked up by name; -1 without it. */
static int currentSlot(void) {
    void *global = dlopen(NULL, RTLD_LAZY | RTLD_GLOBAL);
    if (global == NULL) return -1;
    int *current = (int *)dlsym(global, "_curTapTask");
    int slot = current != NULL ? *current : -1;
    dlclose(global);
    return slot;
}

dword TAP_EventHandler(word event, dword param1, dword param2) {
    TAP_Print("%s in slot %d: 0x%X %u %u\n", PROBE_NAME, currentSlot(), (unsigned)event, (unsigned)param1,
              (unsigned)param2);
    return PROBE_RESULT;
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}

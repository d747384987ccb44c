/*
 * Twin: built twice as TwinA.tap and TwinB.tap from the same source, so
 * both files define the same function and variable names.  Each keeps its
 * own: every event raises its own counter and prints its own name with it.
 */
#include "tap.h"

TAP_ID(TWIN_ID);
TAP_PROGRAM_NAME(TWIN_NAME);

TAP_EXPORT int eventCount = 0; // the tests read it in each loaded copy

const char *twinName(void) { return TWIN_NAME; }

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)event, (void)param2;
    eventCount++;
    TAP_Print("%s %d\n", twinName(), eventCount);
    return param1;
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}

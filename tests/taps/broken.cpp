/*
 * Broken TAPs for the loader's refusals: built without the "._tap_id"
 * section (NO_ID) or without the entry point __TAP_Init_ (NO_ENTRY), and
 * one whose TAP_Main returns 0 (QUITTER), which the firmware then ends.
 */
#include "tap.h"

#ifndef NO_ID
TAP_ID(0x51525698);
#endif

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)event, (void)param2;
    return param1;
}

int TAP_Main(void) {
#ifdef QUITTER
    TAP_Print("leaving at once\n");
    return 0;
#else
    return 1;
#endif
}

#ifndef NO_ENTRY
extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}
#endif

/*
 * Broken TAPs for the loader's refusals: built without the "._tap_id"
 * section (NO_ID) or without the entry point __TAP_Init_ (NO_ENTRY), and
 * one whose TAP_Main returns 0 (QUITTER), which the firmware then ends.
 * CRASHER crashes on the first key, after a line longer than the trace
 * channel's ring and a short one.  SCRIBBLER writes a record of no kind
 * into tapemu's event pipe (descriptor 3 on the receiver side) on the
 * first key, EXITER ends the whole process through exit(0) there.
 */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tap.h"

#ifndef NO_ID
TAP_ID(0x51525698);
#endif

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)event, (void)param2;
#ifdef CRASHER
    if (event == EVT_KEY) {
        static char longLine[3 << 19];
        memset(longLine, 'x', sizeof longLine - 1);
        TAP_Print("before the long line\n");
        TAP_Print("%s", longLine);
        TAP_Print("crashing on key 0x%X\n", (unsigned)param1);
        *(volatile int *)(long)param2 = 1;
    }
#endif
#ifdef EXITER
    if (event == EVT_KEY) {
        TAP_Print("leaving through exit(0)\n");
        exit(0);
    }
#endif
#ifdef SCRIBBLER
    static int scribbled = 0;
    if (event == EVT_KEY && !scribbled) {
        scribbled = 1;
        static const unsigned char junk[12] = {0x63, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0};
        TAP_Print("scribbling on the channel: %d\n", (int)write(3, junk, sizeof junk));
    }
#endif
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

/*
 * The life of a Zephyrdesk TAP: TAP_Main announces the TAP and keeps it
 * loaded; the handler ends the TAP on the stop event and leaves every
 * other event to the firmware.
 */
#include "product.h"
#include "velalib.h"

/* Writes the start line to the console; returns 1, so the TAP stays
 * loaded. */
int TAP_Main(void) {
    PrintNet(productStartLine);
    return 1;
}

/* The stop event (0x0900, sent by the installer or the firmware) ends
 * the TAP and is consumed (0); any other event is handed back unchanged
 * (its first parameter). */
dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)param2;
    if (event == EVT_STOP) {
        TAP_Exit();
        return 0;
    }
    return param1;
}

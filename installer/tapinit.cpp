#include "../firmware/tap.h"
int __TAP_Init_(TapEntryRecord *r) { r->main = TAP_Main; r->eventHandler = TAP_EventHandler; return 0; }

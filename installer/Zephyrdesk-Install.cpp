#include "../firmware/tap.h"
int TAP_Main(void) { return 1; }
dword TAP_EventHandler(word, dword p1, dword) { return p1; }

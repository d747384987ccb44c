#include "velalib.h"

/* The TAP's own slot in the firmware's task table; -1 until known. */
int TAP_TableIndex = -1;

/* The firmware's version number as InitTAPex found it (low 16 bits). */
word ApplID = 0;

/* 1 once InitTAPex has run. */
int LibInitialized = 0;

/* The console line being handed to PrintNet; each user fills it and passes it on at once. */
char puffer[1024];

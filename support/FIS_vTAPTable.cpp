#include <stddef.h>

#include "velalib.h"

/* The firmware's task table, once found. */
static TapTaskEntry *vTAP_TableAddress = NULL;

/*
 * FIS_vTAPTable: the firmware's table of the 16 TAP slots ("_tapTask").
 * Returns the address of its first slot, or null while the firmware does
 * not export it; a failed lookup is repeated on the next call, a found
 * address is kept.  The table is the firmware's: read it in place.
 */
TapTaskEntry *FIS_vTAPTable(void)
{
    if (vTAP_TableAddress == NULL) vTAP_TableAddress = (TapTaskEntry *)TryResolve("_tapTask");
    return vTAP_TableAddress;
}

#include <stddef.h>

#include "velalib.h"

/*
 * InitTAPex: the library's one-time initialisation.  Records the
 * firmware's version in ApplID and, when the firmware's current-slot
 * variable is found, the TAP's own slot in TAP_TableIndex; sets
 * LibInitialized.  Later calls do nothing.  Returns 1.
 */
int InitTAPex(void)
{
    if (LibInitialized) return 1;

    ApplID = (word)TAP_GetVersion();
    int *current = FIS_vCurTapTask();
    if (current != NULL) TAP_TableIndex = *current;
    LibInitialized = 1;
    return 1;
}

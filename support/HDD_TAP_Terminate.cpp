#include <stddef.h>

#include "velalib.h"

/* HDD_TAP_Terminate: takes a TAP ID.  Sends STOP_EVENT (parameters 1 and
 * 0) to the TAP of the lowest slot that carries the ID, ignoring its
 * result, writes 2 into that slot's state word so that the firmware ends
 * the TAP, and returns 2.  Returns -1 when no slot carries the ID, when
 * there is no task table, and for ID 0, which names no TAP. */
int HDD_TAP_Terminate(dword tapID)
{
    if (tapID == 0) return -1;
    int index = HDD_TAP_GetIndexByID(tapID);
    if (index < 0) return index;
    HDD_TAP_SendEvent(tapID, false, STOP_EVENT, 1, 0);
    TapTaskEntry *table = FIS_vTAPTable();
    if (table != NULL) table[index].State = TAP_STATE_TERMINATE;
    return 2;
}

#include <stddef.h>

#include "velalib.h"

/* Calls the handler of a slot as the firmware would: the current-slot
 * variable holds the slot during the call and its value before afterwards. */
static dword deliver(TapTaskEntry *slot, int index, int *current, word event, dword param1, dword param2)
{
    int saved = *current;
    *current = index;
    dword result = slot->EventHandler(event, param1, param2);
    *current = saved;
    return result;
}

/* HDD_TAP_SendEvent: takes a TAP ID (0: every TAP), the stop flag, an
 * event code and its two parameters.  With an ID, calls the handler of the
 * lowest slot that carries the ID and returns its result; 0 when no slot
 * does or it has no handler.  With ID 0, calls the handler of every slot
 * that has one, in slot order and whatever its state, and returns the last
 * result; with the stop flag set it stops at the first handler that
 * returns 0 and returns 0.  Returns 0 when the task table or the
 * current-slot variable is missing.  Handlers run synchronously on the
 * caller's stack. */
dword HDD_TAP_SendEvent(dword tapID, bool allowStop, word event, dword param1, dword param2)
{
    int *current = FIS_vCurTapTask();
    TapTaskEntry *table = FIS_vTAPTable();
    if (current == NULL || table == NULL) return 0;

    if (tapID != 0) {
        int index = HDD_TAP_GetIndexByID(tapID);
        if (index < 0 || index >= TAP_TASK_SLOTS || table[index].EventHandler == NULL) return 0;
        return deliver(&table[index], index, current, event, param1, param2);
    }

    dword result = 0;
    for (int index = 0; index < TAP_TASK_SLOTS; index++) {
        if (table[index].EventHandler == NULL) continue;
        result = deliver(&table[index], index, current, event, param1, param2);
        if (result == 0 && allowStop) return 0;
    }
    return result;
}

#include <stddef.h>

#include "velalib.h"

/* HDD_TAP_GetIndexByID: takes a TAP ID.  Returns the lowest slot whose
 * file carries that ID (for ID 0: the first slot whose ID cannot be read),
 * or -1 when none does or there is no task table.  Reads the files of the
 * slots in turn through the ELF reader (see HDD_TAP_GetInfo). */
int HDD_TAP_GetIndexByID(dword tapID)
{
    if (FIS_vTAPTable() == NULL) return -1; /* else ID 0 would match slot 0 */
    for (unsigned int index = 0; index < TAP_TASK_SLOTS; index++)
        if (HDD_TAP_GetIDByIndex(index) == tapID) return (int)index;
    return -1;
}

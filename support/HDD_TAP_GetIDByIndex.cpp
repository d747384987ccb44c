#include <stddef.h>

#include "velalib.h"

/* HDD_TAP_GetIDByIndex: takes a slot index.  Returns the TAP ID read from
 * the file of the TAP in that slot, whatever the slot's state word holds,
 * or 0 when the index is 16 or more, there is no task table, the slot has
 * no file path or the file's identity cannot be read.  Uses the ELF reader
 * (see HDD_TAP_GetInfo). */
dword HDD_TAP_GetIDByIndex(unsigned int index)
{
    if (index >= TAP_TASK_SLOTS) return 0;
    TapTaskEntry *table = FIS_vTAPTable();
    if (table == NULL) return 0;
    char path[FIRMWARE_PATH_MAX];
    if (!HDD_GetAbsolutePathByTypeFile(table[index].File, path, sizeof path)) return 0;
    TapInfo info;
    if (!HDD_TAP_GetInfo(path, &info)) return 0;
    return info.TapID;
}

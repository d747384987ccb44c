#include <stddef.h>

#include "velalib.h"

/*
 * HDD_TAP_GetFileNameByIndex: the Linux path of the file of the TAP that
 * runs in a slot ("/mnt/hd/ProgramFiles/x.tap").
 * Takes the slot index and an out-pointer.  Returns 1 and stores a pointer
 * to the firmware's own path string (not a copy: do not free or change it).
 * Returns 0 when the index is 16 or more (null is then stored), when there
 * is no out-pointer, no task table, no running TAP in the slot or no valid
 * path record; apart from the first case the target is left as it was.
 */
int HDD_TAP_GetFileNameByIndex(unsigned int index, char **fileName)
{
    if (index >= TAP_TASK_SLOTS) {
        if (fileName != NULL) *fileName = NULL;
        return 0;
    }
    if (fileName == NULL) return 0;

    TapTaskEntry *table = FIS_vTAPTable();
    if (table == NULL) return 0;

    TapTaskEntry *slot = &table[index];
    if (slot->State != TAP_STATE_RUNNING || slot->File == NULL) return 0;
    TapWord *pathRecord = (TapWord *)slot->File[FILE_OBJECT_PATH_RECORD_WORD];
    if (pathRecord == NULL || pathRecord[0] != (TapWord)PATH_RECORD_MAGIC) return 0;
    char *path = (char *)pathRecord[PATH_RECORD_PATH_WORD];
    if (path == NULL) return 0;

    *fileName = path;
    return 1;
}

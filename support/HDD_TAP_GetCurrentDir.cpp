#include <string.h>

#include "velalib.h"

/* HDD_TAP_GetCurrentDir: takes a destination of PATH_BUFFER_SIZE bytes (may
 * be null).  Writes the TAP's working directory as the TAP interface sees
 * the disk ("/ProgramFiles/Settings"; the disk root is "/") and returns 0.
 * Returns 0 without writing when there is no destination or the firmware
 * keeps no working directory for the TAP; writes the empty text and returns
 * 0 when the firmware's directory lies outside the disk or does not fit.
 * Returns -3 when the current-slot variable is missing (nothing written) or
 * the task table is missing or the TAP's slot is unknown (empty text).  The
 * firmware's records are only read. */
int HDD_TAP_GetCurrentDir(char *destination)
{
    if (TAP_TableIndex == -1) {
        int *current = FIS_vCurTapTask();
        if (current == NULL) return -3;
        TAP_TableIndex = *current;
    }

    TapTaskEntry *table = FIS_vTAPTable();
    if (table == NULL || TAP_TableIndex < 0 || TAP_TableIndex >= TAP_TASK_SLOTS) {
        if (destination != NULL) destination[0] = '\0';
        return -3;
    }

    if (destination == NULL) return 0;
    TapWord *dirObject = table[TAP_TableIndex].CurrentDir;
    if (dirObject == NULL) return 0;
    const char *linuxPath = (const char *)dirObject[CURRENT_DIR_PATH_WORD];
    if (linuxPath == NULL) return 0;

    size_t mountLength = strlen(TAP_MOUNT_POINT);
    if (strncmp(linuxPath, TAP_MOUNT_POINT, mountLength) != 0 ||
        (linuxPath[mountLength] != '/' && linuxPath[mountLength] != '\0')) {
        destination[0] = '\0';
        return 0;
    }
    const char *tapPath = linuxPath + mountLength;
    if (tapPath[0] == '\0') tapPath = "/"; /* the disk root itself */
    size_t length = strlen(tapPath);
    if (length >= PATH_BUFFER_SIZE) {
        destination[0] = '\0';
        return 0;
    }
    memcpy(destination, tapPath, length + 1);
    return 0;
}

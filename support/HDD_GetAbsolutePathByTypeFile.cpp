#include <stddef.h>
#include <string.h>

#include "velalib.h"

/* HDD_GetAbsolutePathByTypeFile: takes a firmware file object, a
 * caller-owned destination and its size in bytes (FIRMWARE_PATH_MAX holds
 * every path).  Copies the absolute Linux path of the file, terminator
 * included, into the destination and returns 1.  Otherwise the destination
 * holds the empty text (when it has room for one) and the result is 0: no
 * file object, no destination, no path record or path, or a path that does
 * not fit (a cut path would name another file).  The firmware's records are
 * only read; the path record's magic value is not tested. */
int HDD_GetAbsolutePathByTypeFile(const TapWord *fileObject, char *destination, dword destinationSize)
{
    if (destination != NULL && destinationSize > 0) destination[0] = '\0';
    if (fileObject == NULL || destination == NULL || destinationSize == 0) return 0;
    const TapWord *pathRecord = (const TapWord *)fileObject[FILE_OBJECT_PATH_RECORD_WORD];
    if (pathRecord == NULL) return 0;
    const char *path = (const char *)pathRecord[PATH_RECORD_PATH_WORD];
    if (path == NULL) return 0;
    dword length = 0;
    while (length < destinationSize && path[length] != '\0') length++;
    if (length == destinationSize) return 0;
    memcpy(destination, path, length + 1);
    return 1;
}

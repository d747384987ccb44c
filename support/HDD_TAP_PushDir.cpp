#include <string.h>

#include "velalib.h"

/* HDD_TAP_PushDir: no arguments.  Saves the TAP's working directory on top
 * of TAPDirStack and returns 1.  Returns 0 and changes nothing when the
 * stack is full, or when the working directory cannot be determined or is
 * too long for a stack entry. */
int HDD_TAP_PushDir(void)
{
    if (TAPDirStackDepth + 1 >= DIR_STACK_DEPTH) return 0;

    char current[PATH_BUFFER_SIZE];
    current[0] = '\0';
    if (HDD_TAP_GetCurrentDir(current) != 0) return 0;
    size_t length = strlen(current);
    if (length == 0 || length >= DIR_STACK_ENTRY) return 0;

    memcpy(TAPDirStack[TAPDirStackDepth + 1], current, length + 1);
    TAPDirStackDepth++;
    return 1;
}

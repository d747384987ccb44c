#include "velalib.h"

/* HDD_TAP_PopDir: no arguments.  Takes the top entry off TAPDirStack and
 * changes the TAP's working directory back to it; returns 1 when that
 * worked.  The entry is popped whether or not the change works (then 0).
 * Returns 0 when the stack is empty. */
int HDD_TAP_PopDir(void)
{
    if (TAPDirStackDepth < 0 || TAPDirStackDepth >= DIR_STACK_DEPTH) return 0;
    const char *entry = TAPDirStack[TAPDirStackDepth];
    TAPDirStackDepth--;
    /* HDD_ChangeDir copies the entry before its first-call probe pushes
     * into this same slot. */
    return HDD_ChangeDir(entry);
}

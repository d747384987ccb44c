#include <stddef.h>

#include "velalib.h"

/* The firmware's current-slot variable, once found. */
static int *vcurTapTask = NULL;

/*
 * FIS_vCurTapTask: the firmware's current-slot variable ("_curTapTask"),
 * which holds the slot of the TAP whose code is running.
 * Returns its address, or null while the firmware does not export it; a
 * failed lookup is repeated on the next call, a found address is kept.
 */
int *FIS_vCurTapTask(void)
{
    if (vcurTapTask == NULL) vcurTapTask = (int *)TryResolve("_curTapTask");
    return vcurTapTask;
}

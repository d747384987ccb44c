#include <stddef.h>

#include "velalib.h"

/* The firmware's time conversion routine, once found. */
static void *_TimeToLinux = NULL;

/*
 * FIS_fwTimeToLinux: the firmware's routine "PvrTimeToLinux", which turns
 * a firmware time into Linux seconds.
 * Returns its address, or null while the firmware has no such routine; a
 * failed lookup is repeated on the next call, a found address is kept.
 * The library's own PvrTimeToLinux bears the same name: when the lookup
 * lands on it (the firmware lacks the routine and this TAP sits in the
 * global scope), that counts as not found.
 */
void *FIS_fwTimeToLinux(void)
{
    if (_TimeToLinux == NULL) {
        void *address = TryResolve("PvrTimeToLinux");
        if (address == (void *)&PvrTimeToLinux) address = NULL;
        _TimeToLinux = address;
    }
    return _TimeToLinux;
}

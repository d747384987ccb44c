#include <stddef.h>

#include "velalib.h"

/*
 * PvrTimeToLinux: converts a firmware time into Linux seconds with the
 * firmware's own routine of the same name (its time zone rules apply).
 * Returns what the routine gives, or 0xFE00 (65024) when the firmware has
 * no such routine.
 */
dword PvrTimeToLinux(dword fwTime)
{
    dword (*convert)(dword) = (dword(*)(dword))FIS_fwTimeToLinux();
    if (convert == NULL) return 0xFE00;
    return convert(fwTime);
}

#include <stddef.h>

#include "velalib.h"

/*
 * Now: the receiver's current time as a firmware time (MJD in bits 31-16,
 * hour in bits 15-8, minute in bits 7-0).  Stores the current second
 * through second when it is not null.
 */
dword Now(byte *second)
{
    word mjd = 0;
    byte hour = 0, minute = 0, localSecond = 0;

    TAP_GetTime(&mjd, &hour, &minute, second != NULL ? second : &localSecond);
    return ((dword)mjd << 16) | ((dword)hour << 8) | minute;
}

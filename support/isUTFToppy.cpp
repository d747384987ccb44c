#include "velalib.h"

static dword FirstCall = 1; /* 1 until the firmware has been tested once */
static dword ret = 0;       /* the answer of that test */

/*
 * isUTFToppy: tells whether the receiver runs a UTF-8 firmware, one that
 * exports Appl_ConvertToValidUTF8Str.  The firmware is asked once in the
 * TAP's life; every later call gives the same answer.  The function itself
 * is never called.  Returns 1 on a UTF-8 firmware, 0 otherwise.
 */
int isUTFToppy(void) {
    if (!FirstCall) return (int)ret;
    ret = FIS_fwAppl_ConvertToValidUTF8Str() ? 1 : 0;
    FirstCall = 0;
    return (int)ret;
}

#include <stddef.h>

#include "velalib.h"

/* The firmware's UTF-8 repair routine, once found. */
static void *_Appl_ConvertToValidUTF8Str = NULL;

/*
 * FIS_fwAppl_ConvertToValidUTF8Str: the firmware's routine
 * Appl_ConvertToValidUTF8Str(unsigned char *, int), which only UTF-8
 * firmware has ("_Z26Appl_ConvertToValidUTF8StrPhi").
 * Returns its address, or null while the firmware has no such routine; a
 * failed lookup is repeated on the next call, a found address is kept.
 */
void *FIS_fwAppl_ConvertToValidUTF8Str(void)
{
    if (_Appl_ConvertToValidUTF8Str == NULL)
        _Appl_ConvertToValidUTF8Str = TryResolve("_Z26Appl_ConvertToValidUTF8StrPhi");
    return _Appl_ConvertToValidUTF8Str;
}

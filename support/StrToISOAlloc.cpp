#include <string.h>

#include "velalib.h"

/*
 * StrToISOAlloc: converts source like StrToISO into a new block of the
 * firmware heap, just large enough for the longest possible result, and
 * stores its address through destination.  The caller owns the block and
 * releases it with TAP_MemFree.  Stores null when source is null or the
 * heap has no block left; does nothing when destination is null.
 */
void StrToISOAlloc(const char *source, char **destination) {
    if (!destination) return;
    *destination = 0;
    if (!source) return;
    const char *text = SkipCharTableBytes(source);
    dword size = (dword)(text - source) + (dword)strlen(text) + 1;
    char *buffer = (char *)TAP_MemAlloc(size);
    if (!buffer) return;
    StrToISO(source, buffer);
    *destination = buffer;
}

#include <stddef.h>

#include "velalib.h"

/* ELFReadELFHeader: no arguments; after ELFOpenFile.  Copies the ELF
 * header of the file into a block of the firmware heap in ELFHeader.
 * Returns 1 when the whole header was read; 0 when the file is shorter
 * than a header (nothing is allocated then), when no block was left, or on
 * a read error.  The block is the reader's until ELFCleanup. */
int ELFReadELFHeader(void)
{
    if (!ELFRangeInFile(0, sizeof(tELFHeader))) return 0;
    ELFHeader = (tELFHeader *)TAP_MemAlloc(sizeof(tELFHeader));
    if (ELFHeader == NULL) return 0;
    return ELFReadAt(0, ELFHeader, sizeof(tELFHeader));
}

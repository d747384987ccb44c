#include <stddef.h>

#include "velalib.h"

/* ELFReadSectionHeaders: no arguments; after ELFReadELFHeader.  Copies
 * the file's section header table (e_shnum entries from e_shoff) into a
 * block of the firmware heap in SectionHeaders.  Returns 1 when the whole
 * table was read; 0 when there is no header, e_shnum is 0 or the table
 * does not lie wholly inside the file (nothing is allocated then), when no
 * block was left, or on a short read.  The block is the reader's until
 * ELFCleanup. */
int ELFReadSectionHeaders(void)
{
    if (ELFHeader == NULL || ELFHeader->e_shnum == 0) return 0;
    dword bytes = (dword)ELFHeader->e_shnum * sizeof(tELFSectionHeader);
    if (!ELFRangeInFile(ELFHeader->e_shoff, bytes)) return 0;
    SectionHeaders = (tELFSectionHeader *)TAP_MemAlloc(bytes);
    if (SectionHeaders == NULL) return 0;
    return ELFReadAt(ELFHeader->e_shoff, SectionHeaders, bytes);
}

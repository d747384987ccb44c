#include <stddef.h>
#include <unistd.h>

#include "velalib.h"

/* Gives a copy back to the firmware heap; the pointer to keep is null. */
static void *release(void *copy)
{
    if (copy != NULL) TAP_MemFree(copy);
    return NULL;
}

/* ELFCleanup: no arguments, no result.  Ends a use of the reader, also
 * after a failed step: closes the file in fTAP and sets it to 0, and
 * releases every copy (ELFHeader, SectionHeaders, shstrtab, symtab, strtab)
 * to the firmware heap, setting each to null.  On a closed reader it does
 * nothing. */
void ELFCleanup(void)
{
    if (fTAP != 0) {
        close(fTAP);
        fTAP = 0;
    }
    ELFHeader = (tELFHeader *)release(ELFHeader);
    SectionHeaders = (tELFSectionHeader *)release(SectionHeaders);
    shstrtab = (char *)release(shstrtab);
    symtab = release(symtab);
    strtab = (char *)release(strtab);
}

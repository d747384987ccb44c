#include <stddef.h>

#include "velalib.h"

/* ELFGetSectionOffset: takes a section index and two optional out-pointers;
 * after ELFReadSectionHeaders.  Stores the section's file offset and size,
 * each where a pointer is given, and returns 1.  Returns 0 and stores
 * nothing when the index is not below e_shnum, the tables are not there,
 * or the offset or size does not fit 32 bits. */
int ELFGetSectionOffset(int index, dword *offset, dword *size)
{
    if (ELFHeader == NULL || SectionHeaders == NULL) return 0;
    if ((unsigned int)index >= ELFHeader->e_shnum) return 0;
    const tELFSectionHeader *section = &SectionHeaders[index];
    if (section->sh_offset != (dword)section->sh_offset || section->sh_size != (dword)section->sh_size)
        return 0;
    if (offset != NULL) *offset = (dword)section->sh_offset;
    if (size != NULL) *size = (dword)section->sh_size;
    return 1;
}

#include <stddef.h>

#include "velalib.h"

/* ELFReadDWORD: takes a section index and an optional 4-byte destination;
 * after ELFReadShstrtabSection.  For a section of exactly 4 bytes returns
 * 1 after reading them into the destination (without reading when there
 * is none); returns 0 for a section of any other size, an index not below
 * e_shnum, missing tables, or a short read. */
int ELFReadDWORD(int index, dword *destination)
{
    if (ELFHeader == NULL || SectionHeaders == NULL) return 0;
    if ((unsigned int)index >= ELFHeader->e_shnum) return 0;
    const tELFSectionHeader *section = &SectionHeaders[index];
    if (section->sh_size != 4) return 0;
    if (destination == NULL) return 1;
    return ELFReadAt(section->sh_offset, destination, 4);
}

#include <stddef.h>

#include "velalib.h"

/* ELFReadData: takes a section index, an optional caller-owned destination
 * and its size in bytes; after ELFReadShstrtabSection.  Reads the
 * section's contents into the destination, at most destinationSize bytes
 * of them (a larger section is cut to the destination; nothing is written
 * past it and no terminator is added).  Returns 1 when all of those bytes
 * arrived, and also when there is no destination (nothing is read then);
 * 0 for an index not below e_shnum, missing tables, or a short read (what
 * arrived stays). */
int ELFReadData(int index, void *destination, dword destinationSize)
{
    if (destination == NULL) return 1;
    if (ELFHeader == NULL || SectionHeaders == NULL) return 0;
    if ((unsigned int)index >= ELFHeader->e_shnum) return 0;
    const tELFSectionHeader *section = &SectionHeaders[index];
    dword count = section->sh_size < destinationSize ? (dword)section->sh_size : destinationSize;
    return ELFReadAt(section->sh_offset, destination, count);
}

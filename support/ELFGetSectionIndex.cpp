#include <string.h>

#include "velalib.h"

/* ELFGetSectionIndex: takes a section name; after ELFReadShstrtabSection.
 * Returns the index of the first section (from 1 on) whose name equals it
 * exactly, or 0 when none does, the name is null or the tables are not
 * there.  A section whose name does not lie wholly, terminator included,
 * inside the copied name table matches nothing. */
int ELFGetSectionIndex(const char *name)
{
    if (name == NULL || ELFHeader == NULL || SectionHeaders == NULL || shstrtab == NULL) return 0;
    int count = ELFHeader->e_shnum;
    if (count <= 1 || ELFHeader->e_shstrndx >= count) return 0;
    tELFWord tableSize = SectionHeaders[ELFHeader->e_shstrndx].sh_size;
    tELFWord wanted = (tELFWord)strlen(name) + 1;
    for (int index = 1; index < count; index++) {
        tELFWord at = SectionHeaders[index].sh_name;
        if (at > tableSize || wanted > tableSize - at) continue;
        if (memcmp(shstrtab + at, name, (size_t)wanted) == 0) return index;
    }
    return 0;
}

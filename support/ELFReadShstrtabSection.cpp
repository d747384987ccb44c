#include <stddef.h>

#include "velalib.h"

/* ELFReadShstrtabSection: no arguments; after ELFReadSectionHeaders.
 * Copies the section-name table (section e_shstrndx) into a block of the
 * firmware heap in shstrtab.  Returns 1 when the whole table was read; 0
 * when e_shstrndx is not below e_shnum, the section is not a string table
 * or does not lie wholly inside the file (nothing is allocated then), when
 * no block was left, or on a short read.  The block is the reader's until
 * ELFCleanup. */
int ELFReadShstrtabSection(void)
{
    if (ELFHeader == NULL || SectionHeaders == NULL) return 0;
    if (ELFHeader->e_shstrndx >= ELFHeader->e_shnum) return 0;
    const tELFSectionHeader *names = &SectionHeaders[ELFHeader->e_shstrndx];
    if (names->sh_type != ELF_SHT_STRTAB) return 0;
    if (!ELFRangeInFile(names->sh_offset, names->sh_size)) return 0;
    shstrtab = (char *)TAP_MemAlloc((dword)names->sh_size);
    if (shstrtab == NULL) return 0;
    return ELFReadAt(names->sh_offset, shstrtab, (dword)names->sh_size);
}

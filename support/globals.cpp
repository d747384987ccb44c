#include <stddef.h>

#include "velalib.h"

/* The TAP's own slot in the firmware's task table; -1 until known. */
int TAP_TableIndex = -1;

/* The firmware's version number as InitTAPex found it (low 16 bits). */
word ApplID = 0;

/* 1 once InitTAPex has run. */
int LibInitialized = 0;

/* The console line being handed to PrintNet; each user fills it and passes it on at once. */
char puffer[1024];

/* Descriptor of the ELF file that the reader has open; 0 while none is
 * (-1 after a failed ELFOpenFile, until ELFCleanup). */
int fTAP = 0;

/* The reader's copy of the open file's ELF header, or null. */
tELFHeader *ELFHeader = NULL;

/* The reader's copy of the open file's section header table, or null. */
tELFSectionHeader *SectionHeaders = NULL;

/* The reader's copy of the open file's section-name table, or null. */
char *shstrtab = NULL;

/* A symbol table of the open file: no operation fills it; ELFCleanup releases it. */
void *symtab = NULL;

/* The names of that symbol table: no operation fills it; ELFCleanup releases it. */
char *strtab = NULL;

#include <fcntl.h>
#include <stddef.h>

#include "velalib.h"

/* ELFOpenFile: takes the path of a file, of any path type.  Opens it for
 * reading as the reader's file: stores the descriptor in fTAP (also -1
 * when the open fails) and returns 1 on success, 0 on failure.  Returns 0
 * and changes nothing for a null or empty path.  The file stays open until
 * ELFCleanup, which must also follow a failure. */
int ELFOpenFile(const char *fileName)
{
    if (fileName == NULL || fileName[0] == '\0') return 0;
    char linuxPath[PATH_BUFFER_SIZE];
    linuxPath[0] = '\0';
    ConvertPathType(fileName, linuxPath, PT_LinuxFile);
    fTAP = open(linuxPath, O_RDONLY);
    return fTAP >= 0 ? 1 : 0;
}

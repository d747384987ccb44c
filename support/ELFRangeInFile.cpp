#include <unistd.h>

#include "velalib.h"

/* ELFRangeInFile: takes a file offset and a size.  Returns 1 when the
 * range of that size at that offset lies wholly inside the file open in
 * fTAP and the size fits 32 bits, 0 otherwise (also when the file's size
 * cannot be learnt).  Moves the file position. */
int ELFRangeInFile(uint64_t offset, uint64_t size)
{
    if (size > 0xFFFFFFFFu) return 0;
    off_t end = lseek(fTAP, 0, SEEK_END);
    if (end < 0) return 0;
    uint64_t fileSize = (uint64_t)end;
    return offset <= fileSize && size <= fileSize - offset ? 1 : 0;
}

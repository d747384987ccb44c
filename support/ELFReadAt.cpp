#include <unistd.h>

#include "velalib.h"

/* ELFReadAt: takes a file offset, a caller-owned destination of count
 * bytes and the count.  Reads count bytes from that offset of the file
 * open in fTAP into the destination.  Returns 1 when all of them arrived;
 * 0 when the offset cannot be reached, on a read error or a short read
 * (what arrived stays in the destination). */
int ELFReadAt(uint64_t offset, void *destination, dword count)
{
    off_t at = (off_t)offset;
    if (at < 0 || (uint64_t)at != offset) return 0;
    if (lseek(fTAP, at, SEEK_SET) != at) return 0;
    char *next = (char *)destination;
    dword left = count;
    while (left > 0) {
        ssize_t got = read(fTAP, next, left);
        if (got <= 0) return 0;
        next += got;
        left -= (dword)got;
    }
    return 1;
}

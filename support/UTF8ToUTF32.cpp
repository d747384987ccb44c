#include "velalib.h"

/*
 * UTF8ToUTF32: decodes the character that starts at p in a zero-terminated
 * string.  A complete multi-byte sequence (see isUTF8Char) gives its code
 * point; any other byte, malformed ones included, gives its own value.
 * Stores the number of bytes taken (1 to 4) through length when not null.
 * Returns the code point, 0 for a null p (length 1).
 */
dword UTF8ToUTF32(const char *p, byte *length) {
    if (length) *length = 1;
    if (!p) return 0;
    byte n;
    if (!isUTF8Char(p, &n)) return (byte)p[0];
    static const byte leadMask[5] = {0, 0, 0x1F, 0x0F, 0x07};
    dword codePoint = (byte)p[0] & leadMask[n];
    for (byte i = 1; i < n; i++) codePoint = (codePoint << 6) | ((byte)p[i] & 0x3F);
    if (length) *length = n;
    return codePoint;
}

#include "velalib.h"

/*
 * isUTF8Char: tells whether a multi-byte UTF-8 sequence starts at p: a
 * lead byte 110xxxxx, 1110xxxx or 11110xxx followed by one, two or three
 * continuation bytes 10xxxxxx.  Overlong forms, surrogates and values past
 * U+10FFFF are not rejected.  p points into a zero-terminated string or is
 * null; the bytes after p are read only while they are continuation bytes,
 * so the terminator is never passed.  Stores the length of the character
 * at p through length (when not null): 2 to 4 for a sequence, else 1.
 * Returns true for a complete sequence, false otherwise and for null.
 */
bool isUTF8Char(const char *p, byte *length) {
    byte n = 1;
    if (p) {
        byte lead = (byte)p[0];
        byte need = 0;
        if ((lead & 0xE0) == 0xC0) need = 1;
        else if ((lead & 0xF0) == 0xE0) need = 2;
        else if ((lead & 0xF8) == 0xF0) need = 3;
        byte i = 1;
        while (need && i <= need && ((byte)p[i] & 0xC0) == 0x80) i++;
        if (need && i == need + 1) n = i;
    }
    if (length) *length = n;
    return n > 1;
}

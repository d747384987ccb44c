#include "velalib.h"

/*
 * UTF32ToUTF8: encodes codePoint in UTF-8: one byte below U+0080, two below
 * U+0800, three below U+10000, four otherwise (the top bits above 21 are
 * dropped).  Writes the bytes to out when it is not null, without a
 * terminator; the caller provides room for four.  Stores the number of
 * bytes through length when it is not null.
 */
void UTF32ToUTF8(dword codePoint, char *out, byte *length) {
    byte b[4];
    byte n;
    if (codePoint < 0x80) {
        b[0] = (byte)codePoint;
        n = 1;
    } else if (codePoint < 0x800) {
        b[0] = (byte)(0xC0 | (codePoint >> 6));
        b[1] = (byte)(0x80 | (codePoint & 0x3F));
        n = 2;
    } else if (codePoint < 0x10000) {
        b[0] = (byte)(0xE0 | (codePoint >> 12));
        b[1] = (byte)(0x80 | ((codePoint >> 6) & 0x3F));
        b[2] = (byte)(0x80 | (codePoint & 0x3F));
        n = 3;
    } else {
        b[0] = (byte)(0xF0 | ((codePoint >> 18) & 0x07));
        b[1] = (byte)(0x80 | ((codePoint >> 12) & 0x3F));
        b[2] = (byte)(0x80 | ((codePoint >> 6) & 0x3F));
        b[3] = (byte)(0x80 | (codePoint & 0x3F));
        n = 4;
    }
    if (out)
        for (byte i = 0; i < n; i++) out[i] = (char)b[i];
    if (length) *length = n;
}

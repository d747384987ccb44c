#include "velalib.h"

/*
 * GetStringEncoding: classifies the text of a zero-terminated string after
 * its character-table selector.  Stores through hasSingleByte (when not
 * null) whether the text holds a byte 0xA0..0xFF outside any multi-byte
 * UTF-8 sequence, and through hasMultiByte (when not null) whether it holds
 * a multi-byte sequence.  Both are false for null or empty text.  Bytes
 * 0x80..0x9F on their own count for neither.
 */
void GetStringEncoding(const char *text, bool *hasSingleByte, bool *hasMultiByte) {
    bool single = false, multi = false;
    if (text && text[0]) {
        for (const char *p = SkipCharTableBytes(text); *p;) {
            byte n;
            if (isUTF8Char(p, &n)) multi = true;
            else if ((byte)*p >= 0xA0) single = true;
            p += n;
        }
    }
    if (hasSingleByte) *hasSingleByte = single;
    if (hasMultiByte) *hasMultiByte = multi;
}

#include <string.h>

#include "velalib.h"

/*
 * StrToISO: converts a UTF-8 string to ISO 8859-1.  source is a
 * zero-terminated string that may begin with a character-table selector;
 * destination is the caller's buffer of at least the selector's length
 * plus strlen of the text plus 1 bytes (the result is never longer than
 * the source).  Text that is not UTF-8 (it holds a single byte 0xA0..0xFF,
 * or no multi-byte sequence at all) is copied unchanged.  Otherwise every
 * character below U+0100 becomes one byte, and every other character is
 * left out with a message in the library log and on the console.  The
 * selector is copied as it stands.  Does nothing when either argument is
 * null.
 */
void StrToISO(const char *source, char *destination) {
    if (!source || !destination) return;
    const char *text = SkipCharTableBytes(source);
    char *out = destination;
    // The selector goes over whole, the zero byte of a 0x10 selector too.
    for (const char *p = source; p < text; p++) *out++ = *p;
    bool hasSingleByte, hasMultiByte;
    GetStringEncoding(source, &hasSingleByte, &hasMultiByte);
    if (hasSingleByte || !hasMultiByte) {
        size_t n = strlen(text);
        memcpy(out, text, n);
        out += n;
    } else {
        for (const char *p = text; *p;) {
            byte n;
            dword codePoint = UTF8ToUTF32(p, &n);
            if (codePoint < 0x100) *out++ = (char)codePoint;
            else LogEntryVelaLibPrintf(1, "StrToISO: character 0x%4.4x ignored", codePoint);
            p += n;
        }
    }
    *out = '\0';
}

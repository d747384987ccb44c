/*
 * The routine that only UTF-8 firmware has.  It lives in a library of its
 * own, which the stand-in loads into the global scope only when it plays
 * a UTF-8 firmware, so that a lookup by name finds it only then.
 */
#include <stddef.h>

/* Repairs a string in place so that it is valid UTF-8: every byte that
 * does not belong to a well-formed sequence becomes '?'.  Looks at no
 * more than length bytes, and stops at the terminating zero byte. */
__attribute__((visibility("default"))) void Appl_ConvertToValidUTF8Str(unsigned char *text, int length) {
    if (!text) return;
    for (int i = 0; i < length && text[i];) {
        unsigned char c = text[i];
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 1 : (c & 0xF0) == 0xE0 ? 2
                  : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 3 : -1;
        bool ok = extra >= 0 && i + extra < length;
        for (int k = 1; ok && k <= extra; k++) ok = (text[i + k] & 0xC0) == 0x80;
        if (!ok) {
            text[i++] = '?';
            continue;
        }
        i += extra + 1;
    }
}

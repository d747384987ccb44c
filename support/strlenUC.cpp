#include <string.h>

#include "velalib.h"

/*
 * strlenUC: counts the characters of a zero-terminated string after its
 * character-table selector: a multi-byte UTF-8 sequence is one character,
 * every other byte is one.  Returns the count, 0 for null or empty text.
 */
dword strlenUC(const char *text) {
    if (!text || !text[0]) return 0;
    const char *p = SkipCharTableBytes(text);
    const char *end = p + strlen(p);
    dword count = 0;
    while (p < end) {
        byte n;
        isUTF8Char(p, &n);
        p += n;
        count++;
    }
    return count;
}

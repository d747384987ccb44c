/*
 * StrToUTF8 on an arbitrary string with every default table (0 to 16,
 * the unassigned 12 and 17, and 255), into a destination of exactly the
 * size the callers give it: three bytes per byte of the string and its
 * selector, plus the terminator.
 *
 * Checked besides: the result is 0 or 1; a string of bytes below 0x80
 * without a selector comes out unchanged with result 0 whatever the
 * table, and so does the text after the UTF-8 selector 0x15.
 */
#include <stdint.h>
#include <string.h>

#include "fuzzreceiver.h"
#include "fuzzstrings.h"
#include "velalib.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzStartReceiver();
    return 0;
}

static bool plainAscii(const char *text) {
    for (const unsigned char *p = (const unsigned char *)text; *p; p++)
        if (*p >= 0x80) return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *source = fuzzSource(data, size);
    const char *text = SkipCharTableBytes(source);
    size_t length = (size_t)(text - source) + strlen(text);
    size_t room = 3 * length + 1;
    for (int table = 0; table <= 256; table++) {
        if (table > 17 && table != 255) continue;
        char *destination = (char *)malloc(room);
        int result = StrToUTF8(source, destination, (byte)table);
        FUZZ_CHECK(memchr(destination, 0, room) != NULL, "table %d: no terminator", table);
        FUZZ_CHECK(result == 0 || result == 1, "table %d: result %d", table, result);
        if ((byte)source[0] >= 0x20 && plainAscii(source))
            FUZZ_CHECK(result == 0 && strcmp(destination, source) == 0, "table %d: ASCII changed", table);
        if (source[0] == 0x15)
            FUZZ_CHECK(result == 0 && strcmp(destination, source + 1) == 0, "table %d: UTF-8 text changed", table);
        free(destination);
    }
    free(source);
    return 0;
}

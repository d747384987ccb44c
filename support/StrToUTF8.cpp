#include <string.h>

#include "velalib.h"

static const word *lookupTable(byte table) {
    static const word *const iso8859[17] = {
        0, UTFLookupISO8859_1, UTFLookupISO8859_2, UTFLookupISO8859_3, UTFLookupISO8859_4,
        UTFLookupISO8859_5, UTFLookupISO8859_6, UTFLookupISO8859_7, UTFLookupISO8859_8,
        UTFLookupISO8859_9, UTFLookupISO8859_10, UTFLookupISO8859_11, 0, UTFLookupISO8859_13,
        UTFLookupISO8859_14, UTFLookupISO8859_15, UTFLookupISO8859_16};
    if (table < 17 && iso8859[table]) return iso8859[table];
    return UTFLookupISO6937;
}

static const tDiacriticalPair *findPair(byte mark, byte letter) {
    for (int i = 0; i < ISO6937_DIACRITICAL_PAIRS; i++)
        if (ISO6937DiacriticalPairs[i].Mark == mark && ISO6937DiacriticalPairs[i].Letter == letter)
            return &ISO6937DiacriticalPairs[i];
    return 0;
}

/*
 * StrToUTF8: converts a DVB string to UTF-8.  source is zero-terminated
 * and may begin with a character-table selector, which names the table of
 * the text; without one the text is in table defaultTable: 0 ISO 6937 with
 * its diacritical pairs, 1..11 and 13..16 that part of ISO 8859, 12 and
 * anything else ISO 6937 without pairs.  UTF-8 sequences and bytes below
 * 0x80 pass through; a selector 0x15 marks the whole text as UTF-8.
 * destination is the caller's buffer of 3 bytes per source byte plus 1; it
 * receives the text without its selector.  A byte that the table leaves
 * unassigned becomes a zero byte, so the result ends before it.  A mark
 * that makes no Latin-1 letter with the byte after it is dropped with that
 * byte and reported in the library log and on the console; a mark at the
 * end of the text is dropped and reported the same way.
 * Returns 1 when some byte was looked up in a table (and for an empty
 * source), 0 when the text needed no conversion or an argument is null
 * (destination is then left untouched).
 */
int StrToUTF8(const char *source, char *destination, byte defaultTable) {
    if (!source || !destination) return 0;
    if (!source[0]) {
        destination[0] = '\0';
        return 1;
    }
    byte table = defaultTable;
    byte first = (byte)source[0];
    if (first == 0x15) {
        memcpy(destination, source + 1, strlen(source + 1) + 1);
        return 0;
    }
    if (first >= 0x01 && first <= 0x0B) table = (byte)(first + 4);
    else if (first == 0x10) table = (byte)source[2];
    const word *lookup = lookupTable(table);

    int result = 0;
    char *out = destination;
    for (const char *p = SkipCharTableBytes(source); *p;) {
        byte c = (byte)*p;
        byte n;
        if (c < 0x80) {
            *out++ = *p++;
        } else if (isUTF8Char(p, &n)) {
            for (byte i = 0; i < n; i++) *out++ = *p++;
        } else if (table == 0 && c >= 0xC0 && c <= 0xCF) {
            byte letter = (byte)p[1];
            const tDiacriticalPair *pair = findPair(c, letter);
            if (pair) {
                *out++ = (char)pair->UTF8[0];
                *out++ = (char)pair->UTF8[1];
            } else {
                LogEntryVelaLibPrintf(1, "StrToUTF8: ISO6937 diacritical char %2.2x %2.2x has been ignored",
                                      c, letter);
            }
            // A mark that is the last byte leaves the terminator in place.
            p += letter ? 2 : 1;
            result = 1;
        } else {
            UTF32ToUTF8(c < 0xA0 ? c : lookup[c - 0xA0], out, &n);
            out += n;
            p++;
            result = 1;
        }
    }
    *out = '\0';
    return result;
}

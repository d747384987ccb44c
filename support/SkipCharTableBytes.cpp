#include "velalib.h"

/*
 * SkipCharTableBytes: steps over the character-table selector at the start
 * of text: 0x10 and its 16-bit table number (3 bytes), 0x1F and its
 * identifier byte (2 bytes), any other byte from 0x01 to 0x1F (1 byte).
 * Takes a zero-terminated string or null; a string that begins with 0x10
 * 0x00 carries its third selector byte in the same buffer.  Returns a
 * pointer into text at the first byte of the text proper (text itself when
 * there is no selector), null for null.  A selector cut short by the
 * terminator gives a pointer to that terminator, never one past it.
 */
const char *SkipCharTableBytes(const char *text) {
    if (!text) return 0;
    byte first = (byte)text[0];
    if (first == 0x00 || first >= 0x20) return text;
    if (first == 0x1F) return text[1] ? text + 2 : text + 1;
    if (first == 0x10) {
        // The high byte of the table number is 0x00 by design; any other
        // byte there is an ordinary byte that may be the last one.
        if (text[1] != 0x00 && text[2] == 0x00) return text + 2;
        return text[2] ? text + 3 : text + 2;
    }
    return text + 1;
}

/*
 * Archives for the targets that walk them: nearly every change that the
 * fuzzer makes to a header block breaks the block's checksum, and a walk
 * stops at the first such header.  So the targets walk each archive as it
 * is and also with the checksums made right, which lets changed names,
 * sizes and types reach the rest of the walk.
 */
#ifndef FUZZ_COMMON_FUZZTAR_H
#define FUZZ_COMMON_FUZZTAR_H

#include <stddef.h>
#include <stdio.h>
#include <string.h>

/* Gives every whole 512-byte block at a multiple of 512 from data that
 * does not begin with a zero byte (every block a walk could take for a
 * header) the checksum that tar writes: the sum of its bytes, with the
 * field itself counted as blanks, as six octal digits, a NUL and a blank.
 * Returns whether any byte changed. */
static inline bool fuzzRepairChecksums(unsigned char *data, size_t size) {
    bool changed = false;
    for (size_t at = 0; at + 512 <= size; at += 512) {
        unsigned char *block = data + at;
        if (block[0] == 0) continue;
        unsigned sum = 0;
        for (size_t i = 0; i < 512; i++) sum += i >= 148 && i < 156 ? ' ' : block[i];
        char field[9];
        snprintf(field, sizeof field, "%06o", sum & 0777777);
        field[7] = ' ';
        if (memcmp(block + 148, field, 8) != 0) {
            memcpy(block + 148, field, 8);
            changed = true;
        }
    }
    return changed;
}

#endif

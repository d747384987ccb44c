/*
 * The string targets' source: the input as a zero-terminated string in a
 * heap block of its exact size, so that AddressSanitizer sees every byte
 * read beyond it.
 */
#ifndef FUZZ_COMMON_FUZZSTRINGS_H
#define FUZZ_COMMON_FUZZSTRINGS_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* A new block (malloc, the caller frees it) with the input bytes and a
 * terminator.  A string that starts with the selector byte 0x10 carries
 * all three selector bytes in its buffer (the callers' contract: its
 * second byte is 0x00, so it is no ordinary string up to the selector's
 * end), so a shorter one gets zero bytes up to them. */
static inline char *fuzzSource(const uint8_t *data, size_t size) {
    size_t bytes = size + 1;
    if (size > 0 && data[0] == 0x10 && bytes < 4) bytes = 4;
    char *source = (char *)malloc(bytes);
    memset(source, 0, bytes);
    memcpy(source, data, size);
    return source;
}

#endif

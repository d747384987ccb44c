/*
 * StrToISO and StrToISOAlloc on an arbitrary string, StrToISO into a
 * destination of exactly the size the callers give it (the selector, the
 * text and the terminator).
 *
 * Checked besides: both give the same bytes; text that is not UTF-8 (a
 * lone byte 0xA0 or above, or no multi-byte sequence) comes out as the
 * selector and the text unchanged; the result is never longer than that;
 * the block of StrToISOAlloc is the only firmware heap block taken, and
 * it goes back.
 */
#include <stdint.h>
#include <string.h>

#include "emulator/tapemu.h"
#include "fuzzreceiver.h"
#include "fuzzstrings.h"
#include "velalib.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzStartReceiver();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *source = fuzzSource(data, size);
    const char *text = SkipCharTableBytes(source);
    size_t selector = (size_t)(text - source), length = selector + strlen(text);

    char *destination = (char *)malloc(length + 1);
    StrToISO(source, destination);
    FUZZ_CHECK(memchr(destination, 0, length + 1) != NULL, "no terminator");
    size_t resultLength = selector + strlen(destination + selector);
    FUZZ_CHECK(resultLength <= length, "result of %zu bytes from %zu", resultLength, length);
    bool single = false, multi = false;
    GetStringEncoding(source, &single, &multi);
    if (single || !multi)
        FUZZ_CHECK(resultLength == length && memcmp(destination, source, length) == 0, "text that is no UTF-8 changed");

    unsigned blocks = emuHeapBlocksInUse();
    char *allocated = (char *)1;
    StrToISOAlloc(source, &allocated);
    FUZZ_CHECK(allocated != NULL, "StrToISOAlloc gave no block");
    FUZZ_CHECK(emuHeapBlocksInUse() == blocks + 1, "StrToISOAlloc took %u blocks", emuHeapBlocksInUse() - blocks);
    FUZZ_CHECK(memcmp(allocated, destination, resultLength + 1) == 0, "StrToISOAlloc differs from StrToISO");
    TAP_MemFree(allocated);
    FUZZ_CHECK(emuHeapBlocksInUse() == blocks, "the block did not go back");

    free(destination);
    free(source);
    return 0;
}

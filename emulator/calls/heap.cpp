/*
 * The firmware heap: malloc with a size header, so that a limit can hold
 * the TAPs to a smaller heap.
 */
#include <stdlib.h>
#include <string.h>

#include "entries.h"

static size_t heapLimit = 0;  // 0: no limit
static size_t heapInUse = 0;
static unsigned heapBlocks = 0;  // blocks handed out and not yet freed
struct HeapHeader {
    size_t size;
    size_t pad;  // keeps the block 16-byte aligned on the PC
};

void emuSetHeapLimit(size_t bytes) { heapLimit = bytes; }
unsigned emuHeapBlocksInUse(void) { return heapBlocks; }

void *fwMemAlloc(dword size) {
    void *block = nullptr;
    if (!heapLimit || heapInUse + size <= heapLimit) {
        HeapHeader *h = (HeapHeader *)malloc(sizeof(HeapHeader) + size);
        if (h) {
            h->size = size;
            heapInUse += size;
            heapBlocks++;
            block = h + 1;
        }
    }
    if (emu.options.traceAll) traceLine("TAP_MemAlloc " + unum(size) + " -> " + (block ? "1" : "0"));
    return block;
}

int fwMemFree(void *block) {
    if (emu.options.traceAll) traceLine("TAP_MemFree " + ptr(block) + " -> " + (block ? "1" : "0"));
    if (!block) return 0;
    HeapHeader *h = (HeapHeader *)block - 1;
    heapInUse -= h->size < heapInUse ? h->size : heapInUse;
    if (heapBlocks) heapBlocks--;
    free(h);
    return 1;
}

int fwMemCmp(const void *a, const void *b, dword count) {
    int r = (a && b) ? memcmp(a, b, count) : (a == b ? 0 : 1);
    r = r < 0 ? -1 : (r > 0 ? 1 : 0);
    if (emu.options.traceAll)
        traceLine("TAP_MemCmp " + ptr(a) + " " + ptr(b) + " " + unum(count) + " -> " + num(r));
    return r;
}

void *fwMemCpy(void *destination, const void *source, dword count) {
    if (destination && source && count) memmove(destination, source, count);
    if (emu.options.traceAll)
        traceLine("TAP_MemCpy " + ptr(destination) + " " + ptr(source) + " " + unum(count) + " -> " +
                  ptr(destination));
    return destination;
}

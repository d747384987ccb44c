/*
 * The firmware heap: malloc with a header before each block that holds
 * its size and its owner, so that a limit can hold the TAPs to a smaller
 * heap and the closing summary can tell which TAP still holds blocks.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "entries.h"
#include "../platform/platform.h"
#include "../tasks/tasks.h"

static size_t heapLimit = 0;  // 0: no limit
static size_t heapInUse = 0;  // bytes in blocks of this receiver
static unsigned blocksInUse = 0;  // blocks of this receiver not given back
static uint32_t heapLife = 0;  // which receiver's life a block belongs to

/* 16 bytes on both builds, so that blocks stay aligned as malloc's are. */
struct HeapHeader {
    uint32_t size;
    int32_t owner;   /* the TAP that took it (tasks' number), -1: none */
    uint32_t life;   /* heapLife when it was taken */
    uint32_t pad;
};
static_assert(sizeof(HeapHeader) == 16, "heap header of 16 bytes");

void emuSetHeapLimit(size_t bytes) { heapLimit = bytes; }

void callsResetHeap(void) {
    heapLife++;
    heapInUse = 0;
    blocksInUse = 0;
}

unsigned emuHeapBlocksInUse(void) { return blocksInUse; }

void *fwMemAlloc(dword size) {
    void *block = nullptr;
    if ((!heapLimit || heapInUse + size <= heapLimit) && !faultsHeapRefused(blocksInUse, size)) {
        HeapHeader *h = (HeapHeader *)malloc(sizeof(HeapHeader) + size);
        if (h) {
            h->size = size;
            h->owner = emuCurrentTap();
            h->life = heapLife;
            h->pad = 0;
            heapInUse += size;
            blocksInUse++;
            emuCountHeapBlock(h->owner, 1);
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
    if (h->life == heapLife) {
        heapInUse -= h->size < heapInUse ? h->size : heapInUse;
        if (blocksInUse) blocksInUse--;
        emuCountHeapBlock(h->owner, -1);
    }
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

/*
 * The receiver side's end of the channel to the host side (see
 * channel.h).
 */
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

#include "channel.h"

/* The pipes, -1 while the channel is closed. */
static int eventsFd = -1, commandsFd = -1;
/* The mapped ring and the receiver side's own copy of its head. */
static ChannelRing *ring = nullptr;
static unsigned char *ringData = nullptr;
static uint32_t head = 0;
/* Command bytes read but not yet taken. */
static char commandBuffer[256];
static size_t commandBytes = 0;

static bool isPipe(int fd) {
    struct stat st;
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

/* A child of the receiver side (the loader's probe, a TAP's fork) keeps
 * its hands off the channel: its lines would mix with the parent's. */
static void forgetInChild(void) {
    eventsFd = commandsFd = -1;
    ring = nullptr;
    ringData = nullptr;
}

bool channelOpen(int events, int commands, int ringFd) {
    if (!isPipe(events) || !isPipe(commands)) return false;
    void *memory = mmap(nullptr, CHANNEL_RING_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, ringFd, 0);
    close(ringFd);
    if (memory == MAP_FAILED) return false;
    static bool registered = false;
    if (!registered) pthread_atfork(nullptr, nullptr, forgetInChild);
    registered = true;
    // the shell behind system() and its commands get none of this
    fcntl(events, F_SETFD, FD_CLOEXEC);
    fcntl(commands, F_SETFD, FD_CLOEXEC);
    eventsFd = events;
    commandsFd = commands;
    ring = (ChannelRing *)memory;
    ringData = (unsigned char *)memory + CHANNEL_RING_HEADER;
    head = __atomic_load_n(&ring->head, __ATOMIC_RELAXED);
    return true;
}

bool channelActive(void) { return eventsFd >= 0; }

/* Writes every byte of the pieces; false when the host side is gone. */
static bool writeAll(struct iovec *pieces, int count) {
    while (count > 0) {
        ssize_t n = writev(eventsFd, pieces, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        while (count > 0 && (size_t)n >= pieces->iov_len) {
            n -= (ssize_t)pieces->iov_len;
            pieces++, count--;
        }
        if (count > 0) {
            pieces->iov_base = (char *)pieces->iov_base + n;
            pieces->iov_len -= (size_t)n;
        }
    }
    return true;
}

static bool sendRecord(uint32_t type, const void *a, size_t aLength, const void *b, size_t bLength) {
    if (eventsFd < 0) return false;
    ChannelRecord record = {type, head, (uint32_t)(aLength + bLength)};
    struct iovec pieces[3] = {{&record, sizeof record}, {(void *)a, aLength}, {(void *)b, bLength}};
    return writeAll(pieces, 3);
}

bool channelHello(void) { return sendRecord(CHANNEL_HELLO, nullptr, 0, nullptr, 0); }
bool channelDone(void) { return sendRecord(CHANNEL_DONE, nullptr, 0, nullptr, 0); }

static void ringCopy(const char *bytes, size_t n) {
    uint32_t at = head & (CHANNEL_RING_DATA - 1);
    size_t first = n < CHANNEL_RING_DATA - at ? n : CHANNEL_RING_DATA - at;
    memcpy(ringData + at, bytes, first);
    memcpy(ringData, bytes + first, n - first);
    head += (uint32_t)n;
}

void channelTraceLine(const char *text, size_t length) {
    if (!ring) return;
    uint32_t used = head - __atomic_load_n(&ring->tail, __ATOMIC_ACQUIRE);
    if (used <= CHANNEL_RING_DATA && CHANNEL_RING_DATA - used > length) {
        ringCopy(text, length);
        ringCopy("\n", 1);
        __atomic_store_n(&ring->head, head, __ATOMIC_RELEASE);
        return;
    }
    // the host side lags behind (or the ring was damaged): by the pipe, in order
    while (length >= CHANNEL_TRACE_MAX) {
        if (!sendRecord(CHANNEL_TRACE, text, CHANNEL_TRACE_MAX, nullptr, 0)) return;
        text += CHANNEL_TRACE_MAX, length -= CHANNEL_TRACE_MAX;
    }
    sendRecord(CHANNEL_TRACE, text, length, "\n", 1);
}

void channelFrame(const uint32_t *pixels, int width, int height) {
    if (width <= 0 || height <= 0) return;
    uint32_t size[2] = {(uint32_t)width, (uint32_t)height};
    size_t count = (size_t)width * height;
    // the frame sent last: a screen synced again unchanged goes as its size alone
    static std::vector<uint32_t> last;
    static uint32_t lastSize[2];
    if (last.size() == count && memcmp(lastSize, size, sizeof size) == 0 &&
        memcmp(last.data(), pixels, count * sizeof *pixels) == 0) {
        sendRecord(CHANNEL_FRAME, size, sizeof size, nullptr, 0);
        return;
    }
    if (sendRecord(CHANNEL_FRAME, size, sizeof size, pixels, count * sizeof *pixels)) {
        last.assign(pixels, pixels + count);
        memcpy(lastSize, size, sizeof size);
    } else {
        last.clear();
    }
}

int channelCommand(uint32_t *code) {
    for (;;) {
        char *end = (char *)memchr(commandBuffer, '\n', commandBytes);
        if (end) {
            *end = 0;
            int kind = CHANNEL_END;
            char *stop = nullptr;
            if (commandBuffer[0] == CHANNEL_IDLE && commandBuffer[1] == 0) {
                kind = CHANNEL_IDLE;
            } else if (commandBuffer[0] == CHANNEL_KEY && commandBuffer[1] == ' ') {
                unsigned long v = strtoul(commandBuffer + 2, &stop, 16);
                if (stop != commandBuffer + 2 && *stop == 0 && v <= 0xFFFFFFFFul) {
                    kind = CHANNEL_KEY;
                    *code = (uint32_t)v;
                }
            }
            size_t taken = (size_t)(end - commandBuffer) + 1;
            memmove(commandBuffer, end + 1, commandBytes - taken);
            commandBytes -= taken;
            return kind;
        }
        if (commandsFd < 0 || commandBytes == sizeof commandBuffer) return CHANNEL_END;
        ssize_t n = read(commandsFd, commandBuffer + commandBytes, sizeof commandBuffer - commandBytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return CHANNEL_END;
        commandBytes += (size_t)n;
    }
}

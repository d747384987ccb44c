/*
 * The channel between tapemu's two sides.  In the sandbox the receiver
 * side (the firmware and every TAP, inside bwrap) reaches the host side
 * (tapemu as the user started it) only through these:
 *
 *  - the trace ring, shared memory that the receiver side appends the
 *    trace's lines to without a system call.  A line is the host side's
 *    once it is in the ring, however the receiver side ends afterwards
 *    (a crash, _exit, SIGKILL): the host side copies the ring into
 *    trace.txt while it runs and once more when it has ended.
 *  - the event pipe, receiver to host: records, each a ChannelRecord and
 *    `length` bytes.  HELLO says that the receiver side runs in the
 *    sandbox; TRACE carries trace bytes that found no room in the ring;
 *    FRAME a synced screen (uint32 width, uint32 height, then the ARGB
 *    pixels row after row; the size alone: the same pixels as the FRAME
 *    before); DONE that the receiver side is through with
 *    the script and ends.  A record carries the ring's head at the time
 *    it was written, so the host side takes the ring up to there first and
 *    keeps trace and records in order.
 *  - the command pipe, host to receiver: one line per event to deliver,
 *    "K <hex code>" a key, "I" an idle event, "E" the end of the script.
 *    A window sends keys this way as they are pressed.
 *
 * Both sides are the same tapemu build, so the records are in its own
 * byte order.  The host side trusts nothing that arrives: a TAP shares the
 * receiver side's address space and descriptors.
 */
#ifndef EMULATOR_BASE_CHANNEL_H
#define EMULATOR_BASE_CHANNEL_H

#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    CHANNEL_RING_HEADER = 4096,    /* the two positions, on a page of their own */
    CHANNEL_RING_DATA = 1u << 20,  /* bytes of trace in the ring, a power of 2 */
    CHANNEL_RING_BYTES = CHANNEL_RING_HEADER + CHANNEL_RING_DATA,
    CHANNEL_TRACE_MAX = 1u << 16,  /* longest TRACE payload */
};

/* The ring's positions: bytes ever appended and bytes the host side has
 * taken, both modulo 2^32; the data follows at CHANNEL_RING_HEADER. */
struct ChannelRing {
    uint32_t head;       /* written by the receiver side only */
    uint32_t spacing[15];
    uint32_t tail;       /* written by the host side only */
};

struct ChannelRecord {
    uint32_t type;
    uint32_t ringHead;
    uint32_t length;     /* of the payload that follows */
};

enum : uint32_t { CHANNEL_HELLO = 1, CHANNEL_TRACE = 2, CHANNEL_FRAME = 3, CHANNEL_DONE = 4 };

/* What channelCommand gives. */
enum { CHANNEL_KEY = 'K', CHANNEL_IDLE = 'I', CHANNEL_END = 'E' };

/* ---- The receiver side's end --------------------------------------- */

/* Takes the receiver side's ends: events (a pipe to write records to),
 * commands (a pipe to read command lines from) and ring (a memory file of
 * CHANNEL_RING_BYTES, mapped and then closed).  Children forked later do
 * not write to the channel.  Returns false when a descriptor is not what
 * it should be. */
bool channelOpen(int events, int commands, int ring);

/* Whether the channel is open in this process. */
bool channelActive(void);

/* Sends HELLO or DONE; false when the host side is gone. */
bool channelHello(void);
bool channelDone(void);

/* Appends a trace line and its line feed: into the ring while it has
 * room, as TRACE records otherwise. */
void channelTraceLine(const char *text, size_t length);

/* Sends a FRAME of width * height ARGB pixels (only their size when they
 * are those of the FRAME sent before). */
void channelFrame(const uint32_t *pixels, int width, int height);

/* Waits for the next command: CHANNEL_KEY with *code, CHANNEL_IDLE, or
 * CHANNEL_END (also when the pipe ends or a line is damaged). */
int channelCommand(uint32_t *code);

#endif

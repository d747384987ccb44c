/*
 * The ground floor of the stand-in firmware: the state of the running
 * receiver (its options and folders) and the trace.  Every other room of
 * the firmware builds on this one; it builds on nothing of theirs.
 */
#ifndef EMULATOR_BASE_BASE_H
#define EMULATOR_BASE_BASE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "../tapemu.h"

#define EMU_EXPORT extern "C" __attribute__((visibility("default")))

/* Where the disk is mounted on the receiver, and the longest path the
 * firmware's records hold (terminator included). */
#define EMU_MOUNT "/mnt/hd"
enum { EMU_PATH_MAX = 1024 };

/* The running receiver. */
struct EmuState {
    bool started = false;
    /* The kernel confines this process (tapemu's receiver side in the
     * sandbox): /mnt/hd is the disk itself, and the platform's mapping
     * and confinement of libc's path calls step aside. */
    bool kernelConfined = false;
    EmuOptions options{};
    std::string disk, out;           /* as given */
    std::string diskReal, outReal;   /* resolved, for confinement */
    int consoleFd = -1;              /* out/console.bin, opened at the start */
    std::string tapCopies;           /* private folder of the loaded TAPs' copies */
    std::vector<std::string> faultWords;       /* options.faults, copied */
    std::vector<const char *> faultPointers;   /* ... as options.faults points to them */
};
extern EmuState emu;

/* The console capture, out/console.bin. */
std::string emuConsolePath(void);

/* Creates an output file afresh for reading and writing: whatever was in
 * its place (a file, a link that a TAP planted) is removed first, and the
 * new one is created without following any link.  The descriptor, or -1. */
int emuCreateOutput(const std::string &path, int flags);

/* trace.txt: one line per firmware call or event, flushed per line; on
 * the receiver side in the sandbox the lines go to the channel instead.
 * traceOpen creates the file afresh (emuCreateOutput); false when it
 * cannot. */
bool traceOpen(const std::string &path);
void traceClose(void);
void traceLine(const std::string &line);
/* A C string as the trace shows it: quoted, non-printing bytes as \xHH;
 * NULL for a null pointer. */
std::string traceString(const char *text);
/* A colour as 0xAARRGGBB. */
std::string traceColour(dword colour);

#endif
